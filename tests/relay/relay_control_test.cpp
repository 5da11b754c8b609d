// The start hand-over and the stop protocol between the starting thread and
// the relays.
#include "tests/relay/relay_fixture.h"

#include "platform/fault_injection.h"

namespace vx::test {
namespace {

class RelayControl : public RelayTest {};

TEST(SlotTables, InitialiseSetsTheStartValues) {
  static RelaySlotTables tables;
  tables.Initialise();
  for (int i = 0; i < kSlotCount; ++i) {
    ASSERT_EQ(tables.slotMap[i], i);
    ASSERT_EQ(tables.relayState[i], 1);
    ASSERT_EQ(tables.connectionCount[i], 0);
    ASSERT_EQ(tables.ackPending[i], 0);
  }
}

TEST_F(RelayControl, StartBlockTakesPortsCutTo16BitsAndAtMost15AddressCharacters) {
  RelayEndpoint endpoint{-1, "123.123.123.1234567", 65536 + 80};
  FillStartBlock(9, endpoint);
  EXPECT_EQ(g_relayStart.relayIndex, 9);
  EXPECT_EQ(g_relayStart.localPort, 65535);  // a missing port arrives as 65535
  EXPECT_EQ(g_relayStart.remotePort, 80);
  EXPECT_STREQ(g_relayStart.remoteAddress, "123.123.123.123");
}

// Every relay ends up with its own parameters although all of them passed
// through the one start block.
TEST_F(RelayControl, HundredTwentySevenRelaysEachGetTheirOwnParameters) {
  // Three backends on all interfaces; relay t connects to 127.0.0.t on one of them.
  TestServer backends[3] = {TestServer(TestServer::kSink, net::kInaddrAny),
                            TestServer(TestServer::kSink, net::kInaddrAny),
                            TestServer(TestServer::kSink, net::kInaddrAny)};
  std::vector<std::uint16_t> ports(kMaxPairs + 1);
  for (int t = 1; t <= kMaxPairs; ++t) {
    ports[t] = FreePort();
    ASSERT_NE(ports[t], 0);
  }
  for (int t = 1; t <= kMaxPairs; ++t) {
    ASSERT_TRUE(Start(t, ports[t], backends[t % 3].Port(), "127.0.0." + std::to_string(t)));
  }
  std::vector<net::UniqueSocket> clients(kMaxPairs + 1);
  for (int t = 1; t <= kMaxPairs; ++t) {
    clients[t] = ConnectWhenListening(ports[t]);
    ASSERT_TRUE(clients[t].Valid()) << t;
    ASSERT_TRUE(SendAll(clients[t].Get(), std::to_string(t)));
  }
  for (int t = 1; t <= kMaxPairs; ++t) {
    ASSERT_TRUE(WaitCount(t, 1)) << t;
  }
  int seen = 0;
  for (int k = 0; k < 3; ++k) {
    TestServer& backend = backends[k];
    int expected = 0;
    for (int t = 1; t <= kMaxPairs; ++t)
      expected += t % 3 == k;
    ASSERT_TRUE(backend.WaitAccepted(expected));
    ASSERT_EQ(backend.Accepted(), expected);
    for (int i = 0; i < backend.Accepted(); ++i) {
      ASSERT_TRUE(WaitFor([&] { return !backend.Received(i).empty(); }, Ms(5000),
                          "!backend.Received(i).empty()"));
      const int t = std::stoi(backend.Received(i));
      EXPECT_EQ(backend.LocalOf(i).addr, net::InetAddr(("127.0.0." + std::to_string(t)).c_str()));
      EXPECT_EQ(&backend, &backends[t % 3]);
      ++seen;
    }
  }
  EXPECT_EQ(seen, kMaxPairs);
  EXPECT_TRUE(Recorder().Texts().empty());

  // All stop requests in one locked pass, then every relay ends (in parallel).
  {
    LockGuard guard(g_relayLock);
    for (int t = 1; t <= kMaxPairs; ++t)
      RequestStopLocked(Tables(), t);
  }
  EXPECT_TRUE(WaitFor(
      [&] {
        for (int t = 1; t <= kMaxPairs; ++t) {
          if (!IsStopped(t))
            return false;
        }
        return true;
      },
      Ms(5000), "every relay to stop"));
  for (int t = 1; t <= kMaxPairs; ++t)
    EXPECT_EQ(Count(t), 0) << t;
  for (int t = 1; t <= kMaxPairs; ++t)
    EXPECT_TRUE(WaitPeerClosed(clients[t].Get())) << t;
}

// The window between the acknowledgement and the relay's second
// RELAY_RUNNING: a stop requested there must still reach the relay.
TEST_F(RelayControl, StopRequestedRightAfterTheStartReturnsAlwaysReachesTheRelay) {
  for (int round = 0; round < 5; ++round) {
    const std::uint16_t port = FreePort();
    ASSERT_TRUE(Start(6, port, 9));
    RequestStop(Tables(), 6);
    EXPECT_EQ(State(6), RELAY_STOP);
    ASSERT_TRUE(WaitFor([&] { return IsStopped(6); }, Ms(3000), "IsStopped(6)")) << round;
    EXPECT_EQ(Count(6), 0);
    // Ended without ever listening.
    std::this_thread::sleep_for(Ms(150));
    EXPECT_FALSE(ConnectTo(port).Valid()) << round;
  }
  // WaitStopped agrees once the relay has answered.
  WaitStopped(Tables(), 6, 50);
}

TEST_F(RelayControl, WaitStoppedDoesNotTakeAnAcknowledgedStartForAnEndedRelay) {
  ASSERT_TRUE(Start(7, FreePort(), 9));
  // Right after the acknowledgement the state word may still read -1.
  auto waited = std::make_shared<std::atomic<bool>>(false);
  std::thread([waited] {
    WaitStopped(Tables(), 7, 50);
    *waited = true;
  }).detach();
  std::this_thread::sleep_for(Ms(300));
  EXPECT_FALSE(*waited);
  RequestStop(Tables(), 7);
  EXPECT_TRUE(WaitFor([&] { return waited->load(); }, Ms(3000), "waited->load()"));
}

TEST_F(RelayControl, AThreadThatCannotStartLeavesTheSlotStopped) {
  fault::Arm({fault::Call::kThread, 1});
  EXPECT_FALSE(Start(8, FreePort(), 9));
  EXPECT_EQ(State(8), RELAY_STOPPED);
  RequestStop(Tables(), 8);
  EXPECT_EQ(State(8), RELAY_STOPPED);
  WaitStopped(Tables(), 8, 100);  // ends at once
}

// A relay moved to another slot keeps running and is found there by its
// count and by a stop request.
TEST_F(RelayControl, ARelayMovedToAnotherSlotReportsAndStopsThere) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = FreePort();
  ASSERT_TRUE(Start(10, port, backend.Port()));
  net::UniqueSocket first = ConnectWhenListening(port);
  ASSERT_TRUE(WaitCount(10, 1));
  {
    LockGuard guard(g_relayLock);
    MoveSlotLocked(Tables(), 10, 3);
    Tables().slotMap[10] = 3;
  }
  EXPECT_EQ(Count(10), 0);
  EXPECT_EQ(Count(3), 1);
  net::UniqueSocket second = ConnectTo(port);
  EXPECT_TRUE(WaitCount(3, 2));
  first.Reset();
  EXPECT_TRUE(WaitCount(3, 1));
  EXPECT_EQ(Count(10), 0);

