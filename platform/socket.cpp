// The public socket calls: the fault check, then the system's primitive.
#include "platform/socket.h"

#include "platform/fault_injection.h"
#include "platform/socket_error.h"
#include "platform/socket_system.h"

namespace vx::net {

namespace {

thread_local int t_lastError = 0;

int Injected(int code) {
  t_lastError = code;
  return kSocketError;
}

// The code an armed rule fails `call` with, or 0. Unarmed this is one relaxed
// load and a branch.
inline int FaultFor(fault::Call call, Socket s = kInvalidSocket) {
  return fault::Armed() ? fault::Check(call, s) : 0;
}

// Send or Recv while a rule is armed; out of line so that the unarmed call
// stays a jump to the system's.
template <typename Data, int (*Real)(Socket, Data, std::uint32_t, std::uint32_t*)>
[[gnu::noinline]] int Transfer(fault::Call call, Socket s, Data data, std::uint32_t len,
                               std::uint32_t* done) {
  if (int code = fault::Check(call, s, &len))
    return Injected(code);
  return Real(s, data, len, done);
}

}  // namespace

void SetLastSocketError(int code) {
  t_lastError = code;
}
int LastSocketError() {
  return t_lastError;
}

int Startup() {
  if (int code = FaultFor(fault::Call::kStartup))
    return code;
  return sys::Startup();
}

void Cleanup() {
  FaultFor(fault::Call::kCleanup);
  sys::Cleanup();
}

Socket CreateListenSocket() {
  if (int code = FaultFor(fault::Call::kListenSocket)) {
    Injected(code);
    return kInvalidSocket;
  }
  return sys::NewListenSocket();
}

Socket CreateStreamSocket() {
  if (int code = FaultFor(fault::Call::kStreamSocket)) {
    Injected(code);
    return kInvalidSocket;
  }
  return sys::NewStreamSocket();
}

int Bind(Socket s, const SocketAddress& local) {
  if (int code = FaultFor(fault::Call::kBind, s))
    return Injected(code);
  return sys::Bind(s, local);
}

int Listen(Socket s, int backlog) {
  if (int code = FaultFor(fault::Call::kListen, s))
    return Injected(code);
  return sys::Listen(s, backlog);
}

int SetNonBlocking(Socket s) {
  if (int code = FaultFor(fault::Call::kNonBlocking, s))
    return Injected(code);
  return sys::SetNonBlocking(s);
}

int SetNoDelay(Socket s) {
  return sys::SetNoDelay(s);
}

int Connect(Socket s, const SocketAddress& remote) {
  if (int code = FaultFor(fault::Call::kConnect, s))
    return Injected(code);
  return sys::Connect(s, remote);
}

Socket Accept(Socket listener) {
  if (int code = FaultFor(fault::Call::kAccept, listener)) {
    Injected(code);
    return kInvalidSocket;
  }
  return sys::Accept(listener);
}

int Send(Socket s, const void* data, std::uint32_t len, std::uint32_t* sent) {
  if (fault::Armed())
    return Transfer<const void*, sys::Send>(fault::Call::kSend, s, data, len, sent);
  return sys::Send(s, data, len, sent);
}

int Recv(Socket s, void* data, std::uint32_t len, std::uint32_t* received) {
  if (fault::Armed())
    return Transfer<void*, sys::Recv>(fault::Call::kRecv, s, data, len, received);
  return sys::Recv(s, data, len, received);
}

bool PeerAddress(Socket s, SocketAddress* peer) {
  return sys::NameOf(s, true, peer);
}

bool LocalAddress(Socket s, SocketAddress* local) {
  return sys::NameOf(s, false, local);
}

}  // namespace vx::net
