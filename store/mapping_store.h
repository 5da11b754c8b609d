// Every read and write of setting.ini. Each operation reads the file afresh,
// so changes made by hand between two operations are seen by the next one.
// Writes never report failure; a file that cannot be written stays as it was.
#pragma once

#include <filesystem>
#include <string>

#include "store/mapping_entry.h"

namespace vx {

struct StoredMapping {
  int localPort = 0;
  std::string remoteIp;
  int remotePort = 0;
};

class MappingStore {
 public:
  explicit MappingStore(std::filesystem::path iniPath);

  const std::filesystem::path& Path() const { return m_path; }

  // "Num"/"Number" as an integer, or `defaultValue` when absent.
  int ReadMappingCount(int defaultValue) const;
  void WriteMappingCount(int n);
  // Section s: "Cport" and "Sport" as integers with `portDefault`, "IP" as text
  // (default "127.0.0.1") cut to addressCapacity - 1 characters.
  StoredMapping ReadMappingEntry(int section, int portDefault, int addressCapacity) const;
  // Section s: "Cport", "IP", "Sport", in that order, each text unchanged.
  void WriteMappingEntry(int section, const MappingEntry& entry);
  // Copies section `from` into section `to` (ports as plain decimal).
  void CopyMappingSection(int from, int to);
  // First use: the empty file, then "Number" = "0" and "QueldaUrlList" = "".
  void CreateMappingFile();

 private:
  std::filesystem::path m_path;
};

// The path of setting.ini in the process's current directory.
std::filesystem::path DefaultMappingPath();

}  // namespace vx
