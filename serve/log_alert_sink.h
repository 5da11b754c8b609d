// The relays' alert sink in vexhold-serve: every message becomes a log line
// and the relay goes on at once (no operator to dismiss a box).
#pragma once

#include "platform/alert.h"
#include "serve/logger.h"

namespace vx {

class LogAlertSink : public AlertSink {
 public:
  LogAlertSink(Logger& logger, bool connectionEvents)
      : m_logger(logger), m_connectionEvents(connectionEvents) {}

  void ShowRelayAlert(const std::string& text) override;
  void ConnectionOpened(std::uint16_t localPort, const net::SocketAddress& peer) override;
  void ConnectionClosed(std::uint16_t localPort, const net::SocketAddress& peer) override;
  bool WantsConnectionEvents() const override { return m_connectionEvents; }

 private:
  Logger& m_logger;
  bool m_connectionEvents;
};

// "a.b.c.d:port".
std::string FormatEndpoint(const net::SocketAddress& address);

}  // namespace vx
