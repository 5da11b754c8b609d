// vexhold-serve: runs the mappings of setting.ini without a window.
#include <string>
#include <vector>

#include "serve/cli.h"
#include "serve/console.h"
#include "serve/logger.h"
#include "serve/messages.h"
#include "serve/server.h"
#include "serve/stop_signal.h"

int main(int argc, char** argv) {
  std::vector<std::string> args = vx::CommandLineArguments(argc, argv);
  vx::ServeOptions options;
  std::string error;
  if (!vx::ParseCommandLine(args, &options, &error)) {
    vx::WriteStderr(error);
    return vx::kExitUsage;
  }
  if (options.help) {
    vx::WriteStdout(vx::msg::HelpText());
    return vx::kExitStopped;
  }
  if (options.version) {
    vx::WriteStdout(vx::msg::VersionText());
    return vx::kExitStopped;
  }

  // Before the first thread: every thread inherits the blocked signals.
  vx::InstallStopSignals();
  int code;
  {
    vx::Logger logger;
    vx::Server server(options, logger);
    code = server.Run();
    // A forced exit leaves the engine running; a stalled log is not waited for.
    if (!vx::FlushLogBeforeExit(logger, &code) || code == vx::kExitForced) {
      vx::NotifyShutdownComplete();
      std::_Exit(code);
    }
  }
  vx::NotifyShutdownComplete();
  return code;
}
