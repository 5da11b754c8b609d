// Windows Sockets behind the portable interface.
#include <winsock2.h>
#include <windows.h>

#include "platform/fault_injection.h"
#include "platform/socket.h"
#include "platform/socket_error.h"

#ifndef WSA_FLAG_NO_HANDLE_INHERIT
#define WSA_FLAG_NO_HANDLE_INHERIT 0x80
#endif

namespace vx::net {

namespace {

thread_local int t_lastError = 0;

// Captures the code right after the failing call.
int Fail() {
  t_lastError = WSAGetLastError();
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
  // Not inherited by processes the program starts (the web link).
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, protocol, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
    s = WSASocketW(AF_INET, SOCK_STREAM, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
  }
  if (s == INVALID_SOCKET) {
    Fail();
    return kInvalidSocket;
  }
  return static_cast<Socket>(s);
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
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}

void Cleanup() {
  if (fault::Armed())
    fault::Check(fault::Call::kCleanup);
  WSACleanup();
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
  // No SO_REUSEADDR here: on Windows it would let another program take the port.
  sockaddr_in sa = ToSockaddr(local);
  if (::bind(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    return Fail();
  }
  return 0;
}

int Listen(Socket s, int backlog) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kListen, s))
      return Injected(code);
  }
  if (::listen(static_cast<SOCKET>(s), backlog) != 0)
    return Fail();
  return 0;
}

int SetNonBlocking(Socket s) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kNonBlocking, s))
      return Injected(code);
  }
  u_long one = 1;
  if (::ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &one) != 0)
    return Fail();
  return 0;
}

int Connect(Socket s, const SocketAddress& remote) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kConnect, s))
      return Injected(code);
  }
  sockaddr_in sa = ToSockaddr(remote);
  if (::connect(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    return Fail();
  }
  return 0;
}

Socket Accept(Socket listener) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kAccept, listener)) {
      Injected(code);
      return kInvalidSocket;
    }
  }
  SOCKET s = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    Fail();
    return kInvalidSocket;
  }
  return static_cast<Socket>(s);
}

int Send(Socket s, const void* data, std::uint32_t len, std::uint32_t* sent) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kSend, s, &len))
      return Injected(code);
  }
  WSABUF buf{static_cast<ULONG>(len), static_cast<CHAR*>(const_cast<void*>(data))};
  DWORD n = 0;
  if (WSASend(static_cast<SOCKET>(s), &buf, 1, &n, 0, nullptr, nullptr) != 0)
    return Fail();
  *sent = n;
  return 0;
}

int Recv(Socket s, void* data, std::uint32_t len, std::uint32_t* received) {
  if (fault::Armed()) {
    if (int code = fault::Check(fault::Call::kRecv, s, &len))
      return Injected(code);
  }
  WSABUF buf{static_cast<ULONG>(len), static_cast<CHAR*>(data)};
  DWORD n = 0;
  DWORD flags = 0;
  if (WSARecv(static_cast<SOCKET>(s), &buf, 1, &n, &flags, nullptr, nullptr) != 0)
    return Fail();
  *received = n;
  return 0;
}

void Close(Socket s) {
  ::closesocket(static_cast<SOCKET>(s));
}

bool PeerAddress(Socket s, SocketAddress* peer) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getpeername(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      sa.sin_family != AF_INET) {
    return false;
  }
  peer->addr = sa.sin_addr.s_addr;
  peer->port = ntohs(sa.sin_port);
  return true;
}

bool LocalAddress(Socket s, SocketAddress* local) {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0 ||
      sa.sin_family != AF_INET) {
    return false;
  }
  local->addr = sa.sin_addr.s_addr;
  local->port = ntohs(sa.sin_port);
  return true;
}

}  // namespace vx::net
