#include "relay/relay_worker.h"

#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/alert.h"
#include "platform/socket.h"
#include "platform/socket_set.h"
#include "platform/thread.h"
#include "relay/connection_table.h"
#include "relay/relay_messages.h"
#include "relay/slot_tables.h"

namespace vx {

namespace {

constexpr int kWaitMs = 1000;
// After a failure for want of descriptors or buffers the waiting client stays
// queued and the listener readable: the listener rests this long, so that the
// loop does not spin and reports at most once a second.
constexpr std::chrono::milliseconds kExhaustedRest{1000};
constexpr unsigned kHandOverPollMs = 50;
constexpr int kBacklog = 5;
constexpr auto kRelaxed = std::memory_order_relaxed;

using Entry = std::atomic<std::int32_t>;

bool HasPendingData(const ConnectionRecord* r) {
  return r->bytesSent < r->bytesHeld;
}

// WSAEMFILE (EMFILE, ENFILE) and WSAENOBUFS: nothing to do but wait.
bool OutOfResources(int code) {
  return code == net::kErrTooManyFiles || code == net::kErrNoBuffers;
}

using Clock = std::chrono::steady_clock;

class Relay {
 public:
  explicit Relay(const RelayStartBlock& block);
  unsigned Run();

 private:
  // The relay's side of the start hand-over. False: a stop request arrived
  // right after the acknowledgement, and the relay has ended.
  bool HandOver();
  unsigned FailStartup();
  unsigned Serve();
  void BuildSets();
  void TakeConnection();
  void TurnAway();
  void TransferScan();
  void RemovePair(int even);
  void EndServing();
  // A socket or accept failure: reported, unless the listener is resting
  // after such a failure already; one for want of resources rests it.
  void SocketFailure(const char* format, int code);
  bool ListenerResting() const { return Clock::now() < m_restUntil; }
  int WaitMs() const;

  bool StopRequested();
  void AddToCount(int delta);
  void Alert(const char* format, int code = 0) {
    RaiseRelayAlert(FormatRelayMessage(format, m_localPort, code));
  }
  static AlertSink* EventSink() {
    AlertSink* sink = CurrentAlertSink();
    return sink != nullptr && sink->WantsConnectionEvents() ? sink : nullptr;
  }

  std::uint16_t m_localPort;
  Entry* m_slotMap;
  Entry* m_relayState;
  Entry* m_connectionCount;
  Entry* m_ackPending;
  std::int32_t m_relayIndex;
  net::SocketAddress m_listenAddress;
  net::SocketAddress m_remoteAddress;

