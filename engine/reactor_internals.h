// What the engine's shortcuts take from inside Asio's epoll reactor: the
// reactor of a socket's context, a socket's or listener's registration, and
// a wait that is only queued. Asio keeps these to itself, so they are used
// only with the one Asio whose reactor this was written against (1.22 with
// epoll); elsewhere VEXHOLD_REACTOR_INTERNALS is 0 and the engine uses
// Asio's own calls.
#pragma once

#include "engine/asio.h"

#if defined(ASIO_HAS_EPOLL) && !defined(ASIO_HAS_IO_URING_AS_DEFAULT) && ASIO_VERSION >= 102200 && \
    ASIO_VERSION < 102300
#define VEXHOLD_REACTOR_INTERNALS 1
#else
#define VEXHOLD_REACTOR_INTERNALS 0
#endif

#if VEXHOLD_REACTOR_INTERNALS

#include <type_traits>
#include <utility>

namespace vx::engine::reactor_internals {

using asio::ip::tcp;
using SocketImplementation = asio::detail::reactive_socket_service<tcp>::implementation_type;
using Reactor = asio::detail::reactor;

// Set while the reactor starts a queued wait, where it would try it at once.
inline thread_local bool t_starting = false;

template <typename Handler>
class WaitOp : public asio::detail::reactor_op {
 public:
  explicit WaitOp(Handler&& handler)
      : reactor_op(asio::error_code(), &WaitOp::Perform, &WaitOp::Complete),
        m_handler(std::move(handler)) {}

 private:
  // Tried at the start: not ready, so it is queued without a system call.
  // Performed on an event: ready.
  static status Perform(asio::detail::reactor_op*) { return t_starting ? not_done : done; }

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

// A socket's registration sits in a protected member.
struct SocketAccess : tcp::socket {
  static auto Member() { return &SocketAccess::impl_; }
};

inline SocketImplementation& ImplementationOf(tcp::socket& s) {
  return (s.*SocketAccess::Member()).get_implementation();
}

// A listener's sits in a private one, reached the one way the language
// allows: a member pointer named in an explicit instantiation.
using AcceptorMember =
    asio::detail::io_object_impl<asio::detail::reactive_socket_service<tcp>, asio::any_io_executor>
        tcp::acceptor::*;
struct AcceptorTag {
  friend AcceptorMember MemberOf(AcceptorTag);
};
template <AcceptorMember M>
struct AcceptorAccess {
  friend AcceptorMember MemberOf(AcceptorTag) { return M; }
};
template struct AcceptorAccess<&tcp::acceptor::impl_>;

inline SocketImplementation& ImplementationOf(tcp::acceptor& a) {
  return (a.*MemberOf(AcceptorTag{})).get_implementation();
}

template <typename IoObject>
Reactor& ReactorOf(IoObject& o) {
  // One context per event thread, so the reactor found once serves the thread.
  thread_local asio::execution_context* context = nullptr;
  thread_local Reactor* reactor = nullptr;
  asio::execution_context& c = asio::query(o.get_executor(), asio::execution::context);
  if (&c != context) {
    reactor = &asio::use_service<Reactor>(c);
    context = &c;
  }
  return *reactor;
}

// Calls `handler(error_code)` on the next event of kind `opType` for `o`
// (or an end, or an error); a close or cancel completes it with
// operation_aborted. Only right where nothing of that kind can be pending
// unseen: a read that found the socket empty, a connect just begun. A write
// wait adds the socket's interest in writability once (one epoll_ctl).
template <typename IoObject, typename Handler>
void QueueWait(IoObject& o, Reactor::op_types opType, Handler&& handler) {
  SocketImplementation& impl = ImplementationOf(o);
  auto* op = new WaitOp<std::decay_t<Handler>>(std::forward<Handler>(handler));
  t_starting = true;
  ReactorOf(o).start_op(opType, impl.socket_, impl.reactor_data_, op, false, true);
  t_starting = false;
}

// Tells Asio that the socket it was just given is non-blocking already and
// is no other descriptor's duplicate, so its close needs no epoll_ctl of
// its own: closing the one descriptor removes it from epoll.
inline void MarkFreshNonBlocking(tcp::socket& s) {
  namespace ops = asio::detail::socket_ops;
  ImplementationOf(s).state_ = ops::stream_oriented | ops::non_blocking;
}

}  // namespace vx::engine::reactor_internals

#endif
