#include "tests/support/child_process.h"

#include <cstdlib>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vx::test {

namespace {

std::vector<std::string> OwnArguments() {
  std::vector<std::string> args;
#ifdef _WIN32
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 0; argv != nullptr && i < argc; ++i) {
    int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string a(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, a.data(), n, nullptr, nullptr);
    args.push_back(a);
  }
  LocalFree(argv);
#else
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string arg;
  while (std::getline(in, arg, '\0')) {
    args.push_back(arg);
  }
#endif
  return args;
}

#ifdef _WIN32
std::wstring Widen(const std::string& s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w.data(), n);
  return w;
}
#endif

}  // namespace

bool RunIfChild(const char* mode, ChildMain main) {
  std::vector<std::string> args = OwnArguments();
  if (args.size() < 3 || args[1] != "--child" || args[2] != mode) {
    return false;
  }
  std::exit(main(std::vector<std::string>(args.begin() + 3, args.end())));
}

ChildProcess::ChildProcess(const std::string& mode, const std::vector<std::string>& args) {
#ifdef _WIN32
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(self) + L"\" --child " + Widen(mode);
  for (const std::string& a : args) {
    cmd += L" \"" + Widen(a) + L"\"";
  }
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(self, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(pi.hThread);
    m_handle = pi.hProcess;
    m_pid = pi.dwProcessId;
  }
#else
  std::vector<std::string> all = {"/proc/self/exe", "--child", mode};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execv("/proc/self/exe", argv.data());
    ::_exit(127);
  }
  m_pid = pid > 0 ? static_cast<unsigned long>(pid) : 0;
#endif
}

ChildProcess::~ChildProcess() {
  if (Running()) {
    Kill();
  }
#ifdef _WIN32
  if (m_handle != nullptr) {
    CloseHandle(m_handle);
  }
#endif
}

bool ChildProcess::Running() const {
  return m_pid != 0 && !m_reaped;
}

int ChildProcess::Wait(Ms plainLimit) {
  const Ms limit = Scaled(plainLimit);
  if (m_reaped || m_pid == 0) {
    return m_exitCode;
  }
#ifdef _WIN32
  if (WaitForSingleObject(m_handle, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(m_handle, &code);
  m_exitCode = static_cast<int>(code);
#else
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(static_cast<pid_t>(m_pid), &status, WNOHANG);
    if (r == static_cast<pid_t>(m_pid)) {
      break;
    }
    if (r < 0 || std::chrono::steady_clock::now() >= deadline) {
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  m_reaped = true;
  return m_exitCode;
}

void ChildProcess::Kill() {
  if (!Running()) {
    return;
  }
#ifdef _WIN32
  TerminateProcess(m_handle, 137);
#else
  ::kill(static_cast<pid_t>(m_pid), SIGKILL);
#endif
  Wait(Ms(10000));
}

}  // namespace vx::test
