// A loopback TCP server that answers every received block with a tag and the
// block, so a test can tell which server a relay reached.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace vx::uitest {

class EchoServer {
 public:
  explicit EchoServer(std::string tag);
  ~EchoServer();
  EchoServer(const EchoServer&) = delete;
  EchoServer& operator=(const EchoServer&) = delete;

  std::uint16_t Port() const { return m_port; }

 private:
  void AcceptLoop();

  std::string m_tag;
  SOCKET m_listener = INVALID_SOCKET;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_acceptor;
  std::vector<std::thread> m_clients;
  std::vector<SOCKET> m_clientSockets;
};

// A port on 127.0.0.1 that nothing listens on right now.
std::uint16_t FreeLoopbackPort();

// Connects to 127.0.0.1:port, sends `text` and returns what came back within
// `timeoutMs` (empty when the connection failed). The connection stays open
// in `*kept` when it is given, and is closed otherwise.
std::string RoundTrip(std::uint16_t port, const std::string& text, unsigned timeoutMs,
                      SOCKET* kept = nullptr);

}  // namespace vx::uitest
