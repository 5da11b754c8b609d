#include "tests/serve/notify_listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vx::test {

NotifyListener::NotifyListener(const std::filesystem::path& path, bool abstract) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string name = path.string();
  if (name.size() + 1 > sizeof addr.sun_path)
    return;
  std::memcpy(addr.sun_path, name.c_str(), name.size());
  if (abstract)
    addr.sun_path[0] = '\0';
  m_address = abstract ? "@" + name.substr(1) : name;
  m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
  if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

NotifyListener::~NotifyListener() {
  if (m_fd >= 0)
    ::close(m_fd);
}

bool NotifyListener::Receive(std::string* message, int timeoutMs) {
  pollfd p{m_fd, POLLIN, 0};
  int n;
  do {
    n = ::poll(&p, 1, timeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n <= 0)
    return false;
  char buf[4096];
  ssize_t got = ::recv(m_fd, buf, sizeof buf, 0);
  if (got < 0)
    return false;
  message->assign(buf, static_cast<std::size_t>(got));
  return true;
}

ScopedEnv::ScopedEnv(std::vector<std::pair<std::string, std::string>> vars) {
  for (auto& [name, value] : vars) {
    const char* old = std::getenv(name.c_str());
    m_had.push_back(old != nullptr);
    m_saved.emplace_back(name, old ? old : "");
    ::setenv(name.c_str(), value.c_str(), 1);
  }
}

ScopedEnv::~ScopedEnv() {
  for (std::size_t i = 0; i < m_saved.size(); ++i) {
    if (m_had[i])
      ::setenv(m_saved[i].first.c_str(), m_saved[i].second.c_str(), 1);
    else
      ::unsetenv(m_saved[i].first.c_str());
  }
}

}  // namespace vx::test
