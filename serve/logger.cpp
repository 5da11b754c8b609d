#include "serve/logger.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "serve/console.h"
#include "serve/messages.h"

namespace vx {

namespace {

// How long the destructor lets the writer finish before it leaves it behind.
constexpr int kFinalFlushMs = 2000;

}  // namespace

Logger::Logger(Writer writer, std::size_t capacity)
    : m_capacity(capacity), m_state(std::make_shared<State>()) {
  if (!writer)
    writer = [](LogLevel, const std::string& line) { WriteStderr(line); };
  m_thread = std::thread(Run, m_state, std::move(writer));
}

Logger::~Logger() {
  bool done = Flush(kFinalFlushMs);
  {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->quit = true;
  }
  m_state->wake.notify_one();
  if (done)
    m_thread.join();
  else
    m_thread.detach();  // stuck in the output: it owns its state and ends with the process
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

std::string Logger::FormatLine(const std::string& text) {
  std::string line = Timestamp();
  line.reserve(kStampWidth + text.size() + 2);
  line += ' ';
  line += text;
  line += '\n';
  return line;
}

Logger::Line Logger::MakeLine(LogLevel level, const std::string& text) {
  return Line{level, FormatLine(text)};
}

void Logger::QueueDroppedNotice() {
  if (m_state->dropped == 0)
    return;
  m_state->queue.push_back(MakeLine(LogLevel::kWarning, msg::LinesDropped(m_state->dropped)));
  ++m_state->queued;
  m_state->dropped = 0;
}

void Logger::Log(LogLevel level, const std::string& text) {
  Line line = MakeLine(level, text);
  {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->queue.size() >= m_capacity) {
      ++m_state->dropped;
      return;
    }
    QueueDroppedNotice();
    m_state->queue.push_back(std::move(line));
    ++m_state->queued;
  }
  m_state->wake.notify_one();
}

bool Logger::Flush(int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_state->mutex);
  if (m_state->queue.size() < m_capacity)
    QueueDroppedNotice();
  m_state->wake.notify_one();
  unsigned long long target = m_state->queued;
  return m_state->idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return m_state->written >= target; });
}

void Logger::Run(std::shared_ptr<State> state, Writer writer) {
  std::unique_lock<std::mutex> lock(state->mutex);
  while (true) {
    state->wake.wait(lock, [&] { return state->quit || !state->queue.empty(); });
    if (state->queue.empty())
      break;  // quit, and nothing left
    std::deque<Line> batch;
    batch.swap(state->queue);
    lock.unlock();
    for (const Line& line : batch) {
      writer(line.level, line.text);
      std::lock_guard<std::mutex> relock(state->mutex);
      ++state->written;
      state->idle.notify_all();
    }
    lock.lock();
  }
}

}  // namespace vx
