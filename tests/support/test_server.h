// A backend on loopback (or all interfaces), one thread per open connection. It
// echoes, keeps what it receives (sink), answers every byte with byte ^ key
// (so a reply tells which backend a relay reached), or answers every block
// received with a tag and the block.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "tests/support/ports.h"
#include "tests/support/wait.h"

namespace vx::test {

class TestServer {
 public:
  enum Mode { kEcho, kSink, kXor, kTagged };
  explicit TestServer(Mode mode, std::uint32_t bindAddr = Loopback());
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  std::uint16_t Port() const { return m_port; }
  int Accepted();
  ::testing::AssertionResult WaitAccepted(int n, Ms timeout = Ms(5000));
  // Connection i, in accept order.
  std::string Received(int i);
  ::testing::AssertionResult WaitReceived(int i, std::size_t n, Ms timeout = Ms(5000));
  bool PeerClosed(int i);
  ::testing::AssertionResult WaitPeerClosed(int i, Ms timeout = Ms(5000));
  net::SocketAddress LocalOf(int i);  // the address the relay connected to
  net::SocketAddress PeerOf(int i);   // the relay's outbound socket
  bool SendTo(int i, const std::string& data);
  void CloseConnection(int i);

 protected:
  TestServer(Mode mode, std::uint8_t key, std::string tag);
  std::uint8_t XorKey() const { return m_key; }

 private:
  struct Conn {
    net::UniqueSocket sock;
    std::string data;
    bool closed = false;
    std::atomic<bool> closeRequested{false};
    std::atomic<bool> finished{false};  // its thread has nothing left to do
    net::SocketAddress local;
    net::SocketAddress peer;
    std::thread thread;
  };
  void Listen(std::uint32_t bindAddr);
  void AcceptLoop();
  void ServeLoop(Conn* conn);
  std::string ReplyTo(const char* data, std::uint32_t n) const;
  ::testing::AssertionResult WaitConn(int i, Ms timeout, const std::string& what,
                                      bool (*held)(const Conn&, std::size_t), std::size_t n);

  Mode m_mode;
  std::uint8_t m_key = 0;
  std::string m_tag;
  net::UniqueSocket m_listener;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::unique_ptr<Conn>> m_conns;
  std::thread m_acceptor;
};

// Answers byte ^ key on 127.0.0.1.
class XorEchoServer : public TestServer {
 public:
  explicit XorEchoServer(std::uint8_t key) : TestServer(kXor, key, {}) {}
  std::uint8_t Key() const { return XorKey(); }
};

// Answers tag + block on 127.0.0.1.
class TaggedEchoServer : public TestServer {
 public:
  explicit TaggedEchoServer(std::string tag) : TestServer(kTagged, 0, std::move(tag)) {}
};

}  // namespace vx::test
