#include "bench/pipeline_backend.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "bench/bench_net.h"

namespace vx::bench {

PipelineBackend::PipelineBackend(std::size_t replyBytes) : m_replyBytes(replyBytes) {
  m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof sa;
  ::bind(m_listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  ::listen(m_listener, 64);
  ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&sa), &len);
  m_port = ntohs(sa.sin_port);
  m_thread = std::thread([this] { AcceptLoop(); });
}

PipelineBackend::~PipelineBackend() {
  m_quit = true;
  m_thread.join();
  while (m_live.load() > 0)
    std::this_thread::yield();
  ::close(m_listener);
}

void PipelineBackend::AcceptLoop() {
  while (!m_quit) {
    pollfd p{m_listener, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0)
      continue;
    int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    m_live.fetch_add(1);
    std::thread([this, fd] { Serve(fd); }).detach();
  }
}

void PipelineBackend::Serve(int fd) {
  SetNoDelay(fd);
  const std::string reply(m_replyBytes, 'r');
  std::string out;
  std::vector<char> in(1 << 16);
  std::size_t partial = 0;  // bytes of a request not yet complete
  while (!m_quit) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0)
      continue;
    ssize_t n = ::recv(fd, in.data(), in.size(), 0);
    if (n <= 0)
      break;
    partial += static_cast<std::size_t>(n);
    out.clear();
    for (; partial >= kRequestBytes; partial -= kRequestBytes)
      out += reply;
    if (!out.empty() && !SendAll(fd, out.data(), out.size()))
      break;
  }
  ::close(fd);
  m_live.fetch_sub(1);
}

}  // namespace vx::bench
