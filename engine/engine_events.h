// What the engine tells the program while it serves. Called on the engine's
// event threads: an implementation must be thread-safe and must never block.
#pragma once

#include <cstdint>
#include <string>

#include "serve/log_level.h"

namespace vx::engine {

class EngineEvents {
 public:
  virtual ~EngineEvents() = default;
  // A relay message, formatted with its usual text ("端口:%u ...").
  virtual void RelayMessage(LogLevel level, const std::string& text) = 0;
  // Only when the settings ask for connection events. `peer` is "a.b.c.d:port"
  // or "[v6]:port".
  virtual void ConnectionOpened(std::uint16_t localPort, const std::string& peer) = 0;
  virtual void ConnectionClosed(std::uint16_t localPort, const std::string& peer) = 0;
  // The first client over the limit of a burst; then, once the burst is over,
  // how many were closed in it.
  virtual void ConnectionLimitReached(std::uint16_t localPort, int limit) = 0;
  virtual void ConnectionLimitBurstEnded(std::uint16_t localPort, unsigned long long refused) = 0;
  // Once per name until it resolves again.
  virtual void NameUnresolved(std::uint16_t localPort, const std::string& name, int code) = 0;
  // Accepting again after the system ran out of descriptors; `failures` is
  // how many accepts or socket creations failed meanwhile.
  virtual void DescriptorsAvailableAgain(std::uint16_t localPort, unsigned long long failures) = 0;
};

}  // namespace vx::engine
