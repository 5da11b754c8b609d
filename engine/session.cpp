#include "engine/session.h"

#include "engine/drained_wait.h"
#include "engine/endpoint_text.h"
#include "engine/lean_socket.h"
#include "engine/pair_listener.h"
#include "engine/socket_error_code.h"
#include "relay/relay_messages.h"

namespace vx::engine {

using asio::ip::tcp;

namespace {

// Reads of a full buffer in a row before a direction lets the other
// connections of its thread have a turn.
constexpr int kReadsPerTurn = 16;
// Reads passed on within one busy sweep period that make a direction busy.
constexpr unsigned kBusyHops = 4;
// Where a wait after a short read costs no system call, a pending read with
// a buffer saves nothing, so no direction becomes busy.
constexpr bool kBusyReads = !kDrainedWaitQueuesOnly;

void Reset(tcp::socket& s) {
  asio::error_code ignored;
  if (s.is_open())
    s.set_option(asio::socket_base::linger(true, 0), ignored);
}

}  // namespace

struct Session::Connecting {
  explicit Connecting(const asio::any_io_executor& ex) : timer(ex), resolver(ex) {}
  asio::steady_timer timer;
  tcp::resolver resolver;
  std::vector<tcp::endpoint> endpoints;
  std::size_t next = 0;
  asio::error_code lastError;
  bool timedOut = false;
};

Session::Session(std::shared_ptr<PairListener> pair, tcp::socket client)
    : m_pair(std::move(pair)),
      m_client(std::move(client)),
      m_server(m_client.get_executor()),
      m_flows{Flow(m_pair->Buffers()), Flow(m_pair->Buffers())} {}

Session::~Session() = default;

void Session::Start() {
  m_pair->Link(this);
  m_pair->Counters().Opened();
  asio::error_code ignored;
  if (m_pair->Settings().connectionEvents) {
    m_peer = m_client.remote_endpoint(ignored);
    m_pair->Events().ConnectionOpened(m_pair->Config().localPort, FormatEndpoint(m_peer));
  }
#ifdef _WIN32
  m_client.set_option(tcp::no_delay(true), ignored);
#endif  // elsewhere the accepted socket has it from the listener

  m_connecting = std::make_unique<Connecting>(m_client.get_executor());
  m_connecting->timer.expires_after(std::chrono::seconds(m_pair->Settings().connectTimeoutSeconds));
  m_connecting->timer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (!ec && self->m_connecting)
      self->OnConnectTimeout();
  });
  if (const auto& address = m_pair->RemoteAddress()) {
    m_connecting->endpoints.emplace_back(*address, m_pair->Config().remotePort);
    ConnectNext();
  } else {
    Resolve();
  }
}

void Session::Resolve() {
  // A fresh lookup for every connection, so a changed record is followed.
  m_connecting->resolver.async_resolve(
      m_pair->Config().remoteHost, std::to_string(m_pair->Config().remotePort),
      tcp::resolver::numeric_service,
      [self = shared_from_this()](const asio::error_code& ec, tcp::resolver::results_type found) {
        if (self->m_finished || !self->m_connecting)
          return;
        if (self->m_connecting->timedOut) {
          self->ConnectFailed(asio::error::timed_out);
          return;
        }
        if (ec || found.empty()) {
          self->m_pair->NameFailed(ec ? ec : asio::error::host_not_found);
          self->Finish(true);
          return;
        }
        self->m_pair->NameResolved();
        for (const auto& entry : found)
          self->m_connecting->endpoints.push_back(entry.endpoint());
        self->ConnectNext();
      });
}

void Session::ConnectNext() {
  Connecting& c = *m_connecting;
  if (c.next >= c.endpoints.size()) {
    ConnectFailed(c.lastError ? c.lastError : asio::error::host_not_found);
    return;
  }
  const tcp::endpoint& to = c.endpoints[c.next++];
  asio::error_code ec;
  // Non-blocking before the connect, which then needs no switch of its own.
  OpenNonBlocking(m_server, to.protocol(), ec);
  if (ec) {
    m_pair->OutboundSocketFailed(ec);
    Finish(true);
    return;
  }
  m_pair->OutboundSocketOpened();
  m_server.set_option(tcp::no_delay(true), ec);
  // A socket not yet connected has nothing to read, so the wait for the
  // remote's first bytes is queued now and needs no re-arming once connected.
  if (kDrainedWaitQueuesOnly)
    WaitReadable(kDown, true);
  AsyncConnectNonBlocking(m_server, to, [self = shared_from_this()](const asio::error_code& ec) {
    if (self->m_finished || !self->m_connecting)
      return;
    if (self->m_connecting->timedOut) {
      self->ConnectFailed(asio::error::timed_out);
      return;
    }
    if (ec) {
      // Each address in turn, within the one time-out.
      self->m_connecting->lastError = ec;
      asio::error_code ignored;
      self->m_server.close(ignored);
      self->ConnectNext();
      return;
    }
    self->Connected();
  });
}

