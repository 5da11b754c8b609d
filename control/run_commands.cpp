// Start and Stop of all relays.
#include <vector>

#include "control/mapping_controller.h"
#include "control/relay_slots.h"
#include "platform/thread.h"
#include "relay/relay_control.h"

namespace vx {

void MappingController::StartAllRelays() {
  // A second Start would hand live slots to new relays; the greyed button
  // normally prevents it.
  if (m_bRunning)
    return;
  const int n = ClampPairCount(m_store.ReadMappingCount(-1));
  BindStartBlock(m_tables);
  // Indices above N are marked free: new relays of Add take their index there.
  for (int t = (n > 0 ? n : 0) + 1; t <= kMaxPairs; ++t)
    m_tables.slotMap[t] = 0;
  // A thread that cannot be created leaves its slot RELAY_STOPPED; the other
  // pairs still start.
  for (int i = 1; i <= n; ++i)
    StartSectionRelay(m_tables, m_store, i, i);
  m_bRunning = true;
  m_view.EnableButton(MappingButton::Stop, true);
  m_view.EnableButton(MappingButton::Start, false);
  m_view.ShowInTray(true);
}

void MappingController::StopAllRelays() {
  // Every slot a relay was given, rather than 1..Number: the file may have
  // changed by hand since the relays started.
  std::vector<int> slots;
  if (m_bRunning) {
    for (int t = 1; t <= kMaxPairs; ++t) {
      const int k = m_tables.slotMap[t].load();
      if (IsPairIndex(k))
        slots.push_back(k);
    }
  }
  {
    LockGuard guard(g_relayLock);
    for (int k : slots)
      RequestStopLocked(m_tables, k);
  }
  for (;;) {
    std::size_t stopped = 0;
    for (int k : slots) {
      if (m_tables.relayState[k].load() == RELAY_STOPPED)
        ++stopped;
    }
    if (stopped == slots.size())
      break;
    SleepMs(50);
  }
  m_bRunning = false;
  // No relay uses the tables now; the idle slot map lets the count display
  // and the next Add find every section again.
  ResetSlotMap(m_tables);
  m_view.EnableButton(MappingButton::Start, true);
  m_view.EnableButton(MappingButton::Stop, false);
}

}  // namespace vx
