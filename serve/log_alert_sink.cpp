#include "serve/log_alert_sink.h"

#include "serve/messages.h"

namespace vx {

std::string FormatEndpoint(const net::SocketAddress& address) {
  return net::InetNtoa(address.addr) + ":" + std::to_string(address.port);
}

void LogAlertSink::ShowRelayAlert(const std::string& text) {
  m_logger.Log(LogLevel::kError, text);
}

void LogAlertSink::ConnectionOpened(std::uint16_t localPort, const net::SocketAddress& peer) {
  if (m_connectionEvents)
    m_logger.Log(msg::ConnectionOpened(localPort, FormatEndpoint(peer)));
}

void LogAlertSink::ConnectionClosed(std::uint16_t localPort, const net::SocketAddress& peer) {
  if (m_connectionEvents)
    m_logger.Log(msg::ConnectionClosed(localPort, FormatEndpoint(peer)));
}

}  // namespace vx
