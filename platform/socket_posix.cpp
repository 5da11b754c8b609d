// POSIX sockets behind the Windows Sockets shaped interface: errno is mapped
// to the Windows Sockets code right after the failing call.
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/fault_injection.h"
#include "platform/socket.h"
#include "platform/socket_error.h"

namespace vx::net {

namespace {

thread_local int t_lastError = 0;

int MapErrno(int e) {
  switch (e) {
    case EINTR:
      return kErrInterrupted;
    case EBADF:
      return kErrNotSocket;  // what Windows says for a closed handle
    case EACCES:
      return kErrAccess;
    case EPERM:
      return kErrAccess;
    case EFAULT:
      return kErrFault;
    case EINVAL:
      return kErrInvalid;
    case EMFILE:
      return kErrTooManyFiles;
    case ENFILE:
      return kErrTooManyFiles;
    case EAGAIN:
      return kErrWouldBlock;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
      return kErrWouldBlock;
#endif
    case EINPROGRESS:
      return kErrInProgress;
    case EALREADY:
      return kErrAlready;
    case ENOTSOCK:
      return kErrNotSocket;
    case EMSGSIZE:
      return kErrMessageSize;
    case EPROTONOSUPPORT:
      return kErrProtoNoSupport;
    case EOPNOTSUPP:
      return kErrOpNotSupported;
    case EAFNOSUPPORT:
      return kErrFamilyNoSupport;
    case EADDRINUSE:
      return kErrAddrInUse;
    case EADDRNOTAVAIL:
      return kErrAddrNotAvail;
    case ENETDOWN:
      return kErrNetDown;
    case ENETUNREACH:
      return kErrNetUnreach;
    case ENETRESET:
      return kErrNetReset;
    case ECONNABORTED:
      return kErrConnAborted;
    case ECONNRESET:
      return kErrConnReset;
    case EPIPE:
      return kErrConnReset;  // the peer has gone; Windows reports a reset
    case ENOBUFS:
      return kErrNoBuffers;
    case ENOMEM:
      return kErrNoBuffers;
    case EISCONN:
      return kErrIsConnected;
    case ENOTCONN:
      return kErrNotConnected;
    case ESHUTDOWN:
      return kErrShutdown;
    case ETIMEDOUT:
      return kErrTimedOut;
    case ECONNREFUSED:
      return kErrConnRefused;
    case EHOSTDOWN:
      return kErrHostDown;
    case EHOSTUNREACH:
      return kErrHostUnreach;
    default:
      return e;
  }
}

// Captures errno right after the failing call.
int Fail() {
  t_lastError = MapErrno(errno);
  return kSocketError;
}

int Injected(int code) {
  t_lastError = code;
  return kSocketError;
}

sockaddr_in ToSockaddr(const SocketAddress& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = a.addr;
  sa.sin_port = htons(a.port);
  return sa;
}

Socket NewSocket(int protocol) {
  Socket s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, protocol);
  if (s < 0)
    Fail();
  return s < 0 ? kInvalidSocket : s;
}

// A blocking connect interrupted by a signal goes on in the background; wait
// for it to finish as Windows would.
int FinishInterruptedConnect(Socket s) {
  pollfd p{s, POLLOUT, 0};
  while (::poll(&p, 1, -1) < 0) {
    if (errno != EINTR)
      return Fail();
  }
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
    return Fail();
  if (err != 0) {
    t_lastError = MapErrno(err);
    return kSocketError;
  }
  return 0;
}

}  // namespace

void SetLastSocketError(int code) {
  t_lastError = code;
}
int LastSocketError() {
  return t_lastError;
}

int Startup() {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kStartup))
      return code;
  }
  return 0;
}

void Cleanup() {
  if (fault::Armed())
    fault::Check(fault::Call::kCleanup);
}

Socket CreateListenSocket() {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kListenSocket)) {
      Injected(code);
      return kInvalidSocket;
    }
  }
  return NewSocket(0);
}

Socket CreateStreamSocket() {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kStreamSocket)) {
      Injected(code);
      return kInvalidSocket;
    }
  }
  return NewSocket(IPPROTO_TCP);
}

int Bind(Socket s, const SocketAddress& local) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kBind, s))
      return Injected(code);
  }
  int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa = ToSockaddr(local);
  if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
    return Fail();
  return 0;
}

int Listen(Socket s, int backlog) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kListen, s))
      return Injected(code);
  }
  if (::listen(s, backlog) < 0)
    return Fail();
  return 0;
}

int SetNonBlocking(Socket s) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kNonBlocking, s))
      return Injected(code);
  }
  int one = 1;
  if (::ioctl(s, FIONBIO, &one) < 0)
    return Fail();
  return 0;
}

int Connect(Socket s, const SocketAddress& remote) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kConnect, s))
      return Injected(code);
  }
  sockaddr_in sa = ToSockaddr(remote);
  if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
    return 0;
  if (errno == EINTR)
    return FinishInterruptedConnect(s);
  if (errno == EINPROGRESS)
    return Injected(kErrWouldBlock);  // Windows' non-blocking answer
  return Fail();
}

Socket Accept(Socket listener) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kAccept, listener)) {
      Injected(code);
      return kInvalidSocket;
    }
  }
  for (;;) {
    Socket s = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (s >= 0)
      return s;
    if (errno != EINTR)
      break;
  }
  Fail();
  return kInvalidSocket;
}

int Send(Socket s, const void* data, std::uint32_t len, std::uint32_t* sent) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kSend, s, &len))
      return Injected(code);
  }
  ssize_t n;
  do {
    n = ::send(s, data, len, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0)
    return Fail();
  *sent = static_cast<std::uint32_t>(n);
  return 0;
}

int Recv(Socket s, void* data, std::uint32_t len, std::uint32_t* received) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kRecv, s, &len))
      return Injected(code);
  }
  ssize_t n;
  do {
    n = ::recv(s, data, len, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0)
    return Fail();
  *received = static_cast<std::uint32_t>(n);
  return 0;
}

void Close(Socket s) {
  ::close(s);
}

bool PeerAddress(Socket s, SocketAddress* peer) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getpeername(s, reinterpret_cast<sockaddr*>(&sa), &len) < 0 || sa.sin_family != AF_INET) {
    return false;
  }
  peer->addr = sa.sin_addr.s_addr;
  peer->port = ntohs(sa.sin_port);
  return true;
}

bool LocalAddress(Socket s, SocketAddress* local) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) < 0 || sa.sin_family != AF_INET) {
    return false;
  }
  local->addr = sa.sin_addr.s_addr;
  local->port = ntohs(sa.sin_port);
  return true;
}

}  // namespace vx::net
