// What the operator sets for every pair the engine serves.
#pragma once

#include <cstdint>
#include <string>

namespace vx::engine {

struct EngineSettings {
  std::string bindAddress;  // empty: all IPv4 interfaces, as the window listens
  int connectTimeoutSeconds = 10;
  int idleTimeoutSeconds = 0;  // 0: connections may stay idle for ever
  int maxConnections = 4096;   // per pair
  bool halfClose = false;      // pass a FIN on instead of closing both sides
  int threads = 1;
  // After handling events, an event thread looks for more at most this long
  // before it sleeps (0: it sleeps at once). A reply that comes within it is
  // taken without the cost of waking the thread; the window shrinks to
  // nothing while events come further apart, so sparse traffic pays nothing.
  // Off on Windows, where its gain has not been measured.
#ifdef _WIN32
  int busyPollMicroseconds = 0;
#else
  int busyPollMicroseconds = 200;
#endif
  bool connectionEvents = true;  // report every opened and closed connection
};

// One pair as the engine needs it. `remoteHost` is an IPv4 or IPv6 address or
// a host name, already checked.
struct PairConfig {
  int section = 0;  // for messages only
  std::uint16_t localPort = 0;
  std::string remoteHost;
  std::uint16_t remotePort = 0;
};

}  // namespace vx::engine
