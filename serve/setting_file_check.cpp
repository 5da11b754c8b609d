#include "serve/setting_file_check.h"

#include <algorithm>

#include "relay/slot_tables.h"
#include "store/mapping_store.h"

namespace vx {

SettingFileState CheckSettingFile(const std::filesystem::path& path) {
  MappingSnapshot file = MappingStore(path).Load();
  if (file.Missing())
    return SettingFileState::kMissing;
  // Unreadable or too large: waiting would not finish it; the reload says why.
  if (file.Refused())
    return SettingFileState::kComplete;
  int count = file.ReadMappingCount(-1);
  if (count == -1)
    return SettingFileState::kIncomplete;
  for (int s = 1; s <= std::min(count, kMaxPairs); ++s) {
    if (!file.RawValue(s, "Cport") || !file.RawValue(s, "Sport"))
      return SettingFileState::kIncomplete;
  }
  return SettingFileState::kComplete;
}

}  // namespace vx
