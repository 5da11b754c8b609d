#include "control/relay_slots.h"

#include <vector>

#include "relay/relay_control.h"

namespace vx {

int RelayIndexOf(const RelaySlotTables& tables, int section) {
  if (!IsPairIndex(section))
    return 0;
  // Prefer the unmoved index: it is the usual case.
  if (tables.slotMap[section].load() == section)
    return section;
  for (int t = 1; t <= kMaxPairs; ++t) {
    if (tables.slotMap[t].load() == section)
      return t;
  }
  return 0;
}

int FreeRelayIndex(const RelaySlotTables& tables, int preferred) {
  if (IsPairIndex(preferred) && tables.slotMap[preferred].load() == 0)
    return preferred;
  for (int t = 1; t <= kMaxPairs; ++t) {
    if (tables.slotMap[t].load() == 0)
      return t;
  }
  return 0;
}

void RetireRelaysAbove(RelaySlotTables& tables, int count) {
  if (count < 0)
    count = 0;
  std::vector<int> indices;
  for (int t = 1; t <= kMaxPairs; ++t) {
    const int k = tables.slotMap[t].load();
    if (k > count && IsPairIndex(k))
      indices.push_back(t);
  }
  if (indices.empty())
    return;
  {
    LockGuard guard(g_relayLock);
    for (int t : indices)
      RequestStopLocked(tables, tables.slotMap[t].load());
  }
  for (int t : indices) {
    WaitStopped(tables, tables.slotMap[t].load(), kEditStopPollMs);
    LockGuard guard(g_relayLock);
    tables.slotMap[t] = 0;
  }
}

bool StartSectionRelay(RelaySlotTables& tables, const MappingStore& store, int relayIndex,
                       int section) {
  if (!IsPairIndex(relayIndex) || !IsPairIndex(section))
    return false;
  {
    LockGuard guard(g_relayLock);
    tables.slotMap[relayIndex] = section;
    tables.relayState[section] = RELAY_STOP;
  }
  const StoredMapping stored = store.ReadMappingEntry(section, -1, 16);
  RelayEndpoint endpoint;
  endpoint.localPort = stored.localPort;
  endpoint.remoteAddress = stored.remoteIp;
  endpoint.remotePort = stored.remotePort;
  return StartOneRelay(tables, relayIndex, endpoint);
}

void ResetSlotMap(RelaySlotTables& tables) {
  LockGuard guard(g_relayLock);
  for (int i = 0; i < kSlotCount; ++i)
    tables.slotMap[i] = i;
}

}  // namespace vx
