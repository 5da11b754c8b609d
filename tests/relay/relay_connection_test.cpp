// How a running relay takes, refuses and ends connections: the full table,
// failing outbound sockets and connects, failing accepts, stalls in alerts,
// send and receive failures.
#include "tests/relay/relay_fixture.h"

#include "platform/fault_injection.h"
#include "relay/relay_worker.h"

namespace vx::test {
namespace {

class RelayConnections : public RelayTest {
 protected:
  // Starts relay 1 on a free port to `remotePort` and waits until it listens.
  std::uint16_t StartListening(std::uint16_t remotePort) {
    const std::uint16_t port = FreePort();
    EXPECT_TRUE(Start(1, port, remotePort));
    EXPECT_TRUE(WaitListening(port));
    return port;
  }
  // Counts the relay's waits from now on (a rule that never fails).
  void CountWaits(std::uint16_t port) {
    fault::Clear();
    fault::Rule count{fault::Call::kWait, 0};
    count.times = -1;
    count.localPort = port;
    fault::Arm(count);
  }
};

std::string Text(const char* prefix, std::uint16_t port, const char* suffix) {
  return prefix + std::to_string(port) + suffix;
}

TEST_F(RelayConnections, RefusingRemoteReportsPortAndCodeButStillAcceptsAndCountsTheClient) {
  const std::uint16_t refusing = FreePort();
  Recorder().SetWantEvents(true);
  const std::uint16_t port = StartListening(refusing);

  net::UniqueSocket client = ConnectTo(port);
  net::SocketAddress me;
  ASSERT_TRUE(net::LocalAddress(client.Get(), &me));
  ASSERT_TRUE(Recorder().WaitForTexts(1));
  EXPECT_EQ(Recorder().Texts().at(0), Text("端口:", port, " 连接服务器失败(10061)!"));
  // Accepted and registered all the same: the pair is opened for this client.
  ASSERT_TRUE(Recorder().WaitForEvents(1));
  const ConnectionEvent opened = Recorder().Events().at(0);
  EXPECT_TRUE(opened.opened);
  EXPECT_EQ(opened.localPort, port);
  EXPECT_EQ(opened.peer.port, me.port);
  EXPECT_EQ(opened.peer.addr, Loopback());
  // A pair with no outbound connection can carry nothing: it ends at once,
  // the client is closed and the count is back to 0.
  EXPECT_TRUE(WaitPeerClosed(client.Get()));
  EXPECT_TRUE(WaitCount(1, 0));
  ASSERT_TRUE(Recorder().WaitForEvents(2));
  EXPECT_FALSE(Recorder().Events().at(1).opened);
  EXPECT_EQ(Recorder().Events().at(1).peer.port, me.port);

  // The same for a client that has already sent something.
  net::UniqueSocket eager(net::CreateStreamSocket());
  ASSERT_EQ(net::Connect(eager.Get(), net::SocketAddress{Loopback(), port}), 0);
  ASSERT_TRUE(SendAll(eager.Get(), "lost"));
  ASSERT_TRUE(Recorder().WaitForTexts(2));
  EXPECT_EQ(Recorder().Texts().at(1), Text("端口:", port, " 连接服务器失败(10061)!"));
  EXPECT_TRUE(WaitPeerClosed(eager.Get()));
  EXPECT_TRUE(WaitCount(1, 0));
  EXPECT_EQ(State(1), RELAY_RUNNING);
}

TEST_F(RelayConnections, ThreeClientsAtOnceEachGetTheirOwnOutboundConnection) {
  TestServer backend(TestServer::kEcho);
  const std::uint16_t port = StartListening(backend.Port());
  net::UniqueSocket clients[3] = {ConnectTo(port), ConnectTo(port), ConnectTo(port)};
  ASSERT_TRUE(WaitCount(1, 3));
  EXPECT_TRUE(backend.WaitAccepted(3));
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(SendAll(clients[i].Get(), Pattern(30000, 10 + i)));
  for (int i = 0; i < 3; ++i) {
    std::string got;
    ASSERT_TRUE(RecvExact(clients[i].Get(), 30000, &got)) << i;
    EXPECT_TRUE(got == Pattern(30000, 10 + i)) << i;
  }
  EXPECT_EQ(backend.Accepted(), 3);
}

// 32 relayed connections fill the table; the 33rd is accepted and closed at
// once, with no outbound connection and nothing counted, and the relay does
// not spin on a listening socket that stays readable.
TEST_F(RelayConnections, TheThirtyThirdClientIsTurnedAwayWithoutABusyLoop) {
  TestServer backend(TestServer::kEcho);
  const std::uint16_t port = StartListening(backend.Port());
  std::vector<net::UniqueSocket> clients;
  for (int i = 0; i < 32; ++i) {
    clients.push_back(ConnectTo(port));
    ASSERT_TRUE(WaitCount(1, i + 1)) << i;  // keep the table order the arrival order
  }
  ASSERT_TRUE(backend.WaitAccepted(32));

  net::UniqueSocket extra = ConnectTo(port);
  ASSERT_TRUE(extra.Valid());
  EXPECT_TRUE(WaitPeerClosed(extra.Get()));
  std::this_thread::sleep_for(Ms(200));
  EXPECT_EQ(Count(1), 32);
  EXPECT_EQ(backend.Accepted(), 32);
  EXPECT_TRUE(Recorder().Texts().empty());

  CountWaits(port);
  std::this_thread::sleep_for(Ms(2200));
  EXPECT_LE(fault::Fired(fault::Call::kWait), 4) << "the relay spins";
  fault::Clear();

  // Every one of the 32 is watched, the last in table order included.
  for (int i = 31; i >= 0; --i) {
    ASSERT_TRUE(SendAll(clients[i].Get(), "ping" + std::to_string(i)));
    std::string got;
    ASSERT_TRUE(RecvExact(clients[i].Get(), 4 + std::to_string(i).size(), &got, Ms(3000))) << i;
  }

  // A freed place is taken by the next client.
  clients[5].Reset();
  ASSERT_TRUE(WaitCount(1, 31));
  net::UniqueSocket next = ConnectTo(port);
  EXPECT_TRUE(WaitCount(1, 32));
  EXPECT_TRUE(backend.WaitAccepted(33));
  ASSERT_TRUE(SendAll(next.Get(), "hello"));
  std::string got;
  EXPECT_TRUE(RecvExact(next.Get(), 5, &got));
}

TEST_F(RelayConnections, OutboundSocketFailureReportsAndClosesTheWaitingClient) {
  TestServer backend(TestServer::kEcho);
  const std::uint16_t port = StartListening(backend.Port());
  net::UniqueSocket client(net::CreateStreamSocket());  // before the fault is armed
  fault::Arm({fault::Call::kStreamSocket, net::kErrTooManyFiles});
  ASSERT_EQ(net::Connect(client.Get(), net::SocketAddress{Loopback(), port}), 0);
  ASSERT_TRUE(Recorder().WaitForTexts(1));
  EXPECT_EQ(Recorder().Texts().at(0), Text("端口:", port, " 创建服务器Socket失败(10024)!"));
  EXPECT_TRUE(WaitPeerClosed(client.Get()));
  EXPECT_EQ(Count(1), 0);
  EXPECT_EQ(backend.Accepted(), 0);

  // The relay goes on serving (no invalid socket reached its sets).
  ASSERT_EQ(fault::Fired(fault::Call::kStreamSocket), 1);
  net::UniqueSocket next = ConnectTo(port);
  ASSERT_TRUE(SendAll(next.Get(), "still here"));
  std::string got;
  EXPECT_TRUE(RecvExact(next.Get(), 10, &got));
  EXPECT_EQ(Recorder().Texts().size(), 1u);
  EXPECT_EQ(State(1), RELAY_RUNNING);
}

TEST_F(RelayConnections, FailedAcceptClosesTheOutboundSocketAndReportsOnlyRealErrors) {
  TestServer backend(TestServer::kEcho);
  const std::uint16_t port = StartListening(backend.Port());
  fault::Rule wouldBlock{fault::Call::kAccept, net::kErrWouldBlock};
  wouldBlock.localPort = port;
  fault::Rule reset{fault::Call::kAccept, net::kErrConnReset};
  reset.localPort = port;  // rules are tried in order: this one serves the second call
  fault::Arm(wouldBlock);
  fault::Arm(reset);

  // Two failed accepts, each after its own outbound connect; the waiting
  // client is taken on the third pass.
  net::UniqueSocket client = ConnectTo(port);
  ASSERT_TRUE(WaitCount(1, 1));
  ASSERT_EQ(Recorder().Texts().size(), 1u);
  EXPECT_EQ(Recorder().Texts().at(0), Text("接受端口:", port, " 失败(10054)!"));
  ASSERT_TRUE(backend.WaitAccepted(3));
  EXPECT_TRUE(backend.WaitPeerClosed(0));
  EXPECT_TRUE(backend.WaitPeerClosed(1));
  ASSERT_TRUE(SendAll(client.Get(), "ok"));
  std::string got;
  EXPECT_TRUE(RecvExact(client.Get(), 2, &got));
  EXPECT_EQ(backend.Received(2), "ok");
}

TEST_F(RelayConnections, AcceptedSocketThatCannotBeMadeNonBlockingIsDroppedSilently) {
  TestServer backend(TestServer::kEcho);
  const std::uint16_t port = StartListening(backend.Port());
  fault::Rule rule{fault::Call::kNonBlocking, net::kErrInvalid};
  rule.localPort = port;
  fault::Arm(rule);
  net::UniqueSocket client = ConnectTo(port);
  EXPECT_TRUE(WaitPeerClosed(client.Get()));
  ASSERT_TRUE(backend.WaitAccepted(1));
  EXPECT_TRUE(backend.WaitPeerClosed(0));
  EXPECT_EQ(Count(1), 0);
  EXPECT_TRUE(Recorder().Texts().empty());
}

TEST_F(RelayConnections, OutOfMemoryOnRegisteringClosesBothAndCountsNothing) {
  TestServer backend(TestServer::kEcho);
  const std::uint16_t port = StartListening(backend.Port());
  fault::Arm({fault::Call::kAlloc, 1});
  net::UniqueSocket client = ConnectTo(port);
  ASSERT_TRUE(Recorder().WaitForTexts(1));
  EXPECT_EQ(Recorder().Texts().at(0), "内存分配失败!");
  EXPECT_TRUE(WaitPeerClosed(client.Get()));
  ASSERT_TRUE(backend.WaitAccepted(1));
  EXPECT_TRUE(backend.WaitPeerClosed(0));
  EXPECT_EQ(Count(1), 0);
}

// The alert stalls the whole relay: its live connections are not served
// until the alert is dismissed, and then nothing is lost.
TEST_F(RelayConnections, ARelayHeldInAnAlertServesNothingUntilReleased) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = StartListening(backend.Port());
  net::UniqueSocket live = ConnectTo(port);
  ASSERT_TRUE(WaitCount(1, 1));

