// Transfer buffers, taken only while bytes are in flight. Each event thread
// keeps its own free list, so taking and giving back needs no lock; a buffer
// given back on another thread (at shut-down) joins that thread's list.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace vx::engine {

inline constexpr std::size_t kTransferBufferSize = 64 * 1024;

class BufferPool {
 public:
  // Buffers beyond this many free ones go back to the system, so a burst of
  // bulk transfers does not pin its peak for ever.
  static constexpr std::size_t kKeepFree = 16;

  ~BufferPool();
  char* Take();
  void Give(char* buffer);
  std::size_t FreeCount() const { return m_free.size(); }

  // The calling thread's pool.
  static BufferPool& ForThisThread();

 private:
  std::vector<char*> m_free;
};

// One buffer held for as long as it is in use; move-only.
class PooledBuffer {
 public:
  PooledBuffer() = default;
  ~PooledBuffer() { Release(); }
  PooledBuffer(PooledBuffer&& o) noexcept : m_data(o.m_data) { o.m_data = nullptr; }
  PooledBuffer& operator=(PooledBuffer&& o) noexcept {
    if (this != &o) {
      Release();
      m_data = o.m_data;
      o.m_data = nullptr;
    }
    return *this;
  }
  PooledBuffer(const PooledBuffer&) = delete;
  PooledBuffer& operator=(const PooledBuffer&) = delete;

  char* Get() {
    if (m_data == nullptr)
      m_data = BufferPool::ForThisThread().Take();
    return m_data;
  }
  bool Held() const { return m_data != nullptr; }
  void Release() {
    if (m_data != nullptr)
      BufferPool::ForThisThread().Give(m_data);
    m_data = nullptr;
  }

 private:
  char* m_data = nullptr;
};

}  // namespace vx::engine
