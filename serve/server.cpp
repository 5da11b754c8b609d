#include "serve/server.h"

#include <algorithm>
#include <chrono>

#include "platform/thread.h"
#include "relay/relay_control.h"
#include "relay/slot_tables.h"
#include "serve/messages.h"
#include "serve/notify.h"
#include "serve/reload_plan.h"
#include "serve/stop_signal.h"

namespace vx {

namespace {

// Relays hold pointers into these until they end; static storage outlives
// every relay thread.
RelaySlotTables g_tables;

// A relay reports a failed start-up within a few milliseconds of its
// hand-over; this bounds the wait before a start is counted as running.
constexpr int kSettleMs = 300;

}  // namespace

Server::Server(const ServeOptions& options, Logger& logger)
    : m_options(options),
      m_logger(logger),
      m_store(std::filesystem::u8path(options.dir) / "setting.ini") {}

void Server::Report(const std::vector<std::string>& problems) {
  for (const std::string& p : problems)
    m_logger.Log(LogLevel::kWarning, p);
}

int Server::FreeRelayIndex() const {
  for (int t = 1; t <= kMaxPairs; ++t) {
    bool used =
        std::any_of(m_relays.begin(), m_relays.end(), [t](const Relay& r) { return r.index == t; });
    if (!used)
      return t;
  }
  return 0;
}

void Server::StartPairs(const std::vector<ServePair>& pairs, std::vector<int>* started) {
  for (const ServePair& pair : pairs) {
    int t = FreeRelayIndex();
    if (t == 0) {
      m_logger.Log(LogLevel::kWarning, msg::TooManyRelays(pair.section));
      continue;
    }
    m_logger.Log(msg::StartingPair(pair.section, pair.localPort, pair.remoteIp, pair.remotePort));
    {
      LockGuard guard(g_relayLock);
      g_tables.slotMap[t].store(t);
      g_tables.connectionCount[t].store(0);
      g_tables.relayState[t].store(RELAY_STOP);
    }
    RelayEndpoint endpoint;
    endpoint.localPort = pair.localPort;
    endpoint.remoteAddress = pair.remoteIp;
    endpoint.remotePort = pair.remotePort;
    Relay relay;
    relay.pair = pair;
    relay.index = t;
    if (!StartOneRelay(g_tables, t, endpoint))
      relay.ended = true;
    m_relays.push_back(relay);
    started->push_back(t);
  }
}

bool Server::RelayEnded(int index) const {
  LockGuard guard(g_relayLock);
  // Right after the acknowledgement the word reads RELAY_STOPPED too, while
  // the relay has not yet taken it back.
  return g_tables.relayState[index].load() == RELAY_STOPPED &&
         g_tables.ackPending[index].load() == 0;
}

int Server::Settle(const std::vector<int>& started) {
  if (started.empty())
    return 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleMs);
  while (std::chrono::steady_clock::now() < deadline)
    SleepMs(10);
  int running = 0;
  for (Relay& r : m_relays) {
    if (std::find(started.begin(), started.end(), r.index) == started.end())
      continue;
    if (!r.ended && RelayEnded(r.index))
      r.ended = true;
    if (!r.ended)
      ++running;
  }
  return running;
}

void Server::NoteEndedRelays() {
  for (Relay& r : m_relays) {
    if (!r.ended && RelayEnded(r.index)) {
      r.ended = true;
      m_logger.Log(LogLevel::kWarning, msg::RelayEnded(r.pair.section, r.pair.localPort));
    }
  }
}

int Server::LiveCount() const {
  return static_cast<int>(
      std::count_if(m_relays.begin(), m_relays.end(), [](const Relay& r) { return !r.ended; }));
}

bool Server::StopRelays(const std::vector<int>& indices) {
  for (int t : indices)
    RequestStop(g_tables, t);
  auto started = std::chrono::steady_clock::now();
  auto nextNotice = started + std::chrono::seconds(5);
  while (true) {
    int left = 0;
    for (int t : indices) {
      if (!RelayEnded(t))
        ++left;
    }
    if (left == 0)
      break;
    if (std::chrono::steady_clock::now() >= nextNotice) {
      m_logger.Log(msg::StillWaiting(left));
      nextNotice += std::chrono::seconds(5);
    }
    // Polls every 50 ms, like the GUI's Stop, while a second stop request can
    // still cut the wait short (a relay stuck in a blocking connect or send).
    ServeEvent ev = WaitForServeEvent(50);
    if (ev == ServeEvent::kStop)
      return false;
    if (ev == ServeEvent::kReload)
      m_reloadPending = true;  // the file changed again: read it once more afterwards
  }
  m_relays.erase(std::remove_if(m_relays.begin(), m_relays.end(),
                                [&](const Relay& r) {
                                  return std::find(indices.begin(), indices.end(), r.index) !=
                                         indices.end();
                                }),
                 m_relays.end());
  return true;
}

