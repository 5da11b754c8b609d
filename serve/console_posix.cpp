#include <cerrno>
#include <unistd.h>

#include "serve/console.h"

namespace vx {

namespace {

void WriteAll(int fd, const std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return;  // a closed or broken stream: nothing sensible to do
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void WriteStdout(const std::string& text) {
  WriteAll(STDOUT_FILENO, text);
}
void WriteStderr(const std::string& text) {
  WriteAll(STDERR_FILENO, text);
}

}  // namespace vx

namespace vx {

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace vx
