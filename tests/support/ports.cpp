#include "tests/support/ports.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace vx::test {

namespace {

struct PortRange {
  int first = 20000;
  int span = 12000;
};

PortRange ProgramRange() {
  PortRange range;
  const char* text = std::getenv("VEXHOLD_TEST_PORTS");
  int first = 0, last = 0;
  if (text != nullptr && std::sscanf(text, "%d-%d", &first, &last) == 2 && first > 0 &&
      last >= first && last < 65536) {
    range.first = first;
    range.span = last - first + 1;
  }
  return range;
}

}  // namespace

void EnsureSockets() {
  static const int started = net::Startup();
  (void)started;
}

std::uint32_t Loopback() {
  return net::InetAddr("127.0.0.1");
}

std::uint16_t FreePort() {
  EnsureSockets();
  static const PortRange range = ProgramRange();
  // Each process starts at its own place, and never hands a port out twice
  // before it has gone round the whole range.
  static std::atomic<int> next{static_cast<int>(std::random_device{}() % range.span)};
  for (int tries = 0; tries < range.span; ++tries) {
    const auto port = static_cast<std::uint16_t>(range.first + next.fetch_add(1) % range.span);
    net::UniqueSocket s(net::CreateListenSocket());
    if (s.Valid() && net::Bind(s.Get(), net::SocketAddress{net::kInaddrAny, port}) == 0 &&
        net::Listen(s.Get(), 1) == 0) {
      return port;
    }
  }
  std::fprintf(stderr, "no free port left in %d-%d\n", range.first, range.first + range.span - 1);
  std::abort();
}

bool Accepts(std::uint16_t port) {
  EnsureSockets();
  net::UniqueSocket s(net::CreateStreamSocket());
  return s.Valid() && net::Connect(s.Get(), net::SocketAddress{Loopback(), port}) == 0;
}

PortHolder::PortHolder(std::uint16_t port) {
  EnsureSockets();
  m_socket.Reset(net::CreateListenSocket());
  if (!m_socket.Valid() || net::Bind(m_socket.Get(), {net::kInaddrAny, port}) != 0 ||
      net::Listen(m_socket.Get(), 1) != 0) {
    m_socket.Reset();
  }
}

}  // namespace vx::test
