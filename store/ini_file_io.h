// The file operations under the profile reader and writer, one file per
// system (ini_file_io_posix.cpp, ini_file_io_win.cpp).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vx::ini {

enum class ReadResult {
  kRead,     // `bytes` holds the whole file
  kMissing,  // no such file: reads see defaults, a write creates it
  kFailed,   // the file exists but cannot be read: a write must not replace it
};

ReadResult ReadWholeFile(const std::filesystem::path& path, std::string* bytes);

// Replaces the file with `bytes` so that it is either wholly the old file or
// wholly the new one, whatever happens meanwhile: the bytes go to a temporary
// file in the same directory, reach the disk, and then take the old file's
// name in one step. A read-only file or directory is left alone. Returns
// whether the new bytes are in place.
bool ReplaceWholeFile(const std::filesystem::path& path, std::string_view bytes);

// Creates an empty file only when none exists by that name.
void CreateEmptyFileIfMissing(const std::filesystem::path& path);

}  // namespace vx::ini
