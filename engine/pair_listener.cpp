#include "engine/pair_listener.h"

#include <algorithm>

#include "engine/endpoint_text.h"
#include "engine/lean_socket.h"
#include "engine/session.h"
#include "engine/socket_error_code.h"
#include "platform/socket.h"
#include "relay/relay_messages.h"

namespace vx::engine {

using asio::ip::tcp;

namespace {

// vexhold-serve's own text for a bind the system refused for another reason
// than a program holding the port.
constexpr char kMsgBindFailed[] = "端口:%u 绑定失败(%d)!";

constexpr std::chrono::milliseconds kFirstBackoff{50};
constexpr std::chrono::milliseconds kLongestBackoff{1000};
// A burst of refusals is over after this long without one.
constexpr std::chrono::seconds kBurstQuiet{1};
// How often busy directions are checked for having gone quiet.
constexpr std::chrono::milliseconds kBusySweepPeriod{50};

asio::ip::address ListenAddress(const std::string& text) {
  if (text.empty())
    return asio::ip::address_v4::any();
  asio::error_code ec;
  asio::ip::address a = asio::ip::make_address(text, ec);
  return ec ? asio::ip::address(asio::ip::address_v4::any()) : a;
}

}  // namespace

PairListener::PairListener(asio::io_context& context, BufferPool& buffers, const PairConfig& config,
                           const EngineSettings& settings, EngineEvents& events)
    : m_buffers(buffers),
      m_config(config),
      m_settings(settings),
      m_events(events),
      m_acceptor(context),
      m_backoff(context),
      m_burstTimer(context),
      m_idleTimer(context),
      m_busyTimer(context) {}

PairListener::~PairListener() = default;

bool PairListener::Open() {
  tcp::endpoint local(ListenAddress(m_settings.bindAddress), m_config.localPort);
  asio::error_code ec;
  m_acceptor.open(local.protocol(), ec);
  if (ec) {
    m_events.RelayMessage(
        LogLevel::kError,
        FormatRelayMessage(kMsgListenSocketFailed, m_config.localPort, WindowsSocketsCode(ec)));
    return false;
  }
#ifndef _WIN32
  // A port whose old connections wait in TIME_WAIT binds again, as it does on
  // Windows without the option; a live listener still holds the port.
  m_acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  // Accepted sockets take TCP_NODELAY from the listener: one call per pair
  // instead of one per connection.
  m_acceptor.set_option(tcp::no_delay(true), ec);
#endif
  if (local.address().is_v6() && local.address().is_unspecified())
    m_acceptor.set_option(asio::ip::v6_only(false), ec);  // dual-stack where allowed
  m_acceptor.bind(local, ec);
  if (ec) {
    // The window's text where another program holds the port; a port the
    // system refuses (below 1024 without the right) or a --bind address this
    // machine does not have says what really happened.
    int code = WindowsSocketsCode(ec);
    m_events.RelayMessage(LogLevel::kError,
                          code == net::kErrAddrInUse
                              ? FormatRelayMessage(kMsgPortInUse, m_config.localPort)
                              : FormatRelayMessage(kMsgBindFailed, m_config.localPort, code));
    return false;
  }
  m_acceptor.listen(tcp::acceptor::max_listen_connections, ec);
  // With epoll an accept is tried before any wait, so it must never block.
  if (!ec)
    m_acceptor.non_blocking(true, ec);
  if (ec) {
    m_events.RelayMessage(LogLevel::kError, FormatRelayMessage(kMsgListenFailed, m_config.localPort,
                                                               WindowsSocketsCode(ec)));
    return false;
  }
  m_remoteAddress = ParseLiteralAddress(m_config.remoteHost);
  Accept();
  ScheduleIdleSweep();
  return true;
}

void PairListener::Close() {
  m_closed = true;
  asio::error_code ignored;
  m_acceptor.close(ignored);
  m_backoff.cancel();
  m_burstTimer.cancel();
  m_idleTimer.cancel();
  m_busyTimer.cancel();
  std::vector<std::shared_ptr<Session>> live;
  for (Session* s = m_sessions; s != nullptr; s = s->m_next)
    live.push_back(s->shared_from_this());
  for (const auto& s : live)
    s->Close();
}

void PairListener::Link(Session* s) {
  s->m_prev = nullptr;
  s->m_next = m_sessions;
  if (m_sessions != nullptr)
    m_sessions->m_prev = s;
  m_sessions = s;
}

void PairListener::Unlink(Session* s) {
  if (s->m_prev != nullptr)
    s->m_prev->m_next = s->m_next;
  else if (m_sessions == s)
    m_sessions = s->m_next;
  if (s->m_next != nullptr)
    s->m_next->m_prev = s->m_prev;
  s->m_prev = s->m_next = nullptr;
}

void PairListener::Accept() {
  if (m_closed || m_pausing)
    return;
  AsyncAcceptNonBlocking(
      m_acceptor, [self = shared_from_this()](const asio::error_code& ec, tcp::socket socket) {
        self->OnAccepted(ec, std::move(socket));
      });
}

void PairListener::OnAccepted(const asio::error_code& ec, tcp::socket socket) {
  if (m_closed || ec == asio::error::operation_aborted)
    return;  // closed, or cancelled for a back-off that re-arms the accept
  if (ec == asio::error::connection_aborted) {
    Accept();  // that client left before it was taken: the next one
    return;
  }
  if (ec) {
    // Out of descriptors above all, but any failure that may repeat at once:
    // the client stays queued and is taken after the back-off.
    NoteOutageFailure(kMsgAcceptFailed, ec);
    PauseAccepting();
    return;
  }
  if (m_counters.Open() >= static_cast<std::uint64_t>(m_settings.maxConnections)) {
    Refuse(std::move(socket));
  } else {
    std::make_shared<Session>(shared_from_this(), std::move(socket))->Start();
  }
  Accept();
}

void PairListener::Refuse(tcp::socket socket) {
  asio::error_code ignored;
  socket.close(ignored);
  m_counters.Refused();
  m_lastRefusal = Clock::now();
  ++m_burstRefused;
  if (m_inBurst)
    return;
  m_inBurst = true;
  m_burstRefused = 1;
  m_events.ConnectionLimitReached(m_config.localPort, m_settings.maxConnections);
  m_burstTimer.expires_after(kBurstQuiet);
  m_burstTimer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (!ec)
      self->OnBurstTimer();
  });
}

