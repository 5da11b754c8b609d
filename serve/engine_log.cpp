#include "serve/engine_log.h"

#include "serve/messages.h"

namespace vx {

void EngineLog::RelayMessage(LogLevel level, const std::string& text) {
  m_logger.Log(level, text);
}

void EngineLog::ConnectionOpened(std::uint16_t localPort, const std::string& peer) {
  m_logger.Log(LogLevel::kInfo, msg::ConnectionOpened(localPort, peer));
}

void EngineLog::ConnectionClosed(std::uint16_t localPort, const std::string& peer) {
  m_logger.Log(LogLevel::kInfo, msg::ConnectionClosed(localPort, peer));
}

void EngineLog::ConnectionLimitReached(std::uint16_t localPort, int limit) {
  m_logger.Log(LogLevel::kWarning, msg::ConnectionLimitReached(localPort, limit));
}

void EngineLog::ConnectionLimitBurstEnded(std::uint16_t localPort, unsigned long long refused) {
  m_logger.Log(LogLevel::kWarning, msg::ConnectionLimitBurstEnded(localPort, refused));
}

void EngineLog::NameUnresolved(std::uint16_t localPort, const std::string& name, int code) {
  m_logger.Log(LogLevel::kWarning, msg::NameUnresolved(localPort, name, code));
}

void EngineLog::DescriptorsAvailableAgain(std::uint16_t localPort, unsigned long long failures) {
  m_logger.Log(LogLevel::kNotice, msg::DescriptorsAvailableAgain(localPort, failures));
}

}  // namespace vx
