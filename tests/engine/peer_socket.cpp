#include "tests/engine/peer_socket.h"

#include <future>

namespace vx::test {

tcp::endpoint Local4(std::uint16_t port) {
  return tcp::endpoint(asio::ip::address_v4::loopback(), port);
}

// --- PeerSocket ---

PeerSocket::PeerSocket() : m_socket(m_context) {}

PeerSocket::~PeerSocket() {
  asio::error_code ignored;
  m_socket.close(ignored);
}

bool PeerSocket::RunUntil(const bool& done, Ms timeout) {
  m_context.restart();
  auto deadline = std::chrono::steady_clock::now() + Scaled(timeout);
  while (!done && std::chrono::steady_clock::now() < deadline)
    m_context.run_one_until(deadline);
  if (done)
    return true;
  asio::error_code ignored;
  m_socket.cancel(ignored);
  m_context.restart();
  m_context.run();
  return false;
}

bool PeerSocket::Connect(const tcp::endpoint& to, Ms timeout) {
  bool done = false;
  asio::error_code result;
  m_socket.async_connect(to, [&](const asio::error_code& ec) {
    result = ec;
    done = true;
  });
  if (!RunUntil(done, timeout) || result) {
    asio::error_code ignored;
    m_socket.close(ignored);
    return false;
  }
  // Sends at once, so any wait for a delayed acknowledgement is the relay's.
  asio::error_code ignored;
  m_socket.set_option(tcp::no_delay(true), ignored);
  return true;
}

bool PeerSocket::Send(const std::string& data, Ms timeout) {
  bool done = false;
  asio::error_code result;
  asio::async_write(m_socket, asio::buffer(data), [&](const asio::error_code& ec, std::size_t) {
    result = ec;
    done = true;
  });
  return RunUntil(done, timeout) && !result;
}

bool PeerSocket::Receive(std::size_t n, std::string* out, Ms timeout) {
  out->assign(n, '\0');
  bool done = false;
  asio::error_code result;
  asio::async_read(m_socket, asio::buffer(&(*out)[0], n),
                   [&](const asio::error_code& ec, std::size_t) {
                     result = ec;
                     done = true;
                   });
  return RunUntil(done, timeout) && !result;
}

PeerEnd PeerSocket::ReadToEnd(std::string* rest, Ms timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buf[65536];
  while (true) {
    auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return PeerEnd::kOpen;
    bool done = false;
    asio::error_code result;
    std::size_t got = 0;
    m_socket.async_read_some(asio::buffer(buf), [&](const asio::error_code& ec, std::size_t n) {
      result = ec;
      got = n;
      done = true;
    });
    if (!RunUntil(done, left))
      return PeerEnd::kOpen;
    if (rest != nullptr)
      rest->append(buf, got);
    if (result == asio::error::eof)
      return PeerEnd::kEof;
    if (result)
      return PeerEnd::kReset;
  }
}

bool PeerSocket::StaysQuiet(Ms period) {
  char c;
  bool done = false;
  m_socket.async_read_some(asio::buffer(&c, 1),
                           [&](const asio::error_code&, std::size_t) { done = true; });
  m_context.restart();
  m_context.run_for(period);
  if (done)
    return false;
  asio::error_code ignored;
  m_socket.cancel(ignored);
  m_context.restart();
  m_context.run();
  return true;
}

void PeerSocket::ShutdownSend() {
  asio::error_code ignored;
  m_socket.shutdown(tcp::socket::shutdown_send, ignored);
}

void PeerSocket::Reset() {
  asio::error_code ignored;
  m_socket.set_option(asio::socket_base::linger(true, 0), ignored);
  m_socket.close(ignored);
}

// --- ScriptedBackend ---

struct ScriptedBackend::Conn {
  explicit Conn(tcp::socket s) : socket(std::move(s)) {}
  tcp::socket socket;
  char buffer[65536];
  std::string flood;
  std::string received;          // under the backend's mutex
  PeerEnd end = PeerEnd::kOpen;  // under the backend's mutex
  std::atomic<std::uint64_t> flooded{0};
  int writing = 0;  // Send()s still in progress (backend thread only)
  bool shutdownAfterWrites = false;
};

ScriptedBackend::ScriptedBackend(Mode mode, const tcp::endpoint& at)
    : m_mode(mode), m_acceptor(m_context) {
  m_acceptor.open(at.protocol());
  m_acceptor.bind(at);
  m_acceptor.listen(tcp::acceptor::max_listen_connections);
  m_port = m_acceptor.local_endpoint().port();
  Accept();
  m_thread = std::thread([this] { m_context.run(); });
}

ScriptedBackend::~ScriptedBackend() {
  m_context.stop();
  m_thread.join();
}

template <typename F>
void ScriptedBackend::OnThread(F f) {
  std::promise<void> finished;
  auto done = finished.get_future();
  asio::post(m_context, [&] {
    f();
    finished.set_value();
  });
  done.wait();
}

void ScriptedBackend::Accept() {
  m_acceptor.async_accept([this](const asio::error_code& ec, tcp::socket s) {
    if (ec)
      return;
    asio::error_code ignored;
    s.set_option(tcp::no_delay(true), ignored);
    auto c = std::make_shared<Conn>(std::move(s));
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_conns.push_back(c);
    }
    m_accepted.fetch_add(1);
    ReadMore(c);
    if (m_mode == kFlood) {
      c->flood = Pattern(65536, 99);
      FloodMore(c);
    }
    Accept();
  });
}