void PairListener::OnBurstTimer() {
  if (m_closed)
    return;
  if (Clock::now() - m_lastRefusal >= kBurstQuiet) {
    m_inBurst = false;
    m_events.ConnectionLimitBurstEnded(m_config.localPort, m_burstRefused);
    return;
  }
  m_burstTimer.expires_at(m_lastRefusal + kBurstQuiet);
  m_burstTimer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (!ec)
      self->OnBurstTimer();
  });
}

void PairListener::PauseAccepting() {
  if (m_pausing || m_closed)
    return;
  m_pausing = true;
  m_backoffDelay =
      m_backoffDelay.count() == 0 ? kFirstBackoff : std::min(m_backoffDelay * 2, kLongestBackoff);
  asio::error_code ignored;
  m_acceptor.cancel(ignored);
  m_backoff.expires_after(m_backoffDelay);
  m_backoff.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (ec || self->m_closed)
      return;
    self->m_pausing = false;
    self->Accept();
  });
}

void PairListener::NoteOutageFailure(const char* relayFormat, const asio::error_code& ec) {
  ++m_outageFailures;
  if (m_outage)
    return;
  // One message per outage; the failures meanwhile are counted and told
  // when connections get through again.
  m_outage = true;
  m_outageFailures = 1;
  m_events.RelayMessage(LogLevel::kError, FormatRelayMessage(relayFormat, m_config.localPort,
                                                             WindowsSocketsCode(ec)));
}

void PairListener::OutboundSocketFailed(const asio::error_code& ec) {
  NoteOutageFailure(kMsgServerSocketFailed, ec);
  if (IsOutOfResources(ec))
    PauseAccepting();
}

void PairListener::OutboundSocketOpened() {
  m_backoffDelay = std::chrono::milliseconds(0);
  if (!m_outage)
    return;
  m_outage = false;
  m_events.DescriptorsAvailableAgain(m_config.localPort, m_outageFailures);
  m_outageFailures = 0;
}

void PairListener::NameResolved() {
  m_nameFailing = false;
}

void PairListener::NameFailed(const asio::error_code& ec) {
  if (m_nameFailing)
    return;
  m_nameFailing = true;
  m_events.NameUnresolved(m_config.localPort, m_config.remoteHost, WindowsSocketsCode(ec));
}

void PairListener::ScheduleIdleSweep() {
  if (m_settings.idleTimeoutSeconds <= 0 || m_closed)
    return;
  auto period = std::max<std::chrono::milliseconds>(
      std::chrono::milliseconds(250), std::chrono::seconds(m_settings.idleTimeoutSeconds) / 4);
  m_idleTimer.expires_after(period);
  m_idleTimer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (!ec && !self->m_closed)
      self->SweepIdle();
  });
}

void PairListener::SweepIdle() {
  auto since = Clock::now() - std::chrono::seconds(m_settings.idleTimeoutSeconds);
  std::vector<std::shared_ptr<Session>> idle;
  for (Session* s = m_sessions; s != nullptr; s = s->m_next) {
    if (s->IdleSince(since))
      idle.push_back(s->shared_from_this());
  }
  for (const auto& s : idle)
    s->Close();
  ScheduleIdleSweep();
}

void PairListener::NoteTraffic() {
  if (m_busySweeping || m_closed)
    return;
  m_busySweeping = true;
  m_busyTimer.expires_after(kBusySweepPeriod);
  m_busyTimer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
    if (!ec && !self->m_closed)
      self->SweepBusy();
  });
}

void PairListener::SweepBusy() {
  m_busySweeping = false;
  bool moved = false;
  for (Session* s = m_sessions; s != nullptr; s = s->m_next)
    moved = s->SweepBusy() || moved;
  if (moved)
    NoteTraffic();
}

}  // namespace vx::engine
