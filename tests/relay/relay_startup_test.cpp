// Relay start-up and ending: the messages, the exit codes, the stopped state.
#include "tests/relay/relay_fixture.h"

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
  ASSERT_TRUE(WaitFor([&] { return run->done.load(); }, Ms(5000), "run->done.load()"));
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
  EXPECT_TRUE(WaitFor([&] { return IsStopped(3); }, Ms(5000), "IsStopped(3)"));
}

TEST_F(RelayStartup, IdleRelayStopsWithinAboutOneSecondAndClosesItsPort) {
  const std::uint16_t port = FreePort();
  ASSERT_TRUE(Start(4, port, 9));
  // Serving: the port accepts connections.
  ASSERT_TRUE(
      WaitFor([&] { return State(4) == RELAY_RUNNING; }, Ms(5000), "State(4) == RELAY_RUNNING"));
  {
    net::UniqueSocket probe = ConnectWhenListening(port);
    ASSERT_TRUE(probe.Valid());
  }
  // Let it go back to waiting with nothing to do.
  std::this_thread::sleep_for(Ms(300));
  const auto t0 = std::chrono::steady_clock::now();
  RequestStop(Tables(), 4);
  EXPECT_EQ(State(4), RELAY_STOP);
  ASSERT_TRUE(WaitFor([&] { return IsStopped(4); }, Ms(3000), "IsStopped(4)"));
  const auto took = std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - t0);
  EXPECT_LT(took.count(), 2000);
  EXPECT_EQ(Count(4), 0);
  // The listening socket was closed before RELAY_STOPPED: the port is free.
  net::UniqueSocket again(net::CreateListenSocket());
  EXPECT_EQ(net::Bind(again.Get(), net::SocketAddress{net::kInaddrAny, port}), 0);
  EXPECT_FALSE(ConnectTo(port).Valid());
}

// A relay restarted on the port of one that has just stopped binds, although
// the old relay's connections left the port in TIME_WAIT.
TEST_F(RelayStartup, RestartOnTheSamePortRightAfterAStopBinds) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = FreePort();
  fault::Rule cleanups{fault::Call::kCleanup, 0};
  cleanups.times = -1;
  fault::Arm(cleanups);
  ASSERT_TRUE(Start(5, port, backend.Port()));
  net::UniqueSocket client = ConnectWhenListening(port);
  ASSERT_TRUE(backend.WaitAccepted(1));
  // The remote ends the connection: the relay closes the client side first.
  backend.CloseConnection(0);
  ASSERT_TRUE(WaitPeerClosed(client.Get()));
  client.Reset();
  ASSERT_TRUE(Stop(5));
  EXPECT_EQ(fault::Fired(fault::Call::kCleanup), 1);

  ASSERT_TRUE(Start(5, port, backend.Port()));
  net::UniqueSocket again = ConnectWhenListening(port);
  ASSERT_TRUE(again.Valid());
  EXPECT_TRUE(WaitCount(5, 1));
  EXPECT_TRUE(Recorder().Texts().empty());
}

// Each start-up failure: its message (if any) first, then RELAY_STOPPED,
// exit code -1, the count untouched and the port left free.
struct StartupFailure {
  fault::Call call;
  int code;
  const char* prefix;  // the expected text is prefix + port + suffix; null: no message
  const char* suffix;
};

class RelayStartupFailure : public RelayTest,
                            public ::testing::WithParamInterface<StartupFailure> {};

TEST_P(RelayStartupFailure, ReportsThenStopsWithExitCodeMinusOne) {
  const StartupFailure& f = GetParam();
  const std::uint16_t port = FreePort();
  Tables().connectionCount[13] = 0;
  Recorder().Hold();
  fault::Rule cleanups{fault::Call::kCleanup, 0};
  cleanups.times = -1;
  fault::Arm(cleanups);
  fault::Arm({f.call, f.code});
  auto run = RunWorkerDirectly(Tables(), 13, RelayEndpoint{port, "127.0.0.1", 9});
  if (f.prefix != nullptr) {
    ASSERT_TRUE(Recorder().WaitHeld(1));
    EXPECT_EQ(Recorder().Texts().at(0), f.prefix + std::to_string(port) + f.suffix);
    std::this_thread::sleep_for(Ms(100));
    EXPECT_FALSE(run->done);
    EXPECT_NE(State(13), RELAY_STOPPED);
    Recorder().Release();
  }
  ASSERT_TRUE(WaitFor([&] { return run->done.load(); }, Ms(5000), "run->done.load()"));
  EXPECT_EQ(run->exitCode, kRelayStartupFailed);
  EXPECT_EQ(State(13), RELAY_STOPPED);
  EXPECT_EQ(Count(13), 0);
  EXPECT_EQ(Recorder().Texts().size(), f.prefix != nullptr ? 1u : 0u);
  EXPECT_EQ(fault::Fired(f.call), 1);
  // Windows Sockets is released once, unless it never started.
  EXPECT_EQ(fault::Fired(fault::Call::kCleanup), f.call == fault::Call::kStartup ? 0 : 1);
  net::UniqueSocket again(net::CreateListenSocket());
  EXPECT_EQ(net::Bind(again.Get(), net::SocketAddress{net::kInaddrAny, port}), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, RelayStartupFailure,
    ::testing::Values(
        StartupFailure{fault::Call::kStartup, net::kErrSysNotReady,
                       "端口:", " WSAStartup启动失败(10091)! "},
        StartupFailure{fault::Call::kListenSocket, net::kErrTooManyFiles,
                       "端口:", " 创建Socket失败(10024)!"},
        StartupFailure{fault::Call::kBind, net::kErrAccess, "端口:", " 有另外一个程序在使用!"},
        StartupFailure{fault::Call::kListen, net::kErrAddrInUse, "端口:", " 监听失败(10048)!"},
        StartupFailure{fault::Call::kNonBlocking, net::kErrInvalid, nullptr, nullptr}));

}  // namespace
}  // namespace vx::test
