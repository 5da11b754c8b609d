// vexhold-serve under load and faults, as a child process: thousands of
// connections, running out of descriptors, a stalled log, reloads while
// traffic flows, signals in the middle of a reload, hostile file values.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include <chrono>
#include <thread>

#include "tests/serve/client.h"
#include "tests/serve/many_connections.h"
#include "tests/serve/serve_process.h"

namespace vx::test {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::string Ini(const std::vector<std::string>& sections) {
  std::string s = "[Num]\r\nNumber=" + std::to_string(sections.size()) + "\r\nQueldaUrlList=\r\n";
  for (std::size_t i = 0; i < sections.size(); ++i)
    s += "[" + std::to_string(i + 1) + "]\r\n" + sections[i];
  return s;
}

std::string Section(std::uint16_t local, const std::string& ip, std::uint16_t remote) {
  return "Cport=" + std::to_string(local) + "\r\nIP=" + ip + "\r\nSport=" + std::to_string(remote) +
         "\r\n";
}

std::string To(std::uint16_t local, std::uint16_t remote) {
  return Section(local, "127.0.0.1", remote);
}

std::vector<std::string> Args(const TempDir& dir, std::vector<std::string> more = {}) {
  std::vector<std::string> a{"--dir", dir.Path().string()};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

std::string Running(int n) {
  return "正在运行 " + std::to_string(n) + " 个映射";
}

constexpr int kStartMs = 10000;

TEST(ServeScale, ThousandsOfConnectionsAreServedWithSmallMemoryAndNoIdleWork) {
  RaiseOwnFileLimit();
  const int n = kSanitized ? 2000 : 5000;
  EpollEcho backend;
  TempDir dir;
  std::uint16_t port = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", Ini({To(port, backend.Port())}));
  ServeProcess serve(Args(dir, {"--quiet", "--max-connections", "10000"}), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(1), kStartMs)) << serve.Stderr();
  long rssBefore = serve.RssKiB();

  HeldClients clients;
  ASSERT_EQ(clients.Open(port, n, 90000), n) << serve.Stderr();
  ASSERT_EQ(clients.EchoAll(20000), n);
  long rssHeld = serve.RssKiB();
  double cpu0 = serve.CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  double idleCpu = serve.CpuSeconds() - cpu0;
  ASSERT_EQ(clients.EchoAll(20000), n);
  double perConn = static_cast<double>(rssHeld - rssBefore) / n;
  std::printf("%d connections: %.2f KiB RSS each, %.2f CPU-s in 2 s idle\n", n, perConn, idleCpu);
  EXPECT_LT(idleCpu, 0.1);
  if (!kSanitized) {
    EXPECT_LT(perConn, 16.0);
  }
  clients.CloseAll();
  // Every connection ends, none is left behind: asked for until it shows.
  std::string figures = "当前 0 个连接, 共接受 " + std::to_string(n) + " 个";
  bool closed = false;
  for (int i = 0; i < 20 && !closed; ++i) {
    serve.Signal(SIGUSR1);
    closed = serve.WaitForLog(figures, 500);
  }
  EXPECT_TRUE(closed) << serve.Stderr();
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStartMs), 0);
}

TEST(ServeDescriptors, OutOfDescriptorsItNeitherSpinsNorFloodsTheLogAndRecovers) {
  if (kSanitized)
    GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own to check memory";
  EchoBackend backend;
  TempDir dir;
  std::uint16_t ports[3] = {FreePort(), FreePort(), FreePort()};
  SaveReplacing(dir.Path() / "setting.ini",
                Ini({To(ports[0], backend.Port()), To(ports[1], backend.Port()),
                     To(ports[2], backend.Port())}));
  ServeProcess serve(Args(dir, {"--quiet"}), dir.Path(), {64});
  ASSERT_TRUE(serve.WaitForLog(Running(3), kStartMs)) << serve.Stderr();

  // 40 clients want 80 descriptors; the relay has about 50 left.
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 40; ++i) {
    clients.push_back(std::make_unique<Client>());
    ASSERT_TRUE(clients.back()->Connect(ports[i % 3]));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  double cpu0 = serve.CpuSeconds();
  std::size_t lines0 = CountOf(serve.Stderr(), "\n");
  std::this_thread::sleep_for(std::chrono::seconds(2));
  double cpu = serve.CpuSeconds() - cpu0;
  std::size_t lines = CountOf(serve.Stderr(), "\n") - lines0;
  EXPECT_LT(cpu, 0.3) << "spinning";
  EXPECT_LE(lines, 6u) << serve.Stderr();
  EXPECT_NE(serve.Stderr().find("(10024)!"), std::string::npos) << serve.Stderr();
  EXPECT_LE(CountOf(serve.Stderr(), "(10024)!"), 6u) << serve.Stderr();

  // The connections it took still flow; once clients leave, it serves again.
  int echoed = 0;
  for (auto& c : clients)
    echoed += c->Echo("still here", 1000) ? 1 : 0;
  EXPECT_GT(echoed, 10);
  clients.clear();
  Client late;
  ASSERT_TRUE(late.Connect(ports[0]));
  EXPECT_TRUE(late.Echo(Pattern(100000, 3), 5000)) << serve.Stderr();
  EXPECT_TRUE(serve.WaitForLog("恢复接受连接", kStartMs)) << serve.Stderr();
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStartMs), 0);
}

