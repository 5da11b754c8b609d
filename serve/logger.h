// Log lines, each with its level, written by a thread of their own: Log()
// only queues, so a relay that reports something never waits for a slow or
// blocked output. When the queue is full, lines are dropped and counted. The
// writer (see log_sinks.h) decides the form: timestamped on stderr, with a
// priority prefix for the journal, or into a rotating file.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "serve/log_level.h"

namespace vx {

class Logger {
 public:
  // Receives one message at a time, without a line end.
  using Writer = std::function<void(LogLevel, const std::string&)>;

  // The default writer is stderr with timestamps.
  explicit Logger(Writer writer = Writer(), std::size_t capacity = 4096);
  ~Logger();  // writes what is queued, then ends the writer thread
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  void Log(const std::string& text) { Log(LogLevel::kInfo, text); }
  void Log(LogLevel level, const std::string& text);
  // Returns once every line queued before the call has been written.
  void Flush();

  // "YYYY-MM-DD HH:MM:SS.mmm" in local time.
  static std::string Timestamp();

 private:
  void Run();

  Writer m_writer;
  std::size_t m_capacity;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  struct Line {
    LogLevel level;
    std::string text;
  };
  std::deque<Line> m_queue;
  unsigned long long m_dropped = 0;
  bool m_writing = false;
  bool m_quit = false;
  std::thread m_thread;
};

}  // namespace vx