void Server::Reload() {
  NotifyReloading();
  m_logger.Log(LogLevel::kNotice, msg::ReloadRequested(m_store.Path().u8string()));
  ServeConfig config = ReadServeConfig(m_store, false);
  Report(config.problems);
  if (!config.usable) {
    m_logger.Log(LogLevel::kWarning, msg::ReloadKeptOld());
    NotifyReloaded();
    return;
  }
  // Relays that ended by themselves (port in use, say) are started afresh.
  m_relays.erase(
      std::remove_if(m_relays.begin(), m_relays.end(), [](const Relay& r) { return r.ended; }),
      m_relays.end());
  std::vector<ServePair> running;
  for (const Relay& r : m_relays)
    running.push_back(r.pair);
  ReloadPlan plan = PlanReload(running, config.pairs);

  std::vector<int> toStop;
  for (std::size_t r : plan.stop) {
    const ServePair& p = m_relays[r].pair;
    m_logger.Log(msg::StoppingPair(p.section, p.localPort, p.remoteIp, p.remotePort));
    toStop.push_back(m_relays[r].index);
  }
  for (const auto& [r, w] : plan.keep)
    m_relays[r].pair.section = config.pairs[w].section;
  // Stopped relays have closed their listening sockets before they report
  // RELAY_STOPPED, so a changed pair can take the same port again right away.
  if (!toStop.empty() && !StopRelays(toStop)) {
    m_logger.Log(LogLevel::kWarning, msg::ForcedExit());
    m_logger.Flush();
    NotifyShutdownComplete();
    std::_Exit(kExitForced);
  }
  std::vector<ServePair> toStart;
  for (std::size_t w : plan.start)
    toStart.push_back(config.pairs[w]);
  std::vector<int> started;
  StartPairs(toStart, &started);
  int ok = Settle(started);
  m_logger.Log(
      msg::ReloadDone(static_cast<int>(plan.keep.size()), static_cast<int>(toStop.size()), ok));
  m_logger.Log(msg::RunningSummary(LiveCount(), static_cast<int>(config.pairs.size())));
  NotifyReloaded();
}

int Server::Run() {
  g_tables.Initialise();
  BindStartBlock(g_tables);
  m_logger.Log(LogLevel::kNotice, msg::Starting(m_store.Path().u8string(), CanReload()));
  if (m_options.watch)
    m_logger.Log(LogLevel::kNotice, msg::Watching(m_store.Path().u8string()));

  ServeConfig config = ReadServeConfig(m_store, true);
  if (config.created && config.usable)
    m_logger.Log(msg::FileCreated(m_store.Path().u8string()));
  Report(config.problems);

  std::vector<int> started;
  StartPairs(config.pairs, &started);
  int running = Settle(started);
  m_logger.Log(msg::RunningSummary(running, static_cast<int>(config.pairs.size())));
  if (running == 0 && !m_options.watch) {
    m_logger.Log(LogLevel::kError, msg::NothingRunning());
    return kExitNothingStarted;
  }
  if (running == 0)
    m_logger.Log(LogLevel::kWarning, msg::WaitingForChanges());
  NotifyReady();

  while (true) {
    ServeEvent ev = WaitForServeEvent(m_reloadPending ? 0 : 250);
    NoteEndedRelays();
    if (ev == ServeEvent::kReload || (ev == ServeEvent::kNone && m_reloadPending)) {
      m_reloadPending = false;
      Reload();
    }
    if (ev != ServeEvent::kStop)
      continue;
    NotifyStopping();
    m_logger.Log(LogLevel::kNotice, msg::StopRequested());
    std::vector<int> all;
    for (const Relay& r : m_relays)
      all.push_back(r.index);
    if (!StopRelays(all)) {
      m_logger.Log(LogLevel::kWarning, msg::ForcedExit());
      return kExitForced;
    }
    m_logger.Log(LogLevel::kNotice, msg::Stopped());
    return kExitStopped;
  }
}

}  // namespace vx