void ScriptedBackend::ReadMore(const std::shared_ptr<Conn>& c) {
  c->socket.async_read_some(
      asio::buffer(c->buffer), [this, c](const asio::error_code& ec, std::size_t n) {
        if (ec == asio::error::operation_aborted)
          return;
        if (ec) {
          std::lock_guard<std::mutex> lock(m_mutex);
          if (c->end == PeerEnd::kOpen)
            c->end = ec == asio::error::eof ? PeerEnd::kEof : PeerEnd::kReset;
          return;
        }
        {
          std::lock_guard<std::mutex> lock(m_mutex);
          c->received.append(c->buffer, n);
        }
        if (m_mode != kEcho) {
          ReadMore(c);
          return;
        }
        asio::async_write(c->socket, asio::buffer(c->buffer, n),
                          [this, c](const asio::error_code& wec, std::size_t) {
                            if (!wec)
                              ReadMore(c);
                          });
      });
}

void ScriptedBackend::FloodMore(const std::shared_ptr<Conn>& c) {
  asio::async_write(c->socket, asio::buffer(c->flood),
                    [this, c](const asio::error_code& ec, std::size_t n) {
                      c->flooded.fetch_add(n);
                      if (!ec)
                        FloodMore(c);
                    });
}

::testing::AssertionResult ScriptedBackend::WaitAccepted(int n, Ms timeout) const {
  return WaitFor(
      [&] { return m_accepted.load() >= n; }, timeout,
      std::to_string(n) + " connections accepted by the backend on port " + std::to_string(m_port));
}

std::string ScriptedBackend::Received(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return i < static_cast<int>(m_conns.size()) ? m_conns[i]->received : std::string();
}

::testing::AssertionResult ScriptedBackend::WaitReceived(int i, std::size_t n, Ms timeout) {
  return WaitFor([&] { return Received(i).size() >= n; }, timeout,
                 std::to_string(n) + " bytes on backend connection " + std::to_string(i));
}

PeerEnd ScriptedBackend::End(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return i < static_cast<int>(m_conns.size()) ? m_conns[i]->end : PeerEnd::kOpen;
}

::testing::AssertionResult ScriptedBackend::WaitEnd(int i, PeerEnd end, Ms timeout) {
  return WaitFor([&] { return End(i) == end; }, timeout,
                 "backend connection " + std::to_string(i) + " to end by " +
                     (end == PeerEnd::kEof     ? "EOF"
                      : end == PeerEnd::kReset ? "reset"
                                               : "staying open"));
}

std::uint64_t ScriptedBackend::Flooded(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return i < static_cast<int>(m_conns.size()) ? m_conns[i]->flooded.load() : 0;
}

