// One pair on one event thread: the listening socket, its connections, the
// connection limit, the back-off when descriptors run out, and the idle and
// busy sweeps.
// Everything here runs on the pair's event thread, except Figures().
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "engine/asio.h"
#include "engine/buffer_pool.h"
#include "engine/engine_events.h"
#include "engine/engine_settings.h"
#include "engine/pair_figures.h"

namespace vx::engine {

class Session;

class PairListener : public std::enable_shared_from_this<PairListener> {
 public:
  PairListener(asio::io_context& context, BufferPool& buffers, const PairConfig& config,
               const EngineSettings& settings, EngineEvents& events);
  ~PairListener();
  PairListener(const PairListener&) = delete;
  PairListener& operator=(const PairListener&) = delete;

  // Binds and listens; on failure reports it with the relay's message and
  // returns false. Then starts accepting.
  bool Open();
  // Stops accepting and closes every connection of the pair.
  void Close();
  PairFigures Figures() const { return m_counters.Read(); }

  // For the pair's sessions.
  const PairConfig& Config() const { return m_config; }
  const EngineSettings& Settings() const { return m_settings; }
  EngineEvents& Events() { return m_events; }
  PairCounters& Counters() { return m_counters; }
  BufferPool& Buffers() { return m_buffers; }
  // The remote as an address, or nothing when it is a name to resolve.
  const std::optional<asio::ip::address>& RemoteAddress() const { return m_remoteAddress; }
  void Link(Session* s);
  void Unlink(Session* s);
  // A session could not make its outbound socket: reported once per outage;
  // accepting pauses if the system is out of descriptors.
  void OutboundSocketFailed(const asio::error_code& ec);
  void OutboundSocketOpened();
  void NameResolved();
  void NameFailed(const asio::error_code& ec);
  // Bytes moved: the busy sweep runs until a period passes without any.
  void NoteTraffic();

 private:
  using Clock = std::chrono::steady_clock;

  void Accept();
  void OnAccepted(const asio::error_code& ec, asio::ip::tcp::socket socket);
  void Refuse(asio::ip::tcp::socket socket);
  void OnBurstTimer();
  // Out of descriptors or memory: wait, then accept again; never spins.
  void PauseAccepting();
  void NoteOutageFailure(const char* relayFormat, const asio::error_code& ec);
  void ScheduleIdleSweep();
  void SweepIdle();
  void SweepBusy();

  BufferPool& m_buffers;
  PairConfig m_config;
  EngineSettings m_settings;
  EngineEvents& m_events;
  std::optional<asio::ip::address> m_remoteAddress;
  asio::ip::tcp::acceptor m_acceptor;
  PairCounters m_counters;
  Session* m_sessions = nullptr;  // intrusive list of the live connections
  bool m_closed = false;

  asio::steady_timer m_backoff;
  std::chrono::milliseconds m_backoffDelay{0};
  bool m_pausing = false;  // the pending accept was cancelled for a back-off
  bool m_outage = false;
  unsigned long long m_outageFailures = 0;

  asio::steady_timer m_burstTimer;
  bool m_inBurst = false;
  unsigned long long m_burstRefused = 0;
  Clock::time_point m_lastRefusal;

  asio::steady_timer m_idleTimer;
  asio::steady_timer m_busyTimer;
  bool m_busySweeping = false;
  bool m_nameFailing = false;
};

}  // namespace vx::engine
