#include "store/profile_file.h"

#include <string>

#include "store/ini_file_io.h"
#include "store/profile_text.h"

namespace vx::ini {

IniDocument LoadProfile(const std::filesystem::path& path) {
  std::string bytes;
  if (ReadWholeFile(path, &bytes) != ReadResult::kRead) {
    return IniDocument();
  }
  return ProfileText::Decode(bytes).Document();
}

bool UpdateProfile(const std::filesystem::path& path,
                   const std::function<void(IniDocument&)>& edit) {
  std::string before;
  ReadResult read = ReadWholeFile(path, &before);
  if (read == ReadResult::kFailed) {
    return false;
  }
  ProfileText text = ProfileText::Decode(before);
  edit(text.Document());
  std::string after = text.Encode();
  if (read == ReadResult::kRead && after == before) {
    return true;
  }
  return ReplaceWholeFile(path, after);
}

}  // namespace vx::ini
