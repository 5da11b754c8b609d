#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "serve/dir_changes.h"

namespace vx {

struct DirChanges::State {
  std::string name;
  int inotify = -1;
  int cancel = -1;  // eventfd
  int error = 0;
};

DirChanges::DirChanges(const std::filesystem::path& dir, const std::string& fileName)
    : m_state(new State) {
  m_state->name = fileName;
  m_state->cancel = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  m_state->inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (m_state->inotify < 0 || m_state->cancel < 0) {
    m_state->error = errno;
    return;
  }
  const uint32_t mask = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE | IN_DELETE |
                        IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
  if (::inotify_add_watch(m_state->inotify, dir.c_str(), mask) < 0) {
    m_state->error = errno;
    ::close(m_state->inotify);
    m_state->inotify = -1;
  }
}

DirChanges::~DirChanges() {
  if (m_state->inotify >= 0)
    ::close(m_state->inotify);
  if (m_state->cancel >= 0)
    ::close(m_state->cancel);
}

bool DirChanges::Ok() const {
  return m_state->inotify >= 0;
}

int DirChanges::Error() const {
  return m_state->error;
}

void DirChanges::Cancel() {
  if (m_state->cancel >= 0) {
    uint64_t one = 1;
    ssize_t n = ::write(m_state->cancel, &one, sizeof one);
    (void)n;
  }
}

DirChanges::Result DirChanges::Wait(int timeoutMs) {
  if (!Ok())
    return Result::kFailed;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    pollfd fds[2] = {{m_state->inotify, POLLIN, 0}, {m_state->cancel, POLLIN, 0}};
    int n = ::poll(fds, 2, left > 0 ? static_cast<int>(left) : 0);
    if (n < 0 && errno != EINTR)
      return Result::kFailed;
    if (n > 0 && (fds[1].revents & POLLIN))
      return Result::kCancelled;
    if (n > 0 && (fds[0].revents & POLLIN)) {
      alignas(inotify_event) char buf[8192];
      bool changed = false, gone = false;
      while (true) {
        ssize_t got = ::read(m_state->inotify, buf, sizeof buf);
        if (got <= 0)
          break;
        for (char* p = buf; p < buf + got;) {
          auto* ev = reinterpret_cast<inotify_event*>(p);
          if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))
            gone = true;
          else if (ev->mask & IN_Q_OVERFLOW)
            changed = true;  // events were lost: the file may have changed
          else if (ev->len > 0 && m_state->name == ev->name)
            changed = true;
          p += sizeof(inotify_event) + ev->len;
        }
      }
      if (gone) {
        // The directory itself went away or moved: this watch is over.
        ::close(m_state->inotify);
        m_state->inotify = -1;
        m_state->error = ENOENT;
        return changed ? Result::kChanged : Result::kFailed;
      }
      if (changed)
        return Result::kChanged;
    }
    if (std::chrono::steady_clock::now() >= deadline)
      return Result::kTimeout;
  }
}

}  // namespace vx
