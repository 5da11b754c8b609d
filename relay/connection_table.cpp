#include "relay/connection_table.h"

#include "platform/alert.h"
#include "platform/memory.h"
#include "relay/relay_messages.h"

namespace vx {

namespace {

void Release(ConnectionRecord* record) {
  net::Close(record->sock);
  FreeBlock(record);
}

}  // namespace

int AddConnectionPair(net::Socket client, net::Socket server, ConnectionTable* table) {
  // Never written past its 64 entries, whatever the caller does.
  if (table->count > MAX_CONNECTION_RECORDS - 2)
    return 0;
  auto* first = static_cast<ConnectionRecord*>(AllocZeroed(sizeof(ConnectionRecord)));
  if (first == nullptr) {
    RaiseRelayAlert(kMsgOutOfMemory);
    return 0;
  }
  auto* second = static_cast<ConnectionRecord*>(AllocZeroed(sizeof(ConnectionRecord)));
  if (second == nullptr) {
    FreeBlock(first);
    RaiseRelayAlert(kMsgOutOfMemory);
    return 0;
  }
  first->sock = client;
  second->sock = server;
  first->bytesSent = first->bytesHeld = 0;
  second->bytesSent = second->bytesHeld = 0;
  table->records[table->count] = first;
  table->records[table->count + 1] = second;
  table->count += 2;
  return 1;
}

void RemoveConnectionPair(int index, ConnectionTable* table) {
  Release(table->records[index]);
  Release(table->records[index + 1]);
  if (table->count >= 2) {
    table->records[index] = table->records[table->count - 2];
    table->records[index + 1] = table->records[table->count - 1];
  }
  if (table->count != 0)
    table->count -= 2;
}

int CloseAllConnections(ConnectionTable* table) {
  for (int i = 0; i < table->count; ++i)
    Release(table->records[i]);
  net::Cleanup();
  return 1;
}

}  // namespace vx
