#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>

#include "serve/stop_signal.h"

namespace vx {

namespace {

sigset_t g_serveSignals;

}  // namespace

void InstallStopSignals() {
  sigemptyset(&g_serveSignals);
  sigaddset(&g_serveSignals, SIGINT);
  sigaddset(&g_serveSignals, SIGTERM);
  sigaddset(&g_serveSignals, SIGHUP);
  sigaddset(&g_serveSignals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &g_serveSignals, nullptr);
  // A log reader that went away must not kill the server.
  std::signal(SIGPIPE, SIG_IGN);
}

ServeEvent WaitForServeEvent(int timeoutMs) {
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
  return ServeEvent::kNone;  // time-out or EINTR
}

bool CanReload() {
  return true;
}

void NotifyShutdownComplete() {}

}  // namespace vx
