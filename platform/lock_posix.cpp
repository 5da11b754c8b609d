#include "platform/lock.h"

namespace vx {

void Lock::Enter() {
  pthread_mutex_lock(&m_mutex);
}
void Lock::Leave() {
  pthread_mutex_unlock(&m_mutex);
}

}  // namespace vx
