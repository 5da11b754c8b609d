// Bytes through a running relay: intact, in order, both directions, and the
// way connections end.
#include "tests/relay/relay_fixture.h"

namespace vx::test {
namespace {

class RelayTransfer : public RelayTest {};

TEST_F(RelayTransfer, TwentyThousandBytesArriveIntactAndInOrder) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = FreePort();
  ASSERT_TRUE(Start(1, port, backend.Port()));
  net::UniqueSocket client = ConnectWhenListening(port);
  ASSERT_TRUE(client.Valid());
  ASSERT_TRUE(WaitCount(1, 1));

  const std::string data = Pattern(20000);
  ASSERT_TRUE(SendAll(client.Get(), data));
  ASSERT_TRUE(backend.WaitReceived(0, data.size()));
  EXPECT_EQ(backend.Received(0), data);
}

TEST_F(RelayTransfer, MebibytesEchoedBackIntactInBothDirections) {
  TestServer backend(TestServer::kEcho);
  const std::uint16_t port = FreePort();
  ASSERT_TRUE(Start(1, port, backend.Port()));
  net::UniqueSocket client = ConnectWhenListening(port);
  ASSERT_TRUE(client.Valid());

  const std::string data = Pattern(3 * 1024 * 1024 + 17, 7);
  std::string echoed;
  // Send and receive at once: the echo would otherwise fill both directions.
  std::thread sender([&] { EXPECT_TRUE(SendAll(client.Get(), data)); });
  EXPECT_TRUE(RecvExact(client.Get(), data.size(), &echoed, Ms(60000)));
  sender.join();
  EXPECT_TRUE(echoed == data) << "echo differs (" << echoed.size() << " bytes back)";
  EXPECT_EQ(backend.Received(0).size(), data.size());
}

TEST_F(RelayTransfer, ReplyFromTheRemoteReachesTheClient) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = FreePort();
  ASSERT_TRUE(Start(1, port, backend.Port()));
  net::UniqueSocket client = ConnectWhenListening(port);
  ASSERT_TRUE(backend.WaitAccepted(1));
  const std::string reply = Pattern(50000, 3);
  ASSERT_TRUE(backend.SendTo(0, reply));
  std::string got;
  ASSERT_TRUE(RecvExact(client.Get(), reply.size(), &got));
  EXPECT_EQ(got, reply);
}

TEST_F(RelayTransfer, ClientThatSendsThenClosesEndsThePairOnceDelivered) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = FreePort();
  ASSERT_TRUE(Start(1, port, backend.Port()));
  {
    net::UniqueSocket client = ConnectWhenListening(port);
    ASSERT_TRUE(WaitCount(1, 1));
    ASSERT_TRUE(SendAll(client.Get(), "GET / HTTP/1.0\r\n\r\n"));
  }
  ASSERT_TRUE(backend.WaitPeerClosed(0));
  EXPECT_EQ(backend.Received(0), "GET / HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(WaitCount(1, 0));
}

TEST_F(RelayTransfer, RemoteClosingDisconnectsTheClient) {
  TestServer backend(TestServer::kSink);
  const std::uint16_t port = FreePort();
  ASSERT_TRUE(Start(1, port, backend.Port()));
  net::UniqueSocket client = ConnectWhenListening(port);
  ASSERT_TRUE(backend.WaitAccepted(1));
  ASSERT_TRUE(WaitCount(1, 1));
  ASSERT_TRUE(backend.SendTo(0, "bye"));
  std::string got;
  ASSERT_TRUE(RecvExact(client.Get(), 3, &got));
  backend.CloseConnection(0);
  EXPECT_TRUE(WaitPeerClosed(client.Get()));
  EXPECT_TRUE(WaitCount(1, 0));
}

}  // namespace
}  // namespace vx::test
