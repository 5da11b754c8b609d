#include "tests/serve/loopback.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <vector>

namespace vx::test {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

bool WaitFd(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int n;
  do {
    n = ::poll(&p, 1, timeoutMs);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

}  // namespace

std::uint16_t FreePort() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

EchoBackend::EchoBackend() {
  m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(0);
  ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(m_listener, 64);
  socklen_t len = sizeof a;
  ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len);
  m_port = ntohs(a.sin_port);
  if (::pipe2(m_wake, O_CLOEXEC) != 0)
    m_wake[0] = m_wake[1] = -1;
  m_thread = std::thread([this] { Run(); });
}

EchoBackend::~EchoBackend() {
  char c = 0;
  (void)!::write(m_wake[1], &c, 1);
  m_thread.join();
  ::close(m_listener);
  ::close(m_wake[0]);
  ::close(m_wake[1]);
}

void EchoBackend::Run() {
  std::map<int, std::string> conns;  // fd -> bytes not yet echoed
  while (true) {
    std::vector<pollfd> fds;
    fds.push_back({m_wake[0], POLLIN, 0});
    fds.push_back({m_listener, POLLIN, 0});
    for (auto& [fd, pending] : conns) {
      fds.push_back({fd, static_cast<short>(pending.empty() ? POLLIN : POLLOUT), 0});
    }
    if (::poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR)
      break;
    if (fds[0].revents)
      break;
    if (fds[1].revents & POLLIN) {
      int c = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (c >= 0) {
        conns[c];
        m_accepted.fetch_add(1);
      }
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0)
        continue;
      int fd = fds[i].fd;
      std::string& pending = conns[fd];
      bool dead = false;
      if (pending.empty()) {
        char buf[65536];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0)
          pending.assign(buf, static_cast<std::size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
          dead = true;
      } else {
        ssize_t n = ::send(fd, pending.data(), pending.size(), MSG_NOSIGNAL);
        if (n > 0)
          pending.erase(0, static_cast<std::size_t>(n));
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
          dead = true;
      }
      if (dead) {
        ::close(fd);
        conns.erase(fd);
      }
    }
  }
  for (auto& [fd, pending] : conns)
    ::close(fd);
}

Client::~Client() {
  Close();
}

void Client::Close() {
  if (m_fd >= 0)
    ::close(m_fd);
  m_fd = -1;
}

bool Client::Connect(std::uint16_t port, int timeoutMs) {
  Close();
  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in a = Loopback(port);
  int r = ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  if (r != 0 && errno != EINPROGRESS)
    return false;
  if (r != 0) {
    if (!WaitFd(m_fd, POLLOUT, timeoutMs))
      return false;
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0)
      return false;
  }
  return true;
}

bool Client::SendAll(const std::string& data) {
  std::size_t off = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (off < data.size()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    ssize_t n = ::send(m_fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n > 0) {
      off += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      WaitFd(m_fd, POLLOUT, 100);
    } else {
      return false;
    }
  }
  return true;
}

bool Client::ReadExactly(std::size_t n, std::string* out, int timeoutMs) {
  out->clear();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buf[65536];
  while (out->size() < n) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0 || !WaitFd(m_fd, POLLIN, static_cast<int>(left)))
      return false;
    std::size_t want = std::min(sizeof buf, n - out->size());
    ssize_t r = ::recv(m_fd, buf, want, 0);
    if (r > 0)
      out->append(buf, static_cast<std::size_t>(r));
    else if (r == 0 || (errno != EAGAIN && errno != EINTR))
      return false;
  }
  return true;
}

bool Client::Echo(const std::string& data, int timeoutMs) {
  // Send and read in steps, so a relay holding 8 KiB per direction never
  // sees both ends blocked.
  std::size_t off = 0;
  while (off < data.size()) {
    std::size_t n = std::min<std::size_t>(32768, data.size() - off);
    std::string part = data.substr(off, n), back;
    if (!SendAll(part) || !ReadExactly(n, &back, timeoutMs) || back != part)
      return false;
    off += n;
  }
  return true;
}

bool Client::SeesClose(int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buf[4096];
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0 || !WaitFd(m_fd, POLLIN, static_cast<int>(left)))
      return false;
    ssize_t r = ::recv(m_fd, buf, sizeof buf, 0);
    if (r == 0)
      return true;
    if (r < 0 && errno != EAGAIN && errno != EINTR)
      return true;
  }
}

bool Accepts(std::uint16_t port) {
  Client c;
  return c.Connect(port, 1000);
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace vx::test
