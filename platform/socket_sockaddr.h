// Inside the platform layer: SocketAddress to and from sockaddr_in. Included
// by the per-system socket files after their system socket headers, which
// give sockaddr_in, AF_INET, htons and ntohs.
#pragma once

#include "platform/socket.h"

namespace vx::net::sys {

inline sockaddr_in ToSockaddr(const SocketAddress& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = a.addr;
  sa.sin_port = htons(a.port);
  return sa;
}

// False for anything but IPv4.
inline bool FromSockaddr(const sockaddr_in& sa, SocketAddress* out) {
  if (sa.sin_family != AF_INET)
    return false;
  out->addr = sa.sin_addr.s_addr;
  out->port = ntohs(sa.sin_port);
  return true;
}

// getpeername or getsockname (`query`) read as an IPv4 address; false if the
// call fails or the address is not IPv4. `Len` is the system's length type.
template <typename Len, typename Query, typename Handle>
bool QueryName(Query query, Handle h, SocketAddress* out) {
  sockaddr_in sa{};
  Len len = sizeof sa;
  return query(h, reinterpret_cast<sockaddr*>(&sa), &len) == 0 && FromSockaddr(sa, out);
}

}  // namespace vx::net::sys
