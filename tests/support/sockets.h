// Client-side loopback calls through the platform's own sockets (Winsock or
// POSIX), each bounded in time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"
#include "tests/support/wait.h"

namespace vx::test {

// A connection to addr:port; invalid when the connect failed.
net::UniqueSocket ConnectTo(std::uint16_t port, std::uint32_t addr = 0 /* 127.0.0.1 */);
// Connects once something listens (a relay's start returns before it binds).
net::UniqueSocket ConnectWhenListening(std::uint16_t port, Ms timeout = Ms(5000));
bool WaitReadable(net::Socket s, Ms timeout);
bool SendAll(net::Socket s, const std::string& data);
// Receives until *out holds n bytes (false on close, error or time-out).
bool RecvExact(net::Socket s, std::size_t n, std::string* out, Ms timeout = Ms(5000));
// True once the peer has closed or reset (bytes before that go to *rest).
bool WaitPeerClosed(net::Socket s, Ms timeout = Ms(5000), std::string* rest = nullptr);
// True if nothing arrives and the connection stays open for `period`.
bool StaysQuiet(net::Socket s, Ms period);

// Connects to 127.0.0.1:port, sends `text` and returns what came back until
// the reply ends with `text` or `timeout` passes (empty when the connection
// failed). The connection stays open in *kept when it is given.
std::string RoundTrip(std::uint16_t port, const std::string& text, Ms timeout,
                      net::UniqueSocket* kept = nullptr);

}  // namespace vx::test