  net::UniqueSocket m_listener;
  ConnectionTable m_table;
  net::SocketSet m_read;
  net::SocketSet m_write;
  int m_ready = 0;
  Clock::time_point m_restUntil{};
};

Relay::Relay(const RelayStartBlock& block)
    : m_localPort(block.localPort),
      m_slotMap(block.slotMap),
      m_relayState(block.relayState),
      m_connectionCount(block.connectionCount),
      m_ackPending(block.ackPending),
      m_relayIndex(block.relayIndex) {
  char text[sizeof block.remoteAddress];
  for (std::size_t i = 0; i < sizeof text; ++i)
    text[i] = block.remoteAddress[i];
  text[sizeof text - 1] = '\0';
  m_listenAddress = net::SocketAddress{net::kInaddrAny, block.localPort};
  m_remoteAddress = net::SocketAddress{net::InetAddr(text), block.remotePort};
}

bool Relay::HandOver() {
  {
    LockGuard guard(g_relayLock);
    m_relayState[m_slotMap[m_relayIndex].load(kRelaxed)].store(RELAY_RUNNING, kRelaxed);
  }
  // From here on the start block may be reused.
  for (;;) {
    {
      LockGuard guard(g_relayLock);
      const int slot = m_slotMap[m_relayIndex].load(kRelaxed);
      const std::int32_t state = m_relayState[slot].load(kRelaxed);
      if (state == RELAY_STOPPED || state == RELAY_STOP) {
        if (m_ackPending != nullptr)
          m_ackPending[slot].store(0, kRelaxed);
        if (state == RELAY_STOPPED) {
          m_relayState[slot].store(RELAY_RUNNING, kRelaxed);
          return true;
        }
        // Stopped between the acknowledgement and now: nothing is open yet.
        m_relayState[slot].store(RELAY_STOPPED, kRelaxed);
        m_connectionCount[slot].store(0, kRelaxed);
        return false;
      }
    }
    SleepMs(kHandOverPollMs);
  }
}

unsigned Relay::Run() {
  if (!HandOver())
    return kRelayEnded;

  if (int code = net::Startup()) {
    Alert(kMsgStartupFailed, code);
    return FailStartup();  // nothing to release: Windows Sockets never started
  }
  m_listener.Reset(net::CreateListenSocket());
  if (!m_listener.Valid()) {
    const int code = net::LastSocketError();
    Alert(kMsgListenSocketFailed, code);
    net::Cleanup();
    return FailStartup();
  }
  if (net::Bind(m_listener.Get(), m_listenAddress) != 0) {
    Alert(kMsgPortInUse);
  } else if (net::Listen(m_listener.Get(), kBacklog) != 0) {
    Alert(kMsgListenFailed, net::LastSocketError());
  } else if (net::SetNonBlocking(m_listener.Get()) == 0) {
    return Serve();
  }
  // The message first, then the releases, then the stopped state.
  m_listener.Reset();
  net::Cleanup();
  return FailStartup();
}

// After the message and the releases: stopped, the count left alone.
unsigned Relay::FailStartup() {
  LockGuard guard(g_relayLock);
  m_relayState[m_slotMap[m_relayIndex].load(kRelaxed)].store(RELAY_STOPPED, kRelaxed);
  return kRelayStartupFailed;
}

unsigned Relay::Serve() {
  for (;;) {
    BuildSets();
    const int ready = net::WaitForSockets(&m_read, &m_write, WaitMs());
    if (ready == net::kSocketError) {
      Alert(kMsgSelectFailed, net::LastSocketError());
      EndServing();
      return kRelayEnded;
    }
    m_ready = ready;
    if (StopRequested()) {
      EndServing();
      return kRelayEnded;
    }
    if (m_read.Contains(m_listener.Get()))
      TakeConnection();
    if (m_ready > 0)
      TransferScan();
  }
}

// A pair is read only while both of its buffers are empty; otherwise only its
// sides with pending data are watched, for writing.
void Relay::BuildSets() {
  m_write.Clear();
  m_read.Clear();
  if (!ListenerResting())
    m_read.Add(m_listener.Get());
  for (int i = 0; i < m_table.count; i += 2) {
    const ConnectionRecord* client = m_table.records[i];
    const ConnectionRecord* server = m_table.records[i + 1];
    if (HasPendingData(client)) {
      m_write.Add(client->sock);
      if (HasPendingData(server))
        m_write.Add(server->sock);
    } else if (HasPendingData(server)) {
      m_write.Add(server->sock);
    } else {
      m_read.Add(server->sock);
      m_read.Add(client->sock);
    }
  }
}

void Relay::TakeConnection() {
  if (m_table.count >= MAX_CONNECTION_RECORDS) {
    // Full: take the client off the backlog (so the listener does not stay
    // readable) and close it, without an outbound connection.
    --m_ready;
    TurnAway();
    return;
  }
  const net::Socket server = net::CreateStreamSocket();
  if (server == net::kInvalidSocket) {
    SocketFailure(kMsgServerSocketFailed, net::LastSocketError());
    --m_ready;
    TurnAway();
    return;
  }
  // Connect before accepting: the client waits in the backlog meanwhile.
  const bool connected = net::Connect(server, m_remoteAddress) == 0;
  if (!connected)
    Alert(kMsgConnectFailed, net::LastSocketError());
  --m_ready;
  const net::Socket client = net::Accept(m_listener.Get());
  if (client == net::kInvalidSocket) {
    const int code = net::LastSocketError();
    if (code != net::kErrWouldBlock)
      SocketFailure(kMsgAcceptFailed, code);
    net::Close(server);
    return;
  }
  if (net::SetNonBlocking(client) != 0 || AddConnectionPair(client, server, &m_table) == 0) {
    net::Close(client);
    net::Close(server);
    return;
  }
  // Small writes go out at once: a reply that spans more than one buffer
  // would otherwise wait for the peer's delayed acknowledgement.
  net::SetNoDelay(client);
  if (connected)
    net::SetNoDelay(server);
  AddToCount(1);
  if (AlertSink* sink = EventSink()) {
    ConnectionRecord* record = m_table.records[m_table.count - 2];
    net::PeerAddress(client, &record->peer);
    sink->ConnectionOpened(m_localPort, record->peer);
  }
  // A pair without an outbound connection can never deliver a byte, and
  // Windows never reports its unconnected socket ready: left in the table it
  // would hold its place (and the client) for as long as the relay runs.
  if (!connected)
    RemovePair(m_table.count - 2);
}

void Relay::RemovePair(int even) {
  if (AlertSink* sink = EventSink()) {
    sink->ConnectionClosed(m_localPort, m_table.records[even]->peer);
  }
  RemoveConnectionPair(even, &m_table);
  AddToCount(-1);
}

void Relay::TurnAway() {
  const net::Socket client = net::Accept(m_listener.Get());
  if (client == net::kInvalidSocket) {
    const int code = net::LastSocketError();
    if (code != net::kErrWouldBlock)
      SocketFailure(kMsgAcceptFailed, code);
    return;
  }
  net::Close(client);
}

void Relay::SocketFailure(const char* format, int code) {
  if (!OutOfResources(code)) {
    Alert(format, code);
    return;
  }
  if (ListenerResting())
    return;  // reported in this pass already
  Alert(format, code);
  // From when the report returns: in the window, from when the box is closed.
  m_restUntil = Clock::now() + kExhaustedRest;
}

// While the listener rests the wait ends when the rest does, so that the
// listener is watched again on time.
int Relay::WaitMs() const {
  if (!ListenerResting())
    return kWaitMs;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(m_restUntil - Clock::now()).count() + 1;
  return left < kWaitMs ? static_cast<int>(left) : kWaitMs;
}

void Relay::TransferScan() {
  int r = 0;
  while (r < m_table.count) {
    ConnectionRecord* record = m_table.records[r];
    bool remove = false;
    bool examined = false;  // the send hit WSAEWOULDBLOCK: skip the receive
    if (m_write.Contains(record->sock)) {
      --m_ready;
      record->wsaBuf.buf = record->buffer + record->bytesSent;
      record->wsaBuf.len = record->bytesHeld - record->bytesSent;
      std::uint32_t sent = 0;
      if (net::Send(record->sock, record->wsaBuf.buf, record->wsaBuf.len, &sent) != 0) {
        if (net::LastSocketError() == net::kErrWouldBlock) {
          examined = true;
        } else {
          remove = true;
        }
      } else {
        record->bytesSent += sent;
        if (record->bytesSent == record->bytesHeld)
          record->bytesSent = record->bytesHeld = 0;
      }
    }
    if (!remove && !examined && m_read.Contains(record->sock)) {
      --m_ready;
      ConnectionRecord* partner = m_table.records[r ^ 1];
      if (partner->bytesHeld == 0) {
        partner->wsaBuf.buf = partner->buffer;
        partner->wsaBuf.len = CONNECTION_BUFFER_SIZE;
        std::uint32_t received = 0;
        if (net::Recv(record->sock, partner->wsaBuf.buf, partner->wsaBuf.len, &received) != 0) {
          remove = net::LastSocketError() != net::kErrWouldBlock;
        } else {
          partner->bytesHeld = received;
          remove = received == 0;  // the peer has closed: no half-close
        }
      }
    }
    if (remove) {
      // The table's last pair moves into these entries: examine them again.
      const int even = r & ~1;
      RemovePair(even);
      r = even;
    } else {
      ++r;
    }
    if (m_ready <= 0)
      return;
  }
}

// Every socket is closed before the stopped state is written: a restart on the
// same port may follow as soon as it is seen.
void Relay::EndServing() {
  m_listener.Reset();
  if (AlertSink* sink = EventSink()) {
    for (int i = 0; i < m_table.count; i += 2) {
      sink->ConnectionClosed(m_localPort, m_table.records[i]->peer);
    }
  }
  CloseAllConnections(&m_table);
  LockGuard guard(g_relayLock);
  const int slot = m_slotMap[m_relayIndex].load(kRelaxed);
  m_relayState[slot].store(RELAY_STOPPED, kRelaxed);
  m_connectionCount[slot].store(0, kRelaxed);
}

bool Relay::StopRequested() {
  LockGuard guard(g_relayLock);
  return m_relayState[m_slotMap[m_relayIndex].load(kRelaxed)].load(kRelaxed) == RELAY_STOP;
}

void Relay::AddToCount(int delta) {
  LockGuard guard(g_relayLock);
  Entry& count = m_connectionCount[m_slotMap[m_relayIndex].load(kRelaxed)];
  count.store(count.load(kRelaxed) + delta, kRelaxed);
}

}  // namespace

unsigned RelayWorker(void* startBlock) {
  Relay relay(*static_cast<const RelayStartBlock*>(startBlock));
  return relay.Run();
}

}  // namespace vx
