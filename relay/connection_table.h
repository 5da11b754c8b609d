// A relay's live connections: two records (client, then server) per pair.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace vx {

inline constexpr int CONNECTION_BUFFER_SIZE = 8192;
inline constexpr int MAX_CONNECTION_RECORDS = 64;

// WSABUF's layout: the buffer handed to the send or receive under way.
struct SocketBuffer {
  std::uint32_t len;
  char* buf;
};

struct ConnectionRecord {
  char buffer[CONNECTION_BUFFER_SIZE];  // bytes waiting to be sent on `sock`
  SocketBuffer wsaBuf;
  net::Socket sock;
  std::uint32_t bytesSent;
  std::uint32_t bytesHeld;
  net::SocketAddress peer;  // client record: the client, for connection events
};

struct ConnectionTable {
  ConnectionRecord* records[MAX_CONNECTION_RECORDS];
  std::int32_t count = 0;
};

// Appends the pair at entries count and count + 1. 0 on failure (after the
// out-of-memory alert, or when the table is full): the table is unchanged and
// the caller still owns both sockets.
int AddConnectionPair(net::Socket client, net::Socket server, ConnectionTable* table);
// `index` is the even entry of a live pair: closes and frees it; the last pair
// takes its entries.
void RemoveConnectionPair(int index, ConnectionTable* table);
// Closes and frees every record, then Cleanup() once. Always 1.
int CloseAllConnections(ConnectionTable* table);

}  // namespace vx
