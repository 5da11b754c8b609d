// WaitForSockets on select, with fd_set sized for a full relay (65 sockets).
#define FD_SETSIZE 128
#include <winsock2.h>
#include <windows.h>

#include "platform/socket_error.h"
#include "platform/socket_set.h"
#include "platform/socket_system.h"

static_assert(FD_SETSIZE >= vx::net::SocketSet::kCapacity, "fd_set must hold a full set");

namespace vx::net {

namespace {

void Fill(fd_set* fds, int count, const Socket* sockets) {
  fds->fd_count = static_cast<u_int>(count);
  for (int i = 0; i < count; ++i)
    fds->fd_array[i] = static_cast<SOCKET>(sockets[i]);
}

}  // namespace

namespace sys {

int WaitForSockets(SocketSet* read, SocketSet* write, int timeoutMs) {
  const int nr = read != nullptr ? read->m_count : 0;
  const int nw = write != nullptr ? write->m_count : 0;
  if (nr + nw == 0) {
    // select refuses empty sets; waiting out the time is what poll does.
    if (timeoutMs > 0)
      Sleep(static_cast<DWORD>(timeoutMs));
    return 0;
  }
  fd_set rs;
  fd_set ws;
  Fill(&rs, nr, read != nullptr ? read->m_sockets : nullptr);
  Fill(&ws, nw, write != nullptr ? write->m_sockets : nullptr);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  int rc = ::select(0, nr > 0 ? &rs : nullptr, nw > 0 ? &ws : nullptr, nullptr,
                    timeoutMs < 0 ? nullptr : &tv);
  if (rc == SOCKET_ERROR) {
    SetLastSocketError(WSAGetLastError());
    return kSocketError;
  }
  if (read != nullptr) {
    read->m_count = nr > 0 ? static_cast<int>(rs.fd_count) : 0;
    for (int i = 0; i < read->m_count; ++i)
      read->m_sockets[i] = rs.fd_array[i];
  }
  if (write != nullptr) {
    write->m_count = nw > 0 ? static_cast<int>(ws.fd_count) : 0;
    for (int i = 0; i < write->m_count; ++i)
      write->m_sockets[i] = ws.fd_array[i];
  }
  return rc;
}

}  // namespace sys
}  // namespace vx::net
