#include "tests/support/alert_recorder.h"

namespace vx::test {

void AlertRecorder::ShowRelayAlert(const std::string& text) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_texts.push_back(text);
  ++m_held;
  m_changed.notify_all();
  m_changed.wait(lock, [this] { return !m_holding; });
  --m_held;
  m_changed.notify_all();
}

void AlertRecorder::ConnectionOpened(std::uint16_t port, const net::SocketAddress& peer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_events.push_back({true, port, peer});
  m_changed.notify_all();
}

void AlertRecorder::ConnectionClosed(std::uint16_t port, const net::SocketAddress& peer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_events.push_back({false, port, peer});
  m_changed.notify_all();
}

void AlertRecorder::Reset() {
  Release();
  std::lock_guard<std::mutex> lock(m_mutex);
  m_texts.clear();
  m_events.clear();
  m_wantEvents = false;
}

void AlertRecorder::Hold() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_holding = true;
}

void AlertRecorder::Release() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_holding = false;
  m_changed.notify_all();
}

std::vector<std::string> AlertRecorder::Texts() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_texts;
}

std::vector<ConnectionEvent> AlertRecorder::Events() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_events;
}

template <class Pred>
::testing::AssertionResult AlertRecorder::Wait(Ms timeout, const std::string& what, Pred held) {
  const Deadline deadline(timeout);
  std::unique_lock<std::mutex> lock(m_mutex);
  const bool ok = m_changed.wait_for(lock, deadline.Left(), held);
  return WaitOutcome(ok, deadline,
                     what + " (alerts " + std::to_string(m_texts.size()) + ", events " +
                         std::to_string(m_events.size()) + ", held " + std::to_string(m_held) +
                         ")");
}

::testing::AssertionResult AlertRecorder::WaitForTexts(std::size_t n, Ms timeout) {
  return Wait(timeout, std::to_string(n) + " relay alerts", [&] { return m_texts.size() >= n; });
}

::testing::AssertionResult AlertRecorder::WaitForEvents(std::size_t n, Ms timeout) {
  return Wait(timeout, std::to_string(n) + " connection events",
              [&] { return m_events.size() >= n; });
}

::testing::AssertionResult AlertRecorder::WaitHeld(int n, Ms timeout) {
  return Wait(timeout, std::to_string(n) + " relays held in an alert", [&] { return m_held >= n; });
}

int AlertRecorder::Held() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_held;
}

AlertRecorder& Recorder() {
  static AlertRecorder* recorder = new AlertRecorder;
  return *recorder;
}

}  // namespace vx::test
