// relay_bench: one relay (started in-process through the start hand-over)
// against a direct connection to the same local backend, in the same run:
// bulk throughput with 1 and 32 connections (every byte verified), 1-byte
// round-trip latency, connections per second, and pipelined request/response.
// Loopback only; every loop is bounded in count and time.
//
//   relay_bench [--quick] [--no-pin] [--relay-only] [--only bulk1,bulk32,rtt,cps1,cps8,pipe]
#include <dirent.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_net.h"
#include "platform/alert.h"
#include "platform/thread.h"
#include "relay/relay_control.h"
#include "relay/slot_tables.h"

namespace vx::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

class StderrAlerts : public AlertSink {
 public:
  void ShowRelayAlert(const std::string& text) override {
    std::fprintf(stderr, "relay: %s\n", text.c_str());
  }
};

RelaySlotTables g_tables;
constexpr int kRelayIndex = 1;
int g_relayTid = 0;

std::set<int> ThreadIds() {
  std::set<int> ids;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.')
        ids.insert(std::atoi(e->d_name));
    }
    closedir(d);
  }
  return ids;
}

// CPU time of the relay thread (scheduler's run time, ns; not tick-sampled).
double RelayCpuNs() {
  if (g_relayTid == 0)
    return 0;
  std::ifstream f("/proc/self/task/" + std::to_string(g_relayTid) + "/schedstat");
  double ns = 0;
  f >> ns;
  return ns;
}

void PinTo(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(0, sizeof set, &set);
}

struct Settings {
  std::uint64_t bulk1Bytes = 256ull << 20;
  std::uint64_t bulk32BytesEach = 8ull << 20;
  int rttRounds = 20000;
  double cpsSeconds = 2.0;
  int cpsMax = 12000;
  double pipeSeconds = 3.0;
  int pipeMaxBatches = 200000;
  std::string only;  // comma-separated subset of bulk1,bulk32,rtt,cps1,cps8,pipe; empty: all
  bool relayOnly = false;

  bool Wants(const std::string& step) const {
    return only.empty() || ("," + only + ",").find("," + step + ",") != std::string::npos;
  }
};

// Bulk: each connection sends `bytes` of its own stream to the verifying sink.
// Set-up is untimed; the timed part starts on all connections at once.
double BulkMBps(std::uint16_t port, int connections, std::uint64_t bytes, bool* ok) {
  std::vector<int> fds;
  for (int i = 0; i < connections; ++i) {
    int fd = ConnectLoopback(port, 20000);
    if (fd < 0) {
      *ok = false;
      for (int f : fds)
        CloseFd(f);
      return 0;
    }
    fds.push_back(fd);
  }
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < connections; ++i) {
    threads.emplace_back([&, i] {
      int fd = fds[i];
      std::uint32_t seed = 1000 + static_cast<std::uint32_t>(i);
      char head[13];
      head[0] = kModeSink;
      std::memcpy(head + 1, &bytes, 8);
      std::memcpy(head + 9, &seed, 4);
      Stream stream(seed);
      std::vector<char> buf(1 << 16);
      ready.fetch_add(1);
      while (!go.load())
        std::this_thread::yield();
      bool sent = SendAll(fd, head, sizeof head);
      for (std::uint64_t pos = 0; sent && pos < bytes;) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), bytes - pos));
        stream.Fill(pos, buf.data(), n);
        sent = SendAll(fd, buf.data(), n);
        pos += n;
      }
      char verdict = 0;
      if (sent && RecvAll(fd, &verdict, 1) && verdict == kVerdictOk)
        good.fetch_add(1);
    });
  }
  while (ready.load() < connections)
    std::this_thread::yield();
  auto t0 = Clock::now();
  go = true;
  for (auto& t : threads)
    t.join();
  double s = Seconds(Clock::now() - t0);
  for (int f : fds)
    CloseFd(f);
  *ok = good.load() == connections;
  return static_cast<double>(bytes) * connections / s / 1e6;
}

struct Latency {
  double p50 = 0, p99 = 0;
};

Latency RoundTrip(std::uint16_t port, int rounds, bool* ok) {
  Latency out;
  int fd = ConnectLoopback(port);
  if (fd < 0) {
    *ok = false;
    return out;
  }
  SetNoDelay(fd);
  char mode = kModeEcho;
  *ok = SendAll(fd, &mode, 1);
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(rounds));
  for (int i = -500; *ok && i < rounds; ++i) {
    char c = static_cast<char>(i), back = 0;
    auto t0 = Clock::now();
    *ok = SendAll(fd, &c, 1) && RecvAll(fd, &back, 1) && back == c;
    if (i >= 0)
      us.push_back(Seconds(Clock::now() - t0) * 1e6);
  }
  CloseFd(fd);
  if (us.empty())
    return out;
  std::sort(us.begin(), us.end());
  out.p50 = us[us.size() / 2];
  out.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  return out;
}

