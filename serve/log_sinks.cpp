#include "serve/log_sinks.h"

#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "serve/console.h"

namespace vx {

std::string TimestampedLine(const std::string& message) {
  std::string line = Logger::Timestamp();
  line += ' ';
  line += message;
  line += '\n';
  return line;
}

std::string JournalLine(LogLevel level, const std::string& message) {
  const std::string prefix = "<" + std::to_string(static_cast<int>(level)) + ">";
  std::string out;
  std::size_t start = 0;
  while (true) {
    std::size_t end = message.find('\n', start);
    out += prefix;
    out.append(message, start, end == std::string::npos ? std::string::npos : end - start);
    out += '\n';
    if (end == std::string::npos || end + 1 == message.size())
      break;
    start = end + 1;
  }
  return out;
}

bool StderrIsJournal() {
#ifdef _WIN32
  return false;
#else
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr || *stream == '\0')
    return false;
  char* end = nullptr;
  unsigned long long dev = std::strtoull(stream, &end, 10);
  if (end == stream || *end != ':')
    return false;
  const char* inoText = end + 1;
  unsigned long long ino = std::strtoull(inoText, &end, 10);
  if (end == inoText || *end != '\0')
    return false;
  struct stat st;
  if (::fstat(STDERR_FILENO, &st) != 0)
    return false;
  return static_cast<unsigned long long>(st.st_dev) == dev &&
         static_cast<unsigned long long>(st.st_ino) == ino;
#endif
}

Logger::Writer StderrLogWriter() {
  return [](LogLevel, const std::string& message) { WriteStderr(TimestampedLine(message)); };
}

Logger::Writer JournalLogWriter() {
  return
      [](LogLevel level, const std::string& message) { WriteStderr(JournalLine(level, message)); };
}

Logger::Writer ConsoleLogWriter() {
  return StderrIsJournal() ? JournalLogWriter() : StderrLogWriter();
}

}  // namespace vx
