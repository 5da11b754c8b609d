// The platform layer as the relay relies on it: address parsing, Windows
// Sockets error codes, socket sets and waits, binding rules.
#include "tests/relay/relay_fixture.h"

#include "platform/socket_set.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace vx::test {
namespace {

std::uint32_t Addr(int a, int b, int c, int d) {
  return net::HostToNet32((std::uint32_t(a) << 24) | (b << 16) | (c << 8) | d);
}

TEST(InetAddr, ParsesDottedShortenedOctalAndHexForms) {
  EXPECT_EQ(net::InetAddr("127.0.0.1"), Addr(127, 0, 0, 1));
  EXPECT_EQ(net::InetAddr("192.168.1.20"), Addr(192, 168, 1, 20));
  EXPECT_EQ(net::InetAddr("0.0.0.0"), 0u);
  EXPECT_EQ(net::InetAddr("127.1"), Addr(127, 0, 0, 1));        // a.b: b fills 24 bits
  EXPECT_EQ(net::InetAddr("10.1.258"), Addr(10, 1, 1, 2));      // a.b.c: c fills 16 bits
  EXPECT_EQ(net::InetAddr("2130706433"), Addr(127, 0, 0, 1));   // one 32-bit part
  EXPECT_EQ(net::InetAddr("0x7f.0.0.01"), Addr(127, 0, 0, 1));  // hex and octal parts
  EXPECT_EQ(net::InetAddr("010.0XA.0.0"), Addr(8, 10, 0, 0));
  EXPECT_EQ(net::InetAddr("1.2.3.4 trailing"), Addr(1, 2, 3, 4));  // stops at a blank
}

TEST(InetAddr, RejectsMalformedTextWithInaddrNone) {
  for (const char* bad :
       {"", " 1.2.3.4", "256.0.0.1", "1.2.3.4.5", "1.2.3.", ".1.2.3", "08.1.1.1", "1.2.3.256",
        "1.2.65536", "1.16777216", "4294967296", "abc", "1.2.3.4x", "1..2.3", "0xg"}) {
    EXPECT_EQ(net::InetAddr(bad), net::kInaddrNone) << '"' << bad << '"';
  }
  EXPECT_EQ(net::InetAddr("255.255.255.255"), net::kInaddrNone);  // the same bits
}

TEST(InetAddr, NtoaRoundTrips) {
  EXPECT_EQ(net::InetNtoa(Addr(192, 168, 1, 20)), "192.168.1.20");
  EXPECT_EQ(net::InetNtoa(net::InetAddr("10.0.255.7")), "10.0.255.7");
  EXPECT_EQ(net::NetToHost32(Addr(1, 2, 3, 4)), 0x01020304u);
}

TEST(SocketErrors, RefusedConnectAndTakenPortReportWindowsCodes) {
  const std::uint16_t closed = FreePort();
  net::UniqueSocket s(net::CreateStreamSocket());
  ASSERT_TRUE(s.Valid());
  EXPECT_EQ(net::Connect(s.Get(), net::SocketAddress{Loopback(), closed}), net::kSocketError);
  EXPECT_EQ(net::LastSocketError(), net::kErrConnRefused);

  net::UniqueSocket a(net::CreateListenSocket());
  ASSERT_EQ(net::Bind(a.Get(), net::SocketAddress{net::kInaddrAny, 0}), 0);
  ASSERT_EQ(net::Listen(a.Get(), 5), 0);
  net::SocketAddress taken;
  ASSERT_TRUE(net::LocalAddress(a.Get(), &taken));
  net::UniqueSocket b(net::CreateListenSocket());
  EXPECT_EQ(net::Bind(b.Get(), net::SocketAddress{net::kInaddrAny, taken.port}), net::kSocketError);
  EXPECT_EQ(net::LastSocketError(), net::kErrAddrInUse);
}

// A connected pair on loopback: [0] the connecting end, [1] the accepted end.
struct Pair {
  net::UniqueSocket end[2];
};
Pair MakePair() {
  Pair p;
  net::UniqueSocket listener(net::CreateListenSocket());
  net::SocketAddress local{Loopback(), 0};
  if (net::Bind(listener.Get(), local) != 0 || net::Listen(listener.Get(), 1) != 0 ||
      !net::LocalAddress(listener.Get(), &local)) {
    return p;
  }
  p.end[0] = ConnectTo(local.port);
  p.end[1].Reset(net::Accept(listener.Get()));
  return p;
}

TEST(SocketErrors, NonBlockingRecvWouldBlockAndSendToAResetPeerNeverRaisesSigpipe) {
  Pair p = MakePair();
  ASSERT_TRUE(p.end[0].Valid() && p.end[1].Valid());
  ASSERT_EQ(net::SetNonBlocking(p.end[1].Get()), 0);
  char buf[16];
  std::uint32_t got = 0;
  EXPECT_EQ(net::Recv(p.end[1].Get(), buf, sizeof buf, &got), net::kSocketError);
  EXPECT_EQ(net::LastSocketError(), net::kErrWouldBlock);

  // Unread data at close makes the peer reset the connection.
  ASSERT_TRUE(SendAll(p.end[1].Get(), "unread"));
  ASSERT_TRUE(WaitFor([&] { return !StaysQuiet(p.end[0].Get(), Ms(0)); }, Ms(5000),
                      "!StaysQuiet(p.end[0].Get(), Ms(0))"));
  p.end[0].Reset();
  int result = 0;
  // The first sends may still be taken; a later one fails (this process
  // would die here if send raised SIGPIPE).
  ASSERT_TRUE(WaitFor(
      [&] {
        std::uint32_t sent = 0;
        result = net::Send(p.end[1].Get(), "x", 1, &sent);
        return result == net::kSocketError && net::LastSocketError() != net::kErrWouldBlock;
      },
      Ms(5000), "a send to the closed peer to fail"));
  const int code = net::LastSocketError();
  EXPECT_TRUE(code == net::kErrConnReset || code == net::kErrConnAborted) << code;
}

TEST(SocketSet, HoldsEachSocketOnceAndNothingPastItsCapacity) {
  net::SocketSet set;
  set.Add(5);
  set.Add(5);
  EXPECT_EQ(set.Count(), 1);
  for (int i = 0; i < 100; ++i)
    set.Add(static_cast<net::Socket>(100 + i));
  EXPECT_EQ(set.Count(), net::SocketSet::kCapacity);
  EXPECT_TRUE(set.Contains(5));
  EXPECT_TRUE(set.Contains(static_cast<net::Socket>(100 + 63)));
  EXPECT_FALSE(set.Contains(static_cast<net::Socket>(100 + 64)));
  set.Clear();
  EXPECT_EQ(set.Count(), 0);
  EXPECT_FALSE(set.Contains(5));
}

TEST(WaitForSockets, KeepsOnlyReadySocketsAndCountsThem) {
  Pair a = MakePair();
  Pair b = MakePair();
  ASSERT_TRUE(a.end[1].Valid() && b.end[1].Valid());
  net::SocketSet read;
  net::SocketSet write;

  // Time-out: 0, and both sets come back empty.
  read.Add(a.end[1].Get());
  read.Add(b.end[1].Get());
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(net::WaitForSockets(&read, &write, 200), 0);
  EXPECT_GE(std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - t0).count(), 150);
  EXPECT_EQ(read.Count(), 0);

