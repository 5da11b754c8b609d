// --watch: asks for a reload when setting.ini changes. Bursts of changes are
// taken as one (a save is several replacements in a row), and a file that is
// missing or still being written asks for nothing, so the running pairs stay.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "serve/dir_changes.h"
#include "serve/logger.h"

namespace vx {

class FileWatch {
 public:
  struct Timing {
    // A burst is over when it has been quiet this long...
    std::chrono::milliseconds quiet{200};
    // ...or, under changes that never pause, this long after it began.
    std::chrono::milliseconds longest{800};
    // A file still being written is looked at again this often...
    std::chrono::milliseconds recheck{250};
    // ...and taken as it is after this long (then it is what was saved).
    std::chrono::milliseconds incompleteFor{3000};
    // A directory that cannot be watched is tried again this often.
    std::chrono::milliseconds retryWatch{2000};
  };

  // Watches `file` (its directory, in fact); `requestReload` runs on the
  // watch's own thread.
  FileWatch(std::filesystem::path file, Logger& logger, std::function<void()> requestReload,
            Timing timing);
  FileWatch(std::filesystem::path file, Logger& logger, std::function<void()> requestReload)
      : FileWatch(std::move(file), logger, std::move(requestReload), Timing()) {}
  ~FileWatch();
  FileWatch(const FileWatch&) = delete;
  FileWatch& operator=(const FileWatch&) = delete;

 private:
  void Run();
  // Looks at the file after a burst; true when it is left for a recheck.
  bool Examine(std::chrono::steady_clock::time_point burstStart);

  std::filesystem::path m_file;
  Logger& m_logger;
  std::function<void()> m_requestReload;
  Timing m_timing;
  DirChanges* m_changes = nullptr;  // owned by Run, guarded by m_mutex for Cancel
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_quit = false;
  bool m_armed = false;  // the first watch of the directory is in place
  std::thread m_thread;
};

}  // namespace vx
