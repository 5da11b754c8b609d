// Windows Sockets behind the portable interface.
#include <winsock2.h>
#include <windows.h>

#include "platform/socket.h"
#include "platform/socket_error.h"
#include "platform/socket_sockaddr.h"
#include "platform/socket_system.h"

#ifndef WSA_FLAG_NO_HANDLE_INHERIT
#define WSA_FLAG_NO_HANDLE_INHERIT 0x80
#endif

namespace vx::net {

namespace {

// Captures the code right after the failing call.
int Fail() {
  SetLastSocketError(WSAGetLastError());
  return kSocketError;
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

int SocketErrorFromSystem(int code) {
  return code;
}

void Close(Socket s) {
  ::closesocket(static_cast<SOCKET>(s));
}

namespace sys {

int Startup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data);
}

void Cleanup() {
  WSACleanup();
}

Socket NewListenSocket() {
  return NewSocket(0);
}

Socket NewStreamSocket() {
  return NewSocket(IPPROTO_TCP);
}

int Bind(Socket s, const SocketAddress& local) {
  // No SO_REUSEADDR here: on Windows it would let another program take the port.
  sockaddr_in sa = ToSockaddr(local);
  if (::bind(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    return Fail();
  }
  return 0;
}

int Listen(Socket s, int backlog) {
  if (::listen(static_cast<SOCKET>(s), backlog) != 0)
    return Fail();
  return 0;
}

int SetNonBlocking(Socket s) {
  u_long one = 1;
  if (::ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &one) != 0)
    return Fail();
  return 0;
}

int SetNoDelay(Socket s) {
  BOOL one = TRUE;
  if (::setsockopt(static_cast<SOCKET>(s), IPPROTO_TCP, TCP_NODELAY,
                   reinterpret_cast<const char*>(&one), sizeof one) != 0)
    return Fail();
  return 0;
}

int Connect(Socket s, const SocketAddress& remote) {
  sockaddr_in sa = ToSockaddr(remote);
  if (::connect(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    return Fail();
  }
  return 0;
}

Socket Accept(Socket listener) {
  SOCKET s = ::accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    Fail();
    return kInvalidSocket;
  }
  return static_cast<Socket>(s);
}

int Send(Socket s, const void* data, std::uint32_t len, std::uint32_t* sent) {
  WSABUF buf{static_cast<ULONG>(len), static_cast<CHAR*>(const_cast<void*>(data))};
  DWORD n = 0;
  if (WSASend(static_cast<SOCKET>(s), &buf, 1, &n, 0, nullptr, nullptr) != 0)
    return Fail();
  *sent = n;
  return 0;
}

int Recv(Socket s, void* data, std::uint32_t len, std::uint32_t* received) {
  WSABUF buf{static_cast<ULONG>(len), static_cast<CHAR*>(data)};
  DWORD n = 0;
  DWORD flags = 0;
  if (WSARecv(static_cast<SOCKET>(s), &buf, 1, &n, &flags, nullptr, nullptr) != 0)
    return Fail();
  *received = n;
  return 0;
}

bool NameOf(Socket s, bool peer, SocketAddress* out) {
  const SOCKET h = static_cast<SOCKET>(s);
  return peer ? QueryName<int>(::getpeername, h, out) : QueryName<int>(::getsockname, h, out);
}

}  // namespace sys
}  // namespace vx::net