TEST(ServeDescriptors, ListenersThatTakeEveryDescriptorLeaveNoSpinAndTheRestStillStarts) {
  if (kSanitized)
    GTEST_SKIP() << "the sanitizer runtime needs descriptors of its own to check memory";
  EchoBackend backend;
  TempDir dir;
  std::vector<std::string> sections;
  std::vector<std::uint16_t> ports;
  for (int i = 0; i < 70; ++i) {
    ports.push_back(FreePort());
    sections.push_back(To(ports.back(), backend.Port()));
  }
  SaveReplacing(dir.Path() / "setting.ini", Ini(sections));
  ServeProcess serve(Args(dir, {"--quiet"}), dir.Path(), {64});
  ASSERT_TRUE(serve.WaitForLog("正在运行 ", kStartMs)) << serve.Stderr();
  EXPECT_NE(serve.Stderr().find("创建Socket失败(10024)!"), std::string::npos) << serve.Stderr();
  Client waiting;
  ASSERT_TRUE(waiting.Connect(ports[0]));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  double cpu0 = serve.CpuSeconds();
  std::size_t lines0 = CountOf(serve.Stderr(), "\n");
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_LT(serve.CpuSeconds() - cpu0, 0.3) << "spinning";
  EXPECT_LE(CountOf(serve.Stderr(), "\n") - lines0, 2u) << serve.Stderr();
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStartMs), 0);
}

// A pipe nobody reads, as small as the system allows.
class StalledPipe {
 public:
  StalledPipe() {
    if (::pipe2(m_fds, O_CLOEXEC) == 0)
      ::fcntl(m_fds[1], F_SETPIPE_SZ, 4096);
  }
  ~StalledPipe() {
    ::close(m_fds[0]);
    ::close(m_fds[1]);
  }
  int WriteEnd() const { return m_fds[1]; }
  bool Full() const {
    int flags = ::fcntl(m_fds[1], F_GETFL);
    ::fcntl(m_fds[1], F_SETFL, flags | O_NONBLOCK);
    char c = 'x';
    bool full = ::write(m_fds[1], &c, 1) < 0;
    ::fcntl(m_fds[1], F_SETFL, flags);
    return full;
  }

 private:
  int m_fds[2] = {-1, -1};
};

// Fills the log until the pipe is full: every connection writes two lines.
bool FillLog(std::uint16_t port, const StalledPipe& pipe) {
  // The child may take a while to listen in the sanitizer builds.
  auto listening = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (Client probe; !probe.Connect(port, 200);) {
    if (std::chrono::steady_clock::now() > listening) {
      ADD_FAILURE() << "vexhold-serve never listened on " << port;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (int i = 0; i < 5000; ++i) {
    Client c;
    if (c.Connect(port))
      c.Echo("x", 1000);
    if (i % 50 == 49 && pipe.Full())
      return true;
  }
  return false;
}

TEST(ServeLog, AStalledLogNeverHoldsTheRelaysOrTheStop) {
  EchoBackend backend;
  TempDir dir;
  std::uint16_t port = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", Ini({To(port, backend.Port())}));
  StalledPipe pipe;
  ServeProcess serve(Args(dir), dir.Path(), {0, pipe.WriteEnd()});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(FillLog(port, pipe));
  Client c;
  ASSERT_TRUE(c.Connect(port));
  EXPECT_TRUE(c.Echo(Pattern(200000, 4))) << "a relay waits for the log";
  auto t0 = std::chrono::steady_clock::now();
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(8000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(6));
}

TEST(ServeLog, ASecondStopSignalWhileTheLogIsStalledEndsAtOnce) {
  EchoBackend backend;
  TempDir dir;
  std::uint16_t port = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", Ini({To(port, backend.Port())}));
  StalledPipe pipe;
  ServeProcess serve(Args(dir), dir.Path(), {0, pipe.WriteEnd()});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(FillLog(port, pipe));
  serve.Signal(SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto t0 = std::chrono::steady_clock::now();
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(3000), 3);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1500));
}

