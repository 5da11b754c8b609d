// Ports for loopback tests. A test program normally runs in a network
// namespace of its own (scripts/run-isolated.sh), where every port is its
// own; where that is not possible the script hands it a block of ports no
// other test program uses, in VEXHOLD_TEST_PORTS ("first-last").
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace vx::test {

// Starts Windows Sockets once for the process (nothing elsewhere).
void EnsureSockets();

std::uint32_t Loopback();  // 127.0.0.1 in network byte order

// A port of this program's range that nothing listens on right now (bound on
// all interfaces to check). The range lies below every system's ephemeral
// ports, so no outbound connection takes it meanwhile.
std::uint16_t FreePort();

// Whether something accepts a TCP connection on 127.0.0.1:port now.
bool Accepts(std::uint16_t port);

// Listens on a port (all interfaces), so that nothing else can bind it.
class PortHolder {
 public:
  explicit PortHolder(std::uint16_t port);
  bool Holding() const { return m_socket.Valid(); }
  void Release() { m_socket.Reset(); }

 private:
  net::UniqueSocket m_socket;
};

}  // namespace vx::test
