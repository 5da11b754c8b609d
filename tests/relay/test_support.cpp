#include "test_support.h"

#include <random>

#include "platform/fault_injection.h"
#include "platform/socket_set.h"
#include "relay/relay_worker.h"

namespace vx::test {

namespace {

// The tests' own sockets need Windows Sockets started for the whole run.
class SocketsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(net::Startup(), 0); }
};
const auto* const g_socketsEnvironment =
    ::testing::AddGlobalTestEnvironment(new SocketsEnvironment);

bool WaitReadable(net::Socket s, Ms timeout) {
  net::SocketSet read;
  read.Add(s);
  return net::WaitForSockets(&read, nullptr, static_cast<int>(timeout.count())) > 0;
}

}  // namespace

std::uint32_t Loopback() {
  return net::InetAddr("127.0.0.1");
}

// --- AlertRecorder ---

void AlertRecorder::ShowRelayAlert(const std::string& text) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_texts.push_back(text);
  ++m_held;
  m_changed.notify_all();
  m_changed.wait(lock, [this] { return !m_holding; });
  --m_held;
  m_changed.notify_all();
}

void AlertRecorder::ConnectionOpened(std::uint16_t port, const net::SocketAddress& peer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_events.push_back({true, port, peer});
  m_changed.notify_all();
}

void AlertRecorder::ConnectionClosed(std::uint16_t port, const net::SocketAddress& peer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_events.push_back({false, port, peer});
  m_changed.notify_all();
}

void AlertRecorder::Reset() {
  Release();
  std::lock_guard<std::mutex> lock(m_mutex);
  m_texts.clear();
  m_events.clear();
  m_wantEvents = false;
}

void AlertRecorder::Hold() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_holding = true;
}

void AlertRecorder::Release() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_holding = false;
  m_changed.notify_all();
}

std::vector<std::string> AlertRecorder::Texts() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_texts;
}

std::vector<ConnectionEvent> AlertRecorder::Events() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_events;
}

bool AlertRecorder::WaitForTexts(std::size_t n, Ms timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_texts.size() >= n; });
}

bool AlertRecorder::WaitForEvents(std::size_t n, Ms timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_events.size() >= n; });
}

bool AlertRecorder::WaitHeld(int n, Ms timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return m_held >= n; });
}

int AlertRecorder::Held() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_held;
}

AlertRecorder& Recorder() {
  static AlertRecorder* recorder = new AlertRecorder;
  return *recorder;
}

// --- sockets ---

// Below every system's ephemeral range (Linux 32768-60999, Windows
// 49152-65535): no outbound connection of this or another test process can
// take a port between our check and the relay's bind. Each process starts at
// its own random place in the range.
std::uint16_t FreePort() {
  constexpr int kFirst = 20000;
  constexpr int kSpan = 12000;
  static std::atomic<int> next{static_cast<int>(std::random_device{}() % kSpan)};
  for (int tries = 0; tries < kSpan; ++tries) {
    const auto port = static_cast<std::uint16_t>(kFirst + next.fetch_add(1) % kSpan);
    net::UniqueSocket s(net::CreateListenSocket());
    if (s.Valid() && net::Bind(s.Get(), net::SocketAddress{net::kInaddrAny, port}) == 0 &&
        net::Listen(s.Get(), 1) == 0) {
      return port;
    }
  }
  return 0;
}

net::UniqueSocket ConnectTo(std::uint16_t port, std::uint32_t addr) {
  net::UniqueSocket s(net::CreateStreamSocket());
  if (!s.Valid() || net::Connect(s.Get(), net::SocketAddress{addr, port}) != 0) {
    return net::UniqueSocket();
  }
  return s;
}

net::UniqueSocket ConnectWhenListening(std::uint16_t port, Ms timeout) {
  net::UniqueSocket s;
  WaitUntil(
      [&] {
        s = ConnectTo(port);
        return s.Valid();
      },
      timeout);
  return s;
}

bool SendAll(net::Socket s, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    std::uint32_t sent = 0;
    if (net::Send(s, data.data() + done, static_cast<std::uint32_t>(data.size() - done), &sent) !=
        0) {
      return false;
    }
    done += sent;
  }
  return true;
}

