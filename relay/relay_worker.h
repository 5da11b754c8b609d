// The relay thread procedure.
#pragma once

namespace vx {

inline constexpr unsigned kRelayStartupFailed = 0xFFFFFFFFu;  // -1
inline constexpr unsigned kRelayEnded = 1;

// `startBlock` points at g_relayStart (a RelayStartBlock). Returns
// kRelayStartupFailed when start-up failed, kRelayEnded otherwise.
unsigned RelayWorker(void* startBlock);

}  // namespace vx