  RequestStop(Tables(), 3);
  ASSERT_TRUE(WaitFor([&] { return IsStopped(3); }, Ms(5000), "IsStopped(3)"));
  EXPECT_EQ(Count(3), 0);
  EXPECT_TRUE(WaitPeerClosed(second.Get()));
  m_started.clear();
  Tables().slotMap[10] = 10;
}

// While its alert is shown the relay sees no stop request; after it is
// dismissed the next wait ends and the stop takes effect.
TEST_F(RelayControl, StopRequestedDuringAnAlertTakesEffectAfterItIsDismissed) {
  const std::uint16_t refusing = FreePort();
  const std::uint16_t port = FreePort();
  ASSERT_TRUE(Start(11, port, refusing));
  Recorder().Hold();
  net::UniqueSocket client = ConnectWhenListening(port);
  ASSERT_TRUE(Recorder().WaitHeld(1));
  RequestStop(Tables(), 11);
  std::this_thread::sleep_for(Ms(1300));
  EXPECT_EQ(State(11), RELAY_STOP);
  Recorder().Release();
  EXPECT_TRUE(WaitFor([&] { return IsStopped(11); }, Ms(2500), "IsStopped(11)"));
  EXPECT_EQ(Count(11), 0);
}

}  // namespace
}  // namespace vx::test