bool RecvExact(net::Socket s, std::size_t n, std::string* out, Ms timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buf[65536];
  while (out->size() < n) {
    auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitReadable(s, left))
      return false;
    std::uint32_t want = static_cast<std::uint32_t>(std::min(sizeof buf, n - out->size()));
    std::uint32_t got = 0;
    if (net::Recv(s, buf, want, &got) != 0) {
      if (net::LastSocketError() == net::kErrWouldBlock)
        continue;
      return false;
    }
    if (got == 0)
      return false;
    out->append(buf, got);
  }
  return true;
}

bool WaitPeerClosed(net::Socket s, Ms timeout, std::string* rest) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buf[65536];
  for (;;) {
    auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !WaitReadable(s, left))
      return false;
    std::uint32_t got = 0;
    if (net::Recv(s, buf, sizeof buf, &got) != 0) {
      if (net::LastSocketError() == net::kErrWouldBlock)
        continue;
      return true;  // reset counts as closed
    }
    if (got == 0)
      return true;
    if (rest != nullptr)
      rest->append(buf, got);
  }
}

bool StaysQuiet(net::Socket s, Ms period) {
  return !WaitReadable(s, period);
}

std::string Pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

// --- TestServer ---

TestServer::TestServer(Mode mode, std::uint32_t bindAddr) : m_mode(mode) {
  m_listener.Reset(net::CreateListenSocket());
  net::SocketAddress local{bindAddr, 0};
  if (!m_listener.Valid() || net::Bind(m_listener.Get(), local) != 0 ||
      net::Listen(m_listener.Get(), 200) != 0 || !net::LocalAddress(m_listener.Get(), &local)) {
    ADD_FAILURE() << "backend could not listen: " << net::LastSocketError();
    return;
  }
  m_port = local.port;
  m_acceptor = std::thread([this] { AcceptLoop(); });
}

TestServer::~TestServer() {
  m_stop = true;
  if (m_acceptor.joinable())
    m_acceptor.join();
  for (auto& c : m_conns) {
    if (c->thread.joinable())
      c->thread.join();
  }
}

void TestServer::AcceptLoop() {
  while (!m_stop) {
    if (!WaitReadable(m_listener.Get(), Ms(20)))
      continue;
    net::Socket s = net::Accept(m_listener.Get());
    if (s == net::kInvalidSocket)
      continue;
    auto conn = std::make_unique<Conn>();
    conn->sock.Reset(s);
    net::LocalAddress(s, &conn->local);
    net::PeerAddress(s, &conn->peer);
    Conn* raw = conn.get();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_conns.push_back(std::move(conn));
    raw->thread = std::thread([this, raw] { ServeLoop(raw); });
    m_changed.notify_all();
  }
}

void TestServer::ServeLoop(Conn* conn) {
  std::vector<char> buf(65536);
  const net::Socket s = conn->sock.Get();
  bool open = true;
  while (!m_stop) {
    if (conn->closeRequested) {
      std::lock_guard<std::mutex> lock(m_mutex);
      conn->sock.Reset();
      conn->closed = true;
      m_changed.notify_all();
      return;
    }
    if (!open) {
      std::this_thread::sleep_for(Ms(5));
      continue;
    }
    if (!WaitReadable(s, Ms(20)))
      continue;
    std::uint32_t got = 0;
    const bool failed = net::Recv(s, buf.data(), static_cast<std::uint32_t>(buf.size()), &got) != 0;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (!failed)
        conn->data.append(buf.data(), got);
      if (failed || got == 0) {
        conn->closed = true;
        open = false;
      }
      m_changed.notify_all();
    }
    // Echo after recording, so whoever sees the echo also sees the record.
    if (open && m_mode == kEcho && !SendAll(s, std::string(buf.data(), got))) {
      std::lock_guard<std::mutex> lock(m_mutex);
      conn->closed = true;
      open = false;
      m_changed.notify_all();
    }
  }
}

int TestServer::Accepted() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(m_conns.size());
}

