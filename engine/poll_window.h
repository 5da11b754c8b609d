// How long an event thread keeps looking for events before it sleeps. Waking
// a sleeping thread costs tens of microseconds on a virtual machine, so a
// reply that comes back soon is cheaper to wait for awake; but looking costs
// a core. The window follows the gaps it sees: it grows while events come
// back within the limit after the thread gave up, and halves after every
// quiet spell longer than the limit, down to sleeping at once.
#pragma once

#include <chrono>

namespace vx::engine {

class PollWindow {
 public:
  using Duration = std::chrono::nanoseconds;

  explicit PollWindow(Duration limit);

  Duration Current() const { return m_current; }
  // After a spell without events that ended with a sleep: `idle` runs from
  // the last event before it to the first after it.
  void AfterIdle(Duration idle);

 private:
  Duration m_limit;
  Duration m_current{0};
};

}  // namespace vx::engine
