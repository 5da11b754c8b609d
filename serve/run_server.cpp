#include "serve/run_server.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "serve/file_watch.h"
#include "serve/server.h"
#include "serve/stop_signal.h"

namespace vx {

int RunServer(const ServeOptions& options, Logger::Writer writer) {
  int code;
  {
    Logger logger(std::move(writer));
    std::unique_ptr<FileWatch> watch;
    if (options.watch) {
      watch = std::make_unique<FileWatch>(std::filesystem::u8path(options.dir) / "setting.ini",
                                          logger, [] { PostServeEvent(ServeEvent::kReload); });
    }
    Server server(options, logger);
    code = server.Run();
    watch.reset();
    // A forced exit leaves the engine running; a stalled log is not waited for.
    if (!FlushLogBeforeExit(logger, &code) || code == kExitForced) {
      NotifyShutdownComplete();
      std::_Exit(code);
    }
  }
  return code;
}

}  // namespace vx
