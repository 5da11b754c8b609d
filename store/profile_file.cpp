#include "store/profile_file.h"

#include <string>

namespace vx::ini {

LoadedProfile LoadProfile(const std::filesystem::path& path) {
  LoadedProfile loaded;
  std::string bytes;
  loaded.result = ReadWholeFile(path, &bytes, &loaded.status);
  if (loaded.result == ReadResult::kRead) {
    loaded.text = ProfileText::Decode(bytes);
  }
  return loaded;
}

IoStatus UpdateProfile(const std::filesystem::path& path,
                       const std::function<bool(IniDocument&)>& edit) {
  const std::filesystem::path target = ReplacementTarget(path);
  WriteLock lock;
  if (IoStatus locked = lock.Acquire(target, kWriteLockWait); !locked.Ok()) {
    return locked;
  }
  RemoveStaleTemporaries(target);
  std::string before;
  IoStatus readStatus;
  ReadResult read = ReadWholeFile(path, &before, &readStatus);
  if (read == ReadResult::kFailed) {
    return readStatus;
  }
  ProfileText text = ProfileText::Decode(before);
  if (!edit(text.Document())) {
    return IoStatus();
  }
  std::string after = text.Encode();
  if (read == ReadResult::kRead && after == before) {
    return IoStatus();
  }
  // Never write a file the next read would refuse.
  if (after.size() > kMaxProfileBytes) {
    return IoStatus::TooLarge(after.size());
  }
  return ReplaceWholeFile(path, after);
}

}  // namespace vx::ini
