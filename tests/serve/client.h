// A blocking client on real loopback sockets (POSIX) whose every call has a
// time-out, for driving vexhold-serve from outside.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "tests/support/bytes.h"
#include "tests/support/ports.h"
#include "tests/support/test_server.h"

namespace vx::test {

// 127.0.0.1:port.
sockaddr_in LoopbackAddress(std::uint16_t port);

// Echoes every byte back on each accepted connection until the peer closes.
class EchoBackend : public TestServer {
 public:
  EchoBackend() : TestServer(kEcho) {}
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

}  // namespace vx::test
