#include <windows.h>

#include "platform/lock.h"

static_assert(sizeof(SRWLOCK) == sizeof(void*), "SRWLOCK is one pointer");

namespace vx {

void Lock::Enter() {
  AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&m_srw));
}
void Lock::Leave() {
  ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&m_srw));
}

}  // namespace vx
