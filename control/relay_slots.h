// Which relay serves which section while relays run.
//
// Slots in use are always the sections 1..N: a relay started for section s
// uses slot s, and a Delete that moves the last pair into a hole moves its
// relay's slot with it. Relay indices only name relays; the relay serving
// section s is the index t with slotMap[t] == s, and an index no relay holds
// has slotMap[t] == 0. Start establishes this (slotMap[i] = i for i <= N, 0
// above), and every command keeps it.
#pragma once

#include "relay/slot_tables.h"
#include "store/mapping_store.h"

namespace vx {

// Table entries are 1..kMaxPairs; anything else names no pair.
inline bool IsPairIndex(int i) {
  return i >= 1 && i <= kMaxPairs;
}

// The relay index serving `section`, or 0 when no relay does.
int RelayIndexOf(const RelaySlotTables& tables, int section);

// An index no relay holds: `preferred` when it is free, else the lowest free
// one; 0 when every index is held.
int FreeRelayIndex(const RelaySlotTables& tables, int preferred);

// Stops every relay serving a section above `count` (the file no longer holds
// those sections), waits for each, and frees its index.
void RetireRelaysAbove(RelaySlotTables& tables, int count);

// Hands slot `section` to relay index `relayIndex` and starts that relay with
// the values stored in the section (ports default -1, at most 15 address
// characters). False if the thread could not be created (the slot then reads
// RELAY_STOPPED).
bool StartSectionRelay(RelaySlotTables& tables, const MappingStore& store, int relayIndex,
                       int section);

// The idle form of the slot map, once no relay runs: slotMap[i] = i.
void ResetSlotMap(RelaySlotTables& tables);

// The count as the commands use it: at most the 127 pairs the tables hold.
inline int ClampPairCount(int n) {
  return n > kMaxPairs ? kMaxPairs : n;
}

// Stop waits of Modify and Delete poll every 100 ms.
inline constexpr unsigned kEditStopPollMs = 100;

}  // namespace vx
