// The service manager's end of NOTIFY_SOCKET for tests: a datagram socket the
// test binds itself, and runs with extra environment variables.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace vx::test {

class NotifyListener {
 public:
  // Binds a socket at `path`, or in the abstract namespace when `abstract`.
  NotifyListener(const std::filesystem::path& path, bool abstract);
  ~NotifyListener();
  NotifyListener(const NotifyListener&) = delete;
  NotifyListener& operator=(const NotifyListener&) = delete;

  bool Ok() const { return m_fd >= 0; }
  // What NOTIFY_SOCKET must say for this socket.
  const std::string& Address() const { return m_address; }
  // The next datagram, or false after timeoutMs.
  bool Receive(std::string* message, int timeoutMs);

 private:
  int m_fd = -1;
  std::string m_address;
};

// Sets environment variables for the lifetime of the object (for the
// children a test starts), restoring what was there before.
class ScopedEnv {
 public:
  explicit ScopedEnv(std::vector<std::pair<std::string, std::string>> vars);
  ~ScopedEnv();

 private:
  std::vector<std::pair<std::string, std::string>> m_saved;
  std::vector<bool> m_had;
};

}  // namespace vx::test
