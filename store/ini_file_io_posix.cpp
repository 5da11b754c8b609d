#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

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
  int Release() {
    int fd = m_fd;
    m_fd = -1;
    return fd;
  }
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

void SyncDirectory(const fs::path& dir) {
  FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Valid()) {
    ::fsync(fd.Get());
  }
}

IoStatus LastError() {
  return IoStatus::System(errno);
}

std::atomic<unsigned> g_tempCounter{0};

// The operator's words for the errors a save meets; the C library's own zh_CN
// texts, kept here so they do not depend on the locales a machine has.
const char* ChineseText(int code) {
  switch (code) {
    case EACCES:
      return "权限不够";
    case EPERM:
      return "不允许的操作";
    case EROFS:
      return "只读文件系统";
    case ENOSPC:
      return "设备上没有空间";
    case EDQUOT:
      return "超出磁盘限额";
    case EFBIG:
      return "文件过大";
    case EISDIR:
      return "是一个目录";
    case ENOENT:
      return "没有那个文件或目录";
    case ENOTDIR:
      return "不是目录";
    case EBUSY:
      return "设备或资源忙";
    case EIO:
      return "输入/输出错误";
    case ENAMETOOLONG:
      return "文件名过长";
    case ELOOP:
      return "符号连接的层数过多";
    case EMFILE:
      return "打开的文件过多";
    case ENFILE:
      return "系统中打开的文件过多";
    case ENOMEM:
      return "无法分配内存";
    case ETXTBSY:
      return "文本文件忙";
    default:
      return nullptr;
  }
}

}  // namespace

std::string SystemErrorText(int code) {
  if (const char* text = ChineseText(code)) {
    return text;
  }
  // Anything else: the C library's text, in Chinese when this machine has it.
  locale_t zh = ::newlocale(LC_MESSAGES_MASK, "zh_CN.UTF-8", static_cast<locale_t>(0));
  locale_t plain = ::newlocale(LC_MESSAGES_MASK, "C", static_cast<locale_t>(0));
  std::string text = zh != static_cast<locale_t>(0)      ? ::strerror_l(code, zh)
                     : plain != static_cast<locale_t>(0) ? ::strerror_l(code, plain)
                                                         : "";
  if (zh != static_cast<locale_t>(0)) {
    ::freelocale(zh);
  }
  if (plain != static_cast<locale_t>(0)) {
    ::freelocale(plain);
  }
  return text.empty() ? "错误 " + std::to_string(code) : text;
}

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

ReadResult ReadWholeFile(const fs::path& path, std::string* bytes, IoStatus* why) {
  IoStatus ignored;
  IoStatus& status = why != nullptr ? *why : ignored;
  status = IoStatus();
  bytes->clear();
  // Non-blocking, so a FIFO or device at the name cannot hang the open.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return ReadResult::kMissing;
    }
    status = LastError();
    return ReadResult::kFailed;
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) {
    status = LastError();
    return ReadResult::kFailed;
  }
  if (!S_ISREG(st.st_mode)) {
    status = IoStatus::NotAFile();
    return ReadResult::kFailed;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > kMaxProfileBytes) {
    status = IoStatus::TooLarge(size);
    return ReadResult::kFailed;
  }
  bytes->reserve(static_cast<std::size_t>(size));
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
      status = LastError();
      bytes->clear();
      return ReadResult::kFailed;
    }
    if (!AppendWithinLimit(bytes, buffer, static_cast<std::size_t>(n), &status)) {
      return ReadResult::kFailed;
    }
  }
}

IoStatus ReplaceWholeFile(const fs::path& path, std::string_view bytes) {
  fs::path target = ReplacementTarget(path);
  struct stat old {};
  bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed) {
    if (!S_ISREG(old.st_mode)) {
      return IoStatus::NotAFile();
    }
    // The rename would get past a read-only file; opening it for writing asks
    // the same question the old in-place write did.
    FileDescriptor probe(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (!probe.Valid()) {
      return LastError();
    }
  }

  fs::path temp;
  int tempFd = -1;
  for (int attempt = 0; attempt < 100 && tempFd < 0; ++attempt) {
    temp = TemporaryPath(target, CurrentProcessId(), g_tempCounter++);
    tempFd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (tempFd < 0 && errno != EEXIST) {
      return LastError();
    }
  }
  FileDescriptor fd(tempFd);
  if (!fd.Valid()) {
    return IoStatus::System(EEXIST);
  }
  int error = 0;
  if (existed && ::fchmod(fd.Get(), old.st_mode & 07777) != 0) {
    error = errno;
  }
  if (error == 0 && (!WriteAll(fd.Get(), bytes) || ::fsync(fd.Get()) != 0)) {
    error = errno;
  }
  if (!fd.Close() && error == 0) {
    error = errno;
  }
  if (error == 0) {
    error = PassReplacementGate(target);
  }
  if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(temp.c_str());
    return IoStatus::System(error);
  }
  fs::path dir = target.parent_path();
  SyncDirectory(dir.empty() ? fs::path(".") : dir);
  return IoStatus();
}

IoStatus WriteLock::Acquire(const fs::path& target, std::chrono::milliseconds wait) {
  Release();
  const fs::path lock = LockPath(target);
  int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) {
    fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // flock needs no write access
  }
  if (fd < 0) {
    return LastError();
  }
  FileDescriptor owned(fd);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      m_handle = owned.Release();
      return IoStatus();
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      return LastError();
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return IoStatus::LockTimeout();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

void WriteLock::Release() {
  if (m_handle != kNoHandle) {
    ::close(static_cast<int>(m_handle));  // also ends the lock
    m_handle = kNoHandle;
  }
}

unsigned long CurrentProcessId() {
  return static_cast<unsigned long>(::getpid());
}

bool ProcessAlive(unsigned long pid) {
  if (pid == 0 || pid > static_cast<unsigned long>(INT32_MAX)) {
    return false;
  }
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace vx::ini
