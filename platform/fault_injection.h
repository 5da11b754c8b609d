// Test seam: makes chosen platform calls fail with a chosen Windows Sockets
// code, shortens sends, fails the Nth allocation or a thread start. Used only
// for failures real loopback cannot produce. While nothing is armed every
// wrapped call pays one predictable branch on a relaxed atomic load.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/socket.h"

namespace vx::fault {

enum class Call {
  kStartup,       // Startup: fails with `code` as WSAStartup's result
  kListenSocket,  // CreateListenSocket
  kStreamSocket,  // CreateStreamSocket
  kBind,
  kListen,
  kNonBlocking,  // SetNonBlocking
  kConnect,
  kAccept,
  kSend,  // with code 0 and maxBytes > 0: a short write instead of a failure
  kRecv,
  kWait,    // WaitForSockets; the socket matched is the first of the read set
  kAlloc,   // AllocZeroed returns null
  kThread,  // StartThread returns false
  kCleanup  // Cleanup: never fails; a rule only counts the calls
};

struct Rule {
  Call call = Call::kSend;
  int code = 0;                // Windows Sockets code to report; 0 = no failure
  int skip = 0;                // matching calls let through before the rule fires
  int times = 1;               // how often it fires; -1 = until cleared
  std::uint32_t maxBytes = 0;  // kSend: cap the length passed to the real call
  // Optional filters on the socket the call is made on (0 = any).
  std::uint16_t localPort = 0;
  std::uint16_t peerPort = 0;
};

void Arm(const Rule& rule);
// Removes every rule.
void Clear();
// How often rules for `call` have fired since the last Clear.
int Fired(Call call);

// --- used by the platform layer ---
extern std::atomic<bool> g_armed;
inline bool Armed() {
  return g_armed.load(std::memory_order_relaxed);
}
// Returns the code to fail with (0: make the real call). May lower *len.
int Check(Call call, net::Socket s = net::kInvalidSocket, std::uint32_t* len = nullptr);

}  // namespace vx::fault
