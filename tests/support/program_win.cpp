#include <windows.h>

#include <thread>

#include "tests/support/child_process.h"

namespace vx::test {

int RunProgram(const std::wstring& commandLine, std::string* output, Ms timeout) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
    return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;
  const BOOL started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return -1;
  }
  std::string text;
  std::thread reader([&] {
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0)
      text.append(buf, n);
  });
  int code = -1;
  if (WaitForSingleObject(pi.hProcess, static_cast<DWORD>(Scaled(timeout).count())) ==
      WAIT_OBJECT_0) {
    DWORD exit = 0;
    GetExitCodeProcess(pi.hProcess, &exit);
    code = static_cast<int>(exit);
  } else {
    TerminateProcess(pi.hProcess, 255);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  reader.join();
  CloseHandle(readEnd);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  if (output)
    *output = text;
  return code;
}

std::wstring WindowsPath(const std::string& buildPath) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, buildPath.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, buildPath.c_str(), -1, out.data(), n);
  for (wchar_t& c : out) {
    if (c == L'/')
      c = L'\\';
  }
  if (!out.empty() && out[0] == L'\\')
    out = L"Z:" + out;  // Wine's drive for the Unix root
  return out;
}

}  // namespace vx::test
