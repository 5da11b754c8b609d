// A long seeded sequence of Add, Modify, Delete, Start and Stop with live
// connections: after every step the listening ports are exactly the listed
// pairs (while running), open connections of untouched pairs still carry
// bytes, and no step hangs.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <thread>

#include "tests/control/controller_fixture.h"

namespace vx::test {
namespace {

// Aborts the whole run when one step takes longer than its bound.
class StepWatchdog {
 public:
  StepWatchdog() : m_thread([this] { Watch(); }) {}
  ~StepWatchdog() {
    m_done = true;
    m_thread.join();
  }
  void Begin(int step) {
    m_step = step;
    m_deadline = Now() + 20000;
  }
  void End() { m_deadline = 0; }

 private:
  static long long Now() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void Watch() {
    while (!m_done) {
      const long long d = m_deadline.load();
      if (d != 0 && Now() > d) {
        std::fprintf(stderr, "step %d hangs\n", m_step.load());
        std::abort();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  std::atomic<bool> m_done{false};
  std::atomic<long long> m_deadline{0};
  std::atomic<int> m_step{0};
  std::thread m_thread;
};

struct ModelPair {
  std::uint16_t local;
  int backend;
};

struct LiveConnection {
  net::UniqueSocket socket;
  std::uint16_t local;
  int backend;
};

class RandomSequence : public ControllerTest {
 protected:
  XorEchoServer backends[3] = {XorEchoServer(0x31), XorEchoServer(0x42), XorEchoServer(0x53)};
  std::vector<ModelPair> model;
  std::vector<LiveConnection> live;
  std::set<std::uint16_t> everUsed;
  bool running = false;

  MappingEntry Entry(const ModelPair& p) { return Pair(p.local, backends[p.backend].Port()); }
  std::uint16_t FreshPort() {
    std::uint16_t p;
    do
      p = FreePort();
    while (everUsed.count(p));
    everUsed.insert(p);
    return p;
  }
  // Connections of a pair whose relay was stopped are cut by it.
  void DropConnections(std::uint16_t local) {
    for (auto& c : live) {
      if (c.local == local) {
        EXPECT_FALSE(RoundTrip(c.socket.Get(), "cut", backends[c.backend].Key(), 1500))
            << "connection of a stopped relay " << local;
      }
    }
    live.erase(std::remove_if(live.begin(), live.end(),
                              [&](const LiveConnection& c) { return c.local == local; }),
               live.end());
  }

  void Check(int step) {
    std::vector<MappingEntry> expected;
    for (const ModelPair& p : model)
      expected.push_back(Entry(p));
    ASSERT_EQ(view.ListedPairs(), expected) << "step " << step;
    std::set<std::uint16_t> listed;
    for (const ModelPair& p : model)
      listed.insert(p.local);
    if (running) {
      ExpectSlotsMatchList();
      for (const ModelPair& p : model) {
        EXPECT_TRUE(PortRelaysTo(p.local, backends[p.backend].Key()))
            << "step " << step << " port " << p.local;
      }
    }
    for (std::uint16_t p : everUsed) {
      if (!running || !listed.count(p)) {
        EXPECT_TRUE(PortRefuses(p)) << "step " << step << " port " << p;
      }
    }
    for (auto& c : live) {
      EXPECT_TRUE(
          RoundTrip(c.socket.Get(), "step " + std::to_string(step), backends[c.backend].Key()))
          << "step " << step << " connection on " << c.local;
    }
    if (running) {
      // The count display follows the live connections row by row.
      std::vector<std::string> want;
      for (const ModelPair& p : model) {
        int n = 0;
        for (auto& c : live)
          n += c.local == p.local;
        want.push_back(std::to_string(n));
      }
      auto shown = [&] {
        std::vector<std::string> got;
        for (int r = 0; r < view.RowCount(); ++r)
          got.push_back(view.rows[r][3]);
        return got;
      };
      EXPECT_TRUE(WaitFor(
          [&] {
            controller.RefreshConnectionCounts();
            return shown() == want;
          },
          Ms(3000), "the listed connection counts"))
          << "step " << step;
    }
  }
};

TEST_F(RandomSequence, RelaysKeepMatchingTheListThroughRandomEdits) {
  unsigned seed = 20261208;
  if (const char* s = std::getenv("VEXHOLD_CONTROL_SEED"))
    seed = std::strtoul(s, nullptr, 10);
  std::printf("seed %u\n", seed);
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };

  controller.Initialise();
  StepWatchdog watchdog;
  const auto t0 = std::chrono::steady_clock::now();
  const int kSteps = 70;
  for (int step = 0; step < kSteps; ++step) {
    if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(150))
      break;
    const int rows = static_cast<int>(model.size());
    int op = pick(100);
    if (op < 30 && rows >= 8)
      op = 40;
    if (op >= 30 && op < 75 && rows == 0)
      op = 0;
    const char* what = "";
    watchdog.Begin(step);
    if (op < 30) {
      what = "add";
      ModelPair p{FreshPort(), pick(3)};
      Add(Entry(p));
      model.push_back(p);
    } else if (op < 50) {
      what = "modify";
      const int r = pick(rows);
      ModelPair changed = model[r];
      if (pick(2) == 0) {
        changed.local = FreshPort();
      } else {
        changed.backend = (changed.backend + 1 + pick(2)) % 3;
      }
      Modify(r, Entry(changed));
      if (running)
        DropConnections(model[r].local);
      model[r] = changed;
    } else if (op < 75) {
      what = "delete";
      const int r = pick(rows);
      Delete(r);
      if (running)
        DropConnections(model[r].local);
      model[r] = model.back();
      model.pop_back();
    } else if (!running) {
      what = "start";
      controller.StartAllRelays();
      running = true;
    } else if (op < 88) {
      what = "connect";
      if (rows > 0 && live.size() < 8) {
        const ModelPair p = model[pick(rows)];
        net::UniqueSocket sock = ConnectTo(p.local);
        EXPECT_TRUE(sock.Valid());
        live.push_back({std::move(sock), p.local, p.backend});
      }
    } else {
      what = "stop";
      controller.StopAllRelays();
      running = false;
      for (auto& c : live)
        EXPECT_FALSE(RoundTrip(c.socket.Get(), "x", 0, 1500));
      live.clear();
    }
    watchdog.End();
    EXPECT_TRUE(view.appMessages.empty()) << "step " << step << " " << what;
    view.ClearMessages();
    EXPECT_EQ(controller.IsRunning(), running);
    Check(step);
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "first failure at step " << step << " (" << what << ")";
      break;
    }
  }
  EXPECT_TRUE(Recorder().Texts().empty());
}

}  // namespace
}  // namespace vx::test
