#include <cerrno>
#include <ctime>
#include <pthread.h>

#include "platform/fault_injection.h"
#include "platform/thread.h"

namespace vx {

namespace {

struct Start {
  ThreadProc proc;
  void* arg;
};

void* Trampoline(void* p) {
  Start start = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  start.proc(start.arg);
  return nullptr;
}

}  // namespace

bool StartThread(ThreadProc proc, void* arg) {
  if (fault::Armed() && fault::Check(fault::Call::kThread) != 0)
    return false;
  Start* start = new Start{proc, arg};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, Trampoline, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete start;
    return false;
  }
  return true;
}

void SleepMs(unsigned ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace vx
