#include "serve/run_server.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/alert.h"
#include "serve/file_watch.h"
#include "serve/log_alert_sink.h"
#include "serve/server.h"
#include "serve/stop_signal.h"

namespace vx {

int RunServer(const ServeOptions& options, Logger::Writer writer) {
  int code;
  {
    Logger logger(std::move(writer));
    LogAlertSink sink(logger, !options.quiet);
    SetAlertSink(&sink);
    std::unique_ptr<FileWatch> watch;
    if (options.watch) {
      watch = std::make_unique<FileWatch>(std::filesystem::u8path(options.dir) / "setting.ini",
                                          logger, [] { PostServeEvent(ServeEvent::kReload); });
    }
    Server server(options, logger);
    code = server.Run();
    watch.reset();
    logger.Flush();
    if (code == kExitForced) {
      // Some relay still runs and may still report: do not tear down the sink.
      NotifyShutdownComplete();
      std::_Exit(code);
    }
    SetAlertSink(nullptr);
  }
  return code;
}

}  // namespace vx
