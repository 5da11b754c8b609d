// The connection pair table on real sockets: where records go, what removal
// moves, and the two allocation-failure paths.
#include "tests/relay/relay_fixture.h"

#include "platform/fault_injection.h"
#include "platform/memory.h"
#include "relay/connection_table.h"

namespace vx::test {
namespace {

// Connected loopback sockets: the table gets `near`, the test watches `far`.
struct Link {
  net::UniqueSocket nearEnd;
  net::UniqueSocket farEnd;
};

class ConnectionTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fault::Clear();
    Recorder().Reset();
    SetAlertSink(&Recorder());
    m_listener.Reset(net::CreateListenSocket());
    net::SocketAddress local{Loopback(), 0};
    ASSERT_EQ(net::Bind(m_listener.Get(), local), 0);
    ASSERT_EQ(net::Listen(m_listener.Get(), 100), 0);
    ASSERT_TRUE(net::LocalAddress(m_listener.Get(), &local));
    m_port = local.port;
  }
  void TearDown() override {
    fault::Clear();
    // Release what a test left in the table (its sockets are `near` ends the
    // table owns; the Link objects gave them up).
    for (int i = 0; i < m_table.count; ++i) {
      net::Close(m_table.records[i]->sock);
      FreeBlock(m_table.records[i]);
    }
  }

  Link NewLink() {
    Link link;
    link.farEnd = ConnectTo(m_port);
    link.nearEnd.Reset(net::Accept(m_listener.Get()));
    return link;
  }
  // Adds a pair whose sockets the table then owns; returns the far ends.
  std::pair<Link, Link> AddPair() {
    Link client = NewLink();
    Link server = NewLink();
    EXPECT_EQ(AddConnectionPair(client.nearEnd.Get(), server.nearEnd.Get(), &m_table), 1);
    client.nearEnd.Release();
    server.nearEnd.Release();
    return {std::move(client), std::move(server)};
  }

  ConnectionTable m_table;
  net::UniqueSocket m_listener;
  std::uint16_t m_port = 0;
};

bool IsOpen(const Link& link) {
  return StaysQuiet(link.farEnd.Get(), Ms(50));
}

TEST_F(ConnectionTableTest, AddingToAnEmptyTablePutsClientThenServerWithEmptyBuffers) {
  Link client = NewLink();
  Link server = NewLink();
  ASSERT_EQ(AddConnectionPair(client.nearEnd.Get(), server.nearEnd.Get(), &m_table), 1);
  const net::Socket c = client.nearEnd.Release();
  const net::Socket s = server.nearEnd.Release();
  ASSERT_EQ(m_table.count, 2);
  EXPECT_EQ(m_table.records[0]->sock, c);
  EXPECT_EQ(m_table.records[1]->sock, s);
  for (int i = 0; i < 2; ++i) {
    const ConnectionRecord* r = m_table.records[i];
    EXPECT_EQ(r->bytesSent, 0u);
    EXPECT_EQ(r->bytesHeld, 0u);
    EXPECT_EQ(r->wsaBuf.len, 0u);
    EXPECT_EQ(r->wsaBuf.buf, nullptr);
    EXPECT_EQ(std::string(r->buffer, sizeof r->buffer), std::string(CONNECTION_BUFFER_SIZE, '\0'));
  }
}

TEST_F(ConnectionTableTest, RemovingTheFirstOfThreePairsMovesTheLastPairIntoIt) {
  auto p0 = AddPair();
  auto p1 = AddPair();
  auto p2 = AddPair();
  ConnectionRecord* before[6];
  for (int i = 0; i < 6; ++i)
    before[i] = m_table.records[i];

  RemoveConnectionPair(0, &m_table);
  EXPECT_EQ(m_table.count, 4);
  EXPECT_EQ(m_table.records[0], before[4]);  // client stays even
  EXPECT_EQ(m_table.records[1], before[5]);
  EXPECT_EQ(m_table.records[2], before[2]);
  EXPECT_EQ(m_table.records[3], before[3]);
  // Both sockets of the removed pair are closed; the others are open.
  EXPECT_TRUE(WaitPeerClosed(p0.first.farEnd.Get()));
  EXPECT_TRUE(WaitPeerClosed(p0.second.farEnd.Get()));
  EXPECT_TRUE(IsOpen(p1.first) && IsOpen(p1.second) && IsOpen(p2.first) && IsOpen(p2.second));
}

