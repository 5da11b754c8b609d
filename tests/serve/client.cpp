#include "tests/serve/client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include "tests/support/wait.h"

namespace vx::test {

sockaddr_in LoopbackAddress(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

namespace {

bool WaitFd(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int n;
  do {
    n = ::poll(&p, 1, timeoutMs);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

}  // namespace

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
  sockaddr_in a = LoopbackAddress(port);
  int r = ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  if (r != 0 && errno != EINPROGRESS)
    return false;
  if (r != 0) {
    if (!WaitFd(m_fd, POLLOUT, static_cast<int>(Scaled(Ms(timeoutMs)).count())))
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
  auto deadline = std::chrono::steady_clock::now() + Scaled(Ms(timeoutMs));
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
  auto deadline = std::chrono::steady_clock::now() + Scaled(Ms(timeoutMs));
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

}  // namespace vx::test
