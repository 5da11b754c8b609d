#include "engine/engine.h"

#include <algorithm>
#include <future>

#include "engine/pair_listener.h"
#include "engine/poll_window.h"

namespace vx::engine {

Engine::Engine(const EngineSettings& settings, EngineEvents& events)
    : m_settings(settings), m_events(events) {
  int n = std::max(1, settings.threads);
  m_running = n;
  for (int i = 0; i < n; ++i) {
    m_workers.push_back(std::make_unique<Worker>());
    Worker* w = m_workers.back().get();
    w->thread = std::thread([this, w] {
      RunEvents(w->context, m_settings.busyPollMicroseconds);
      std::lock_guard<std::mutex> lock(m_mutex);
      --m_running;
      m_threadEnded.notify_all();
    });
  }
}

void Engine::RunEvents(asio::io_context& context, int busyPollMicroseconds) {
  if (busyPollMicroseconds <= 0) {
    context.run();
    return;
  }
  using Clock = std::chrono::steady_clock;
  PollWindow window{std::chrono::microseconds(busyPollMicroseconds)};
  auto lastEvent = Clock::now();
  // The context stops itself once no work is left, as run() would return.
  while (!context.stopped()) {
    if (context.poll() > 0) {
      lastEvent = Clock::now();
      // poll() returns once a look found nothing more: with no window to
      // look in, sleep now rather than look once again.
      if (window.Current().count() > 0)
        continue;
    } else if (Clock::now() - lastEvent < window.Current()) {
      // A look that found nothing first lets any other runnable thread on
      // this core have it: the window spends only time nobody else wants.
      std::this_thread::yield();
      continue;
    }
    context.run_one();  // sleeps until the next event
    auto woke = Clock::now();
    window.AfterIdle(woke - lastEvent);
    lastEvent = woke;
  }
}

Engine::~Engine() {
  BeginStop();
  if (!WaitStopped(2000)) {
    // Only a name lookup still in the system resolver can hold a thread here.
    for (auto& w : m_workers)
      w->context.stop();
  }
  for (auto& w : m_workers) {
    if (w->thread.joinable())
      w->thread.join();
  }
}

template <typename Task>
void Engine::RunOn(Worker& w, Task task) {
  std::promise<void> finished;
  std::future<void> done = finished.get_future();
  asio::post(w.context, [&] {
    task();
    finished.set_value();
  });
  done.wait();
}

int Engine::AddPair(const PairConfig& config) {
  if (m_stopping)
    return 0;
  Worker* w =
      std::min_element(m_workers.begin(), m_workers.end(), [](const auto& a, const auto& b) {
        return a->pairs < b->pairs;
      })->get();
  auto listener =
      std::make_shared<PairListener>(w->context, w->buffers, config, m_settings, m_events);
  bool ok = false;
  RunOn(*w, [&] { ok = listener->Open(); });
  if (!ok)
    return 0;
  int id = m_nextId++;
  m_pairs[id] = Pair{listener, w};
  ++w->pairs;
  return id;
}

void Engine::RemovePair(int id) {
  auto it = m_pairs.find(id);
  if (it == m_pairs.end())
    return;
  Pair p = it->second;
  m_pairs.erase(it);
  --p.worker->pairs;
  RunOn(*p.worker, [&] { p.listener->Close(); });
}

PairFigures Engine::Figures(int id) const {
  auto it = m_pairs.find(id);
  return it == m_pairs.end() ? PairFigures() : it->second.listener->Figures();
}

std::size_t Engine::BuffersInUse() {
  std::size_t total = 0;
  if (m_stopping)
    return total;  // the threads may be gone
  for (auto& w : m_workers)
    RunOn(*w, [&] { total += w->buffers.InUse(); });
  return total;
}

void Engine::BeginStop() {
  if (m_stopping)
    return;
  m_stopping = true;
  for (auto& w : m_workers) {
    std::vector<std::shared_ptr<PairListener>> mine;
    for (const auto& [id, p] : m_pairs) {
      if (p.worker == w.get())
        mine.push_back(p.listener);
    }
    asio::post(w->context, [mine] {
      for (const auto& l : mine)
        l->Close();
    });
    // With every socket closed, the thread ends once the cancelled
    // operations have completed.
    w->work.reset();
  }
}

int Engine::ThreadsRunning() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_running;
}

bool Engine::WaitStopped(int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_threadEnded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return m_running == 0; });
}

}  // namespace vx::engine
