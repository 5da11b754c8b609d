// Test helpers on real loopback sockets (POSIX): an echo backend on a thread
// of its own, and blocking client calls with time-outs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace vx::test {

// A port that was free a moment ago (bound on all interfaces, then closed).
std::uint16_t FreePort();

// Echoes every byte back on each accepted connection until the peer closes.
class EchoBackend {
 public:
  EchoBackend();
  ~EchoBackend();
  std::uint16_t Port() const { return m_port; }
  int Accepted() const { return m_accepted.load(); }

 private:
  void Run();
  int m_listener = -1;
  int m_wake[2] = {-1, -1};
  std::uint16_t m_port = 0;
  std::atomic<int> m_accepted{0};
  std::thread m_thread;
};

// A connected client socket, closed on destruction.
class Client {
 public:
  Client() = default;
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Connects to 127.0.0.1:port; false if refused or timed out.
  bool Connect(std::uint16_t port, int timeoutMs = 2000);
  bool SendAll(const std::string& data);
  // Reads exactly n bytes; false on EOF, error or time-out.
  bool ReadExactly(std::size_t n, std::string* out, int timeoutMs = 3000);
  // Sends `data` and expects it echoed back.
  bool Echo(const std::string& data, int timeoutMs = 3000);
  // True when the peer has closed or reset (EOF or an error) within the time.
  bool SeesClose(int timeoutMs);
  void Close();
  int Fd() const { return m_fd; }

 private:
  int m_fd = -1;
};

// Whether 127.0.0.1:port accepts a TCP connection now.
bool Accepts(std::uint16_t port);

// A deterministic byte pattern of the given size.
std::string Pattern(std::size_t size, unsigned seed);

}  // namespace vx::test
