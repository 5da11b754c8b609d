#include "serve/setting_file_check.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "relay/slot_tables.h"
#include "store/profile_file.h"
#include "store/profile_int.h"

namespace vx {

SettingFileState CheckSettingFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    return SettingFileState::kMissing;
  ini::IniDocument doc = ini::LoadProfile(path);
  int count = ini::ProfileIntOr(doc.GetString("Num", "Number"), -1);
  if (count == -1)
    return SettingFileState::kIncomplete;
  for (int s = 1; s <= std::min(count, kMaxPairs); ++s) {
    std::string name = std::to_string(s);
    if (!doc.GetString(name, "Cport") || !doc.GetString(name, "Sport"))
      return SettingFileState::kIncomplete;
  }
  return SettingFileState::kComplete;
}

}  // namespace vx