// Connect, send 100 bytes, read their echo, close; `concurrency` at a time.
double ConnectionsPerSecond(std::uint16_t port, int concurrency, double seconds, int maxTotal,
                            long long* failures) {
  std::atomic<int> started{0};
  std::atomic<int> done{0};
  std::atomic<long long> failed{0};
  auto t0 = Clock::now();
  auto deadline =
      t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<std::thread> threads;
  for (int w = 0; w < concurrency; ++w) {
    threads.emplace_back([&] {
      char msg[100], back[99];
      msg[0] = kModeEcho;
      for (int i = 1; i < 100; ++i)
        msg[i] = static_cast<char>(i);
      while (Clock::now() < deadline && started.fetch_add(1) < maxTotal) {
        int fd = ConnectLoopback(port, 3000);
        bool ok = fd >= 0 && SendAll(fd, msg, sizeof msg) && RecvAll(fd, back, sizeof back) &&
                  std::memcmp(back, msg + 1, sizeof back) == 0;
        CloseFd(fd);
        if (ok)
          done.fetch_add(1);
        else
          failed.fetch_add(1);
      }
    });
  }
  for (auto& t : threads)
    t.join();
  *failures = failed.load();
  return done.load() / Seconds(Clock::now() - t0);
}

// Pipelined request/response, as `redis-benchmark -c 16 -P 16` runs it: each
// connection sends `depth` requests at once and waits for all their replies
// (16 replies of 1000 bytes: more than one relay buffer), then the next batch.
constexpr int kPipeConnections = 16;
constexpr int kPipeDepth = 16;
constexpr std::size_t kPipeReplyBytes = 1000;

double PipelinedRequestsPerSecond(std::uint16_t port, double seconds, int maxBatches,
                                  long long* failures) {
  std::atomic<int> batches{0};
  std::atomic<long long> failed{0};
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  Clock::time_point t0;
  for (int c = 0; c < kPipeConnections; ++c) {
    threads.emplace_back([&] {
      int fd = ConnectLoopback(port, 5000);
      SetNoDelay(fd);
      char head[5] = {kModePipeline};
      const auto replyBytes = static_cast<std::uint32_t>(kPipeReplyBytes);
      std::memcpy(head + 1, &replyBytes, 4);
      const std::string requests(kPipeDepth * kRequestBytes, 'q');
      std::vector<char> replies(kPipeDepth * kPipeReplyBytes);
      auto batch = [&] {
        return SendAll(fd, requests.data(), requests.size()) &&
               RecvAll(fd, replies.data(), replies.size());
      };
      bool ok = fd >= 0 && SendAll(fd, head, sizeof head);
      for (int i = 0; ok && i < 20; ++i)
        ok = batch();  // past the connection's first segments
      ready.fetch_add(1);
      while (!go.load())
        std::this_thread::yield();
      const auto deadline =
          t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
      while (ok && Clock::now() < deadline && batches.fetch_add(1) < maxBatches)
        ok = batch();
      if (!ok)
        failed.fetch_add(1);
      CloseFd(fd);
    });
  }
  while (ready.load() < kPipeConnections)
    std::this_thread::yield();
  t0 = Clock::now();
  go = true;
  for (auto& t : threads)
    t.join();
  const double elapsed = Seconds(Clock::now() - t0);
  *failures += failed.load();
  const int done = std::min(batches.load(), maxBatches);
  return done * static_cast<double>(kPipeDepth) / elapsed;
}

struct Row {
  std::string name;
  double direct = 0, relay = 0;
  bool higherIsBetter = true;
};

