// One profile operation on a file: the file is read afresh every time, so
// nothing is cached between operations and hand edits are always seen.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>

#include "store/ini_file_io.h"
#include "store/profile_text.h"

namespace vx::ini {

// How long a writer waits for another writer's lock before it gives up.
inline constexpr std::chrono::milliseconds kWriteLockWait{5000};

struct LoadedProfile {
  ReadResult result = ReadResult::kMissing;
  IoStatus status;   // why, when the result is kFailed
  ProfileText text;  // empty unless the file was read
};

// The file's contents in one read. A missing, unreadable or oversized file
// reads as empty, so every lookup yields the caller's default.
LoadedProfile LoadProfile(const std::filesystem::path& path);

// Under the file's write lock: reads the file, applies `edit`, and replaces
// the file with the result in one atomic step. `edit` returns false to leave
// the file as it is. A file that exists but cannot be read (or is too large)
// is neither edited nor replaced; an edit that changes nothing does not touch
// the file. Leftover temporary files of dead writers go on the way.
IoStatus UpdateProfile(const std::filesystem::path& path,
                       const std::function<bool(IniDocument&)>& edit);

}  // namespace vx::ini