// A remote whose SYNs are dropped: a listener with a full accept queue.
class SynDropper {
 public:
  SynDropper() : m_port(FreePort()) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(m_port);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(m_fd, 0);
    for (int i = 0; i < 8; ++i) {
      m_fill.push_back(std::make_unique<Client>());
      if (!m_fill.back()->Connect(m_port, 300))
        break;
    }
  }
  ~SynDropper() { ::close(m_fd); }
  std::uint16_t Port() const { return m_port; }
  bool Drops() {
    Client probe;
    return !probe.Connect(m_port, 300);
  }

 private:
  std::uint16_t m_port;
  int m_fd = -1;
  std::vector<std::unique_ptr<Client>> m_fill;
};

TEST(ServeStop, AStopIsNeverHeldByAPendingConnect) {
  SynDropper silent;
  ASSERT_TRUE(silent.Drops()) << "the full accept queue still answers SYNs";
  TempDir dir;
  std::uint16_t port = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", Ini({To(port, silent.Port())}));
  ServeProcess serve(Args(dir), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(1), kStartMs)) << serve.Stderr();
  Client c;
  ASSERT_TRUE(c.Connect(port));
  ASSERT_TRUE(serve.WaitForLog("新连接", kStartMs));
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(2000), 0) << serve.Stderr();
  EXPECT_TRUE(c.SeesClose(1000));
}

TEST(ServeReload, AStopSignalDuringAReloadIsAnOrdinaryStop) {
  SynDropper silent;
  ASSERT_TRUE(silent.Drops());
  EchoBackend backend;
  TempDir dir;
  std::uint16_t stuck = FreePort(), kept = FreePort();
  SaveReplacing(dir.Path() / "setting.ini",
                Ini({To(stuck, silent.Port()), To(kept, backend.Port())}));
  ServeProcess serve(Args(dir), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(2), kStartMs)) << serve.Stderr();
  Client pending;
  ASSERT_TRUE(pending.Connect(stuck));  // its connect waits on the silent remote
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  SaveReplacing(dir.Path() / "setting.ini", Ini({To(kept, backend.Port())}));
  serve.Signal(SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(5000), 0) << serve.Stderr();
  EXPECT_EQ(serve.Stderr().find("立即退出"), std::string::npos) << serve.Stderr();
  EXPECT_NE(serve.Stderr().find("全部映射已停止, 退出"), std::string::npos);
}

class ServeBadCount : public ::testing::TestWithParam<const char*> {};

TEST_P(ServeBadCount, AReloadReadingAnInvalidCountKeepsWhatRunsAndSaysSo) {
  EchoBackend backend;
  TempDir dir;
  std::uint16_t port = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", Ini({To(port, backend.Port())}));
  ServeProcess serve(Args(dir), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(1), kStartMs)) << serve.Stderr();
  Client c;
  ASSERT_TRUE(c.Connect(port));
  ASSERT_TRUE(c.Echo("before"));
  SaveReplacing(dir.Path() / "setting.ini", "[Num]\r\nNumber=" + std::string(GetParam()) +
                                                "\r\n[1]\r\n" + To(port, backend.Port()));
  serve.Signal(SIGHUP);
  ASSERT_TRUE(serve.WaitForLog("文件不可用, 保留正在运行的映射", kStartMs)) << serve.Stderr();
  EXPECT_NE(serve.Stderr().find("Number 值 \"" + std::string(GetParam()) + "\" 无效"),
            std::string::npos)
      << serve.Stderr();
  EXPECT_TRUE(c.Echo(Pattern(100000, 5)));
  Client d;
  ASSERT_TRUE(d.Connect(port));
  EXPECT_TRUE(d.Echo("after"));
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStartMs), 0);
}

INSTANTIATE_TEST_SUITE_P(Counts, ServeBadCount, ::testing::Values("-2", "2147483648"));

