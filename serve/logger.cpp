#include "serve/logger.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "serve/log_sinks.h"
#include "serve/messages.h"

namespace vx {

Logger::Logger(Writer writer, std::size_t capacity)
    : m_writer(writer ? std::move(writer) : StderrLogWriter()), m_capacity(capacity) {
  m_thread = std::thread([this] { Run(); });
}

Logger::~Logger() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
  }
  m_wake.notify_one();
  m_thread.join();
}

std::string Logger::Timestamp() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buf;
}

void Logger::Log(LogLevel level, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.size() >= m_capacity) {
      ++m_dropped;
      return;
    }
    m_queue.push_back(Line{level, text});
  }
  m_wake.notify_one();
}

void Logger::Flush() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_idle.wait(lock, [this] { return m_queue.empty() && !m_writing; });
}

void Logger::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (true) {
    m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
    if (m_queue.empty() && m_quit)
      break;
    std::deque<Line> batch;
    batch.swap(m_queue);
    unsigned long long dropped = m_dropped;
    m_dropped = 0;
    m_writing = true;
    lock.unlock();
    for (const Line& line : batch)
      m_writer(line.level, line.text);
    if (dropped > 0)
      m_writer(LogLevel::kWarning, msg::LinesDropped(dropped));
    lock.lock();
    m_writing = false;
    if (m_queue.empty())
      m_idle.notify_all();
  }
  m_idle.notify_all();
}

}  // namespace vx
