// A fixed-capacity socket set with the rules of select's fd_set: a socket is
// never held twice and nothing is added once the set is full. WaitForSockets
// is select over a read and a write set; on return each set holds only its
// ready sockets. Built on poll on POSIX (no descriptor limit), on select on
// Windows (with FD_SETSIZE raised so that a full set fits).
#pragma once

#include "platform/socket.h"

namespace vx::net {

class SocketSet;
namespace sys {
int WaitForSockets(SocketSet* read, SocketSet* write, int timeoutMs);
}  // namespace sys

class SocketSet {
 public:
  // A relay's listening socket plus its 64 connection sockets.
  static constexpr int kCapacity = 65;

  void Clear() { m_count = 0; }
  // FD_SET: no effect if s is already held or the set is full.
  void Add(Socket s) {
    if (m_count == kCapacity || Contains(s))
      return;
    m_sockets[m_count++] = s;
  }
  // FD_ISSET. After a wait the set holds only its ready sockets, so this scans
  // just those.
  bool Contains(Socket s) const {
    for (int i = 0; i < m_count; ++i) {
      if (m_sockets[i] == s)
        return true;
    }
    return false;
  }
  int Count() const { return m_count; }
  Socket At(int i) const { return m_sockets[i]; }

 private:
  friend int sys::WaitForSockets(SocketSet* read, SocketSet* write, int timeoutMs);

  Socket m_sockets[kCapacity];
  int m_count = 0;
};

// select(read, write, no exception set, timeout): the number of ready sockets
// (0 on time-out), or -1 with LastSocketError() set. Either set may be null.
int WaitForSockets(SocketSet* read, SocketSet* write, int timeoutMs);

}  // namespace vx::net