bool TestServer::WaitAccepted(int n, Ms timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] { return static_cast<int>(m_conns.size()) >= n; });
}

std::string TestServer::Received(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return i < static_cast<int>(m_conns.size()) ? m_conns[i]->data : std::string();
}

bool TestServer::WaitReceived(int i, std::size_t n, Ms timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [&] {
    return i < static_cast<int>(m_conns.size()) && m_conns[i]->data.size() >= n;
  });
}

bool TestServer::PeerClosed(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return i < static_cast<int>(m_conns.size()) && m_conns[i]->closed;
}

bool TestServer::WaitPeerClosed(int i, Ms timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(
      lock, timeout, [&] { return i < static_cast<int>(m_conns.size()) && m_conns[i]->closed; });
}

net::SocketAddress TestServer::LocalOf(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_conns.at(i)->local;
}

net::SocketAddress TestServer::PeerOf(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_conns.at(i)->peer;
}

bool TestServer::SendTo(int i, const std::string& data) {
  net::Socket s;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    s = m_conns.at(i)->sock.Get();
  }
  return SendAll(s, data);
}

void TestServer::CloseConnection(int i) {
  Conn* c;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    c = m_conns.at(i).get();
  }
  // The serving thread closes it: closing under its wait would race.
  c->closeRequested = true;
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait_for(lock, Ms(5000), [&] { return !c->sock.Valid(); });
}

// --- RelayTest ---

RelaySlotTables& RelayTest::Tables() {
  static RelaySlotTables* tables = [] {
    auto* t = new RelaySlotTables;
    t->Initialise();
    return t;
  }();
  return *tables;
}

void RelayTest::SetUp() {
  fault::Clear();
  Recorder().Reset();
  SetAlertSink(&Recorder());
  Tables().Initialise();
  BindStartBlock(Tables());
}

void RelayTest::TearDown() {
  Recorder().Release();
  fault::Clear();
  for (int slot : m_started) {
    EXPECT_TRUE(Stop(slot, Ms(10000))) << "relay " << slot << " did not stop";
  }
}

bool RelayTest::Start(int t, std::uint16_t localPort, std::uint16_t remotePort,
                      const std::string& remoteAddress) {
  Tables().slotMap[t] = t;
  Tables().relayState[t] = RELAY_STOP;
  m_started.push_back(t);
  RelayEndpoint endpoint;
  endpoint.localPort = localPort;
  endpoint.remotePort = remotePort;
  endpoint.remoteAddress = remoteAddress;
  return StartOneRelay(Tables(), t, endpoint);
}

bool RelayTest::WaitCount(int slot, std::int32_t n, Ms timeout) {
  return WaitUntil([&] { return Count(slot) == n; }, timeout);
}

bool RelayTest::WaitListening(std::uint16_t port, Ms timeout) {
  // A rule that fails nothing: it only counts the first wait whose read set
  // starts with a listener on `port`.
  fault::Rule seen{fault::Call::kWait, 0};
  seen.localPort = port;
  const int before = fault::Fired(fault::Call::kWait);
  fault::Arm(seen);
  return WaitUntil([&] { return fault::Fired(fault::Call::kWait) > before; }, timeout);
}

bool RelayTest::IsStopped(int slot) {
  LockGuard guard(g_relayLock);
  return Tables().relayState[slot].load() == RELAY_STOPPED && Tables().ackPending[slot].load() == 0;
}

bool RelayTest::Stop(int slot, Ms timeout) {
  RequestStop(Tables(), slot);
  return WaitUntil([&] { return IsStopped(slot); }, timeout);
}

std::shared_ptr<WorkerRun> RunWorkerDirectly(RelaySlotTables& tables, int t,
                                             const RelayEndpoint& endpoint) {
  tables.slotMap[t] = t;
  tables.relayState[t] = RELAY_STOP;
  FillStartBlock(t, endpoint);
  auto run = std::make_shared<WorkerRun>();
  std::thread([run] {
    run->exitCode = RelayWorker(&g_relayStart);
    run->done = true;
  }).detach();
  ConfirmStart(tables, t);
  return run;
}

}  // namespace vx::test
