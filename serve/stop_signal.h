// Stop, reload and figures requests from outside: SIGINT/SIGTERM, SIGHUP and
// SIGUSR1 on POSIX,
// Ctrl+C / Ctrl+Break / console close on Windows. No work is done in a
// signal handler: POSIX blocks the signals in every thread and takes them
// with sigtimedwait on the main thread; the Windows console handler only sets
// a counter and an event.
#pragma once

namespace vx {

enum class ServeEvent { kNone, kStop, kReload, kFigures };

// Call before any thread is started (threads inherit the blocked signals).
void InstallStopSignals();
// Waits up to timeoutMs for the next request.
ServeEvent WaitForServeEvent(int timeoutMs);
// Whether reload requests exist on this system (SIGHUP).
bool CanReload();
// The process is about to exit: lets a pending console-close handler return.
void NotifyShutdownComplete();

}  // namespace vx
