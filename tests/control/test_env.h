// Loopback checks for the command tests: a relay's port answers through the
// XOR backend it should reach, or refuses.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"
#include "tests/support/alert_recorder.h"
#include "tests/support/ports.h"
#include "tests/support/sockets.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"
#include "tests/support/wait.h"

namespace vx::test {

// Sends `payload` and reads the reply; true when it is payload ^ key, within
// `timeoutMs`.
bool RoundTrip(net::Socket s, const std::string& payload, std::uint8_t key, int timeoutMs = 3000);
// Connects (retrying until a relay has started listening) and does one round
// trip.
::testing::AssertionResult PortRelaysTo(std::uint16_t port, std::uint8_t key, int timeoutMs = 3000);
// True when nothing accepts connections on the port.
inline bool PortRefuses(std::uint16_t port) {
  return !Accepts(port);
}

}  // namespace vx::test
