#include "serve/log_sinks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "serve/console.h"

namespace vx {

std::string MessageOfLine(const std::string& line) {
  std::size_t start = std::min(line.size(), Logger::kStampWidth + 1);
  std::size_t end = line.size();
  if (end > start && line[end - 1] == '\n')
    --end;
  return line.substr(start, end - start);
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
  return [](LogLevel, const std::string& line) { WriteStderr(line); };
}

Logger::Writer JournalLogWriter() {
  return [](LogLevel level, const std::string& line) {
    WriteStderr(JournalLine(level, MessageOfLine(line)));
  };
}

Logger::Writer ConsoleLogWriter() {
  return StderrIsJournal() ? JournalLogWriter() : StderrLogWriter();
}

}  // namespace vx
