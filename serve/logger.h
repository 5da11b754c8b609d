// Timestamped log lines on stderr, written by a thread of their own: Log()
// only queues, so a relay that reports something never waits for a slow or
// blocked stderr. When the queue is full, lines are dropped and counted.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vx {

class Logger {
 public:
  using Writer = std::function<void(const std::string&)>;

  // `writer` receives whole lines (with their newline); the default is stderr.
  explicit Logger(Writer writer = Writer(), std::size_t capacity = 4096);
  ~Logger();  // writes what is queued, then ends the writer thread
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  void Log(const std::string& text);
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
  std::deque<std::string> m_queue;
  unsigned long long m_dropped = 0;
  bool m_writing = false;
  bool m_quit = false;
  std::thread m_thread;
};

}  // namespace vx
