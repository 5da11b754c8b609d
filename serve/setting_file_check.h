// How setting.ini looks to the file watch between two saves.
#pragma once

#include <filesystem>

namespace vx {

enum class SettingFileState {
  kMissing,     // no file (a save that replaces it may be under way)
  kIncomplete,  // no count yet, or a section within the count lacks Cport or Sport
  kComplete,    // every pair the count names is there (values may still be bad)
};

// The window writes the count first and then each key of a new section, one
// replacement at a time: in between, the file names sections it does not
// hold yet. Such a file is not what the operator saved.
SettingFileState CheckSettingFile(const std::filesystem::path& path);

}  // namespace vx
