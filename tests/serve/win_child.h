// Windows test helpers: a program run to its end with its output captured,
// paths as Windows programs see them, and a scratch folder.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>

namespace vx::test {

// Runs `commandLine` (the program's path first, quoted as needed) with stdout
// and stderr captured together. Returns the exit code, or -1 when it could
// not start or did not end within timeoutMs (it is then killed).
int RunProgram(const std::wstring& commandLine, std::string* output, DWORD timeoutMs = 20000);

// A path of the build (a Unix path under Wine) as a Windows path.
std::wstring WindowsPath(const std::string& buildPath);

// A fresh folder under %TEMP%, removed with its contents on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& Path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

}  // namespace vx::test
