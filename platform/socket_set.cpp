// WaitForSockets: the fault check, then the system's wait.
#include "platform/socket_set.h"

#include "platform/fault_injection.h"
#include "platform/socket_error.h"
#include "platform/socket_system.h"

namespace vx::net {

int WaitForSockets(SocketSet* read, SocketSet* write, int timeoutMs) {
  if (fault::Armed()) {
    Socket first = read != nullptr && read->Count() > 0 ? read->At(0) : kInvalidSocket;
    if (int code = fault::Check(fault::Call::kWait, first)) {
      SetLastSocketError(code);
      return kSocketError;
    }
  }
  return sys::WaitForSockets(read, write, timeoutMs);
}

}  // namespace vx::net
