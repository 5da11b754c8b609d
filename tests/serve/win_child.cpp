#include "tests/serve/win_child.h"

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

namespace vx::test {

int RunProgram(const std::wstring& commandLine, std::string* output, DWORD timeoutMs) {
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
  BOOL started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return -1;
  }
  std::string text;
  std::thread reader([&] {
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0)
      text.append(buf, n);
  });
  int code = -1;
  if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
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
  std::wstring out;
  if (!buildPath.empty() && buildPath[0] == '/')
    out = L"Z:";
  for (char c : buildPath)
    out += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  m_path = std::filesystem::temp_directory_path() /
           ("vexhold-service-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(counter++));
  std::filesystem::create_directories(m_path);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

}  // namespace vx::test
