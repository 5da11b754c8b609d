// Scratch folders and whole-file reads and writes for tests.
#pragma once

#include <filesystem>
#include <string>

namespace vx::test {

// A fresh, empty folder under the system's temporary folder, removed with
// everything in it afterwards (read-only entries included).
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

std::string ReadBytes(const std::filesystem::path& path);  // empty when unreadable
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
// Entries in a folder, to catch stray temporary files.
int CountEntries(const std::filesystem::path& dir);

}  // namespace vx::test
