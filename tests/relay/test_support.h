// Shared helpers for the relay tests: bounded waits, an alert recorder that can
// hold a relay, loopback clients and a backend server, and a relay fixture.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/alert.h"
#include "platform/socket.h"
#include "relay/relay_control.h"
#include "relay/slot_tables.h"

namespace vx::test {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

// Polls `done` every few milliseconds; false once `timeout` has passed.
template <class Pred>
bool WaitUntil(Pred done, Ms timeout = Ms(5000)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(Ms(2));
  }
  return true;
}

std::uint32_t Loopback();  // 127.0.0.1 in network byte order

struct ConnectionEvent {
  bool opened;
  std::uint16_t localPort;
  net::SocketAddress peer;
};

// Records alert texts and connection events. While holding, an alert blocks
// the relay that raised it until Release().
class AlertRecorder : public AlertSink {
 public:
  void ShowRelayAlert(const std::string& text) override;
  void ConnectionOpened(std::uint16_t port, const net::SocketAddress& peer) override;
  void ConnectionClosed(std::uint16_t port, const net::SocketAddress& peer) override;
  bool WantsConnectionEvents() const override { return m_wantEvents.load(); }

  void Reset();  // releases any held relay first
  void Hold();
  void Release();
  void SetWantEvents(bool want) { m_wantEvents = want; }

  std::vector<std::string> Texts();
  std::vector<ConnectionEvent> Events();
  bool WaitForTexts(std::size_t n, Ms timeout = Ms(5000));
  bool WaitForEvents(std::size_t n, Ms timeout = Ms(5000));
  bool WaitHeld(int n, Ms timeout = Ms(5000));  // n relays are held in an alert
  int Held();

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::string> m_texts;
  std::vector<ConnectionEvent> m_events;
  bool m_holding = false;
  int m_held = 0;
  std::atomic<bool> m_wantEvents{false};
};

// The process-wide recorder (never destroyed: relays may outlive a test).
AlertRecorder& Recorder();

// --- loopback sockets through the platform layer ---
std::uint16_t FreePort();  // a port that was free a moment ago
net::UniqueSocket ConnectTo(std::uint16_t port, std::uint32_t addr = Loopback());
// Connects once the relay listens (a start returns before it binds).
net::UniqueSocket ConnectWhenListening(std::uint16_t port, Ms timeout = Ms(5000));
bool SendAll(net::Socket s, const std::string& data);
// Receives exactly n bytes (false on close, error or time-out).
bool RecvExact(net::Socket s, std::size_t n, std::string* out, Ms timeout = Ms(5000));
// True once the peer has closed (remaining bytes go to *rest when given).
bool WaitPeerClosed(net::Socket s, Ms timeout = Ms(5000), std::string* rest = nullptr);
// True if nothing arrives and the connection stays open for `period`.
bool StaysQuiet(net::Socket s, Ms period);
std::string Pattern(std::size_t n, unsigned seed = 1);

// A backend the relays connect to: accepts on loopback (or all interfaces),
// one thread per connection; echoes or just keeps what it receives.
class TestServer {
 public:
  enum Mode { kEcho, kSink };
  explicit TestServer(Mode mode, std::uint32_t bindAddr = Loopback());
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  std::uint16_t Port() const { return m_port; }
  int Accepted();
  bool WaitAccepted(int n, Ms timeout = Ms(5000));
  std::string Received(int i);
  bool WaitReceived(int i, std::size_t n, Ms timeout = Ms(5000));
  bool PeerClosed(int i);
  bool WaitPeerClosed(int i, Ms timeout = Ms(5000));
  net::SocketAddress LocalOf(int i);  // the address the relay connected to
  net::SocketAddress PeerOf(int i);   // the relay's outbound socket
  bool SendTo(int i, const std::string& data);
  void CloseConnection(int i);

 private:
  struct Conn {
    net::UniqueSocket sock;
    std::string data;
    bool closed = false;
    std::atomic<bool> closeRequested{false};
    net::SocketAddress local;
    net::SocketAddress peer;
    std::thread thread;
  };
  void AcceptLoop();
  void ServeLoop(Conn* conn);

  Mode m_mode;
  net::UniqueSocket m_listener;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<std::unique_ptr<Conn>> m_conns;
  std::thread m_acceptor;
};

// Relay tests: one shared set of tables (never freed), the recorder installed,
// faults cleared, and every relay started here stopped (bounded) afterwards.
class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static RelaySlotTables& Tables();
  // Sets slot t up as the start commands do and starts relay t.
  bool Start(int t, std::uint16_t localPort, std::uint16_t remotePort,
             const std::string& remoteAddress = "127.0.0.1");
  std::int32_t State(int slot) { return Tables().relayState[slot].load(); }
  std::int32_t Count(int slot) { return Tables().connectionCount[slot].load(); }
  bool WaitCount(int slot, std::int32_t n, Ms timeout = Ms(5000));
  // Waits until the relay listening on `port` is in its wait loop, without
  // connecting (a probe connection would be relayed).
  static bool WaitListening(std::uint16_t port, Ms timeout = Ms(5000));
  // Requests the stop and waits (bounded) for RELAY_STOPPED.
  bool Stop(int slot, Ms timeout = Ms(5000));
  bool IsStopped(int slot);

  std::vector<int> m_started;
};

// Runs RelayWorker on a thread of the test's own, to see its exit code.
struct WorkerRun {
  std::atomic<bool> done{false};
  std::atomic<unsigned> exitCode{0};
};
std::shared_ptr<WorkerRun> RunWorkerDirectly(RelaySlotTables& tables, int t,
                                             const RelayEndpoint& endpoint);

}  // namespace vx::test
