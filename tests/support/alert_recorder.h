// Records the relays' alert texts and connection events. While holding, an
// alert blocks the relay that raised it until Release(), as a message box
// the operator has not closed yet would.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/alert.h"
#include "tests/support/wait.h"

namespace vx::test {

struct ConnectionEvent {
  bool opened;
  std::uint16_t localPort;
  net::SocketAddress peer;
};

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
  ::testing::AssertionResult WaitForTexts(std::size_t n, Ms timeout = Ms(5000));
  ::testing::AssertionResult WaitForEvents(std::size_t n, Ms timeout = Ms(5000));
  // n relays are held in an alert.
  ::testing::AssertionResult WaitHeld(int n, Ms timeout = Ms(5000));
  int Held();

 private:
  template <class Pred>
  ::testing::AssertionResult Wait(Ms timeout, const std::string& what, Pred held);

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

}  // namespace vx::test