void RunAll(std::uint16_t target, std::uint16_t relayPort, const Settings& s,
            std::vector<Row>* rows, long long* failures) {
  auto both = [&](const std::string& name, bool higher,
                  const std::function<double(std::uint16_t)>& f) {
    Row r;
    r.name = name;
    r.higherIsBetter = higher;
    r.direct = s.relayOnly ? 0 : f(target);
    r.relay = f(relayPort);
    rows->push_back(r);
    std::fprintf(stderr, "  %-22s direct %10.1f  relay %10.1f\n", name.c_str(), r.direct, r.relay);
  };
  auto check = [&](bool ok) {
    if (!ok)
      ++*failures;
  };
  // Relay CPU per unit of work, from the relay thread's own run time.
  std::vector<std::pair<std::string, double>> cost;
  auto measured = [&](std::uint16_t p, const std::string& what, double units,
                      const std::function<double()>& f) {
    double c0 = RelayCpuNs();
    double v = f();
    if (p == relayPort && units > 0)
      cost.emplace_back(what, (RelayCpuNs() - c0) / units);
    return v;
  };
  if (s.Wants("bulk1"))
    both("bulk x1 MB/s", true, [&](std::uint16_t p) {
      return measured(p, "relay CPU ns/byte, bulk x1", static_cast<double>(s.bulk1Bytes), [&] {
        bool ok;
        double v = BulkMBps(p, 1, s.bulk1Bytes, &ok);
        check(ok);
        return v;
      });
    });
  if (s.Wants("bulk32"))
    both("bulk x32 MB/s", true, [&](std::uint16_t p) {
      return measured(p, "relay CPU ns/byte, bulk x32", 32.0 * s.bulk32BytesEach, [&] {
        bool ok;
        double v = BulkMBps(p, 32, s.bulk32BytesEach, &ok);
        check(ok);
        return v;
      });
    });
  Latency lat[2];
  for (int i = s.relayOnly ? 1 : 0; s.Wants("rtt") && i < 2; ++i) {
    bool ok;
    lat[i] = RoundTrip(i == 0 ? target : relayPort, s.rttRounds, &ok);
    check(ok);
  }
  if (s.Wants("rtt")) {
    rows->push_back({"rtt 1 B p50 us", lat[0].p50, lat[1].p50, false});
    rows->push_back({"rtt 1 B p99 us", lat[0].p99, lat[1].p99, false});
  }
  for (int c : {1, 8}) {
    if (!s.Wants("cps" + std::to_string(c)))
      continue;
    both("conn/s c" + std::to_string(c), true, [&](std::uint16_t p) {
      long long f = 0;
      double c0 = RelayCpuNs();
      double v = ConnectionsPerSecond(p, c, s.cpsSeconds, s.cpsMax, &f);
      if (p == relayPort && v > 0) {
        cost.emplace_back("relay CPU us/conn, c" + std::to_string(c),
                          (RelayCpuNs() - c0) / 1000.0 / (v * s.cpsSeconds));
      }
      *failures += f;
      // Let TIME_WAIT and the relay's table settle before the next row.
      SleepMs(300);
      return v;
    });
  }
  if (s.Wants("pipe"))
    both("pipelined req/s c16 P16", true, [&](std::uint16_t p) {
      return PipelinedRequestsPerSecond(p, s.pipeSeconds, s.pipeMaxBatches, failures);
    });
  for (const auto& [what, value] : cost)
    rows->push_back({what, 0, value, false});
}

int Main(int argc, char** argv) {
  Settings s;
  bool pin = true;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--quick") {
      s.bulk1Bytes = 64ull << 20;
      s.bulk32BytesEach = 2ull << 20;
      s.rttRounds = 2000;
      s.cpsSeconds = 0.5;
      s.pipeSeconds = 1.0;
    } else if (a == "--no-pin") {
      pin = false;
    } else if (a == "--relay-only") {
      s.relayOnly = true;
    } else if (a == "--only" && i + 1 < argc) {
      s.only = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: relay_bench [--quick] [--no-pin] [--relay-only] [--only "
                   "bulk1,bulk32,rtt,cps1,cps8,pipe]\n");
      return 2;
    }
  }
  pin = pin && sysconf(_SC_NPROCESSORS_ONLN) >= 2;

  StderrAlerts alerts;
  SetAlertSink(&alerts);
  g_tables.Initialise();
  BindStartBlock(g_tables);

  // Backend and load on CPU 0; the relay thread, started from CPU 1, stays
  // there. The direct row is then the ceiling for the relay row.
  if (pin)
    PinTo(0);
  Backend backend;
  std::uint16_t relayPort = FreePort();
  if (pin)
    PinTo(1);
  g_tables.relayState[kRelayIndex].store(RELAY_STOP);
  RelayEndpoint endpoint;
  endpoint.localPort = relayPort;
  endpoint.remoteAddress = "127.0.0.1";
  endpoint.remotePort = backend.Port();
  std::set<int> before = ThreadIds();
  if (!StartOneRelay(g_tables, kRelayIndex, endpoint)) {
    std::fprintf(stderr, "relay thread could not start\n");
    return 1;
  }
  for (int tid : ThreadIds()) {
    if (!before.count(tid))
      g_relayTid = tid;
  }
  if (pin)
    PinTo(0);
  SleepMs(200);  // past the hand-over and into its wait loop

  std::fprintf(stderr, "relay_bench: backend 127.0.0.1:%u, relay port %u%s\n", backend.Port(),
               relayPort, pin ? ", relay on CPU 1, load on CPU 0" : "");
  std::vector<Row> rows;
  long long failures = 0;
  RunAll(backend.Port(), relayPort, s, &rows, &failures);

  RequestStop(g_tables, kRelayIndex);
  WaitStopped(g_tables, kRelayIndex, 50);

  std::printf("| measure | direct | relay | relay/direct |\n|---|---:|---:|---:|\n");
  for (const Row& r : rows) {
    if (r.direct > 0) {
      std::printf("| %s | %.1f | %.1f | %.2f |\n", r.name.c_str(), r.direct, r.relay,
                  r.relay / r.direct);
    } else {
      std::printf("| %s | - | %.2f | - |\n", r.name.c_str(), r.relay);
    }
  }
  std::printf("\nfailures: %lld, streams that failed verification at the sink: %lld\n", failures,
              backend.BadStreams());
  SetAlertSink(nullptr);
  return failures == 0 && backend.BadStreams() == 0 ? 0 : 1;
}

}  // namespace
}  // namespace vx::bench

int main(int argc, char** argv) {
  return vx::bench::Main(argc, argv);
}
