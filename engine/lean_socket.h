// Accept, open and connect with the fewest system calls.
//
// Per connection Asio's own calls cost system calls a relay does not need:
// an ioctl each to make the accepted and the outbound socket non-blocking
// (accept4 and socket take the flag), a poll before reading a finished
// connect's result, and an epoll_ctl removal before each accepted socket's
// close (Asio cannot know that accept's descriptor is no duplicate, which
// closing removes from epoll anyway). With epoll both sockets are born
// non-blocking and handed to Asio as what they are. Elsewhere (Windows, or
// an Asio this does not know) these are Asio's own calls, and the sockets
// are switched to non-blocking after.
#pragma once

#include <utility>

#include "engine/asio.h"
#include "engine/reactor_internals.h"
#include "engine/socket_error_code.h"

#if VEXHOLD_REACTOR_INTERNALS
#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vx::engine {

#if VEXHOLD_REACTOR_INTERNALS

namespace lean_socket_detail {

using asio::ip::tcp;

inline asio::error_code LastError() {
  return asio::error_code(errno, asio::error::get_system_category());
}

// Gives Asio the new descriptor `fd`; closes it if Asio cannot take it.
inline void Adopt(tcp::socket& s, const tcp& protocol, int fd, asio::error_code& ec) {
  s.assign(protocol, fd, ec);
  if (ec) {
    ::close(fd);
    return;
  }
  reactor_internals::MarkFreshNonBlocking(s);
}

// One client from the listener's queue, or why there is none now. Errors of
// the network that accept passes on for a client already gone are told as
// connection_aborted: that client is skipped, the next one taken.
inline void TryAccept(tcp::acceptor& a, tcp::socket& peer, asio::error_code& ec) {
  for (;;) {
    int fd = ::accept4(a.native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      ec.clear();
      Adopt(peer, reactor_internals::ImplementationOf(a).protocol_, fd, ec);
      return;
    }
    switch (errno) {
      case EINTR:
        continue;
      case ENETDOWN:
      case EPROTO:
      case ENOPROTOOPT:
      case EHOSTDOWN:
      case ENONET:
      case EHOSTUNREACH:
      case EOPNOTSUPP:
      case ENETUNREACH:
        ec = asio::error::connection_aborted;
        return;
      default:
        ec = LastError();
        return;
    }
  }
}

template <typename Handler>
void AcceptWhenReady(tcp::acceptor& a, Handler&& handler) {
  // The caller's accept has just found the queue empty.
  reactor_internals::QueueWait(
      a, reactor_internals::Reactor::read_op,
      [&a, h = std::forward<Handler>(handler)](const asio::error_code& waited) mutable {
        tcp::socket peer(a.get_executor());
        asio::error_code ec = waited;
        if (!ec)
          TryAccept(a, peer, ec);
        if (WouldBlock(ec))
          AcceptWhenReady(a, std::move(h));  // an event with no client left in the queue
        else
          h(ec, std::move(peer));
      });
}

}  // namespace lean_socket_detail

// Opens `s` non-blocking for `protocol`.
inline void OpenNonBlocking(asio::ip::tcp::socket& s, const asio::ip::tcp& protocol,
                            asio::error_code& ec) {
  int fd = ::socket(protocol.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    ec = lean_socket_detail::LastError();
    return;
  }
  ec.clear();
  lean_socket_detail::Adopt(s, protocol, fd, ec);
}

// As the listener's async_accept: `handler(error_code, tcp::socket)` with the
// next client, on a non-blocking socket. The listener must outlive the wait
// (the handler holds its owner). A cancel or close completes it with
// operation_aborted.
template <typename Handler>
void AsyncAcceptNonBlocking(asio::ip::tcp::acceptor& a, Handler&& handler) {
  namespace d = lean_socket_detail;
  asio::ip::tcp::socket peer(a.get_executor());
  asio::error_code ec;
  d::TryAccept(a, peer, ec);
  if (WouldBlock(ec)) {
    d::AcceptWhenReady(a, std::forward<Handler>(handler));
    return;
  }
  asio::post(a.get_executor(), [h = std::forward<Handler>(handler), ec,
                                peer = std::move(peer)]() mutable { h(ec, std::move(peer)); });
}

// As async_connect on a socket from OpenNonBlocking: `handler(error_code)`
// once the connection is made or has failed. The socket must outlive the
// wait (the handler holds its owner). A close completes it with
// operation_aborted.
template <typename Handler>
void AsyncConnectNonBlocking(asio::ip::tcp::socket& s, const asio::ip::tcp::endpoint& to,
                             Handler&& handler) {
  namespace d = lean_socket_detail;
  int result = ::connect(s.native_handle(), to.data(), static_cast<socklen_t>(to.size()));
  int error = result == 0 ? 0 : errno;
  if (error != EINPROGRESS && error != EINTR) {
    // Made or refused at once; either way told from the event loop, as Asio does.
    asio::error_code ec;
    if (error != 0)
      ec.assign(error, asio::error::get_system_category());
    asio::post(s.get_executor(), [h = std::forward<Handler>(handler), ec]() mutable { h(ec); });
    return;
  }
  // Nothing can be ready on a connect just begun: a queued wait suffices,
  // and the socket's first event is its end.
  reactor_internals::QueueWait(
      s, reactor_internals::Reactor::connect_op,
      [&s, h = std::forward<Handler>(handler)](const asio::error_code& waited) mutable {
        if (waited) {
          h(waited);
          return;
        }
        int error = 0;
        socklen_t size = sizeof error;
        asio::error_code ec;
        if (::getsockopt(s.native_handle(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
          ec = d::LastError();
        else if (error != 0)
          ec = asio::error_code(error, asio::error::get_system_category());
        h(ec);
      });
}

#else

inline void OpenNonBlocking(asio::ip::tcp::socket& s, const asio::ip::tcp& protocol,
                            asio::error_code& ec) {
  s.open(protocol, ec);
  if (!ec)
    s.non_blocking(true, ec);
}

template <typename Handler>
void AsyncAcceptNonBlocking(asio::ip::tcp::acceptor& a, Handler&& handler) {
  a.async_accept([h = std::forward<Handler>(handler)](const asio::error_code& ec,
                                                      asio::ip::tcp::socket peer) mutable {
    asio::error_code ignored;
    if (!ec)
      peer.non_blocking(true, ignored);
    h(ec, std::move(peer));
  });
}

template <typename Handler>
void AsyncConnectNonBlocking(asio::ip::tcp::socket& s, const asio::ip::tcp::endpoint& to,
                             Handler&& handler) {
  s.async_connect(to, std::forward<Handler>(handler));
}

#endif

}  // namespace vx::engine
