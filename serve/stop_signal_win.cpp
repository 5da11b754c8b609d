#include <windows.h>

#include <atomic>

#include "serve/stop_signal.h"

namespace vx {

namespace {

HANDLE g_requestEvent = nullptr;  // auto-reset: a request is waiting
HANDLE g_doneEvent = nullptr;     // manual-reset: the process is about to exit
std::atomic<int> g_stopRequests{0};
int g_stopsTaken = 0;
std::atomic<bool> g_reloadRequested{false};
std::atomic<void (*)()> g_shutdownHook{nullptr};

BOOL WINAPI OnConsoleControl(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_stopRequests.fetch_add(1);
      SetEvent(g_requestEvent);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns: give the relays time to stop.
      g_stopRequests.fetch_add(1);
      SetEvent(g_requestEvent);
      WaitForSingleObject(g_doneEvent, 4500);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void InstallStopSignals() {
  g_requestEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_doneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void PostServeEvent(ServeEvent event) {
  if (event == ServeEvent::kStop)
    g_stopRequests.fetch_add(1);
  else if (event == ServeEvent::kReload)
    g_reloadRequested.store(true);
  else
    return;
  if (g_requestEvent != nullptr)
    SetEvent(g_requestEvent);
}

ServeEvent WaitForServeEvent(int timeoutMs) {
  if (g_stopRequests.load() == g_stopsTaken && !g_reloadRequested.load()) {
    WaitForSingleObject(g_requestEvent, static_cast<DWORD>(timeoutMs));
  }
  if (g_stopRequests.load() != g_stopsTaken) {
    ++g_stopsTaken;
    return ServeEvent::kStop;
  }
  if (g_reloadRequested.exchange(false))
    return ServeEvent::kReload;
  return ServeEvent::kNone;
}

bool CanReload() {
  return false;
}

void SetShutdownHook(void (*hook)()) {
  g_shutdownHook.store(hook);
}

void NotifyShutdownComplete() {
  if (auto hook = g_shutdownHook.load())
    hook();
  if (g_doneEvent != nullptr)
    SetEvent(g_doneEvent);
}

}  // namespace vx
