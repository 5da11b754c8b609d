// One profile operation on a file: the file is read afresh every time, so
// nothing is cached between operations and hand edits are always seen.
#pragma once

#include <filesystem>
#include <functional>

#include "store/ini_document.h"

namespace vx::ini {

// The file's contents; a missing or unreadable file reads as empty, so every
// lookup yields the caller's default.
IniDocument LoadProfile(const std::filesystem::path& path);

// Reads the file, applies `edit`, and replaces the file with the result in one
// atomic step. A file that exists but cannot be read is not replaced; an edit
// that changes nothing does not touch the file. Returns whether the file now
// holds the edited contents.
bool UpdateProfile(const std::filesystem::path& path,
                   const std::function<void(IniDocument&)>& edit);

}  // namespace vx::ini