TEST(ServeReload, ReloadsWhileTrafficFlowsLoseNotAByteOnAnUnchangedPair) {
  EchoBackend backend;
  TempDir dir;
  std::uint16_t kept = FreePort(), other = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", Ini({To(kept, backend.Port())}));
  ServeProcess serve(Args(dir, {"--quiet"}), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(1), kStartMs)) << serve.Stderr();
  Client c;
  ASSERT_TRUE(c.Connect(kept));
  std::atomic<bool> ok{true}, done{false};
  std::thread traffic([&] {
    for (int i = 0; i < 200 && ok; ++i)
      ok = c.Echo(Pattern(40000, 100 + i));
    done = true;
  });
  for (int r = 0; r < 6; ++r) {
    // Moved to another section, with another pair coming and going beside it.
    if (r % 2 == 0)
      SaveReplacing(dir.Path() / "setting.ini",
                    Ini({To(other, backend.Port()), To(kept, backend.Port())}));
    else
      SaveReplacing(dir.Path() / "setting.ini", Ini({To(kept, backend.Port())}));
    serve.Signal(SIGHUP);
    ASSERT_TRUE(serve.WaitForLog("重新读取完成: 保留 1 个", kStartMs, r + 1)) << serve.Stderr();
  }
  traffic.join();
  EXPECT_TRUE(ok);
  EXPECT_TRUE(done);
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStartMs), 0);
}

TEST(ServeLog, FileValuesReachTheLogCutShortWithControlBytesEscaped) {
  EchoBackend backend;
  TempDir dir;
  std::uint16_t port = FreePort();
  // Well past any real value, yet inside the file-size limit.
  std::string hugePort = "\x1b[2J" + std::string(900000, '9');
  std::string evilHost = "evil\x1b]0;owned\x07host";
  SaveReplacing(dir.Path() / "setting.ini",
                Ini({"Cport=" + hugePort + "\r\nIP=127.0.0.1\r\nSport=80\r\n",
                     Section(port, evilHost, 80), Section(port, "127.0.0.1", backend.Port())}));
  ServeProcess serve(Args(dir), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(1), kStartMs)) << serve.Stderr();
  std::string err = serve.Stderr();
  EXPECT_EQ(err.find('\x1b'), std::string::npos);
  EXPECT_EQ(err.find('\x07'), std::string::npos);
  EXPECT_NE(err.find("第 1 节: 本地端口 Cport \"\\x1B[2J999"), std::string::npos) << err;
  EXPECT_NE(err.find("(共 900004 字节)"), std::string::npos) << err;
  EXPECT_NE(err.find("第 2 节: 远程地址 IP \"evil\\x1B]0;owned\\x07host\" 不是"), std::string::npos)
      << err;
  std::size_t longest = 0, start = 0;
  for (std::size_t nl = err.find('\n'); nl != std::string::npos; nl = err.find('\n', start)) {
    longest = std::max(longest, nl - start);
    start = nl + 1;
  }
  EXPECT_LT(longest, 400u);
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStartMs), 0);
}

TEST(ServeFigures, FiguresOnRequestAtIntervalsAndAtTheStop) {
  EchoBackend backend;
  TempDir dir;
  std::uint16_t port = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", Ini({To(port, backend.Port())}));
  ServeProcess serve(Args(dir, {"--stats-interval", "1"}), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(1), kStartMs)) << serve.Stderr();
  Client a, b;
  ASSERT_TRUE(a.Connect(port) && b.Connect(port));
  ASSERT_TRUE(a.Echo(Pattern(12345, 6)));
  ASSERT_TRUE(b.Echo(Pattern(100, 7)));
  b.Close();
  std::string line = "当前 1 个连接, 共接受 2 个, 超限关闭 0 个, 上行 12445 字节, 下行 12445 字节";
  EXPECT_TRUE(serve.WaitForLog(line, kStartMs)) << serve.Stderr();  // the interval
  std::size_t seen = CountOf(serve.Stderr(), line);
  serve.Signal(SIGUSR1);
  EXPECT_TRUE(serve.WaitForLog(line, kStartMs, static_cast<int>(seen) + 1));
  EXPECT_TRUE(serve.WaitForLog(line, 3000, static_cast<int>(seen) + 2));  // intervals go on
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStartMs), 0);
  EXPECT_NE(serve.Stderr().rfind(line), std::string::npos);
  EXPECT_LT(serve.Stderr().rfind(line), serve.Stderr().find("全部映射已停止"));
}

}  // namespace
}  // namespace vx::test
