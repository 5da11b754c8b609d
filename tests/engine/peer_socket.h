// Test helpers on real loopback sockets, portable through Asio: a client end
// whose every call has a deadline, a scripted backend on a thread of its own,
// a recorder of the engine's events, and a listener that drops SYNs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/asio.h"
#include "engine/engine_events.h"
#include "tests/support/bytes.h"
#include "tests/support/ports.h"
#include "tests/support/wait.h"

namespace vx::test {

using asio::ip::tcp;

tcp::endpoint Local4(std::uint16_t port);

enum class PeerEnd { kOpen, kEof, kReset };

// One client connection, driven from the test thread.
class PeerSocket {
 public:
  PeerSocket();
  ~PeerSocket();
  PeerSocket(const PeerSocket&) = delete;
  PeerSocket& operator=(const PeerSocket&) = delete;

  bool Connect(const tcp::endpoint& to, Ms timeout = Ms(3000));
  bool Send(const std::string& data, Ms timeout = Ms(5000));
  // Exactly n bytes; false on end, error or time-out.
  bool Receive(std::size_t n, std::string* out, Ms timeout = Ms(5000));
  // Reads until the peer ends the stream; what came before goes to *rest.
  PeerEnd ReadToEnd(std::string* rest, Ms timeout = Ms(5000));
  // Nothing arrives and the connection stays open for the whole period.
  bool StaysQuiet(Ms period);
  void ShutdownSend();
  void Reset();  // an abortive close: the peer sees a reset
  tcp::socket& Socket() { return m_socket; }

 private:
  // Runs the context until `done` or the deadline; cancels what is pending.
  bool RunUntil(const bool& done, Ms timeout);

  asio::io_context m_context;
  tcp::socket m_socket;
};

// A backend the engine connects to. Each accepted connection echoes, keeps
// what it receives (sink), or sends without end (flood) until told otherwise.
class ScriptedBackend {
 public:
  enum Mode { kEcho, kSink, kFlood };
  explicit ScriptedBackend(Mode mode, const tcp::endpoint& at = Local4(0));
  ~ScriptedBackend();
  ScriptedBackend(const ScriptedBackend&) = delete;
  ScriptedBackend& operator=(const ScriptedBackend&) = delete;

  std::uint16_t Port() const { return m_port; }
  int Accepted() const { return m_accepted.load(); }
  ::testing::AssertionResult WaitAccepted(int n, Ms timeout = Ms(5000)) const;
  // Connection i (in accept order).
  std::string Received(int i);
  ::testing::AssertionResult WaitReceived(int i, std::size_t n, Ms timeout = Ms(5000));
  PeerEnd End(int i);
  ::testing::AssertionResult WaitEnd(int i, PeerEnd end, Ms timeout = Ms(5000));
  std::uint64_t Flooded(int i);  // bytes a flooding connection has sent
  void Send(int i, const std::string& data);
  void ShutdownSend(int i);
  void Reset(int i);

 private:
  struct Conn;
  void Accept();
  void ReadMore(const std::shared_ptr<Conn>& c);
  void FloodMore(const std::shared_ptr<Conn>& c);
  template <typename F>
  void OnThread(F f);

  Mode m_mode;
  asio::io_context m_context;
  tcp::acceptor m_acceptor;
  std::uint16_t m_port = 0;
  std::atomic<int> m_accepted{0};
  std::mutex m_mutex;
  std::vector<std::shared_ptr<Conn>> m_conns;
  std::thread m_thread;
};

// A remote that never answers a SYN: a listener whose accept queue is full
// and never accepted.
class SilentRemote {
 public:
  SilentRemote();
  std::uint16_t Port() const { return m_port; }
  // Whether a fresh connect really goes unanswered for `probe`.
  bool DropsSyns(Ms probe = Ms(300));

 private:
  asio::io_context m_context;
  tcp::acceptor m_acceptor;
  std::uint16_t m_port = 0;
  std::vector<std::unique_ptr<PeerSocket>> m_fillers;
};

// Everything the engine reports, for inspection.
class RecordingEvents : public engine::EngineEvents {
 public:
  void RelayMessage(LogLevel level, const std::string& text) override;
  void ConnectionOpened(std::uint16_t localPort, const std::string& peer) override;
  void ConnectionClosed(std::uint16_t localPort, const std::string& peer) override;
  void ConnectionLimitReached(std::uint16_t localPort, int limit) override;
  void ConnectionLimitBurstEnded(std::uint16_t localPort, unsigned long long refused) override;
  void NameUnresolved(std::uint16_t localPort, const std::string& name, int code) override;
  void DescriptorsAvailableAgain(std::uint16_t localPort, unsigned long long failures) override;

  std::vector<std::string> Lines();
  // How many lines contain `text`.
  int Count(const std::string& text);
  ::testing::AssertionResult WaitCount(const std::string& text, int n, Ms timeout = Ms(5000));

 private:
  void Add(const std::string& line);
  std::mutex m_mutex;
  std::vector<std::string> m_lines;
};

}  // namespace vx::test
