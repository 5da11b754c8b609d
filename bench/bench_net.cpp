#include "bench/bench_net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vx::bench {

namespace {

constexpr std::size_t kTableSize = 65536;

std::uint64_t SplitMix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

const std::uint8_t* Table() {
  static const std::vector<std::uint8_t> table = [] {
    std::vector<std::uint8_t> t(kTableSize);
    for (std::size_t i = 0; i < kTableSize; i += 8) {
      std::uint64_t v = SplitMix(i);
      std::memcpy(&t[i], &v, 8);
    }
    return t;
  }();
  return table.data();
}

void SetTimeouts(int fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace

Stream::Stream(std::uint32_t seed) : m_seed(seed) {
  Table();
}

std::uint8_t Stream::Key(std::uint64_t block) const {
  return static_cast<std::uint8_t>(SplitMix((static_cast<std::uint64_t>(m_seed) << 40) ^ block));
}

void Stream::Fill(std::uint64_t pos, char* out, std::size_t n) const {
  const std::uint8_t* t = Table();
  while (n > 0) {
    std::size_t off = pos % kTableSize;
    std::size_t run = std::min(n, kTableSize - off);
    std::uint8_t k = Key(pos / kTableSize);
    std::uint64_t k8 = k * 0x0101010101010101ull;
    std::size_t i = 0;
    for (; i + 8 <= run; i += 8) {
      std::uint64_t v;
      std::memcpy(&v, t + off + i, 8);
      v ^= k8;
      std::memcpy(out + i, &v, 8);
    }
    for (; i < run; ++i)
      out[i] = static_cast<char>(t[off + i] ^ k);
    out += run;
    pos += run;
    n -= run;
  }
}

long long Stream::Check(std::uint64_t pos, const char* data, std::size_t n) const {
  const std::uint8_t* t = Table();
  while (n > 0) {
    std::size_t off = pos % kTableSize;
    std::size_t run = std::min(n, kTableSize - off);
    std::uint8_t k = Key(pos / kTableSize);
    std::uint64_t k8 = k * 0x0101010101010101ull;
    std::size_t i = 0;
    for (; i + 8 <= run; i += 8) {
      std::uint64_t want, got;
      std::memcpy(&want, t + off + i, 8);
      std::memcpy(&got, data + i, 8);
      if ((want ^ k8) != got)
        break;
    }
    for (; i < run; ++i) {
      if (static_cast<std::uint8_t>(data[i]) != (t[off + i] ^ k))
        return static_cast<long long>(pos + i);
    }
    data += run;
    pos += run;
    n -= run;
  }
  return -1;
}

Backend::Backend() {
  m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(m_listener, 128);
  socklen_t len = sizeof a;
  ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len);
  m_port = ntohs(a.sin_port);
  m_thread = std::thread([this] { AcceptLoop(); });
}

Backend::~Backend() {
  m_quit = true;
  m_thread.join();
  while (m_live.load() > 0)
    ::usleep(1000);
  ::close(m_listener);
}

void Backend::AcceptLoop() {
  while (!m_quit) {
    pollfd p{m_listener, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0)
      continue;
    int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    m_live.fetch_add(1);
    std::thread([this, fd] {
      Serve(fd);
      m_live.fetch_sub(1);
    }).detach();
  }
}

void Backend::Serve(int fd) {
  SetNoDelay(fd);
  SetTimeouts(fd, 10000);
  char mode = 0;
  if (!RecvAll(fd, &mode, 1))
    return CloseFd(fd);
  if (mode == kModeEcho) {
    char buf[65536];
    while (true) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0 || !SendAll(fd, buf, static_cast<std::size_t>(n)))
        break;
    }
  } else if (mode == kModePipeline) {
    std::uint32_t replyBytes = 0;
    if (RecvAll(fd, reinterpret_cast<char*>(&replyBytes), sizeof replyBytes)) {
      const std::string reply(replyBytes, 'r');
      std::string out;
      char buf[65536];
      std::size_t partial = 0;  // bytes of a request not yet complete
      while (true) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
          break;
        out.clear();
        for (partial += static_cast<std::size_t>(n); partial >= kRequestBytes;
             partial -= kRequestBytes)
          out += reply;
        if (!out.empty() && !SendAll(fd, out.data(), out.size()))
          break;
      }
    }
  } else if (mode == kModeSink) {
    char head[12];
    if (RecvAll(fd, head, sizeof head)) {
      std::uint64_t length;
      std::uint32_t seed;
      std::memcpy(&length, head, 8);
      std::memcpy(&seed, head + 8, 4);
      Stream stream(seed);
      std::vector<char> buf(1 << 18);
      std::uint64_t pos = 0;
      bool ok = true;
      while (pos < length) {
        ssize_t n = ::recv(fd, buf.data(), std::min<std::uint64_t>(buf.size(), length - pos), 0);
        if (n <= 0) {
          ok = false;
          break;
        }
        if (ok && stream.Check(pos, buf.data(), static_cast<std::size_t>(n)) >= 0)
          ok = false;
        pos += static_cast<std::uint64_t>(n);
      }
      if (!ok)
        m_bad.fetch_add(1);
      char verdict = ok ? kVerdictOk : kVerdictBad;
      SendAll(fd, &verdict, 1);
      // Wait for the client's close, so the verdict is not cut off.
      ::recv(fd, buf.data(), 1, 0);
    }
  }
  CloseFd(fd);
}

int ConnectLoopback(std::uint16_t port, int timeoutMs) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  SetTimeouts(fd, timeoutMs);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    ssize_t r = ::send(fd, data, n, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR)
      continue;
    if (r <= 0)
      return false;
    data += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

bool RecvAll(int fd, char* data, std::size_t n) {
  while (n > 0) {
    ssize_t r = ::recv(fd, data, n, 0);
    if (r < 0 && errno == EINTR)
      continue;
    if (r <= 0)
      return false;
    data += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

void SetNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void CloseFd(int fd) {
  if (fd >= 0)
    ::close(fd);
}

}  // namespace vx::bench