  // Data on b, room to write on a: one of each.
  ASSERT_TRUE(SendAll(b.end[0].Get(), "x"));
  read.Add(a.end[1].Get());
  read.Add(b.end[1].Get());
  write.Add(a.end[0].Get());
  ASSERT_EQ(net::WaitForSockets(&read, &write, 1000), 2);
  EXPECT_FALSE(read.Contains(a.end[1].Get()));
  EXPECT_TRUE(read.Contains(b.end[1].Get()));
  EXPECT_TRUE(write.Contains(a.end[0].Get()));

  // A peer that closed makes its socket readable, as select reports it.
  a.end[0].Reset();
  read.Clear();
  write.Clear();
  read.Add(a.end[1].Get());
  EXPECT_EQ(net::WaitForSockets(&read, &write, 1000), 1);
  EXPECT_TRUE(read.Contains(a.end[1].Get()));
}

TEST(WaitForSockets, ASocketThatIsNotOpenFailsTheWait) {
  net::Socket gone;
  {
    net::UniqueSocket s(net::CreateStreamSocket());
    gone = s.Get();
  }
  net::SocketSet read;
  read.Add(gone);
  EXPECT_EQ(net::WaitForSockets(&read, nullptr, 100), net::kSocketError);
  EXPECT_EQ(net::LastSocketError(), net::kErrNotSocket);
}

#ifndef _WIN32
TEST(WaitForSockets, DescriptorsPast1023Work) {
  Pair p = MakePair();
  ASSERT_TRUE(p.end[1].Valid());
  const int high = ::dup2(p.end[1].Get(), 1500);
  ASSERT_EQ(high, 1500);
  net::UniqueSocket owner(high);
  ASSERT_TRUE(SendAll(p.end[0].Get(), "hi"));
  net::SocketSet read;
  read.Add(high);
  ASSERT_EQ(net::WaitForSockets(&read, nullptr, 1000), 1);
  EXPECT_TRUE(read.Contains(high));
}
#endif

TEST(Bind, APortInTimeWaitBindsAgainButALiveListenerHoldsIt) {
  // Make the listening side close first, so its side of the connection sits
  // in TIME_WAIT on the port.
  net::UniqueSocket listener(net::CreateListenSocket());
  ASSERT_EQ(net::Bind(listener.Get(), net::SocketAddress{net::kInaddrAny, 0}), 0);
  ASSERT_EQ(net::Listen(listener.Get(), 5), 0);
  net::SocketAddress local;
  ASSERT_TRUE(net::LocalAddress(listener.Get(), &local));
  net::UniqueSocket client = ConnectTo(local.port);
  net::UniqueSocket accepted(net::Accept(listener.Get()));
  ASSERT_TRUE(accepted.Valid());

  net::UniqueSocket rival(net::CreateListenSocket());
  EXPECT_EQ(net::Bind(rival.Get(), net::SocketAddress{net::kInaddrAny, local.port}),
            net::kSocketError);

  accepted.Reset();
  listener.Reset();
  ASSERT_TRUE(WaitPeerClosed(client.Get()));
  client.Reset();
  net::UniqueSocket again(net::CreateListenSocket());
  EXPECT_EQ(net::Bind(again.Get(), net::SocketAddress{net::kInaddrAny, local.port}), 0)
      << net::LastSocketError();
  EXPECT_EQ(net::Listen(again.Get(), 5), 0);
}

}  // namespace
}  // namespace vx::test
