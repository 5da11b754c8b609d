#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "serve/notify.h"

namespace vx {

bool SendNotifySocket(const std::string& message) {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name == nullptr || (name[0] != '/' && name[0] != '@'))
    return false;  // unset, or an address family this program does not speak
  std::size_t len = std::strlen(name);
  sockaddr_un addr{};
  if (len > sizeof addr.sun_path)
    return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, name, len);
  if (name[0] == '@')
    addr.sun_path[0] = '\0';  // the abstract namespace
  socklen_t addrLen = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);
  if (name[0] == '/' && len < sizeof addr.sun_path)
    ++addrLen;  // with the terminating NUL, as the manager binds it
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return false;
  ssize_t sent = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                          reinterpret_cast<const sockaddr*>(&addr), addrLen);
  ::close(fd);
  return sent == static_cast<ssize_t>(message.size());
}

}  // namespace vx
