// The state shared between the user-interface thread and the relays: three
// tables of 128 entries, the single start block, and the lock.
//
// Entries are atomics so that the unlocked reads (the count display, Stop's
// polling) are race-free; every write a live relay may see, and every read that
// decides a protocol step, is still made under g_relayLock.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/lock.h"

namespace vx {

inline constexpr int kSlotCount = 128;  // index 0 belongs to no pair
inline constexpr int kMaxPairs = 127;

enum RelayStateValue : std::int32_t {
  RELAY_STOPPED = -1,
  RELAY_STOP = 0,
  RELAY_RUNNING = 1,
};

using SlotTable = std::atomic<std::int32_t>[kSlotCount];

struct RelaySlotTables {
  SlotTable slotMap;          // relay index t -> slot k (0: no relay uses t)
  SlotTable relayState;       // slot k -> state word
  SlotTable connectionCount;  // slot k -> live connection pairs
  // slot k -> 1 while a relay has been acknowledged but has not yet written
  // its second RELAY_RUNNING; lets a stop request in that window reach it.
  SlotTable ackPending;

  // The start values: slotMap[i] = i, relayState[i] = 1, connectionCount[i] = 0.
  void Initialise();
};

struct RelayStartBlock {
  std::uint16_t localPort = 0;
  std::uint16_t remotePort = 0;
  std::atomic<std::int32_t>* slotMap = nullptr;
  std::atomic<std::int32_t>* relayState = nullptr;
  std::atomic<std::int32_t>* connectionCount = nullptr;
  std::atomic<std::int32_t>* ackPending = nullptr;
  std::int32_t relayIndex = 0;
  char remoteAddress[16] = {};
};

// Moves the relay using slot `from` to slot `to`: its state word, its count
// and its hand-over flag go to `to`; `from` is left with count 0 and no flag.
// The caller holds g_relayLock and rewrites slotMap itself.
void MoveSlotLocked(RelaySlotTables& tables, int from, int to);

// Both live for the whole process and are never destroyed, so relays that
// outlive the window (or main) still find them valid.
extern RelayStartBlock g_relayStart;
extern Lock g_relayLock;

}  // namespace vx
