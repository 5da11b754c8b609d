// vexhold-serve's command line.
#pragma once

#include <string>
#include <vector>

#include "engine/engine_settings.h"

namespace vx {

enum ServeExitCode : int {
  kExitStopped = 0,         // ran and was stopped (also --help, --version)
  kExitUsage = 1,           // bad command line
  kExitNothingStarted = 2,  // no pair could be started
  kExitForced = 3,          // second stop signal before the stop had finished
};

struct ServeOptions {
  std::string dir = ".";
  bool dirGiven = false;  // --install defaults to the program's folder instead
  bool quiet = false;
  bool help = false;
  bool version = false;
  bool watch = false;            // re-read setting.ini when it changes
  int logSizeMiB = 10;           // size limit of the service's log file
  int statsIntervalSeconds = 0;  // 0: figures only on request and at the stop
  engine::EngineSettings engine;
#ifdef _WIN32
  bool install = false;    // register the Windows service and exit
  bool uninstall = false;  // stop and remove it and exit
  bool service = false;    // run under the service manager
  std::string name = "vexhold-serve";
#endif
};

inline constexpr int kMaxLogSizeMiB = 4096;

// Parses argv[1..]. On a bad command line returns false with the message
// (already ending in a newline) in `error`.
bool ParseCommandLine(const std::vector<std::string>& args, ServeOptions* options,
                      std::string* error);

}  // namespace vx
