#include "serve/server.h"

#include <algorithm>
#include <chrono>

#include "engine/open_file_limit.h"
#include "serve/messages.h"
#include "serve/notify.h"
#include "serve/reload_plan.h"
#include "serve/stop_signal.h"

namespace vx {

namespace {

using Clock = std::chrono::steady_clock;

// How long the log may take to be written out at exit.
constexpr int kExitFlushMs = 3000;

engine::PairConfig ConfigOf(const ServePair& p) {
  engine::PairConfig s;
  s.section = p.section;
  s.localPort = p.localPort;
  s.remoteHost = p.remoteHost;
  s.remotePort = p.remotePort;
  return s;
}

}  // namespace

Server::Server(const ServeOptions& options, Logger& logger)
    : m_options(options),
      m_logger(logger),
      m_store(std::filesystem::u8path(options.dir) / "setting.ini"),
      m_events(logger),
      m_engine(options.engine, m_events) {}

void Server::Report(const std::vector<std::string>& problems) {
  for (const std::string& p : problems)
    m_logger.Log(LogLevel::kWarning, p);
}

int Server::StartPairs(const std::vector<ServePair>& pairs) {
  int started = 0;
  for (const ServePair& pair : pairs) {
    m_logger.Log(LogLevel::kNotice,
                 msg::StartingPair(pair.section, pair.localPort, pair.remoteHost, pair.remotePort));
    int id = m_engine.AddPair(ConfigOf(pair));
    if (id == 0)
      continue;  // the engine has said why
    m_running.push_back(Running{pair, id});
    ++started;
  }
  return started;
}

void Server::LogFigures(const Running& r) {
  engine::PairFigures f = m_engine.Figures(r.id);
  m_logger.Log(LogLevel::kNotice, msg::PairFigures(r.pair.section, r.pair.localPort,
                                                   r.pair.remoteHost, r.pair.remotePort, f.open,
                                                   f.served, f.refused, f.bytesUp, f.bytesDown));
}

void Server::LogAllFigures() {
  for (const Running& r : m_running)
    LogFigures(r);
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
  std::vector<ServePair> running;
  for (const Running& r : m_running)
    running.push_back(r.pair);
  ReloadPlan plan = PlanReload(running, config.pairs);

  for (const auto& [r, w] : plan.keep)
    m_running[r].pair.section = config.pairs[w].section;
  // Stopping a pair closes its listener and its connections at once, so a
  // changed pair can take the same port again right away.
  std::vector<int> stopped;
  for (std::size_t r : plan.stop) {
    const Running& old = m_running[r];
    m_logger.Log(LogLevel::kNotice, msg::StoppingPair(old.pair.section, old.pair.localPort,
                                                      old.pair.remoteHost, old.pair.remotePort));
    LogFigures(old);
    m_engine.RemovePair(old.id);
    stopped.push_back(old.id);
  }
  m_running.erase(std::remove_if(m_running.begin(), m_running.end(),
                                 [&](const Running& r) {
                                   return std::find(stopped.begin(), stopped.end(), r.id) !=
                                          stopped.end();
                                 }),
                  m_running.end());
  std::vector<ServePair> toStart;
  for (std::size_t w : plan.start)
    toStart.push_back(config.pairs[w]);
  int started = StartPairs(toStart);
  m_logger.Log(LogLevel::kNotice, msg::ReloadDone(static_cast<int>(plan.keep.size()),
                                                  static_cast<int>(plan.stop.size()), started));
  m_logger.Log(LogLevel::kNotice, msg::RunningSummary(static_cast<int>(m_running.size()),
                                                      static_cast<int>(config.pairs.size())));
  NotifyReloaded();
}

int Server::Stop() {
  NotifyStopping();
  m_logger.Log(LogLevel::kNotice, msg::StopRequested());
  LogAllFigures();
  m_engine.BeginStop();
  auto nextNotice = Clock::now() + std::chrono::seconds(5);
  while (!m_engine.WaitStopped(20)) {
    // Only a real second request forces the exit.
    if (WaitForServeEvent(0) == ServeEvent::kStop) {
      m_logger.Log(LogLevel::kWarning, msg::ForcedExit());
      return kExitForced;
    }
    if (Clock::now() >= nextNotice) {
      m_logger.Log(LogLevel::kNotice, msg::StillWaiting(m_engine.ThreadsRunning()));
      nextNotice += std::chrono::seconds(5);
    }
  }
  m_logger.Log(LogLevel::kNotice, msg::Stopped());
  return kExitStopped;
}

int Server::Run() {
  engine::OpenFileLimit limit = engine::RaiseOpenFileLimit();
  m_logger.Log(LogLevel::kNotice, msg::Starting(m_store.Path().u8string(), CanReload()));
  if (m_options.watch)
    m_logger.Log(LogLevel::kNotice, msg::Watching(m_store.Path().u8string()));
  if (limit.now != limit.before)
    m_logger.Log(LogLevel::kNotice, msg::OpenFileLimitRaised(limit.before, limit.now));

  ServeConfig config = ReadServeConfig(m_store, true);
  if (config.created && config.usable)
    m_logger.Log(LogLevel::kNotice, msg::FileCreated(m_store.Path().u8string()));
  Report(config.problems);
  int running = StartPairs(config.pairs);
  m_logger.Log(LogLevel::kNotice,
               msg::RunningSummary(running, static_cast<int>(config.pairs.size())));
  if (running == 0 && !m_options.watch) {
    m_logger.Log(LogLevel::kError, msg::NothingRunning());
    return kExitNothingStarted;
  }
  // With --watch an empty start waits for the file to change instead.
  if (running == 0)
    m_logger.Log(LogLevel::kWarning, msg::WaitingForChanges());
  // Every pair that could start listens now.
  NotifyReady();

  const auto interval = std::chrono::seconds(m_options.statsIntervalSeconds);
  auto nextFigures = Clock::now() + interval;
  while (true) {
    int waitMs = 1000;
    if (interval.count() > 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextFigures - Clock::now());
      waitMs = static_cast<int>(std::clamp<long long>(left.count(), 0, 1000));
    }
    ServeEvent ev = WaitForServeEvent(waitMs);
    if (ev == ServeEvent::kStop)
      return Stop();
    if (ev == ServeEvent::kReload)
      Reload();
    if (ev == ServeEvent::kFigures)
      LogAllFigures();
    if (interval.count() > 0 && Clock::now() >= nextFigures) {
      LogAllFigures();
      nextFigures += interval;
      if (nextFigures < Clock::now())
        nextFigures = Clock::now() + interval;
    }
  }
}

bool FlushLogBeforeExit(Logger& logger, int* code) {
  if (*code == kExitForced)
    return logger.Flush(200);  // the operator asked for an exit now
  auto deadline = Clock::now() + std::chrono::milliseconds(kExitFlushMs);
  while (Clock::now() < deadline) {
    if (logger.Flush(50))
      return true;
    if (*code != kExitForced && WaitForServeEvent(0) == ServeEvent::kStop) {
      *code = kExitForced;
      return false;
    }
  }
  return false;
}

}  // namespace vx
