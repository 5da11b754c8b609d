// Per-pair figures: written by the pair's event thread, read by anyone.
#pragma once

#include <atomic>
#include <cstdint>

namespace vx::engine {

struct PairFigures {
  std::uint64_t open = 0;       // connections accepted and not yet closed
  std::uint64_t served = 0;     // connections accepted since the pair started
  std::uint64_t refused = 0;    // closed at once: over the limit
  std::uint64_t bytesUp = 0;    // client -> remote
  std::uint64_t bytesDown = 0;  // remote -> client
};

class PairCounters {
 public:
  void Opened() {
    m_open.fetch_add(1, std::memory_order_relaxed);
    m_served.fetch_add(1, std::memory_order_relaxed);
  }
  void Closed() { m_open.fetch_sub(1, std::memory_order_relaxed); }
  void Refused() { m_refused.fetch_add(1, std::memory_order_relaxed); }
  void AddUp(std::uint64_t n) { m_up.fetch_add(n, std::memory_order_relaxed); }
  void AddDown(std::uint64_t n) { m_down.fetch_add(n, std::memory_order_relaxed); }
  std::uint64_t Open() const { return m_open.load(std::memory_order_relaxed); }

  PairFigures Read() const {
    PairFigures f;
    f.open = m_open.load(std::memory_order_relaxed);
    f.served = m_served.load(std::memory_order_relaxed);
    f.refused = m_refused.load(std::memory_order_relaxed);
    f.bytesUp = m_up.load(std::memory_order_relaxed);
    f.bytesDown = m_down.load(std::memory_order_relaxed);
    return f;
  }

 private:
  std::atomic<std::uint64_t> m_open{0}, m_served{0}, m_refused{0}, m_up{0}, m_down{0};
};

}  // namespace vx::engine
