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

#include <type_traits>
#include <utility>

#include "engine/asio.h"

#if defined(ASIO_HAS_EPOLL) && !defined(ASIO_HAS_IO_URING_AS_DEFAULT) && ASIO_VERSION >= 102200 && \
    ASIO_VERSION < 102300
#define VEXHOLD_DRAINED_WAIT 1
#else
#define VEXHOLD_DRAINED_WAIT 0
#endif

namespace vx::engine {

#if VEXHOLD_DRAINED_WAIT

inline constexpr bool kDrainedWaitQueuesOnly = true;

namespace drained_wait_detail {

// Set while the reactor starts the operation, where it would try it at once.
inline thread_local bool t_starting = false;

template <typename Handler>
class WaitOp : public asio::detail::reactor_op {
 public:
  explicit WaitOp(Handler&& handler)
      : reactor_op(asio::error_code(), &WaitOp::Perform, &WaitOp::Complete),
        m_handler(std::move(handler)) {}

 private:
  // Tried at the start: not ready, so it is queued without a system call.
  // Performed on an event: readable.
  static status Perform(reactor_op*) { return t_starting ? not_done : done; }

  // `owner` is null when the context is destroyed with the wait pending.
  static void Complete(void* owner, asio::detail::operation* base, const asio::error_code&,
                       std::size_t) {
    auto* op = static_cast<WaitOp*>(base);
    Handler handler(std::move(op->m_handler));
    asio::error_code ec = op->ec_;
    delete op;
    if (owner != nullptr)
      handler(ec);
  }

  Handler m_handler;
};

// The socket's reactor registration, which Asio keeps in a protected member.
struct SocketInternals : asio::ip::tcp::socket {
  static auto Member() { return &SocketInternals::impl_; }
};

inline asio::detail::reactor& ReactorOf(asio::ip::tcp::socket& s) {
  // One context per event thread, so the reactor found once serves the thread.
  thread_local asio::execution_context* context = nullptr;
  thread_local asio::detail::reactor* reactor = nullptr;
  asio::execution_context& c = asio::query(s.get_executor(), asio::execution::context);
  if (&c != context) {
    reactor = &asio::use_service<asio::detail::reactor>(c);
    context = &c;
  }
  return *reactor;
}

}  // namespace drained_wait_detail

// Calls `handler(error_code)` when the socket, which the caller's last read
// left empty, has bytes again (or an end, or an error); a close or cancel
// completes it with operation_aborted.
template <typename Handler>
void AsyncWaitAfterDrain(asio::ip::tcp::socket& s, Handler&& handler) {
  namespace d = drained_wait_detail;
  auto& impl = (s.*d::SocketInternals::Member()).get_implementation();
  auto* op = new d::WaitOp<std::decay_t<Handler>>(std::forward<Handler>(handler));
  d::t_starting = true;
  d::ReactorOf(s).start_op(asio::detail::reactor::read_op, impl.socket_, impl.reactor_data_, op,
                           false, true);
  d::t_starting = false;
}

#else

inline constexpr bool kDrainedWaitQueuesOnly = false;

template <typename Handler>
void AsyncWaitAfterDrain(asio::ip::tcp::socket& s, Handler&& handler) {
  s.async_wait(asio::ip::tcp::socket::wait_read, std::forward<Handler>(handler));
}

#endif

}  // namespace vx::engine