void Session::OnConnectTimeout() {
  // The pending resolve or connect completes as cancelled and ends the session.
  m_connecting->timedOut = true;
  m_connecting->resolver.cancel();
  asio::error_code ignored;
  m_server.close(ignored);
}

void Session::ConnectFailed(const asio::error_code& ec) {
  m_pair->Events().RelayMessage(
      LogLevel::kWarning,
      FormatRelayMessage(kMsgConnectFailed, m_pair->Config().localPort, WindowsSocketsCode(ec)));
  // A reset tells the client that nothing was relayed; an orderly close
  // could pass for an empty answer.
  Finish(true);
}

void Session::Connected() {
  m_connecting.reset();
  m_relaying = true;
  m_lastActive = std::chrono::steady_clock::now();
  Pump(kUp);
  if (m_finished)
    return;
  // A remote just connected has rarely sent anything yet: wait for its bytes
  // rather than try a read that would find none.
  if (m_closing)
    Pump(kDown);
  else
    WaitReadable(kDown, false);
}

void Session::Pump(int d) {
  if (m_finished)
    return;
  Flow& f = m_flows[d];
  if (m_closing) {
    if (!m_flows[0].writing && !m_flows[1].writing)
      Finish(false);
    return;
  }
  if (f.writing)
    return;  // the buffer is still going out; the write's end reads on
  tcp::socket& from = From(d);
  for (int round = 0; round < kReadsPerTurn; ++round) {
    asio::error_code ec;
    std::size_t n = from.read_some(asio::buffer(f.buffer.Get(), kTransferBufferSize), ec);
    if (WouldBlock(ec)) {
      AwaitBytes(d);
      return;
    }
    AfterRead next = PassOn(d, ec, n);
    if (next == kDrained)
      AwaitBytes(d);
    if (next != kReadMore)
      return;
  }
  f.buffer.Release();
  asio::post(m_client.get_executor(), [self = shared_from_this(), d] { self->Pump(d); });
}

bool Session::Forward(int d, std::size_t n) {
  Flow& f = m_flows[d];
  if (m_pair->Settings().idleTimeoutSeconds > 0)
    m_lastActive = std::chrono::steady_clock::now();
  if (d == kUp)
    m_pair->Counters().AddUp(n);
  else
    m_pair->Counters().AddDown(n);
  if (f.hops++ == 0)
    m_pair->NoteTraffic();
  asio::error_code ec;
  std::size_t written = To(d).write_some(asio::buffer(f.buffer.Get(), n), ec);
  if (ec && !WouldBlock(ec)) {
    Finish(true);
    return false;
  }
  if (written < n) {
    f.held = n;
    WriteRest(d, written);
    return false;
  }
  return true;
}

void Session::AwaitBytes(int d) {
  Flow& f = m_flows[d];
  if (kBusyReads && !f.busy && f.hops >= kBusyHops)
    f.busy = true;
  if (f.busy) {
    ReadWhenBusy(d);
  } else {
    f.buffer.Release();
    WaitReadable(d, true);
  }
}

void Session::WaitReadable(int d, bool drained) {
  Flow& f = m_flows[d];
  if (f.waiting)
    return;  // the sweep's read found the socket empty again: that wait holds
  f.waiting = true;
  f.drainedWait = drained && kDrainedWaitQueuesOnly;
  auto then = [self = shared_from_this(), d](const asio::error_code& ec) {
    Flow& flow = self->m_flows[d];
    flow.waiting = false;
    flow.drainedWait = false;
    if (self->m_finished || !self->m_relaying)
      return;  // before the connect's end: an attempt that failed, and Connected waits anew
    if (ec) {
      self->Finish(true);
      return;
    }
    if (!flow.writing)  // else the write's end reads on
      self->Pump(d);
  };
  if (f.drainedWait)
    AsyncWaitAfterDrain(From(d), std::move(then));
  else
    From(d).async_wait(tcp::socket::wait_read, std::move(then));
}

void Session::ReadAgainAfterQuiet(int d) {
  Flow& f = m_flows[d];
  // The wait stays queued: it still answers the next bytes that come.
  if (!m_finished && m_relaying && f.waiting && f.drainedWait && !f.writing)
    Pump(d);
}

void Session::ReadWhenBusy(int d) {
  // A read with a buffer takes the bytes as they come: on Windows an
  // overlapped receive instead of a trip through the wait thread; with epoll
  // an attempt at once instead of re-arming the descriptor.
  Flow& f = m_flows[d];
  f.readPending = true;
  From(d).async_read_some(
      asio::buffer(f.buffer.Get(), kTransferBufferSize),
      [self = shared_from_this(), d](const asio::error_code& ec, std::size_t n) {
        self->OnBusyRead(d, ec, n);
      });
}

