#include <windows.h>

#include "serve/console.h"

namespace vx {

namespace {

void WriteHandle(DWORD which, const std::string& text) {
  HANDLE h = GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE || text.empty())
    return;
  DWORD mode = 0;
  if (GetConsoleMode(h, &mode)) {
    int wlen =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wlen <= 0)
      return;
    std::wstring wide(static_cast<std::size_t>(wlen), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], wlen);
    const wchar_t* p = wide.data();
    DWORD left = static_cast<DWORD>(wide.size());
    while (left > 0) {
      DWORD written = 0;
      if (!WriteConsoleW(h, p, left, &written, nullptr) || written == 0)
        return;
      p += written;
      left -= written;
    }
    return;
  }
  const char* p = text.data();
  DWORD left = static_cast<DWORD>(text.size());
  while (left > 0) {
    DWORD written = 0;
    if (!WriteFile(h, p, left, &written, nullptr) || written == 0)
      return;
    p += written;
    left -= written;
  }
}

}  // namespace

void WriteStdout(const std::string& text) {
  WriteHandle(STD_OUTPUT_HANDLE, text);
}
void WriteStderr(const std::string& text) {
  WriteHandle(STD_ERROR_HANDLE, text);
}

}  // namespace vx

#include <shellapi.h>

namespace vx {

std::vector<std::string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  std::vector<std::string> args;
  int n = 0;
  LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wargv == nullptr)
    return args;
  for (int i = 1; i < n; ++i) {
    int len = WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string s(len > 0 ? static_cast<std::size_t>(len) : 1, '\0');
    if (len > 0)
      WideCharToMultiByte(CP_UTF8, 0, wargv[i], -1, &s[0], len, nullptr, nullptr);
    s.resize(s.size() - 1);
    args.push_back(s);
  }
  LocalFree(wargv);
  return args;
}

}  // namespace vx
