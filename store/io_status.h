// Why a read or a replacement of a profile file did not happen, and the
// reason in words for the operator.
#pragma once

#include <cstdint>
#include <string>

namespace vx::ini {

// The largest file the reader takes: far above any file the program writes
// (127 pairs take about 6 KB), small enough that a hostile or runaway file
// cannot cost more than a few megabytes and milliseconds to read.
inline constexpr std::uint64_t kMaxProfileBytes = 1024 * 1024;

class IoStatus {
 public:
  enum class Kind {
    kOk,
    kSystem,       // the system refused; Code() is errno or the Windows error code
    kTooLarge,     // the file is above kMaxProfileBytes; Size() is what was seen
    kNotAFile,     // a directory, FIFO or device stands at the name
    kLockTimeout,  // another living writer held the file's lock throughout the wait
  };

  IoStatus() = default;
  static IoStatus System(int code) { return IoStatus(Kind::kSystem, code, 0); }
  static IoStatus TooLarge(std::uint64_t size) { return IoStatus(Kind::kTooLarge, 0, size); }
  static IoStatus NotAFile() { return IoStatus(Kind::kNotAFile, 0, 0); }
  static IoStatus LockTimeout() { return IoStatus(Kind::kLockTimeout, 0, 0); }

  bool Ok() const { return m_kind == Kind::kOk; }
  Kind GetKind() const { return m_kind; }
  int Code() const { return m_code; }
  std::uint64_t Size() const { return m_size; }

 private:
  IoStatus(Kind kind, int code, std::uint64_t size) : m_kind(kind), m_code(code), m_size(size) {}

  Kind m_kind = Kind::kOk;
  int m_code = 0;
  std::uint64_t m_size = 0;
};

// The reason as the operator reads it (UTF-8): the system's own text for a
// system error, in Chinese where the system has it, and our own for the rest.
std::string DescribeIoStatus(const IoStatus& status);

// The system's text for an error code without its final line break; one
// implementation per system (Chinese message tables on Windows, the zh_CN
// texts of the C library on POSIX).
std::string SystemErrorText(int code);

}  // namespace vx::ini
