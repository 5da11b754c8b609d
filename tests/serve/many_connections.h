// Test helpers for load on loopback (POSIX): an epoll echo backend that holds
// thousands of connections, and a driver that opens and holds as many
// clients.
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

}  // namespace vx::test
