// vexhold-serve: runs the mappings of setting.ini without a window.
#include <string>
#include <vector>

#include "serve/cli.h"
#include "serve/console.h"
#include "serve/log_sinks.h"
#include "serve/messages.h"
#include "serve/run_server.h"
#include "serve/stop_signal.h"
#ifdef _WIN32
#include "serve/service.h"
#endif

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
#ifdef _WIN32
  if (options.install)
    return vx::InstallService(options);
  if (options.uninstall)
    return vx::UninstallService(options);
  if (options.service)
    return vx::RunAsService(options);
#endif

  // Before the first thread: every thread inherits the blocked signals.
  vx::InstallStopSignals();
  int code = vx::RunServer(options, vx::ConsoleLogWriter());
  vx::NotifyShutdownComplete();
  return code;
}
