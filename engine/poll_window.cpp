#include "engine/poll_window.h"

#include <algorithm>

namespace vx::engine {

namespace {
// Below this the window is not worth a look.
constexpr PollWindow::Duration kSmallest = std::chrono::microseconds(1);
}  // namespace

PollWindow::PollWindow(Duration limit) : m_limit(std::max(limit, Duration(0))) {}

void PollWindow::AfterIdle(Duration idle) {
  if (idle <= m_limit) {
    // A longer look would have caught it: from a quarter of the limit, double.
    m_current = std::min(std::max(m_current * 2, m_limit / 4), m_limit);
    return;
  }
  m_current /= 2;
  if (m_current < kSmallest)
    m_current = Duration(0);
}

}  // namespace vx::engine
