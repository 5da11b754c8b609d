#include "tests/control/test_env.h"

#include <fstream>
#include <random>
#include <sstream>

#include "platform/socket_set.h"
#include "platform/thread.h"

namespace vx::test {

namespace {

void EnsureSockets() {
  static const int started = net::Startup();
  (void)started;
}

net::SocketAddress Loopback(std::uint16_t port) {
  return {net::InetAddr("127.0.0.1"), port};
}

std::mt19937& PortRandom() {
  static std::mt19937 gen(std::random_device{}());
  return gen;
}

}  // namespace

TempDir::TempDir() {
  std::uniform_int_distribution<unsigned> dist;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    m_path = base / ("vexhold-control-" + std::to_string(dist(PortRandom())));
    if (std::filesystem::create_directory(m_path))
      break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::uint16_t PickFreePort() {
  EnsureSockets();
  // Below the ephemeral ranges, so no outbound connection takes the port meanwhile.
  std::uniform_int_distribution<int> dist(20000, 31999);
  for (;;) {
    const auto port = static_cast<std::uint16_t>(dist(PortRandom()));
    net::UniqueSocket s(net::CreateListenSocket());
    if (s.Valid() && net::Bind(s.Get(), {net::kInaddrAny, port}) == 0 &&
        net::Listen(s.Get(), 1) == 0) {
      return port;
    }
  }
}

XorEchoServer::XorEchoServer(std::uint8_t key) : m_key(key) {
  EnsureSockets();
  m_listener.Reset(net::CreateListenSocket());
  net::Bind(m_listener.Get(), Loopback(0));
  net::Listen(m_listener.Get(), 16);
  net::SocketAddress local;
  net::LocalAddress(m_listener.Get(), &local);
  m_port = local.port;
  m_thread = std::thread([this] { Serve(); });
}

XorEchoServer::~XorEchoServer() {
  m_stop = true;
  m_thread.join();
}

void XorEchoServer::Serve() {
  std::vector<net::UniqueSocket> clients;
  char buf[4096];
  while (!m_stop) {
    net::SocketSet readable;
    readable.Add(m_listener.Get());
    for (auto& c : clients)
      readable.Add(c.Get());
    if (net::WaitForSockets(&readable, nullptr, 50) <= 0)
      continue;
    if (readable.Contains(m_listener.Get())) {
      net::UniqueSocket c(net::Accept(m_listener.Get()));
      if (c.Valid() && clients.size() < net::SocketSet::kCapacity - 1) {
        clients.push_back(std::move(c));
      }
    }
    for (std::size_t i = 0; i < clients.size();) {
      bool keep = true;
      if (readable.Contains(clients[i].Get())) {
        std::uint32_t got = 0;
        if (net::Recv(clients[i].Get(), buf, sizeof buf, &got) != 0 || got == 0) {
          keep = false;
        } else {
          for (std::uint32_t j = 0; j < got; ++j)
            buf[j] = static_cast<char>(buf[j] ^ m_key);
          std::uint32_t off = 0;
          while (keep && off < got) {
            std::uint32_t sent = 0;
            if (net::Send(clients[i].Get(), buf + off, got - off, &sent) != 0)
              keep = false;
            off += sent;
          }
        }
      }
      if (keep) {
        ++i;
      } else {
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
}

PortBlocker::PortBlocker(std::uint16_t port) {
  EnsureSockets();
  m_socket.Reset(net::CreateListenSocket());
  if (net::Bind(m_socket.Get(), {net::kInaddrAny, port}) != 0 ||
      net::Listen(m_socket.Get(), 1) != 0) {
    m_socket.Reset();
  }
}

net::UniqueSocket ConnectLoopback(std::uint16_t port) {
  EnsureSockets();
  net::UniqueSocket s(net::CreateStreamSocket());
  if (!s.Valid() || net::Connect(s.Get(), Loopback(port)) != 0)
    return {};
  return s;
}

bool RoundTrip(net::Socket s, const std::string& payload, std::uint8_t key, int timeoutMs) {
  std::uint32_t off = 0;
  while (off < payload.size()) {
    std::uint32_t sent = 0;
    if (net::Send(s, payload.data() + off, static_cast<std::uint32_t>(payload.size()) - off,
                  &sent) != 0) {
      return false;
    }
    off += sent;
  }
  std::string expected = payload;
  for (char& c : expected)
    c = static_cast<char>(c ^ key);
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buf[4096];
  while (got.size() < expected.size()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return false;
    net::SocketSet readable;
    readable.Add(s);
    if (net::WaitForSockets(&readable, nullptr, static_cast<int>(left.count())) <= 0)
      continue;
    std::uint32_t n = 0;
    if (net::Recv(s, buf, sizeof buf, &n) != 0 || n == 0)
      return false;
    got.append(buf, n);
  }
  return got == expected;
}

bool PortRelaysTo(std::uint16_t port, std::uint8_t key, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    net::UniqueSocket s = ConnectLoopback(port);
    if (s.Valid())
      return RoundTrip(s.Get(), "ping " + std::to_string(port), key, timeoutMs);
    SleepMs(20);
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

bool PortRefuses(std::uint16_t port) {
  return !ConnectLoopback(port).Valid();
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    SleepMs(10);
  }
  return true;
}

void RecordingAlertSink::ShowRelayAlert(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_alerts.push_back(text);
}

std::vector<std::string> RecordingAlertSink::Alerts() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_alerts;
}

void RecordingAlertSink::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_alerts.clear();
}

RecordingAlertSink& TestAlerts() {
  static RecordingAlertSink* sink = [] {
    auto* s = new RecordingAlertSink;  // outlives relays that end after main
    SetAlertSink(s);
    return s;
  }();
  return *sink;
}

}  // namespace vx::test
