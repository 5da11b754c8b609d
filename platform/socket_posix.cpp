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

#include "platform/socket.h"
#include "platform/socket_error.h"
#include "platform/socket_sockaddr.h"
#include "platform/socket_system.h"

namespace vx::net {

namespace {

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
int Fail(int e = errno) {
  SetLastSocketError(MapErrno(e));
  return kSocketError;
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
  if (err != 0)
    return Fail(err);
  return 0;
}

}  // namespace

int SocketErrorFromSystem(int code) {
  return MapErrno(code);
}

void Close(Socket s) {
  ::close(s);
}

namespace sys {

int Startup() {
  return 0;
}

void Cleanup() {}

Socket NewListenSocket() {
  return NewSocket(0);
}

Socket NewStreamSocket() {
  return NewSocket(IPPROTO_TCP);
}

int Bind(Socket s, const SocketAddress& local) {
  int one = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa = ToSockaddr(local);
  if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
    return Fail();
  return 0;
}

int Listen(Socket s, int backlog) {
  if (::listen(s, backlog) < 0)
    return Fail();
  return 0;
}

int SetNonBlocking(Socket s) {
  int one = 1;
  if (::ioctl(s, FIONBIO, &one) < 0)
    return Fail();
  return 0;
}

int SetNoDelay(Socket s) {
  int one = 1;
  if (::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) < 0)
    return Fail();
  return 0;
}

int Connect(Socket s, const SocketAddress& remote) {
  sockaddr_in sa = ToSockaddr(remote);
  if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
    return 0;
  if (errno == EINTR)
    return FinishInterruptedConnect(s);
  if (errno == EINPROGRESS) {
    SetLastSocketError(kErrWouldBlock);  // Windows' non-blocking answer
    return kSocketError;
  }
  return Fail();
}

Socket Accept(Socket listener) {
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
  ssize_t n;
  do {
    n = ::recv(s, data, len, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0)
    return Fail();
  *received = static_cast<std::uint32_t>(n);
  return 0;
}

bool NameOf(Socket s, bool peer, SocketAddress* out) {
  return peer ? QueryName<socklen_t>(::getpeername, s, out)
              : QueryName<socklen_t>(::getsockname, s, out);
}

}  // namespace sys
}  // namespace vx::net
