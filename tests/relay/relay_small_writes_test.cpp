// A relay adds no delay of its own to small writes: a message one byte longer
// than its buffer goes out as a full buffer and a one-byte remainder, and the
// remainder must not wait for the receiver's delayed acknowledgement. Both
// endpoints here send at once themselves (TCP_NODELAY), so any wait is the
// relay's.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "relay/connection_table.h"
#include "tests/relay/relay_fixture.h"

namespace vx::test {
namespace {

constexpr std::size_t kMessage = CONNECTION_BUFFER_SIZE + 1;

// Answers every request of kMessage bytes with a reply of kMessage bytes, in
// one send.
class RequestReplyBackend {
 public:
  RequestReplyBackend() {
    m_listener.Reset(net::CreateStreamSocket());
    net::Bind(m_listener.Get(), net::SocketAddress{Loopback(), 0});
    net::Listen(m_listener.Get(), 4);
    net::SocketAddress local;
    net::LocalAddress(m_listener.Get(), &local);
    m_port = local.port;
    m_thread = std::thread([this] { Serve(); });
  }
  ~RequestReplyBackend() {
    m_stop = true;
    m_thread.join();
  }
  std::uint16_t Port() const { return m_port; }

 private:
  void Serve() {
    net::SetNonBlocking(m_listener.Get());
    net::UniqueSocket conn;
    while (!m_stop && !conn.Valid()) {
      conn.Reset(net::Accept(m_listener.Get()));
      if (!conn.Valid())
        std::this_thread::sleep_for(Ms(2));
    }
    if (!conn.Valid())
      return;
    net::SetNoDelay(conn.Get());
    const std::string reply = Pattern(kMessage, 9);
    while (!m_stop) {
      std::string request;
      if (!RecvExact(conn.Get(), kMessage, &request, Ms(200)))
        continue;
      SendAll(conn.Get(), reply);
    }
  }

  net::UniqueSocket m_listener;
  std::uint16_t m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

using RelaySmallWrites = RelayTest;

TEST_F(RelaySmallWrites, MessagesOneByteLongerThanTheBufferCrossWithoutStalling) {
  RequestReplyBackend backend;
  const std::uint16_t port = FreePort();
  ASSERT_TRUE(Start(1, port, backend.Port()));
  net::UniqueSocket client = ConnectWhenListening(port);
  ASSERT_TRUE(client.Valid());
  net::SetNoDelay(client.Get());
  const std::string request = Pattern(kMessage, 3);
  auto exchange = [&] {
    std::string reply;
    return SendAll(client.Get(), request) && RecvExact(client.Get(), kMessage, &reply) &&
           reply == Pattern(kMessage, 9);
  };
  // Past the first segments, which the receiver acknowledges at once anyway.
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(exchange());
  constexpr int kExchanges = 40;
  std::vector<std::chrono::microseconds> each;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kExchanges; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(exchange()) << i;
    each.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - t0));
  }
  const auto took = std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - start);
  std::sort(each.begin(), each.end());
  const auto median = each[kExchanges / 2];
  std::printf("[ info ] %d exchanges of %zu bytes each way: %lld ms, median %lld us\n", kExchanges,
              kMessage, static_cast<long long>(took.count()),
              static_cast<long long>(median.count()));
  // A remainder held for a delayed acknowledgement costs at least 40 ms on
  // Linux (whose stack Wine uses too) and up to 200 ms on Windows, in every
  // exchange; a loaded machine slows some exchanges, not the typical one.
  EXPECT_LT(median, Ms(25));
}

}  // namespace
}  // namespace vx::test
