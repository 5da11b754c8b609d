// The file operations under the profile reader and writer, one file per
// system (ini_file_io_posix.cpp, ini_file_io_win.cpp), and the parts both
// share (ini_file_io.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "store/io_status.h"

namespace vx::ini {

enum class ReadResult {
  kRead,     // `bytes` holds the whole file
  kMissing,  // no such file: reads see defaults, a write creates it
  kFailed,   // the file exists but cannot be read, or is too large: a write must not replace it
};

// Reads at most kMaxProfileBytes; a larger file is refused without reading
// it. On kFailed, `why` (when given) says what went wrong.
ReadResult ReadWholeFile(const std::filesystem::path& path, std::string* bytes,
                         IoStatus* why = nullptr);

// Replaces the file with `bytes` so that it is either wholly the old file or
// wholly the new one, whatever happens meanwhile: the bytes go to a temporary
// file in the same directory, reach the disk, and then take the old file's
// name in one step. A read-only file or directory is left alone.
IoStatus ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes);

// The file a replacement of `path` replaces: on POSIX the target of a
// symbolic link (the link itself stays), otherwise `path`.
std::filesystem::path ReplacementTarget(const std::filesystem::path& path);

// An exclusive lock that writers of one file hold across read, edit and
// replacement, so that two writers never lose each other's changes. It lives
// on a side file, "<name>.lock" (the file itself is replaced, so it cannot
// carry the lock), and is the system's own lock (flock, LockFileEx): it ends
// with its owner, however the owner ends, so a dead writer never blocks.
class WriteLock {
 public:
  WriteLock() = default;
  ~WriteLock() { Release(); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

  // Takes the lock for `target` (a ReplacementTarget), waiting up to `wait`
  // while another writer holds it.
  IoStatus Acquire(const std::filesystem::path& target, std::chrono::milliseconds wait);
  void Release();
  bool Held() const { return m_handle != kNoHandle; }

 private:
  static constexpr std::intptr_t kNoHandle = -1;  // also INVALID_HANDLE_VALUE
  std::intptr_t m_handle = kNoHandle;
};

std::filesystem::path LockPath(const std::filesystem::path& target);

// "<name>.tmp-<pid>-<n>": the temporary file a replacement writes first.
std::filesystem::path TemporaryPath(const std::filesystem::path& target, unsigned long pid,
                                    unsigned n);
// The pid in the name of such a temporary file of `target`, or nothing for
// any other name.
std::optional<unsigned long> TemporaryOwner(const std::filesystem::path& target,
                                            const std::filesystem::path& candidate);
// Removes the temporary files of `target` that a writer killed part-way left
// behind: only names of that pattern, and only those whose process has ended
// or is this one. Called with the write lock held, so no writer that takes
// the lock is between creating such a file and renaming it.
void RemoveStaleTemporaries(const std::filesystem::path& target);

unsigned long CurrentProcessId();
// False only when the system says no such process exists.
bool ProcessAlive(unsigned long pid);

// Appends what one read brought; false (with `status` saying so, and `bytes`
// released) once the file has grown past kMaxProfileBytes while being read.
bool AppendWithinLimit(std::string* bytes, const char* data, std::size_t n, IoStatus* status);

// Test seam: when set, runs right before a replacement would take the file's
// name. A non-zero result fails the replacement with that system error code,
// as if the system had refused it there; the temporary file is removed.
using ReplacementGate = int (*)(const std::filesystem::path& target);
void SetReplacementGate(ReplacementGate gate);
int PassReplacementGate(const std::filesystem::path& target);

}  // namespace vx::ini
