// Processes started by tests.
//
// ChildProcess runs a part of this same test program as a separate process:
// the child is started again with "--child <mode> args...", and the mode's
// function runs before main (from a static initialiser of the test file that
// defines it) and ends the process with its result.
//
// ProgramProcess (POSIX) runs another program of the build with its output
// in files, optionally under a descriptor limit.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/wait.h"

namespace vx::test {

using ChildMain = int (*)(const std::vector<std::string>& args);

// In a child started for `mode`: runs `main` with the arguments after the
// mode and exits with its result. Otherwise returns false at once.
bool RunIfChild(const char* mode, ChildMain main);

class ChildProcess {
 public:
  // Starts this program again as a child for `mode`; Running() is false if
  // that failed.
  ChildProcess(const std::string& mode, const std::vector<std::string>& args);
  ~ChildProcess();  // kills a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Running() const;
  unsigned long Pid() const { return m_pid; }
  // The exit code, or -1 when the child did not end within `limit` (scaled).
  int Wait(Ms limit);
  // Ends the child at once, as a crash or a power loss would (SIGKILL,
  // TerminateProcess), and waits for it.
  void Kill();

 private:
  unsigned long m_pid = 0;
  void* m_handle = nullptr;  // the process handle on Windows
  bool m_reaped = false;
  int m_exitCode = -1;
};

#ifdef _WIN32
// Runs `commandLine` (the program's path first, quoted as needed) with stdout
// and stderr captured together. Returns the exit code, or -1 when it could
// not start or did not end within the (scaled) time-out; it is then killed.
int RunProgram(const std::wstring& commandLine, std::string* output, Ms timeout = Ms(20000));

// A path of the build (a Unix path under Wine) as a Windows path.
std::wstring WindowsPath(const std::string& buildPath);
#else
struct ProgramOptions {
  long fileLimit = 0;  // RLIMIT_NOFILE, soft and hard, when above 0
  int stderrFd = -1;   // stderr to this descriptor instead of a file
};

class ProgramProcess {
 public:
  // Starts `program` with `args`; stdout and stderr go to files in `logDir`.
  ProgramProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& logDir, ProgramOptions options = {});
  ~ProgramProcess();  // kills the child if it still runs
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;

  int Pid() const { return m_pid; }
  void Signal(int sig);
  // The exit code, -1 on time-out (scaled; the child then still runs), or
  // 128 + n if it died of signal n.
  int WaitExit(int timeoutMs);
  std::string Stderr() const;
  std::string Stdout() const;
  // Stderr holds `text` at least `times` times.
  ::testing::AssertionResult WaitForLog(const std::string& text, int timeoutMs,
                                        int times = 1) const;
  double CpuSeconds() const;  // user + system so far
  long RssKiB() const;

 private:
  int m_pid = -1;
  bool m_exited = false;
  std::filesystem::path m_out, m_err;
};
#endif

}  // namespace vx::test
