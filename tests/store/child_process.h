// Test programs that run parts of themselves as separate processes: the child
// is this same program started again with "--child <mode> args...", and the
// mode's function runs before main (from a static initialiser of the test
// file that defines it) and ends the process with its result.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vx::testing {

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
  // The exit code, or -1 when the child did not end within `limit`.
  int Wait(std::chrono::milliseconds limit);
  // Ends the child at once, as a crash or a power loss would (SIGKILL,
  // TerminateProcess), and waits for it.
  void Kill();

 private:
  unsigned long m_pid = 0;
  void* m_handle = nullptr;  // the process handle on Windows
  bool m_reaped = false;
  int m_exitCode = -1;
};

}  // namespace vx::testing
