// Test helpers for load on loopback (POSIX): an epoll echo backend that holds
// thousands of connections, a driver that opens and holds as many clients,
// and vexhold-serve as a child with a descriptor limit or a chosen stderr.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace vx::test {

// Raises this process's descriptor limit to the hard limit; returns it.
long RaiseOwnFileLimit();

class EpollEcho {
 public:
  EpollEcho();
  ~EpollEcho();
  std::uint16_t Port() const { return m_port; }
  int Open() const { return m_open.load(); }

 private:
  void Run();
  int m_listener = -1, m_epoll = -1, m_wake = -1;
  std::uint16_t m_port = 0;
  std::atomic<int> m_open{0};
  std::thread m_thread;
};

// Connections opened to one port and held; each echoes a message of its own.
class HeldClients {
 public:
  ~HeldClients();
  // Opens up to n (at most `inFlight` set-ups at once, within `timeoutMs`),
  // each sending 16 bytes and checking their echo. Returns how many are held.
  int Open(std::uint16_t port, int n, int timeoutMs, int inFlight = 64);
  // Every held connection echoes once more, all at once; returns how many did.
  int EchoAll(int timeoutMs);
  void CloseAll();
  int Held() const { return static_cast<int>(m_fds.size()); }

 private:
  std::vector<int> m_fds;
  int m_round = 0;
};

// vexhold-serve as a child: stderr to a file, or to a descriptor the test
// holds; optionally under a descriptor limit (soft and hard).
class ServeChild {
 public:
  ServeChild(const std::vector<std::string>& args, const std::filesystem::path& errFile,
             long fileLimit = 0, int stderrFd = -1);
  ~ServeChild();
  pid_t Pid() const { return m_pid; }
  void Signal(int sig);
  int WaitExit(int timeoutMs);  // as ServeProcess::WaitExit
  double CpuSeconds() const;    // user + system so far
  long RssKiB() const;
  std::string Stderr() const;
  bool WaitForLog(const std::string& text, int timeoutMs, int times = 1) const;

 private:
  pid_t m_pid = -1;
  bool m_exited = false;
  std::filesystem::path m_err;
};

}  // namespace vx::test
