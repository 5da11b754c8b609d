#include "tests/support/sockets.h"

#include <algorithm>

#include "platform/socket_set.h"
#include "tests/support/ports.h"

namespace vx::test {

bool WaitReadable(net::Socket s, Ms timeout) {
  net::SocketSet read;
  read.Add(s);
  return net::WaitForSockets(&read, nullptr, static_cast<int>(timeout.count())) > 0;
}

net::UniqueSocket ConnectTo(std::uint16_t port, std::uint32_t addr) {
  EnsureSockets();
  net::UniqueSocket s(net::CreateStreamSocket());
  if (!s.Valid() ||
      net::Connect(s.Get(), net::SocketAddress{addr != 0 ? addr : Loopback(), port}) != 0) {
    return net::UniqueSocket();
  }
  return s;
}

net::UniqueSocket ConnectWhenListening(std::uint16_t port, Ms timeout) {
  net::UniqueSocket s;
  (void)WaitFor(
      [&] {
        s = ConnectTo(port);
        return s.Valid();
      },
      timeout, "a listener on port " + std::to_string(port));
  return s;
}

bool SendAll(net::Socket s, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    std::uint32_t sent = 0;
    if (net::Send(s, data.data() + done, static_cast<std::uint32_t>(data.size() - done), &sent) !=
        0) {
      return false;
    }
    done += sent;
  }
  return true;
}

bool RecvExact(net::Socket s, std::size_t n, std::string* out, Ms timeout) {
  const Deadline deadline(timeout);
  const std::size_t want = n;
  char buf[65536];
  while (out->size() < want) {
    if (deadline.Passed() || !WaitReadable(s, deadline.Left()))
      return false;
    const auto ask = static_cast<std::uint32_t>(std::min(sizeof buf, want - out->size()));
    std::uint32_t got = 0;
    if (net::Recv(s, buf, ask, &got) != 0) {
      if (net::LastSocketError() == net::kErrWouldBlock)
        continue;
      return false;
    }
    if (got == 0)
      return false;
    out->append(buf, got);
  }
  return true;
}

bool WaitPeerClosed(net::Socket s, Ms timeout, std::string* rest) {
  const Deadline deadline(timeout);
  char buf[65536];
  for (;;) {
    if (deadline.Passed() || !WaitReadable(s, deadline.Left()))
      return false;
    std::uint32_t got = 0;
    if (net::Recv(s, buf, sizeof buf, &got) != 0) {
      if (net::LastSocketError() == net::kErrWouldBlock)
        continue;
      return true;  // a reset counts as closed
    }
    if (got == 0)
      return true;
    if (rest != nullptr)
      rest->append(buf, got);
  }
}

bool StaysQuiet(net::Socket s, Ms period) {
  return !WaitReadable(s, period);
}

std::string RoundTrip(std::uint16_t port, const std::string& text, Ms timeout,
                      net::UniqueSocket* kept) {
  net::UniqueSocket s = ConnectTo(port);
  std::string got;
  if (s.Valid() && SendAll(s.Get(), text)) {
    const Deadline deadline(timeout);
    auto complete = [&] {
      return got.size() >= text.size() &&
             got.compare(got.size() - text.size(), text.size(), text) == 0;
    };
    char buf[4096];
    while (!complete() && !deadline.Passed() && WaitReadable(s.Get(), deadline.Left())) {
      std::uint32_t n = 0;
      if (net::Recv(s.Get(), buf, sizeof buf, &n) != 0 || n == 0)
        break;
      got.append(buf, n);
    }
  }
  if (kept != nullptr)
    *kept = std::move(s);
  return got;
}

}  // namespace vx::test