void Session::OnBusyRead(int d, const asio::error_code& ec, std::size_t n) {
  Flow& f = m_flows[d];
  f.readPending = false;
  bool quieted = f.quieting;
  f.quieting = false;
  if (m_finished)
    return;
  if (ec == asio::error::operation_aborted && quieted) {
    // Cancelled before it took anything: back to waiting without a buffer.
    f.busy = false;
    f.buffer.Release();
    WaitReadable(d, false);
    return;
  }
  if (m_closing) {
    Pump(d);
    return;
  }
  AfterRead next = PassOn(d, ec, n);
  if (next == kReadMore)
    Pump(d);
  else if (next == kDrained)
    AwaitBytes(d);
}

Session::AfterRead Session::PassOn(int d, const asio::error_code& ec, std::size_t n) {
  if (ec == asio::error::eof) {
    m_flows[d].buffer.Release();
    Ended(d);
    return kStopped;
  }
  if (ec) {
    Finish(true);
    return kStopped;
  }
  if (!Forward(d, n))
    return kStopped;
  // A short read took everything there was; a full one may have left more.
  return n == kTransferBufferSize ? kReadMore : kDrained;
}

bool Session::SweepBusy() {
  bool moved = false;
  for (int d = kUp; d <= kDown; ++d) {
    Flow& f = m_flows[d];
    moved = moved || f.hops > 0;
    // Cancelling the read cancels every operation on its socket, so not
    // while the other direction writes to it.
    if (f.busy && f.hops == 0 && f.readPending && !f.quieting && !m_flows[1 - d].writing) {
      f.quieting = true;
      asio::error_code ignored;
      From(d).cancel(ignored);
    }
    // A read that stopped short at an urgent mark left bytes that raise no
    // new event: a direction gone quiet after a wait of that kind reads once
    // more.
    if (f.hops > 0) {
      f.readAfterQuiet = false;
    } else if (f.drainedWait && !f.readAfterQuiet) {
      f.readAfterQuiet = true;
      asio::post(m_client.get_executor(),
                 [self = shared_from_this(), d] { self->ReadAgainAfterQuiet(d); });
    }
    f.hops = 0;
  }
  return moved;
}

void Session::WriteRest(int d, std::size_t offset) {
  Flow& f = m_flows[d];
  f.writing = true;
  asio::async_write(To(d), asio::buffer(f.buffer.Get() + offset, f.held - offset),
                    [self = shared_from_this(), d](const asio::error_code& ec, std::size_t) {
                      if (self->m_finished)
                        return;
                      Flow& flow = self->m_flows[d];
                      flow.writing = false;
                      flow.held = 0;
                      flow.buffer.Release();
                      if (ec) {
                        self->Finish(true);
                        return;
                      }
                      self->Pump(d);
                    });
}

void Session::Ended(int d) {
  Flow& f = m_flows[d];
  f.ended = true;
  if (m_pair->Settings().halfClose) {
    // Nothing of this direction is in flight (a read follows only a finished
    // write), so the FIN can go on at once.
    asio::error_code ignored;
    To(d).shutdown(tcp::socket::shutdown_send, ignored);
    if (m_flows[1 - d].ended)
      Finish(false);
    return;
  }
  // The first end closes both, once the other direction's bytes in flight
  // have been written.
  m_closing = true;
  if (!m_flows[1 - d].writing)
    Finish(false);
}

void Session::Close() {
  Finish(false);
}

bool Session::IdleSince(std::chrono::steady_clock::time_point since) const {
  return m_relaying && !m_finished && m_lastActive < since;
}

void Session::Finish(bool abortive) {
  if (m_finished)
    return;
  m_finished = true;
  auto keepAlive = shared_from_this();  // the pair may hold the last reference
  if (m_connecting) {
    m_connecting->timer.cancel();
    m_connecting->resolver.cancel();
  }
  asio::error_code ignored;
  if (abortive) {
    Reset(m_client);
    Reset(m_server);
  }
  m_client.close(ignored);
  m_server.close(ignored);
  // A buffer under a pending read or write goes back when that operation has
  // completed and the session ends.
  for (Flow& f : m_flows) {
    if (!f.readPending && !f.writing)
      f.buffer.Release();
  }
  m_pair->Counters().Closed();
  if (m_pair->Settings().connectionEvents)
    m_pair->Events().ConnectionClosed(m_pair->Config().localPort, FormatEndpoint(m_peer));
  m_pair->Unlink(this);
}

}  // namespace vx::engine
