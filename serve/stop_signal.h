// Stop, reload and figures requests from outside: SIGINT/SIGTERM, SIGHUP and
// SIGUSR1 on POSIX, Ctrl+C / Ctrl+Break / console close on Windows, and the
// ones posted from within (file watch, service controls). No work is done in a
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
// Posts a request from another part of the program (the file watch, the
// service manager's controls), taken by WaitForServeEvent like a signal.
// Thread-safe; two stops posted count as two, as two signals would.
void PostServeEvent(ServeEvent event);
// Whether reload requests exist on this system (SIGHUP).
bool CanReload();
// The process is about to exit: lets a pending console-close handler return.
void NotifyShutdownComplete();
#ifdef _WIN32
// Runs inside NotifyShutdownComplete (the Windows service's last status report).
void SetShutdownHook(void (*hook)());
#endif

}  // namespace vx
