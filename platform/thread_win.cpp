#include <windows.h>

#include "platform/fault_injection.h"
#include "platform/thread.h"

namespace vx {

namespace {

struct Start {
  ThreadProc proc;
  void* arg;
};

DWORD WINAPI Trampoline(LPVOID p) {
  Start start = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  return start.proc(start.arg);  // the thread's exit code
}

}  // namespace

bool StartThread(ThreadProc proc, void* arg) {
  if (fault::Armed() && fault::Check(fault::Call::kThread) != 0)
    return false;
  Start* start = new Start{proc, arg};
  HANDLE thread = CreateThread(nullptr, 0, Trampoline, start, 0, nullptr);
  if (thread == nullptr) {
    delete start;
    return false;
  }
  CloseHandle(thread);  // detached
  return true;
}

void SleepMs(unsigned ms) {
  Sleep(ms);
}

}  // namespace vx
