// A log file that people open in an editor: UTF-8 with a byte-order mark,
// CRLF line ends, each line timestamped. When the next line would take it
// past its size limit, the file becomes NAME.1.log (the older ones move up to
// NAME.3.log, the oldest is deleted) and a fresh file begins.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "serve/log_level.h"

namespace vx {

class RotatingLogFile {
 public:
  static constexpr int kKeptFiles = 3;
  static constexpr char kBom[] = "\xEF\xBB\xBF";

  RotatingLogFile(std::filesystem::path path, std::uint64_t maxBytes);
  ~RotatingLogFile();
  RotatingLogFile(const RotatingLogFile&) = delete;
  RotatingLogFile& operator=(const RotatingLogFile&) = delete;

  // Whether the file is open now (it is retried once a second after a failure).
  bool IsOpen() const { return m_file != nullptr; }
  // A whole line as the Logger forms it (stamp, text, "\n"); written with CRLF.
  void Write(LogLevel level, const std::string& line);

  // NAME.n.log beside NAME.log, for n = 1..kKeptFiles (0: the file being moved).
  static std::filesystem::path OldFile(const std::filesystem::path& path, int n);

 private:
  bool Open();
  void Rotate();

  std::filesystem::path m_path;
  std::uint64_t m_maxBytes;
  std::FILE* m_file = nullptr;
  std::uint64_t m_size = 0;
  std::chrono::steady_clock::time_point m_nextTry{};
  std::chrono::steady_clock::time_point m_nextRotation{};
};

}  // namespace vx
