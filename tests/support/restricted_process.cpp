#include "tests/support/restricted_process.h"

#include <csignal>
#include <cstdio>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vx::test {

namespace fs = std::filesystem;

#ifdef _WIN32

ChildOutcome RunWithoutPrivileges(const fs::path&, const std::function<bool()>& body) {
  return body() ? ChildOutcome::kPassed : ChildOutcome::kFailed;
}

ChildOutcome RunOnSmallDisk(const fs::path&, std::size_t, const std::function<bool()>&) {
  return ChildOutcome::kUnavailable;
}

#else

namespace {

constexpr int kUnavailableExit = 77;

// Runs `prepare` and then `body` in a forked child.
ChildOutcome InChild(const std::function<bool()>& prepare, const std::function<bool()>& body) {
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child < 0) {
    return ChildOutcome::kUnavailable;
  }
  if (child == 0) {
    if (!prepare()) {
      ::_exit(kUnavailableExit);
    }
    bool ok = body();
    std::fflush(nullptr);
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return ChildOutcome::kFailed;
  }
  if (WEXITSTATUS(status) == kUnavailableExit) {
    return ChildOutcome::kUnavailable;
  }
  return WEXITSTATUS(status) == 0 ? ChildOutcome::kPassed : ChildOutcome::kFailed;
}

bool WriteText(const char* path, const std::string& text) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

// A mount namespace of the child's own; without root, inside a user
// namespace in which the child is root.
bool OwnMountNamespace() {
  if (::geteuid() == 0) {
    return ::unshare(CLONE_NEWNS) == 0;
  }
  const std::string uid = std::to_string(::geteuid());
  const std::string gid = std::to_string(::getegid());
  return ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && WriteText("/proc/self/setgroups", "deny") &&
         WriteText("/proc/self/uid_map", "0 " + uid + " 1") &&
         WriteText("/proc/self/gid_map", "0 " + gid + " 1");
}

}  // namespace

bool WithFileSizeLimit(std::size_t bytes, const std::function<bool()>& body) {
  struct rlimit saved {};
  if (::getrlimit(RLIMIT_FSIZE, &saved) != 0) {
    return false;
  }
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = bytes;
  bool ok = ::setrlimit(RLIMIT_FSIZE, &small) == 0 && body();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  return ok;
}

ChildOutcome RunWithoutPrivileges(const fs::path& dir, const std::function<bool()>& body) {
  if (::geteuid() != 0) {
    return body() ? ChildOutcome::kPassed : ChildOutcome::kFailed;
  }
  const uid_t kNobody = 65534;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    if (::lchown(e.path().c_str(), kNobody, kNobody) != 0) {
      return ChildOutcome::kFailed;
    }
  }
  if (::chown(dir.c_str(), kNobody, kNobody) != 0) {
    return ChildOutcome::kFailed;
  }
  return InChild(
      [&] {
        return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
      },
      body);
}

ChildOutcome RunOnSmallDisk(const fs::path& dir, std::size_t bytes,
                            const std::function<bool()>& body) {
  return InChild(
      [&] {
        const std::string options = "size=" + std::to_string(bytes);
        return OwnMountNamespace() &&
               ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               ::mount("vexhold-test", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
      },
      body);
}

#endif

}  // namespace vx::test
