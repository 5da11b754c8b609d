#include "tests/support/test_server.h"

#include "tests/support/sockets.h"

namespace vx::test {

TestServer::TestServer(Mode mode, std::uint32_t bindAddr) : m_mode(mode) {
  Listen(bindAddr);
}

TestServer::TestServer(Mode mode, std::uint8_t key, std::string tag)
    : m_mode(mode), m_key(key), m_tag(std::move(tag)) {
  Listen(Loopback());
}

void TestServer::Listen(std::uint32_t bindAddr) {
  EnsureSockets();
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
    // Threads of connections that have ended go, so that thousands of short
    // connections leave no thousands of threads behind.
    for (auto& c : m_conns) {
      if (c->finished && c->thread.joinable())
        c->thread.join();
    }
    m_conns.push_back(std::move(conn));
    raw->thread = std::thread([this, raw] { ServeLoop(raw); });
    m_changed.notify_all();
  }
}

std::string TestServer::ReplyTo(const char* data, std::uint32_t n) const {
  std::string reply(data, n);
  if (m_mode == kXor) {
    for (char& c : reply)
      c = static_cast<char>(c ^ m_key);
  } else if (m_mode == kTagged) {
    reply.insert(0, m_tag);
  }
  return reply;
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
      // The socket stays open until CloseConnection or the end of the server.
      std::lock_guard<std::mutex> lock(m_mutex);
      conn->finished = true;
      m_changed.notify_all();
      return;
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
    // Answer after recording, so whoever sees the answer also sees the record.
    if (open && m_mode != kSink && !SendAll(s, ReplyTo(buf.data(), got))) {
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

::testing::AssertionResult TestServer::WaitAccepted(int n, Ms timeout) {
  const Deadline deadline(timeout);
  std::unique_lock<std::mutex> lock(m_mutex);
  const bool held = m_changed.wait_for(lock, deadline.Left(),
                                       [&] { return static_cast<int>(m_conns.size()) >= n; });
  return WaitOutcome(held, deadline,
                     std::to_string(n) + " connections accepted on port " + std::to_string(m_port) +
                         " (saw " + std::to_string(m_conns.size()) + ")");
}

::testing::AssertionResult TestServer::WaitConn(int i, Ms timeout, const std::string& what,
                                                bool (*held)(const Conn&, std::size_t),
                                                std::size_t n) {
  const Deadline deadline(timeout);
  std::unique_lock<std::mutex> lock(m_mutex);
  const bool ok = m_changed.wait_for(lock, deadline.Left(), [&] {
    return i < static_cast<int>(m_conns.size()) && held(*m_conns[i], n);
  });
  return WaitOutcome(ok, deadline,
                     "connection " + std::to_string(i) + " of the backend on port " +
                         std::to_string(m_port) + ": " + what);
}

std::string TestServer::Received(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return i < static_cast<int>(m_conns.size()) ? m_conns[i]->data : std::string();
}

::testing::AssertionResult TestServer::WaitReceived(int i, std::size_t n, Ms timeout) {
  return WaitConn(
      i, timeout, std::to_string(n) + " bytes received",
      [](const Conn& c, std::size_t want) { return c.data.size() >= want; }, n);
}

bool TestServer::PeerClosed(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return i < static_cast<int>(m_conns.size()) && m_conns[i]->closed;
}

::testing::AssertionResult TestServer::WaitPeerClosed(int i, Ms timeout) {
  return WaitConn(
      i, timeout, "closed by its peer", [](const Conn& c, std::size_t) { return c.closed; }, 0);
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
  std::unique_lock<std::mutex> lock(m_mutex);
  if (c->finished) {
    c->sock.Reset();
    c->closed = true;
    m_changed.notify_all();
    return;
  }
  // The serving thread closes it: closing under its wait would race.
  c->closeRequested = true;
  m_changed.wait_for(lock, Scaled(Ms(5000)),
                     [&] { return !c->sock.Valid() || c->finished.load(); });
  if (c->sock.Valid()) {
    c->sock.Reset();
    c->closed = true;
  }
}

}  // namespace vx::test
