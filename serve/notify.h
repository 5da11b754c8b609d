// Tells the service manager how the server is doing: on Linux through
// NOTIFY_SOCKET (the datagram protocol of Type=notify units, spoken directly),
// on Windows through the service's status when it runs as a service. Every
// call is a no-op when nobody listens.
#pragma once

#include <string>

namespace vx {

void NotifyReady();      // the first relays listen
void NotifyReloading();  // a reload begins
void NotifyReloaded();   // the reload is done (READY=1 again)
void NotifyStopping();   // every relay is being stopped

// Whoever else wants the same news (the Windows service's status reporter).
class ReadinessListener {
 public:
  virtual ~ReadinessListener() = default;
  virtual void OnReady() = 0;
  virtual void OnStopping() = 0;
};
void SetReadinessListener(ReadinessListener* listener);

// The datagram for a state, as sent on NOTIFY_SOCKET. A reload carries the
// monotonic clock in microseconds, which newer service managers require.
std::string NotifyMessage(const std::string& state);

// Sends `message` to the socket named by NOTIFY_SOCKET ("/path" or "@abstract").
// False when it is unset or the send fails; never blocks.
bool SendNotifySocket(const std::string& message);

}  // namespace vx
