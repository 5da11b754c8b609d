// vexhold-serve's lifetime: read setting.ini, start a relay per good pair
// through the start hand-over, serve until a stop request, apply reloads,
// and stop every relay through the stop protocol before exiting.
#pragma once

#include <vector>

#include "serve/cli.h"
#include "serve/logger.h"
#include "serve/pair_config.h"
#include "store/mapping_store.h"

namespace vx {

class Server {
 public:
  Server(const ServeOptions& options, Logger& logger);
  // Returns the process exit code (ServeExitCode).
  int Run();

 private:
  struct Relay {
    ServePair pair;
    int index = 0;  // relay index = slot (slotMap[t] = t throughout)
    bool ended = false;
  };

  void Report(const std::vector<std::string>& problems);
  void StartPairs(const std::vector<ServePair>& pairs, std::vector<int>* started);
  int FreeRelayIndex() const;
  // Waits until each just-started relay is past its start-up; returns how
  // many of them are listening.
  int Settle(const std::vector<int>& started);
  bool RelayEnded(int index) const;
  void NoteEndedRelays();
  // Stops the given relays and waits for them; false if a second stop
  // request cut the wait short.
  bool StopRelays(const std::vector<int>& indices);
  void Reload();
  int LiveCount() const;

  ServeOptions m_options;
  Logger& m_logger;
  MappingStore m_store;
  std::vector<Relay> m_relays;
  bool m_reloadPending = false;
};

}  // namespace vx
