#include "tests/serve/many_connections.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/serve/client.h"

namespace vx::test {

namespace {

using Clock = std::chrono::steady_clock;

void Message(int conn, int round, char out[16]) {
  std::snprintf(out, 16, "c%07dr%06d", conn, round);
  out[15] = '\n';
}

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

long RaiseOwnFileLimit() {
  rlimit lim{};
  ::getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = lim.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &lim);
  return static_cast<long>(lim.rlim_cur);
}

// --- EpollEcho ---

EpollEcho::EpollEcho() {
  m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in a = LoopbackAddress(0);
  ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(m_listener, 4096);
  socklen_t len = sizeof a;
  ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &len);
  m_port = ntohs(a.sin_port);
  m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
  m_wake = ::eventfd(0, EFD_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = m_listener;
  ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_listener, &ev);
  ev.data.fd = m_wake;
  ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &ev);
  m_thread = std::thread([this] { Run(); });
}

EpollEcho::~EpollEcho() {
  std::uint64_t one = 1;
  (void)!::write(m_wake, &one, sizeof one);
  m_thread.join();
  ::close(m_listener);
  ::close(m_epoll);
  ::close(m_wake);
}

void EpollEcho::Run() {
  std::map<int, std::string> pending;  // bytes not yet echoed
  epoll_event events[256];
  while (true) {
    int n = ::epoll_wait(m_epoll, events, 256, 1000);
    for (int i = 0; i < n; ++i) {
      int fd = events[i].data.fd;
      if (fd == m_wake) {
        for (auto& [c, rest] : pending)
          ::close(c);
        return;
      }
      if (fd == m_listener) {
        int c;
        while ((c = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
          epoll_event ev{};
          ev.events = EPOLLIN;
          ev.data.fd = c;
          ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, c, &ev);
          pending[c];
          m_open.fetch_add(1);
        }
        continue;
      }
      char buf[16384];
      std::string& rest = pending[fd];
      bool dead = false;
      if (events[i].events & EPOLLIN) {
        ssize_t r = ::recv(fd, buf, sizeof buf, 0);
        if (r > 0)
          rest.append(buf, static_cast<std::size_t>(r));
        else if (r == 0 || (errno != EAGAIN && errno != EINTR))
          dead = true;
      }
      if (!dead && !rest.empty()) {
        ssize_t w = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (w > 0)
          rest.erase(0, static_cast<std::size_t>(w));
        else if (w < 0 && errno != EAGAIN)
          dead = true;
        epoll_event ev{};
        ev.events = rest.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT;
        ev.data.fd = fd;
        ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &ev);
      }
      if (dead) {
        ::close(fd);
        pending.erase(fd);
        m_open.fetch_sub(1);
      }
    }
  }
}

// --- HeldClients ---

HeldClients::~HeldClients() {
  CloseAll();
}

void HeldClients::CloseAll() {
  for (int fd : m_fds)
    ::close(fd);
  m_fds.clear();
}

int HeldClients::Open(std::uint16_t port, int n, int timeoutMs, int inFlight) {
  struct Setup {
    int fd, index;
    std::size_t got;
    char want[16], back[16];
    bool sent;
  };
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int ep = ::epoll_create1(EPOLL_CLOEXEC);
  std::map<int, Setup> setups;
  int next = 0;
  while ((next < n || !setups.empty()) && Clock::now() < deadline) {
    while (next < n && static_cast<int>(setups.size()) < inFlight) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (fd < 0) {
        next = n;  // out of descriptors here: the test says how many it got
        break;
      }
      sockaddr_in a = LoopbackAddress(port);
      ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      Setup s{fd, next++, 0, {}, {}, false};
      Message(s.index, 0, s.want);
      setups[fd] = s;
      epoll_event ev{};
      ev.events = EPOLLOUT | EPOLLIN;
      ev.data.fd = fd;
      ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    }
    epoll_event events[128];
    int k = ::epoll_wait(ep, events, 128, std::min(100, MsLeft(deadline)));
    for (int i = 0; i < k; ++i) {
      Setup& s = setups[events[i].data.fd];
      bool failed = (events[i].events & (EPOLLERR | EPOLLHUP)) != 0;
      if (!failed && !s.sent && (events[i].events & EPOLLOUT)) {
        failed = ::send(s.fd, s.want, 16, MSG_NOSIGNAL) != 16;
        s.sent = true;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = s.fd;
        ::epoll_ctl(ep, EPOLL_CTL_MOD, s.fd, &ev);
      }
      if (!failed && s.sent && (events[i].events & EPOLLIN)) {
        ssize_t r = ::recv(s.fd, s.back + s.got, 16 - s.got, 0);
        failed = r <= 0;
        if (r > 0)
          s.got += static_cast<std::size_t>(r);
      }
      bool done = s.got == 16;
      if (done)
        failed = std::memcmp(s.back, s.want, 16) != 0;
      if (failed || done) {
        ::epoll_ctl(ep, EPOLL_CTL_DEL, s.fd, nullptr);
        if (failed)
          ::close(s.fd);
        else
          m_fds.push_back(s.fd);
        setups.erase(s.fd);
      }
    }
  }
  for (auto& [fd, s] : setups)
    ::close(fd);
  ::close(ep);
  return Held();
}

int HeldClients::EchoAll(int timeoutMs) {
  ++m_round;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int ep = ::epoll_create1(EPOLL_CLOEXEC);
  std::map<int, std::pair<std::string, std::string>> waiting;  // fd -> (want, got)
  for (std::size_t i = 0; i < m_fds.size(); ++i) {
    char msg[16];
    Message(static_cast<int>(i), m_round, msg);
    if (::send(m_fds[i], msg, 16, MSG_NOSIGNAL) != 16)
      continue;
    waiting[m_fds[i]] = {std::string(msg, 16), std::string()};
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_fds[i];
    ::epoll_ctl(ep, EPOLL_CTL_ADD, m_fds[i], &ev);
  }
  int ok = 0;
  while (!waiting.empty() && Clock::now() < deadline) {
    epoll_event events[128];
    int k = ::epoll_wait(ep, events, 128, std::min(100, MsLeft(deadline)));
    for (int i = 0; i < k; ++i) {
      auto it = waiting.find(events[i].data.fd);
      char buf[16];
      ssize_t r = ::recv(it->first, buf, 16 - it->second.second.size(), 0);
      if (r > 0)
        it->second.second.append(buf, static_cast<std::size_t>(r));
      if (r <= 0 || it->second.second.size() == 16) {
        if (r > 0 && it->second.second == it->second.first)
          ++ok;
        ::epoll_ctl(ep, EPOLL_CTL_DEL, it->first, nullptr);
        waiting.erase(it);
      }
    }
  }
  ::close(ep);
  return ok;
}

}  // namespace vx::test
