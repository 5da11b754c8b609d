#include "relay/slot_tables.h"

namespace vx {

// Constant-initialised and trivially destructible: valid before any
// constructor runs and after every destructor, for relays that outlive main.
RelayStartBlock g_relayStart;
Lock g_relayLock;

void RelaySlotTables::Initialise() {
  for (int i = 0; i < kSlotCount; ++i) {
    slotMap[i].store(i, std::memory_order_relaxed);
    relayState[i].store(RELAY_RUNNING, std::memory_order_relaxed);
    connectionCount[i].store(0, std::memory_order_relaxed);
    ackPending[i].store(0, std::memory_order_relaxed);
  }
}

void MoveSlotLocked(RelaySlotTables& tables, int from, int to) {
  if (from == to)
    return;
  tables.relayState[to].store(tables.relayState[from].load(std::memory_order_relaxed),
                              std::memory_order_relaxed);
  tables.connectionCount[to].store(tables.connectionCount[from].load(std::memory_order_relaxed),
                                   std::memory_order_relaxed);
  tables.ackPending[to].store(tables.ackPending[from].load(std::memory_order_relaxed),
                              std::memory_order_relaxed);
  tables.connectionCount[from].store(0, std::memory_order_relaxed);
  tables.ackPending[from].store(0, std::memory_order_relaxed);
}

}  // namespace vx