  Recorder().Hold();
  net::UniqueSocket trigger(net::CreateStreamSocket());
  fault::Arm({fault::Call::kStreamSocket, net::kErrNoBuffers});
  ASSERT_EQ(net::Connect(trigger.Get(), net::SocketAddress{Loopback(), port}), 0);
  ASSERT_TRUE(Recorder().WaitHeld(1));
  ASSERT_TRUE(SendAll(live.Get(), "queued"));
  std::this_thread::sleep_for(Ms(400));
  EXPECT_EQ(backend.Received(0), "");
  Recorder().Release();
  EXPECT_TRUE(backend.WaitReceived(0, 6));
  EXPECT_EQ(backend.Received(0), "queued");
  EXPECT_TRUE(WaitPeerClosed(trigger.Get()));
}

TEST_F(RelayConnections, FailingWaitReportsAndEndsTheRelayWithEverySocketClosed) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = FreePort();
  auto run = RunWorkerDirectly(Tables(), 12, RelayEndpoint{port, "127.0.0.1", backend.Port()});
  net::UniqueSocket client = ConnectWhenListening(port);
  ASSERT_TRUE(WaitCount(12, 1));
  fault::Rule rule{fault::Call::kWait, net::kErrInvalid};
  rule.localPort = port;
  fault::Arm(rule);
  ASSERT_TRUE(Recorder().WaitForTexts(1));
  EXPECT_EQ(Recorder().Texts().at(0), Text("端口:", port, " 创建选择模型失败(10022)!"));
  ASSERT_TRUE(WaitFor([&] { return run->done.load(); }, Ms(5000), "run->done.load()"));
  EXPECT_EQ(run->exitCode, 1u);
  EXPECT_EQ(State(12), RELAY_STOPPED);
  EXPECT_EQ(Count(12), 0);
  EXPECT_TRUE(WaitPeerClosed(client.Get()));
  EXPECT_TRUE(backend.WaitPeerClosed(0));
  EXPECT_FALSE(ConnectTo(port).Valid());
}

