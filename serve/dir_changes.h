// Change notifications for one file name in one directory: inotify on Linux,
// ReadDirectoryChangesW on Windows. The directory is watched, not the file,
// because the store replaces the file by renaming a new one over it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace vx {

class DirChanges {
 public:
  enum class Result { kChanged, kTimeout, kCancelled, kFailed };

  DirChanges(const std::filesystem::path& dir, const std::string& fileName);
  ~DirChanges();
  DirChanges(const DirChanges&) = delete;
  DirChanges& operator=(const DirChanges&) = delete;

  // False when the directory cannot be watched (missing, no rights); then
  // `Error()` holds the system's error code.
  bool Ok() const;
  int Error() const;
  // Waits up to timeoutMs for a change to the file: written, created,
  // deleted, renamed to or away. Changes to other names are passed over.
  Result Wait(int timeoutMs);
  // Wakes a Wait on another thread with kCancelled (and every later one).
  void Cancel();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace vx
