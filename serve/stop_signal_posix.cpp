#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

#include <atomic>

#include "serve/stop_signal.h"

namespace vx {

namespace {

sigset_t g_serveSignals;
std::atomic<bool> g_installed{false};
std::atomic<int> g_postedStops{0};
std::atomic<bool> g_postedReload{false};

// Posted requests wake the wait with this signal, blocked like the others.
constexpr int kWakeSignal = SIGUSR2;

ServeEvent TakePosted() {
  int stops = g_postedStops.load();
  while (stops > 0 && !g_postedStops.compare_exchange_weak(stops, stops - 1)) {
  }
  if (stops > 0)
    return ServeEvent::kStop;
  if (g_postedReload.exchange(false))
    return ServeEvent::kReload;
  return ServeEvent::kNone;
}

}  // namespace

void InstallStopSignals() {
  sigemptyset(&g_serveSignals);
  sigaddset(&g_serveSignals, SIGINT);
  sigaddset(&g_serveSignals, SIGTERM);
  sigaddset(&g_serveSignals, SIGHUP);
  sigaddset(&g_serveSignals, SIGUSR1);
  sigaddset(&g_serveSignals, kWakeSignal);
  pthread_sigmask(SIG_BLOCK, &g_serveSignals, nullptr);
  g_installed.store(true);
  // A log reader that went away must not kill the server.
  std::signal(SIGPIPE, SIG_IGN);
}

void PostServeEvent(ServeEvent event) {
  if (event == ServeEvent::kStop)
    g_postedStops.fetch_add(1);
  else if (event == ServeEvent::kReload)
    g_postedReload.store(true);
  else
    return;
  if (g_installed.load())
    ::kill(::getpid(), kWakeSignal);
}

ServeEvent WaitForServeEvent(int timeoutMs) {
  ServeEvent posted = TakePosted();
  if (posted != ServeEvent::kNone)
    return posted;
  timespec ts;
  ts.tv_sec = timeoutMs / 1000;
  ts.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000L;
  siginfo_t info;
  int sig = sigtimedwait(&g_serveSignals, &info, &ts);
  if (sig == SIGINT || sig == SIGTERM)
    return ServeEvent::kStop;
  if (sig == SIGHUP)
    return ServeEvent::kReload;
  if (sig == SIGUSR1)
    return ServeEvent::kFigures;
  return TakePosted();  // woken by a post, a time-out or EINTR
}

bool CanReload() {
  return true;
}

void NotifyShutdownComplete() {}

}  // namespace vx