// Three pairs at entries 0..5 and a send error on entry 3: the pair at 2 and 3
// goes, the pair from 4 and 5 takes its place and keeps working.
TEST_F(RelayConnections, SendErrorOnAnOddEntryRemovesThatPairOnly) {
  TestServer backend(TestServer::kEcho);
  const std::uint16_t port = StartListening(backend.Port());
  net::UniqueSocket c[3];
  for (int i = 0; i < 3; ++i) {
    c[i] = ConnectTo(port);
    ASSERT_TRUE(WaitCount(1, i + 1));
  }
  ASSERT_TRUE(backend.WaitAccepted(3));
  fault::Rule rule{fault::Call::kSend, net::kErrConnReset};
  rule.localPort = backend.PeerOf(1).port;  // the relay's outbound socket of pair 1
  fault::Arm(rule);

  ASSERT_TRUE(SendAll(c[1].Get(), "doomed"));
  EXPECT_TRUE(WaitPeerClosed(c[1].Get()));
  EXPECT_TRUE(backend.WaitPeerClosed(1));
  EXPECT_TRUE(WaitCount(1, 2));
  EXPECT_EQ(backend.Received(1), "");
  for (int i : {2, 0}) {
    ASSERT_TRUE(SendAll(c[i].Get(), "alive"));
    std::string got;
    EXPECT_TRUE(RecvExact(c[i].Get(), 5, &got)) << i;
  }
}