void ScriptedBackend::Send(int i, const std::string& data) {
  std::shared_ptr<Conn> c;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    c = m_conns.at(i);
  }
  auto copy = std::make_shared<std::string>(data);
  OnThread([&] {
    ++c->writing;
    asio::async_write(c->socket, asio::buffer(*copy),
                      [c, copy](const asio::error_code&, std::size_t) {
                        if (--c->writing == 0 && c->shutdownAfterWrites) {
                          asio::error_code ignored;
                          c->socket.shutdown(tcp::socket::shutdown_send, ignored);
                        }
                      });
  });
}

void ScriptedBackend::ShutdownSend(int i) {
  std::shared_ptr<Conn> c;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    c = m_conns.at(i);
  }
  OnThread([&] {
    // After what Send() has handed over, as a program's own writes would be.
    if (c->writing > 0) {
      c->shutdownAfterWrites = true;
      return;
    }
    asio::error_code ignored;
    c->socket.shutdown(tcp::socket::shutdown_send, ignored);
  });
}

void ScriptedBackend::Reset(int i) {
  std::shared_ptr<Conn> c;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    c = m_conns.at(i);
  }
  OnThread([&] {
    asio::error_code ignored;
    c->socket.set_option(asio::socket_base::linger(true, 0), ignored);
    c->socket.close(ignored);
  });
}

// --- SilentRemote ---

SilentRemote::SilentRemote() : m_acceptor(m_context) {
  m_acceptor.open(tcp::v4());
  m_acceptor.bind(Local4(0));
  m_acceptor.listen(0);
  m_port = m_acceptor.local_endpoint().port();
  // Connections that complete fill the queue; the first one left unanswered
  // shows it is full.
  for (int k = 0; k < 16; ++k) {
    auto filler = std::make_unique<PeerSocket>();
    if (!filler->Connect(Local4(m_port), Ms(300)))
      break;
    m_fillers.push_back(std::move(filler));
  }
}

bool SilentRemote::DropsSyns(Ms probe) {
  PeerSocket p;
  return !p.Connect(Local4(m_port), probe);
}

// --- RecordingEvents ---

void RecordingEvents::Add(const std::string& line) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_lines.push_back(line);
}

void RecordingEvents::RelayMessage(LogLevel, const std::string& text) {
  Add("relay " + text);
}
void RecordingEvents::ConnectionOpened(std::uint16_t localPort, const std::string& peer) {
  Add("opened " + std::to_string(localPort) + " " + peer);
}
void RecordingEvents::ConnectionClosed(std::uint16_t localPort, const std::string& peer) {
  Add("closed " + std::to_string(localPort) + " " + peer);
}
void RecordingEvents::ConnectionLimitReached(std::uint16_t localPort, int limit) {
  Add("limit " + std::to_string(localPort) + " " + std::to_string(limit));
}
void RecordingEvents::ConnectionLimitBurstEnded(std::uint16_t localPort,
                                                unsigned long long refused) {
  Add("burst " + std::to_string(localPort) + " " + std::to_string(refused));
}
void RecordingEvents::NameUnresolved(std::uint16_t localPort, const std::string& name, int code) {
  Add("unresolved " + std::to_string(localPort) + " " + name + " " + std::to_string(code));
}
void RecordingEvents::DescriptorsAvailableAgain(std::uint16_t localPort,
                                                unsigned long long failures) {
  Add("descriptors " + std::to_string(localPort) + " " + std::to_string(failures));
}

std::vector<std::string> RecordingEvents::Lines() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lines;
}

int RecordingEvents::Count(const std::string& text) {
  std::lock_guard<std::mutex> lock(m_mutex);
  int n = 0;
  for (const std::string& l : m_lines) {
    if (l.find(text) != std::string::npos)
      ++n;
  }
  return n;
}

::testing::AssertionResult RecordingEvents::WaitCount(const std::string& text, int n, Ms timeout) {
  return WaitFor([&] { return Count(text) >= n; }, timeout,
                 std::to_string(n) + " engine events with \"" + text + "\"");
}

}  // namespace vx::test
