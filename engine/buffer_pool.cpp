#include "engine/buffer_pool.h"

namespace vx::engine {

BufferPool::~BufferPool() {
  for (char* b : m_free)
    delete[] b;
}

char* BufferPool::Take() {
  ++m_inUse;
  if (m_free.empty())
    return new char[kTransferBufferSize];
  char* b = m_free.back();
  m_free.pop_back();
  return b;
}

void BufferPool::Give(char* buffer) {
  --m_inUse;
  if (m_free.size() >= kKeepFree) {
    delete[] buffer;
    return;
  }
  m_free.push_back(buffer);
}

}  // namespace vx::engine
