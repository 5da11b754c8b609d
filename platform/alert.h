// The alert sink: where relays raise their modal messages, and where they
// report connection events. The GUI shows a message box on the calling thread
// (the relay waits until it is dismissed); a headless program logs a line; tests
// record the text and may hold the relay.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace vx {

class AlertSink {
 public:
  virtual ~AlertSink() = default;
  // A relay's modal message (UTF-8). Returns when the relay may go on.
  virtual void ShowRelayAlert(const std::string& text) = 0;
  // A relayed connection was registered / has ended (peer = the client).
  virtual void ConnectionOpened(std::uint16_t /*localPort*/, const net::SocketAddress& /*peer*/) {}
  virtual void ConnectionClosed(std::uint16_t /*localPort*/, const net::SocketAddress& /*peer*/) {}
  // Whether ConnectionOpened/Closed are wanted at all (the relay then skips
  // looking up peer addresses).
  virtual bool WantsConnectionEvents() const { return false; }
};

// Process-wide; null means alerts are dropped. Set it before any relay starts.
void SetAlertSink(AlertSink* sink);
AlertSink* CurrentAlertSink();
void RaiseRelayAlert(const std::string& text);

}  // namespace vx
