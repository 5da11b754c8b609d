// vexhold-serve's lifetime: read setting.ini, listen for every good pair on
// the event-driven engine, serve until a stop request, apply reloads, log the
// pairs' figures when asked, and stop.
#pragma once

#include <vector>

#include "engine/engine.h"
#include "serve/cli.h"
#include "serve/engine_log.h"
#include "serve/logger.h"
#include "serve/pair_config.h"
#include "store/mapping_store.h"

namespace vx {

class Server {
 public:
  Server(const ServeOptions& options, Logger& logger);
  // Returns the process exit code (ServeExitCode). On kExitForced the engine
  // may still run: the caller ends the process at once.
  int Run();

 private:
  struct Running {
    ServePair pair;
    int id = 0;  // the engine's
  };

  void Report(const std::vector<std::string>& problems);
  // Returns how many of them listen now.
  int StartPairs(const std::vector<ServePair>& pairs);
  void Reload();
  void LogFigures(const Running& r);
  void LogAllFigures();
  int Stop();

  ServeOptions m_options;
  Logger& m_logger;
  MappingStore m_store;
  EngineLog m_events;
  engine::Engine m_engine;
  std::vector<Running> m_running;
};

// Writes what is still queued before the process exits, for a bounded time,
// while a second stop request may still cut it short (then *code becomes
// kExitForced). False when the output did not take it all: the caller then
// ends the process without waiting for the log any longer.
bool FlushLogBeforeExit(Logger& logger, int* code);

}  // namespace vx
