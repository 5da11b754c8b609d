// A relay out of descriptors (Linux, a low RLIMIT_NOFILE in a child process
// that runs the relay): it must not spin on the listener that stays readable
// for the client it cannot take. It reports at most once a second, uses next
// to no CPU meanwhile, goes on serving the connections it has, and takes the
// waiting client once descriptors are free again.
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <thread>

#include "relay/relay_control.h"
#include "tests/relay/relay_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace vx::test {
namespace {

namespace fs = std::filesystem;
constexpr auto kWindow = std::chrono::seconds(3);

bool Exists(const fs::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0;  // needs no descriptor
}

::testing::AssertionResult WaitForFile(const fs::path& p, Ms limit = Ms(20000)) {
  return WaitFor([&] { return Exists(p); }, limit, "the file " + p.string());
}

void Mark(const fs::path& p, const std::string& text = "") {
  std::ofstream(p) << text;
}

double CpuMs() {
  struct rusage u {};
  ::getrusage(RUSAGE_SELF, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// The child: one relay, then every descriptor taken, the measurement window,
// and the descriptors given back. Steps are handed over through files.
int ExhaustedRelayMain(const std::vector<std::string>& args) {
  const auto port = static_cast<std::uint16_t>(std::stoi(args.at(0)));
  const auto remote = static_cast<std::uint16_t>(std::stoi(args.at(1)));
  const fs::path dir = args.at(2);
  auto* tables = new RelaySlotTables;  // outlives the relay thread
  tables->Initialise();
  BindStartBlock(*tables);
  SetAlertSink(&Recorder());
  tables->slotMap[1] = 1;
  tables->relayState[1] = RELAY_STOP;
  RelayEndpoint endpoint;
  endpoint.localPort = port;
  endpoint.remotePort = remote;
  if (!StartOneRelay(*tables, 1, endpoint))
    return 2;
  Mark(dir / "started");
  if (!WaitForFile(dir / "first-open"))
    return 3;

  struct rlimit limit {};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = 128;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  std::vector<int> taken;
  for (int fd; (fd = ::dup(0)) >= 0;)
    taken.push_back(fd);
  if (errno != EMFILE || taken.empty())
    return 4;
  // Reports count from here: the relay may try the queued client before
  // this side has seen it queued.
  const std::size_t alerts = Recorder().Texts().size();
  ::close(taken.back());
  Mark(dir / "exhausted");
  taken.back() = ::dup(0);
  if (taken.back() < 0)
    return 7;  // something else took the descriptor meanwhile
  if (!WaitForFile(dir / "second-queued"))
    return 5;

  const double cpu = CpuMs();
  std::this_thread::sleep_for(kWindow);
  const double cpuUsed = CpuMs() - cpu;
  const std::vector<std::string> texts = Recorder().Texts();
  // Give the descriptors back while the listener rests, just after a report:
  // freed half-way through a pass, the socket call would fail and the
  // accept after it succeed, and the waiting client be turned away.
  if (!Recorder().WaitForTexts(texts.size() + 1, Ms(3000)))
    return 6;
  std::this_thread::sleep_for(Ms(300));
  for (int fd : taken)
    ::close(fd);
  Mark(dir / "result", std::to_string(texts.size() - alerts) + " " +
                           std::to_string(static_cast<long>(cpuUsed)) + "\n" +
                           (texts.size() > alerts ? texts[alerts] : std::string("-")));
  WaitForFile(dir / "done", Ms(30000));
  tables->relayState[1] = RELAY_STOP;
  WaitFor([&] { return tables->relayState[1].load() == RELAY_STOPPED; }, Ms(5000),
          "tables->relayState[1].load() == RELAY_STOPPED");
  return 0;
}

const bool g_child = test::RunIfChild("exhausted-relay", &ExhaustedRelayMain);

bool RoundTrip(net::Socket s, const std::string& text) {
  std::string echo;
  return SendAll(s, text) && RecvExact(s, text.size(), &echo) && echo == text;
}

TEST(RelayOutOfDescriptors, RestsItsListenerReportsOncePerSecondAndServesAgainAfter) {
  ASSERT_EQ(net::Startup(), 0);
  TestServer backend(TestServer::kEcho);
  test::TempDir dir;
  const std::uint16_t port = FreePort();
  test::ChildProcess relay("exhausted-relay", {std::to_string(port), std::to_string(backend.Port()),
                                               dir.Path().string()});
  ASSERT_TRUE(WaitForFile(dir / "started"));
  net::UniqueSocket first = ConnectWhenListening(port);
  ASSERT_TRUE(first.Valid());
  ASSERT_TRUE(RoundTrip(first.Get(), "before"));
  Mark(dir / "first-open");
  ASSERT_TRUE(WaitForFile(dir / "exhausted"));

  // Completed by the system and left in the backlog: the relay has no
  // descriptor for its outbound socket.
  net::UniqueSocket second = ConnectTo(port);
  ASSERT_TRUE(second.Valid());
  Mark(dir / "second-queued");
  const auto windowEnd = std::chrono::steady_clock::now() + kWindow - Ms(300);
  int served = 0;
  while (std::chrono::steady_clock::now() < windowEnd) {
    EXPECT_TRUE(RoundTrip(first.Get(), "during " + std::to_string(served++)))
        << "the connection it has was not served meanwhile";
    std::this_thread::sleep_for(Ms(250));
  }

  ASSERT_TRUE(WaitForFile(dir / "result"));
  std::ifstream in(dir / "result");
  std::size_t alerts = 0;
  long cpuMs = 0;
  std::string firstAlert;
  in >> alerts >> cpuMs;
  std::getline(in >> std::ws, firstAlert);
  std::printf("[ info ] %zu reports and %ld ms of CPU in %lld s out of descriptors\n", alerts,
              cpuMs, static_cast<long long>(kWindow.count()));
  EXPECT_GE(alerts, 1u);
  EXPECT_LE(alerts, 5u) << "more than one report per second";
  EXPECT_LT(cpuMs, 300) << "the relay spun while out of descriptors";
  EXPECT_EQ(firstAlert, "端口:" + std::to_string(port) + " 创建服务器Socket失败(10024)!");

  // Descriptors are free again: the waiting client is taken within the rest.
  EXPECT_TRUE(RoundTrip(second.Get(), "after")) << "the waiting client was never served";
  EXPECT_TRUE(RoundTrip(first.Get(), "still"));
  Mark(dir / "done");
  EXPECT_EQ(relay.Wait(Ms(20000)), 0);
}

}  // namespace
}  // namespace vx::test
#endif
