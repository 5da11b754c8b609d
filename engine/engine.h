// The event-driven relay engine of vexhold-serve: every pair listens on one of
// a few event threads (one by default), and each thread serves all the
// connections of its pairs, so no remote, however slow, holds up anything
// but its own client. Called from one thread (the program's main thread).
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/asio.h"
#include "engine/buffer_pool.h"
#include "engine/engine_events.h"
#include "engine/engine_settings.h"
#include "engine/pair_figures.h"

namespace vx::engine {

class PairListener;

class Engine {
 public:
  Engine(const EngineSettings& settings, EngineEvents& events);
  ~Engine();  // stops whatever still runs
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Listens for the pair on the least busy event thread and returns its id,
  // or 0 when the port could not be taken (reported with the relay's message).
  int AddPair(const PairConfig& config);
  // Closes the pair's listener and every one of its connections.
  void RemovePair(int id);
  PairFigures Figures(int id) const;
  // Transfer buffers held now, over every event thread.
  std::size_t BuffersInUse();

  // Stops every pair and lets the event threads end; WaitStopped returns
  // true once they have (false on time-out, to be asked again).
  void BeginStop();
  bool WaitStopped(int timeoutMs);
  // Event threads that have not ended yet.
  int ThreadsRunning() const;

 private:
  struct Worker {
    BufferPool buffers;  // outlives the context, whose leftovers give buffers back
    asio::io_context context{1};
    asio::executor_work_guard<asio::io_context::executor_type> work{context.get_executor()};
    std::thread thread;
    int pairs = 0;
  };
  struct Pair {
    std::shared_ptr<PairListener> listener;
    Worker* worker = nullptr;
  };
  // An event thread's loop: Asio's run(), or with a busy-poll limit a loop
  // that looks for events a while after the last before it sleeps, as long
  // as the gaps it sees say (PollWindow).
  static void RunEvents(asio::io_context& context, int busyPollMicroseconds);
  // Runs `task` on the worker's thread and waits for it (the event threads
  // never block, so this is short).
  template <typename Task>
  void RunOn(Worker& w, Task task);

  EngineSettings m_settings;
  EngineEvents& m_events;
  std::vector<std::unique_ptr<Worker>> m_workers;
  std::map<int, Pair> m_pairs;
  int m_nextId = 1;
  bool m_stopping = false;
  mutable std::mutex m_mutex;
  std::condition_variable m_threadEnded;
  int m_running = 0;
};

}  // namespace vx::engine
