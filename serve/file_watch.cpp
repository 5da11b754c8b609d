#include "serve/file_watch.h"

#include <memory>

#include "serve/messages.h"
#include "serve/setting_file_check.h"

namespace vx {

namespace {

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point t) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

FileWatch::FileWatch(std::filesystem::path file, Logger& logger,
                     std::function<void()> requestReload, Timing timing)
    : m_file(std::move(file)),
      m_logger(logger),
      m_requestReload(std::move(requestReload)),
      m_timing(timing) {
  m_thread = std::thread([this] { Run(); });
  // A change saved just after the start is caught only once the directory
  // is watched; the bound keeps a stuck file system from holding the start.
  std::unique_lock<std::mutex> lock(m_mutex);
  m_wake.wait_for(lock, std::chrono::seconds(5), [this] { return m_armed || m_quit; });
}

FileWatch::~FileWatch() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
    if (m_changes != nullptr)
      m_changes->Cancel();
  }
  m_wake.notify_all();
  m_thread.join();
}

bool FileWatch::Examine(Clock::time_point burstStart) {
  const std::string path = m_file.u8string();
  switch (CheckSettingFile(m_file)) {
    case SettingFileState::kMissing:
      m_logger.Log(LogLevel::kWarning, msg::WatchFileMissing(path));
      return false;  // its return is a change of its own
    case SettingFileState::kIncomplete:
      if (Clock::now() - burstStart < m_timing.incompleteFor)
        return true;
      break;  // left that way: read it as it is
    case SettingFileState::kComplete:
      break;
  }
  m_logger.Log(LogLevel::kNotice, msg::WatchFileChanged(path));
  m_requestReload();
  return false;
}

void FileWatch::Run() {
  const std::filesystem::path dir = m_file.parent_path().empty() ? "." : m_file.parent_path();
  const std::string name = m_file.filename().u8string();
  bool reportedFailure = false;
  while (true) {
    auto changes = std::make_unique<DirChanges>(dir, name);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_quit)
        return;
      m_changes = changes.get();
      m_armed = true;
    }
    m_wake.notify_all();
    bool cancelled = false;
    if (changes->Ok()) {
      if (reportedFailure)
        m_logger.Log(LogLevel::kNotice, msg::WatchResumed(dir.u8string()));
      reportedFailure = false;
      // A burst: changes seen and not yet looked at. A recheck: the file was
      // still being written when looked at.
      bool inBurst = false, recheck = false;
      Clock::time_point burstStart{}, lastChange{}, recheckAt{};
      DirChanges::Result r = DirChanges::Result::kTimeout;
      while (r != DirChanges::Result::kCancelled && r != DirChanges::Result::kFailed) {
        Clock::time_point wakeAt = Clock::now() + std::chrono::seconds(1);
        if (inBurst)
          wakeAt = std::min(lastChange + m_timing.quiet, burstStart + m_timing.longest);
        else if (recheck)
          wakeAt = recheckAt;
        r = changes->Wait(MsUntil(wakeAt));
        Clock::time_point now = Clock::now();
        if (r == DirChanges::Result::kChanged) {
          if (!inBurst && !recheck)
            burstStart = now;
          inBurst = true;
          recheck = false;
          lastChange = now;
        }
        bool due = inBurst
                       ? (now >= lastChange + m_timing.quiet ||
                          now >= burstStart + m_timing.longest || r == DirChanges::Result::kFailed)
                       : (recheck && now >= recheckAt);
        if (due) {
          inBurst = false;
          recheck = Examine(burstStart);
          recheckAt = now + m_timing.recheck;
        }
      }
      cancelled = r == DirChanges::Result::kCancelled;
    }
    {
      // Before `changes` goes: the destructor may be cancelling it.
      std::lock_guard<std::mutex> lock(m_mutex);
      m_changes = nullptr;
    }
    if (cancelled)
      return;
    if (!reportedFailure)
      m_logger.Log(LogLevel::kWarning, msg::WatchFailed(dir.u8string(), changes->Error()));
    reportedFailure = true;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_wake.wait_for(lock, m_timing.retryWatch, [this] { return m_quit; }))
      return;
  }
}

}  // namespace vx