TEST_F(ConnectionTableTest, RemovingTheLastPairLeavesTheOthersAndTheOnlyPairLeavesZero) {
  auto p0 = AddPair();
  auto p1 = AddPair();
  ConnectionRecord* first[2] = {m_table.records[0], m_table.records[1]};
  RemoveConnectionPair(2, &m_table);
  EXPECT_EQ(m_table.count, 2);
  EXPECT_EQ(m_table.records[0], first[0]);
  EXPECT_EQ(m_table.records[1], first[1]);
  EXPECT_TRUE(WaitPeerClosed(p1.first.farEnd.Get()));
  EXPECT_TRUE(IsOpen(p0.first));

  RemoveConnectionPair(0, &m_table);
  EXPECT_EQ(m_table.count, 0);
  EXPECT_TRUE(WaitPeerClosed(p0.second.farEnd.Get()));
}

TEST_F(ConnectionTableTest, FirstAllocationFailingSkipsTheSecondAndLeavesEverythingAsItWas) {
  auto p0 = AddPair();
  ConnectionRecord* kept[2] = {m_table.records[0], m_table.records[1]};
  Link client = NewLink();
  Link server = NewLink();

  fault::Arm({fault::Call::kAlloc, 1});
  EXPECT_EQ(AddConnectionPair(client.nearEnd.Get(), server.nearEnd.Get(), &m_table), 0);
  EXPECT_EQ(fault::Fired(fault::Call::kAlloc), 1);
  EXPECT_EQ(Recorder().Texts(), std::vector<std::string>{"内存分配失败!"});
  EXPECT_EQ(m_table.count, 2);
  EXPECT_EQ(m_table.records[0], kept[0]);
  EXPECT_EQ(m_table.records[1], kept[1]);
  // The caller still owns two open sockets.
  EXPECT_TRUE(SendAll(client.nearEnd.Get(), "a") && SendAll(server.nearEnd.Get(), "b"));
  std::string a;
  std::string b;
  EXPECT_TRUE(RecvExact(client.farEnd.Get(), 1, &a));
  EXPECT_TRUE(RecvExact(server.farEnd.Get(), 1, &b));
}

TEST_F(ConnectionTableTest, SecondAllocationFailingFreesTheFirstAndShowsOneMessage) {
  Link client = NewLink();
  Link server = NewLink();
  fault::Rule second{fault::Call::kAlloc, 1};
  second.skip = 1;
  fault::Arm(second);
  EXPECT_EQ(AddConnectionPair(client.nearEnd.Get(), server.nearEnd.Get(), &m_table), 0);
  EXPECT_EQ(fault::Fired(fault::Call::kAlloc), 1);
  EXPECT_EQ(Recorder().Texts(), std::vector<std::string>{"内存分配失败!"});
  EXPECT_EQ(m_table.count, 0);
  EXPECT_TRUE(IsOpen(client) && IsOpen(server));
  // (The leak checker of the sanitizer build sees whether the first was freed.)
}

TEST_F(ConnectionTableTest, AFullTableTakesNoThirtyThirdPair) {
  std::vector<std::pair<Link, Link>> pairs;
  for (int i = 0; i < 32; ++i)
    pairs.push_back(AddPair());
  ASSERT_EQ(m_table.count, MAX_CONNECTION_RECORDS);
  Link client = NewLink();
  Link server = NewLink();
  EXPECT_EQ(AddConnectionPair(client.nearEnd.Get(), server.nearEnd.Get(), &m_table), 0);
  EXPECT_EQ(m_table.count, MAX_CONNECTION_RECORDS);
  EXPECT_TRUE(IsOpen(client) && IsOpen(server));
}

TEST_F(ConnectionTableTest, CloseAllClosesEverySocketAndReturnsOne) {
  auto p0 = AddPair();
  auto p1 = AddPair();
  ASSERT_EQ(net::Startup(), 0);  // balanced by CloseAllConnections
  EXPECT_EQ(CloseAllConnections(&m_table), 1);
  for (auto* link : {&p0.first, &p0.second, &p1.first, &p1.second}) {
    EXPECT_TRUE(WaitPeerClosed(link->farEnd.Get()));
  }
  m_table.count = 0;  // the records are gone

  ConnectionTable empty;
  ASSERT_EQ(net::Startup(), 0);
  EXPECT_EQ(CloseAllConnections(&empty), 1);
  // Windows Sockets is still started for this process's own sockets.
  EXPECT_TRUE(NewLink().nearEnd.Valid());
}

}  // namespace
}  // namespace vx::test
