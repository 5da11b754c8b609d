// Transfer buffers, taken only while bytes are in flight. Each event thread
// has a pool of its own, used by that thread alone (and, once the thread has
// ended, by whoever destroys what it left), so taking and giving back needs
// no lock. Owned by the engine, not by the thread: a thread_local object with
// a destructor is not safe on every toolchain.
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

  BufferPool() = default;
  ~BufferPool();
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;
  char* Take();
  void Give(char* buffer);
  // Buffers taken and not given back: the bytes in flight of this thread's
  // connections, and the reads of its busy ones.
  std::size_t InUse() const { return m_inUse; }

 private:
  std::vector<char*> m_free;
  std::size_t m_inUse = 0;
};

// One buffer held for as long as it is in use; move-only.
class PooledBuffer {
 public:
  explicit PooledBuffer(BufferPool& pool) : m_pool(pool) {}
  ~PooledBuffer() { Release(); }
  PooledBuffer(const PooledBuffer&) = delete;
  PooledBuffer& operator=(const PooledBuffer&) = delete;

  char* Get() {
    if (m_data == nullptr)
      m_data = m_pool.Take();
    return m_data;
  }
  void Release() {
    if (m_data != nullptr)
      m_pool.Give(m_data);
    m_data = nullptr;
  }

 private:
  BufferPool& m_pool;
  char* m_data = nullptr;
};

}  // namespace vx::engine
