// The engine's reports as log lines, each with its level.
#pragma once

#include "engine/engine_events.h"
#include "serve/logger.h"

namespace vx {

class EngineLog : public engine::EngineEvents {
 public:
  explicit EngineLog(Logger& logger) : m_logger(logger) {}

  void RelayMessage(LogLevel level, const std::string& text) override;
  void ConnectionOpened(std::uint16_t localPort, const std::string& peer) override;
  void ConnectionClosed(std::uint16_t localPort, const std::string& peer) override;
  void ConnectionLimitReached(std::uint16_t localPort, int limit) override;
  void ConnectionLimitBurstEnded(std::uint16_t localPort, unsigned long long refused) override;
  void NameUnresolved(std::uint16_t localPort, const std::string& name, int code) override;
  void DescriptorsAvailableAgain(std::uint16_t localPort, unsigned long long failures) override;

 private:
  Logger& m_logger;
};

}  // namespace vx
