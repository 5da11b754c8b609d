// Relay start-up and ending: the messages, the exit codes, the stopped state.
#include "test_support.h"

#include "platform/fault_injection.h"
#include "relay/relay_worker.h"

namespace vx::test {
namespace {

class RelayStartup : public RelayTest {};

// A listener that holds `port`, so that a relay cannot bind it.
net::UniqueSocket HoldPort(std::uint16_t port) {
  net::UniqueSocket s(net::CreateListenSocket());
  if (net::Bind(s.Get(), net::SocketAddress{net::kInaddrAny, port}) != 0 ||
      net::Listen(s.Get(), 5) != 0) {
    return net::UniqueSocket();
  }
  return s;
}

TEST_F(RelayStartup, PortInUseReportsThePortAndStopsOnlyAfterTheAlert) {
  net::UniqueSocket holder(net::CreateListenSocket());
  ASSERT_EQ(net::Bind(holder.Get(), net::SocketAddress{net::kInaddrAny, 0}), 0);
  ASSERT_EQ(net::Listen(holder.Get(), 5), 0);
  net::SocketAddress held;
  ASSERT_TRUE(net::LocalAddress(holder.Get(), &held));

  Recorder().Hold();
  RelayEndpoint endpoint{held.port, "127.0.0.1", 9};
  auto run = RunWorkerDirectly(Tables(), 2, endpoint);  // returns after the hand-over
  ASSERT_TRUE(Recorder().WaitHeld(1));
  EXPECT_EQ(Recorder().Texts().at(0),
            "端口:" + std::to_string(held.port) + " 有另外一个程序在使用!");
  // Held in its alert: not yet stopped.
  std::this_thread::sleep_for(Ms(100));
  EXPECT_EQ(State(2), RELAY_RUNNING);
  EXPECT_FALSE(run->done);

  Recorder().Release();
  ASSERT_TRUE(WaitUntil([&] { return run->done.load(); }));
  EXPECT_EQ(run->exitCode, 0xFFFFFFFFu);
  EXPECT_EQ(State(2), RELAY_STOPPED);
  EXPECT_EQ(Recorder().Texts().size(), 1u);

  // A stop request for the ended relay leaves -1, and the wait ends at once.
  RequestStop(Tables(), 2);
  EXPECT_EQ(State(2), RELAY_STOPPED);
  WaitStopped(Tables(), 2, 100);
}

TEST_F(RelayStartup, HighPortIsShownUnsigned) {
  net::UniqueSocket holder = HoldPort(50000);
  if (!holder.Valid())
    GTEST_SKIP() << "port 50000 is taken on this machine";
  ASSERT_TRUE(Start(3, 50000, 9));
  ASSERT_TRUE(Recorder().WaitForTexts(1));
  EXPECT_EQ(Recorder().Texts().at(0), "端口:50000 有另外一个程序在使用!");
  EXPECT_TRUE(WaitUntil([&] { return IsStopped(3); }));
}

TEST_F(RelayStartup, IdleRelayStopsWithinAboutOneSecondAndClosesItsPort) {
  const std::uint16_t port = FreePort();
  ASSERT_TRUE(Start(4, port, 9));
  // Serving: the port accepts connections.
  ASSERT_TRUE(WaitUntil([&] { return State(4) == RELAY_RUNNING; }));
  {
    net::UniqueSocket probe = ConnectWhenListening(port);
    ASSERT_TRUE(probe.Valid());
  }
  // Let it go back to waiting with nothing to do.
  std::this_thread::sleep_for(Ms(300));
  const auto t0 = std::chrono::steady_clock::now();
  RequestStop(Tables(), 4);
  EXPECT_EQ(State(4), RELAY_STOP);
  ASSERT_TRUE(WaitUntil([&] { return IsStopped(4); }, Ms(3000)));
  const auto took = std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - t0);
  EXPECT_LT(took.count(), 1600);
  EXPECT_EQ(Count(4), 0);
  // The listening socket was closed before RELAY_STOPPED: the port is free.
  net::UniqueSocket again(net::CreateListenSocket());
  EXPECT_EQ(net::Bind(again.Get(), net::SocketAddress{net::kInaddrAny, port}), 0);
  EXPECT_FALSE(ConnectTo(port).Valid());
}

}  // namespace
}  // namespace vx::test
