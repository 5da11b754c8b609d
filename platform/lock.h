// The process-wide lock type. It has no destructor, so a static Lock stays
// usable by threads that still run while the process exits.
#pragma once

#ifndef _WIN32
#include <pthread.h>
#endif

namespace vx {

class Lock {
 public:
  constexpr Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Enter();
  void Leave();

 private:
#ifdef _WIN32
  void* m_srw = nullptr;  // SRWLOCK, statically initialised to zero
#else
  pthread_mutex_t m_mutex = PTHREAD_MUTEX_INITIALIZER;
#endif
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : m_lock(lock) { m_lock.Enter(); }
  ~LockGuard() { m_lock.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& m_lock;
};

}  // namespace vx
