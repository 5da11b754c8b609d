// A wait for the next bytes on a socket that a read has just emptied.
//
// Asio registers each socket with epoll edge-triggered. Its own wait re-arms
// the descriptor (one epoll_ctl) every time, and a posted read first tries a
// recv that finds nothing: either way one system call per message that
// brings nothing. Once a read has come back short, the socket's queue was
// empty and the next bytes raise a new edge, so the wait only needs queuing
// in the reactor. Elsewhere (Windows, or an Asio whose epoll reactor this
// does not know) it is Asio's own wait for readability.
#pragma once

#include <utility>

#include "engine/asio.h"
#include "engine/reactor_internals.h"

namespace vx::engine {

inline constexpr bool kDrainedWaitQueuesOnly = VEXHOLD_REACTOR_INTERNALS;

// Calls `handler(error_code)` when the socket, which the caller's last read
// left empty, has bytes again (or an end, or an error); a close or cancel
// completes it with operation_aborted.
template <typename Handler>
void AsyncWaitAfterDrain(asio::ip::tcp::socket& s, Handler&& handler) {
#if VEXHOLD_REACTOR_INTERNALS
  reactor_internals::QueueWait(s, reactor_internals::Reactor::read_op,
                               std::forward<Handler>(handler));
#else
  s.async_wait(asio::ip::tcp::socket::wait_read, std::forward<Handler>(handler));
#endif
}

}  // namespace vx::engine
