// Both programs carry the project version in their version resource, and
// vexhold-serve.exe its event log message table.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "serve/service.h"
#include "tests/support/child_process.h"

namespace vx::test {
namespace {

struct VersionInfo {
  std::string fileVersion, productVersion, originalName;
  unsigned major = 0, minor = 0, patch = 0;
};

bool ReadVersion(const std::wstring& exe, VersionInfo* info) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &handle);
  if (size == 0)
    return false;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(exe.c_str(), 0, size, data.data()))
    return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len))
    return false;
  info->major = HIWORD(fixed->dwFileVersionMS);
  info->minor = LOWORD(fixed->dwFileVersionMS);
  info->patch = HIWORD(fixed->dwFileVersionLS);
  auto text = [&](const wchar_t* key) {
    wchar_t* value = nullptr;
    UINT n = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\080404b0\\") + key;
    if (!VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &n) || !n)
      return std::string();
    return Narrow(std::wstring(value, n - 1));
  };
  info->fileVersion = text(L"FileVersion");
  info->productVersion = text(L"ProductVersion");
  info->originalName = text(L"OriginalFilename");
  return true;
}

void ExpectProjectVersion(const char* buildPath, const std::string& fileName) {
  VersionInfo v;
  ASSERT_TRUE(ReadVersion(WindowsPath(buildPath), &v)) << buildPath;
  EXPECT_EQ(v.fileVersion, VEXHOLD_VERSION);
  EXPECT_EQ(v.productVersion, VEXHOLD_VERSION);
  EXPECT_EQ(v.originalName, fileName);
  EXPECT_EQ(std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch),
            VEXHOLD_VERSION);
}

TEST(VersionResource, BothProgramsCarryTheProjectVersion) {
  ExpectProjectVersion(VEXHOLD_SERVE_BINARY, "vexhold-serve.exe");
#ifdef VEXHOLD_UI_BINARY
  ExpectProjectVersion(VEXHOLD_UI_BINARY, "vexhold.exe");
#endif
  std::string out;
  EXPECT_EQ(RunProgram(L"\"" + WindowsPath(VEXHOLD_SERVE_BINARY) + L"\" --version", &out), 0);
  EXPECT_EQ(out, "vexhold-serve " VEXHOLD_VERSION "\n");
}

// The event viewer formats each event through the program's message table:
// event 1 must be the text itself, Chinese included.
TEST(EventMessages, TheMessageTableGivesEveryEventItsOwnText) {
  HMODULE exe =
      LoadLibraryExW(WindowsPath(VEXHOLD_SERVE_BINARY).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(exe, nullptr);
  const std::wstring text = L"服务 vexhold-serve 已停止";
  DWORD_PTR inserts[1] = {reinterpret_cast<DWORD_PTR>(text.c_str())};
  wchar_t out[512] = {};
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, exe, 1, 0,
                           out, 512, reinterpret_cast<va_list*>(inserts));
  FreeLibrary(exe);
  ASSERT_GT(n, 0u) << GetLastError();
  std::wstring got(out, n);
  while (!got.empty() && (got.back() == L'\n' || got.back() == L'\r'))
    got.pop_back();
  EXPECT_EQ(Narrow(got), Narrow(text));
}

}  // namespace
}  // namespace vx::test
