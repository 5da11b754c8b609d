// The user-interface side of the start hand-over and the stop protocol.
// All of these run on one thread (the one that starts relays).
#pragma once

#include <string>

#include "relay/slot_tables.h"

namespace vx {

// A pair's values as read from its file section for a relay start
// (ports read with default -1, so a missing port arrives as 65535).
struct RelayEndpoint {
  int localPort = -1;
  std::string remoteAddress = "127.0.0.1";
  int remotePort = -1;
};

// Points g_relayStart's table pointers at `tables`.
void BindStartBlock(RelaySlotTables& tables);

// The pieces of StartOneRelay: fill g_relayStart for relay index t, and the
// confirmation wait (poll every 50 ms, then acknowledge). Tests run
// RelayWorker on a thread of their own between the two.
void FillStartBlock(int relayIndex, const RelayEndpoint& endpoint);
void ConfirmStart(RelaySlotTables& tables, int relayIndex);

// Starts one relay with relay index t: fills g_relayStart (ports cut to 16
// bits, at most 15 address characters), starts RelayWorker, and polls
// relayState[slotMap[t]] every 50 ms under g_relayLock until the relay has
// confirmed, then acknowledges. The caller has set that slot to RELAY_STOP.
// If the thread cannot be created the slot is marked RELAY_STOPPED and false
// is returned.
bool StartOneRelay(RelaySlotTables& tables, int relayIndex, const RelayEndpoint& endpoint);

// Request stop of the relay using slot k: RELAY_STOP unless it reads
// RELAY_STOPPED (and no acknowledged relay is still finishing its hand-over).
void RequestStop(RelaySlotTables& tables, int slot);        // takes g_relayLock
void RequestStopLocked(RelaySlotTables& tables, int slot);  // caller holds it

// Polls the slot under g_relayLock every `pollMs` until it reads RELAY_STOPPED.
void WaitStopped(RelaySlotTables& tables, int slot, unsigned pollMs);

}  // namespace vx
