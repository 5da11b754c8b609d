#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "store/ini_file_io.h"

namespace vx::ini {

namespace fs = std::filesystem;

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }
  // Close errors matter for written files: some file systems report a failed
  // write only here.
  bool Close() {
    if (m_fd < 0) {
      return true;
    }
    int rc = ::close(m_fd);
    m_fd = -1;
    return rc == 0;
  }

 private:
  int m_fd;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The file a write must replace: through a symbolic link to its target, so the
// link itself stays.
fs::path ReplacementTarget(const fs::path& path) {
  std::error_code ec;
  if (fs::is_symlink(path, ec)) {
    fs::path target = fs::canonical(path, ec);
    if (!ec) {
      return target;
    }
  }
  return path;
}

void SyncDirectory(const fs::path& dir) {
  FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Valid()) {
    ::fsync(fd.Get());
  }
}

std::atomic<unsigned> g_tempCounter{0};

}  // namespace

ReadResult ReadWholeFile(const fs::path& path, std::string* bytes) {
  bytes->clear();
  // Non-blocking, so a FIFO or device at the name cannot hang the open.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) {
    return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::kMissing : ReadResult::kFailed;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return ReadResult::kFailed;
  }
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n == 0) {
      return ReadResult::kRead;
    }
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      bytes->clear();
      return ReadResult::kFailed;
    }
    bytes->append(buffer, static_cast<std::size_t>(n));
  }
}

bool ReplaceWholeFile(const fs::path& path, std::string_view bytes) {
  fs::path target = ReplacementTarget(path);
  struct stat old {};
  bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed) {
    if (!S_ISREG(old.st_mode)) {
      return false;
    }
    // The rename would get past a read-only file; opening it for writing asks
    // the same question the old in-place write did.
    FileDescriptor probe(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (!probe.Valid()) {
      return false;
    }
  }

  fs::path temp;
  int tempFd = -1;
  for (int attempt = 0; attempt < 100 && tempFd < 0; ++attempt) {
    temp = target;
    temp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter++);
    tempFd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (tempFd < 0 && errno != EEXIST) {
      return false;
    }
  }
  FileDescriptor fd(tempFd);
  if (!fd.Valid()) {
    return false;
  }
  bool ok = true;
  if (existed) {
    ok = ::fchmod(fd.Get(), old.st_mode & 07777) == 0;
  }
  ok = ok && WriteAll(fd.Get(), bytes) && ::fsync(fd.Get()) == 0;
  ok = fd.Close() && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  fs::path dir = target.parent_path();
  SyncDirectory(dir.empty() ? fs::path(".") : dir);
  return true;
}

void CreateEmptyFileIfMissing(const fs::path& path) {
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

}  // namespace vx::ini
