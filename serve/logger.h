// Timestamped log lines, written by a thread of their own. Log() only queues,
// so neither a relay thread nor the main thread ever waits for a slow or
// stalled output; when the queue is full, lines are dropped and counted, and
// the count is logged right before the next line that gets through.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serve/log_level.h"

namespace vx {

class Logger {
 public:
  // The output seam: called on the logger's own thread, one line at a time,
  // with the line's level and the line itself: the timestamp (kStampWidth
  // characters), one blank, the text, and a newline. A sink that stamps lines
  // itself takes line.substr(kStampWidth + 1). The default writes stderr.
  using Writer = std::function<void(LogLevel level, const std::string& line)>;
  static constexpr std::size_t kStampWidth = 23;  // "YYYY-MM-DD HH:MM:SS.mmm"

  explicit Logger(Writer writer = Writer(), std::size_t capacity = 4096);
  // Writes what is queued; if the writer is stuck, leaves it behind instead
  // of waiting for it (the process is about to end).
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  void Log(LogLevel level, const std::string& text);
  // Waits until every line queued before the call has been written, at most
  // timeoutMs; false if the writer did not get there in time.
  bool Flush(int timeoutMs);

  // "YYYY-MM-DD HH:MM:SS.mmm" in local time.
  static std::string Timestamp();
  // The line a writer receives for `text`, stamped now.
  static std::string FormatLine(const std::string& text);

 private:
  struct Line {
    LogLevel level;
    std::string text;  // whole line, newline included
  };
  // Shared with the writer thread, which may outlive the logger when stuck.
  struct State {
    std::mutex mutex;
    std::condition_variable wake, idle;
    std::deque<Line> queue;
    unsigned long long dropped = 0;
    unsigned long long queued = 0, written = 0;  // lines handed over / finished
    bool quit = false;
  };
  static void Run(std::shared_ptr<State> state, Writer writer);
  static Line MakeLine(LogLevel level, const std::string& text);
  void QueueDroppedNotice();  // with the mutex held

  std::size_t m_capacity;
  std::shared_ptr<State> m_state;
  std::thread m_thread;
};

}  // namespace vx
