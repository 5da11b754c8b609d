#include "relay/relay_control.h"

#include <cstring>

#include "platform/thread.h"
#include "relay/relay_worker.h"

namespace vx {

namespace {
constexpr unsigned kConfirmPollMs = 50;
constexpr auto kRelaxed = std::memory_order_relaxed;
}  // namespace

void BindStartBlock(RelaySlotTables& tables) {
  g_relayStart.slotMap = tables.slotMap;
  g_relayStart.relayState = tables.relayState;
  g_relayStart.connectionCount = tables.connectionCount;
  g_relayStart.ackPending = tables.ackPending;
}

void FillStartBlock(int relayIndex, const RelayEndpoint& endpoint) {
  g_relayStart.relayIndex = relayIndex;
  g_relayStart.localPort = static_cast<std::uint16_t>(endpoint.localPort);
  std::memset(g_relayStart.remoteAddress, 0, sizeof g_relayStart.remoteAddress);
  std::strncpy(g_relayStart.remoteAddress, endpoint.remoteAddress.c_str(),
               sizeof g_relayStart.remoteAddress - 1);
  g_relayStart.remotePort = static_cast<std::uint16_t>(endpoint.remotePort);
}

void ConfirmStart(RelaySlotTables& tables, int relayIndex) {
  for (;;) {
    {
      LockGuard guard(g_relayLock);
      const int slot = tables.slotMap[relayIndex].load(kRelaxed);
      if (tables.relayState[slot].load(kRelaxed) != RELAY_STOP) {
        tables.relayState[slot].store(RELAY_STOPPED, kRelaxed);
        // Until the relay answers, the -1 does not mean "ended".
        tables.ackPending[slot].store(1, kRelaxed);
        return;
      }
    }
    SleepMs(kConfirmPollMs);
  }
}

bool StartOneRelay(RelaySlotTables& tables, int relayIndex, const RelayEndpoint& endpoint) {
  FillStartBlock(relayIndex, endpoint);
  if (!StartThread(RelayWorker, &g_relayStart)) {
    LockGuard guard(g_relayLock);
    tables.relayState[tables.slotMap[relayIndex].load(kRelaxed)].store(RELAY_STOPPED, kRelaxed);
    return false;
  }
  ConfirmStart(tables, relayIndex);
  return true;
}

void RequestStopLocked(RelaySlotTables& tables, int slot) {
  if (tables.relayState[slot].load(kRelaxed) != RELAY_STOPPED ||
      tables.ackPending[slot].load(kRelaxed) != 0) {
    tables.relayState[slot].store(RELAY_STOP, kRelaxed);
  }
}

void RequestStop(RelaySlotTables& tables, int slot) {
  LockGuard guard(g_relayLock);
  RequestStopLocked(tables, slot);
}

void WaitStopped(RelaySlotTables& tables, int slot, unsigned pollMs) {
  for (;;) {
    {
      LockGuard guard(g_relayLock);
      if (tables.relayState[slot].load(kRelaxed) == RELAY_STOPPED &&
          tables.ackPending[slot].load(kRelaxed) == 0) {
        return;
      }
    }
    SleepMs(pollMs);
  }
}

}  // namespace vx
