// WaitForSockets on poll: no descriptor limit, with select's view of readiness.
#include <cerrno>
#include <chrono>
#include <poll.h>

#include "platform/socket_error.h"
#include "platform/socket_set.h"
#include "platform/socket_system.h"

namespace vx::net {

namespace {

// What select reports: readable on data, end of stream, hang-up or error;
// writable on room to write or error.
constexpr short kReadable = POLLIN | POLLHUP | POLLERR;
constexpr short kWritable = POLLOUT | POLLERR;

int PollRetrying(pollfd* fds, int n, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int wait = timeoutMs;
  for (;;) {
    int rc = ::poll(fds, static_cast<nfds_t>(n), wait);
    if (rc >= 0 || errno != EINTR)
      return rc;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
  }
}

}  // namespace

namespace sys {

int WaitForSockets(SocketSet* read, SocketSet* write, int timeoutMs) {
  pollfd fds[2 * SocketSet::kCapacity];
  const int nr = read != nullptr ? read->m_count : 0;
  const int nw = write != nullptr ? write->m_count : 0;
  for (int i = 0; i < nr; ++i)
    fds[i] = pollfd{read->m_sockets[i], POLLIN, 0};
  for (int i = 0; i < nw; ++i)
    fds[nr + i] = pollfd{write->m_sockets[i], POLLOUT, 0};

  int rc = PollRetrying(fds, nr + nw, timeoutMs);
  if (rc < 0) {
    SetLastSocketError(errno == ENOMEM ? kErrNoBuffers : kErrInvalid);
    return kSocketError;
  }
  int ready = 0;
  int kept = 0;
  for (int i = 0; i < nr; ++i) {
    short ev = rc > 0 ? fds[i].revents : 0;
    if (ev & POLLNVAL) {
      SetLastSocketError(kErrNotSocket);  // select fails on a socket that is not open
      return kSocketError;
    }
    if (ev & kReadable)
      read->m_sockets[kept++] = fds[i].fd;
  }
  if (read != nullptr)
    read->m_count = kept;
  ready += kept;
  kept = 0;
  for (int i = 0; i < nw; ++i) {
    short ev = rc > 0 ? fds[nr + i].revents : 0;
    if (ev & POLLNVAL) {
      SetLastSocketError(kErrNotSocket);
      return kSocketError;
    }
    if (ev & kWritable)
      write->m_sockets[kept++] = fds[nr + i].fd;
  }
  if (write != nullptr)
    write->m_count = kept;
  return ready + kept;
}

}  // namespace sys

}  // namespace vx::net