TEST_F(RelayConnections, ShortWritesAndWouldBlockLoseNoByte) {
  TestServer backend(TestServer::kEcho);
  const std::uint16_t port = StartListening(backend.Port());
  fault::Rule toServer{fault::Call::kSend, 0};
  toServer.maxBytes = 1000;
  toServer.times = -1;
  toServer.peerPort = backend.Port();
  fault::Rule toClient{fault::Call::kSend, 0};
  toClient.maxBytes = 777;
  toClient.times = -1;
  toClient.localPort = port;
  fault::Rule blocked{fault::Call::kSend, net::kErrWouldBlock};
  blocked.times = 5;
  blocked.localPort = port;
  fault::Rule recvBlocked{fault::Call::kRecv, net::kErrWouldBlock};
  recvBlocked.times = 5;
  recvBlocked.localPort = port;
  for (const auto& r : {blocked, recvBlocked, toServer, toClient})
    fault::Arm(r);

  net::UniqueSocket client = ConnectTo(port);
  const std::string data = Pattern(100000, 5);
  std::thread sender([&] { EXPECT_TRUE(SendAll(client.Get(), data)); });
  std::string got;
  EXPECT_TRUE(RecvExact(client.Get(), data.size(), &got, Ms(20000)));
  sender.join();
  EXPECT_TRUE(got == data);
  EXPECT_GT(fault::Fired(fault::Call::kSend), 100);
}

TEST_F(RelayConnections, AClientThatDoesNotReadHoldsOnlyItsOwnConnection) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = StartListening(backend.Port());
  net::UniqueSocket slow = ConnectTo(port);
  ASSERT_TRUE(backend.WaitAccepted(1));
  net::UniqueSocket other = ConnectTo(port);
  ASSERT_TRUE(backend.WaitAccepted(2));

  // Far more than the buffers on the way hold: the backend's send blocks.
  const std::string flood = Pattern(8 * 1024 * 1024, 9);
  std::thread pusher([&] { EXPECT_TRUE(backend.SendTo(0, flood)); });
  std::this_thread::sleep_for(Ms(300));
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(backend.SendTo(1, "r" + std::to_string(i)));
    std::string got;
    ASSERT_TRUE(RecvExact(other.Get(), 1 + std::to_string(i).size(), &got, Ms(2000))) << i;
  }
  std::string got;
  EXPECT_TRUE(RecvExact(slow.Get(), flood.size(), &got, Ms(60000)));
  pusher.join();
  EXPECT_TRUE(got == flood);
}

TEST_F(RelayConnections, ClientResetEndsThePairWithoutHarm) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = StartListening(backend.Port());
  {
    net::UniqueSocket client = ConnectTo(port);
    ASSERT_TRUE(backend.WaitAccepted(1));
    ASSERT_TRUE(backend.SendTo(0, Pattern(5000)));
    ASSERT_TRUE(WaitFor([&] { return !StaysQuiet(client.Get(), Ms(0)); }, Ms(5000),
                        "!StaysQuiet(client.Get(), Ms(0))"));
  }  // closed with unread bytes: a reset
  EXPECT_TRUE(backend.WaitPeerClosed(0));
  EXPECT_TRUE(WaitCount(1, 0));
  net::UniqueSocket next = ConnectTo(port);
  EXPECT_TRUE(WaitCount(1, 1));
}

TEST_F(RelayConnections, StoppingARelayClosesItsLiveConnectionsAndReportsThem) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = StartListening(backend.Port());
  Recorder().SetWantEvents(true);
  net::UniqueSocket a = ConnectTo(port);
  net::UniqueSocket b = ConnectTo(port);
  ASSERT_TRUE(WaitCount(1, 2));
  ASSERT_TRUE(Stop(1));
  EXPECT_EQ(Count(1), 0);
  EXPECT_TRUE(WaitPeerClosed(a.Get()));
  EXPECT_TRUE(WaitPeerClosed(b.Get()));
  EXPECT_TRUE(backend.WaitPeerClosed(0) && backend.WaitPeerClosed(1));
  const auto events = Recorder().Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(std::count_if(events.begin(), events.end(), [](auto& e) { return !e.opened; }), 2);
}

}  // namespace
}  // namespace vx::test
