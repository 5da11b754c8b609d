// vexhold-serve as operators run it: the real binary as a child process,
// real setting.ini files, traffic on loopback, signals.
#include <gtest/gtest.h>

#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <tuple>
#include <vector>

#include "store/mapping_store.h"
#include "tests/serve/client.h"
#include "tests/serve/serve_process.h"
#include "tests/serve/setting_text.h"

namespace vx::test {
namespace {

std::vector<std::string> DirArgs(const TempDir& dir) {
  return {"--dir", dir.Path().string()};
}

std::string Running(int n) {
  return "正在运行 " + std::to_string(n) + " 个映射";
}

constexpr int kStartMs = 5000;
constexpr int kStopMs = 5000;

TEST(ServeCommandLine, HelpVersionAndBadArgumentsAnswerAsCommandLineToolsDo) {
  TempDir dir, logs;
  std::string out, err;
  EXPECT_EQ(RunToExit({"--help"}, logs.Path(), &out, &err), 0);
  EXPECT_NE(out.find("用法: vexhold-serve [--dir 目录] [--quiet] [--watch] [--help] [--version]"),
            std::string::npos);
  EXPECT_NE(out.find("退出码"), std::string::npos);
  EXPECT_EQ(err, "");

  EXPECT_EQ(RunToExit({"-V"}, logs.Path(), &out, &err), 0);
  EXPECT_EQ(out, "vexhold-serve " VEXHOLD_VERSION "\n");

  EXPECT_EQ(RunToExit({"--bogus", "--dir", dir.Path().string()}, logs.Path(), &out, &err), 1);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("未知的参数 \"--bogus\""), std::string::npos);
  EXPECT_NE(err.find("--help"), std::string::npos);

  EXPECT_EQ(RunToExit({"--dir"}, logs.Path(), &out, &err), 1);
  EXPECT_NE(err.find("参数 --dir 需要一个值"), std::string::npos);
  // Nothing was created by a refused command line.
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(ServeFile, MissingFileIsCreatedAsOnTheFirstGuiStartAndNothingRuns) {
  TempDir dir, reference;
  std::string err;
  EXPECT_EQ(RunToExit(DirArgs(dir), dir.Path(), nullptr, &err), 2);
  MappingStore(reference.Path() / "setting.ini").CreateMappingFile();
  EXPECT_EQ(ReadBytes(dir.Path() / "setting.ini"), ReadBytes(reference.Path() / "setting.ini"));
  EXPECT_NE(err.find("已创建"), std::string::npos);
  EXPECT_NE(err.find("没有能运行的映射, 退出"), std::string::npos);
}

TEST(ServeFile, UnreadableFileOrMissingDirectoryCannotStartAnything) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path() / "setting.ini");
  std::string err;
  EXPECT_EQ(RunToExit(DirArgs(dir), dir.Path(), nullptr, &err), 2);
  EXPECT_NE(err.find("无法读取或创建"), std::string::npos);

  TempDir logs;
  EXPECT_EQ(RunToExit({"--dir", (dir.Path() / "no-such-dir").string()}, logs.Path(), nullptr, &err),
            2);
  EXPECT_NE(err.find("无法读取或创建"), std::string::npos);
  // The system's reason follows, as the window's box gives it.
  EXPECT_NE(err.find("创建 " + (dir.Path() / "no-such-dir" / "setting.ini").string() + " 失败: "),
            std::string::npos)
      << err;
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "no-such-dir"));
}

TEST(ServeFile, BadPairsAreNamedBySectionAndTheGoodPairStillRuns) {
  EchoBackend backend;
  TempDir dir;
  std::uint16_t good = FreePort();
  std::string be = std::to_string(backend.Port());
  SaveReplacing(dir.Path() / "setting.ini", IniText({{"0", "127.0.0.1", be},
                                                     {"70000", "127.0.0.1", be},
                                                     {"8o8o", "127.0.0.1", be},
                                                     {"10001", "1.2.3", be},
                                                     {"10002", "300.1.1.1", be},
                                                     {"10003", "127.0.0.1", "0"},
                                                     To(good, backend.Port()),
                                                     {std::to_string(good), "127.0.0.1", "9"}}));
  ServeProcess serve(DirArgs(dir), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(1), kStartMs)) << serve.Stderr();
  std::string err = serve.Stderr();
  EXPECT_NE(err.find("第 1 节: 本地端口 Cport \"0\" 无效"), std::string::npos) << err;
  EXPECT_NE(err.find("第 2 节: 本地端口 Cport \"70000\" 无效"), std::string::npos);
  EXPECT_NE(err.find("第 3 节: 本地端口 Cport \"8o8o\" 无效"), std::string::npos);
  EXPECT_NE(err.find("第 4 节: 远程地址 IP \"1.2.3\" 不是点分十进制的 IPv4 地址"),
            std::string::npos);
  EXPECT_NE(err.find("第 5 节: 远程地址 IP \"300.1.1.1\""), std::string::npos);
  EXPECT_NE(err.find("第 6 节: 远程端口 Sport \"0\" 无效"), std::string::npos);
  EXPECT_NE(err.find("第 8 节: 本地端口 " + std::to_string(good) + " 已由第 7 节使用"),
            std::string::npos);
  EXPECT_EQ(CountOf(err, "启动第 "), 1u);

  Client c;
  ASSERT_TRUE(c.Connect(good));
  EXPECT_TRUE(c.Echo(Pattern(50000, 1)));
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStopMs), 0);
}

class ServeStop : public ::testing::TestWithParam<int> {};

TEST_P(ServeStop, ServesTrafficThenStopsEveryRelayClosingOpenConnections) {
  EchoBackend backend;
  TempDir dir;
  std::uint16_t p1 = FreePort(), p2 = FreePort();
  SaveReplacing(dir.Path() / "setting.ini",
                IniText({To(p1, backend.Port()), To(p2, backend.Port())}));
  ServeProcess serve(DirArgs(dir), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(2), kStartMs)) << serve.Stderr();

  Client a, b, idle;
  ASSERT_TRUE(a.Connect(p1));
  ASSERT_TRUE(b.Connect(p2));
  ASSERT_TRUE(idle.Connect(p2));
  EXPECT_TRUE(a.Echo(Pattern(300000, 2)));
  EXPECT_TRUE(b.Echo(Pattern(300000, 3)));
  ASSERT_TRUE(serve.WaitForLog("新连接 127.0.0.1:", kStartMs, 3)) << serve.Stderr();
  EXPECT_EQ(CountOf(serve.Stderr(), "端口:" + std::to_string(p2) + " 新连接 127.0.0.1:"), 2u);

  serve.Signal(GetParam());
  EXPECT_EQ(serve.WaitExit(kStopMs), 0) << serve.Stderr();
  EXPECT_TRUE(a.SeesClose(1000));
  EXPECT_TRUE(b.SeesClose(1000));
  EXPECT_TRUE(idle.SeesClose(1000));
  EXPECT_FALSE(Accepts(p1));
  EXPECT_FALSE(Accepts(p2));
  std::string err = serve.Stderr();
  EXPECT_NE(err.find("收到停止信号"), std::string::npos);
  EXPECT_NE(err.find("全部映射已停止, 退出"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals, ServeStop, ::testing::Values(SIGINT, SIGTERM));

TEST(ServeReload, KeepsUnchangedPairsRestartsChangedOnesAndStopsRemovedOnes) {
  EchoBackend b1, b2;
  TempDir dir;
  std::uint16_t pa = FreePort(), pb = FreePort(), pc = FreePort(), pd = FreePort();
  SaveReplacing(dir.Path() / "setting.ini",
                IniText({To(pa, b1.Port()), To(pb, b1.Port()), To(pc, b1.Port())}));
  ServeProcess serve(DirArgs(dir), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(3), kStartMs)) << serve.Stderr();
  Client ca, cb, cc;
  ASSERT_TRUE(ca.Connect(pa));
  ASSERT_TRUE(cb.Connect(pb));
  ASSERT_TRUE(cc.Connect(pc));
  ASSERT_TRUE(ca.Echo(Pattern(20000, 4)));
  ASSERT_TRUE(cb.Echo(Pattern(20000, 5)));
  ASSERT_TRUE(cc.Echo(Pattern(20000, 6)));

  // A moves from section 1 to 2 unchanged; B points elsewhere; C goes; D comes.
  SaveReplacing(dir.Path() / "setting.ini",
                IniText({To(pb, b2.Port()), To(pa, b1.Port()), To(pd, b1.Port())}));
  serve.Signal(SIGHUP);
  ASSERT_TRUE(serve.WaitForLog("重新读取完成: 保留 1 个, 停止 2 个, 启动 2 个映射", kStopMs))
      << serve.Stderr();

  EXPECT_TRUE(ca.Echo(Pattern(100000, 7)));
  EXPECT_TRUE(cb.SeesClose(1000));
  EXPECT_TRUE(cc.SeesClose(1000));
  EXPECT_FALSE(Accepts(pc));
  Client cb2, cd;
  ASSERT_TRUE(cb2.Connect(pb));
  EXPECT_TRUE(cb2.Echo(Pattern(20000, 8)));
  EXPECT_EQ(b2.Accepted(), 1);
  ASSERT_TRUE(cd.Connect(pd));
  EXPECT_TRUE(cd.Echo(Pattern(20000, 9)));

  // A file that cannot be read leaves the running relays alone.
  std::filesystem::remove(dir.Path() / "setting.ini");
  serve.Signal(SIGHUP);
  ASSERT_TRUE(serve.WaitForLog("文件不可用, 保留正在运行的映射", kStopMs)) << serve.Stderr();
  EXPECT_TRUE(ca.Echo(Pattern(1000, 10)));
  EXPECT_TRUE(cd.Echo(Pattern(1000, 11)));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "setting.ini"));

  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStopMs), 0) << serve.Stderr();
  EXPECT_TRUE(ca.SeesClose(1000));
}

// Holds a port the way another program would: listening on all interfaces.
class PortHolder {
 public:
  explicit PortHolder(std::uint16_t port, int backlog = 5) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    m_ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
           ::listen(m_fd, backlog) == 0;
  }
  ~PortHolder() { Release(); }
  void Release() {
    if (m_fd >= 0)
      ::close(m_fd);
    m_fd = -1;
  }
  bool Ok() const { return m_ok; }

 private:
  int m_fd = -1;
  bool m_ok = false;
};

TEST(ServeRun, PortInUseIsReportedTheOthersRunAndAReloadRetriesIt) {
  EchoBackend backend;
  TempDir dir;
  std::uint16_t busy = FreePort(), free = FreePort();
  PortHolder holder(busy);
  ASSERT_TRUE(holder.Ok());
  SaveReplacing(dir.Path() / "setting.ini",
                IniText({To(busy, backend.Port()), To(free, backend.Port())}));
  ServeProcess serve(DirArgs(dir), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(1), kStartMs)) << serve.Stderr();
  EXPECT_NE(serve.Stderr().find("端口:" + std::to_string(busy) + " 有另外一个程序在使用!"),
            std::string::npos);
  Client c;
  ASSERT_TRUE(c.Connect(free));
  EXPECT_TRUE(c.Echo(Pattern(10000, 12)));

  holder.Release();
  serve.Signal(SIGHUP);
  ASSERT_TRUE(serve.WaitForLog("保留 1 个, 停止 0 个, 启动 1 个映射", kStopMs)) << serve.Stderr();
  Client d;
  ASSERT_TRUE(d.Connect(busy));
  EXPECT_TRUE(d.Echo(Pattern(10000, 13)));
  EXPECT_TRUE(c.Echo(Pattern(10000, 14)));
  serve.Signal(SIGINT);
  EXPECT_EQ(serve.WaitExit(kStopMs), 0);
}

TEST(ServeRun, EveryPortInUseMeansNothingStarted) {
  TempDir dir;
  std::uint16_t busy = FreePort();
  PortHolder holder(busy);
  ASSERT_TRUE(holder.Ok());
  SaveReplacing(dir.Path() / "setting.ini", IniText({To(busy, 9)}));
  std::string err;
  EXPECT_EQ(RunToExit(DirArgs(dir), dir.Path(), nullptr, &err), 2);
  EXPECT_NE(err.find("端口:" + std::to_string(busy) + " 有另外一个程序在使用!"), std::string::npos);
  EXPECT_NE(err.find("没有能运行的映射, 退出"), std::string::npos);
}

TEST(ServeRun, QuietLeavesOutConnectionLinesButKeepsRelayMessages) {
  TempDir dir;
  std::uint16_t port = FreePort(), refused = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", IniText({To(port, refused)}));
  std::vector<std::string> args = DirArgs(dir);
  args.push_back("--quiet");
  ServeProcess serve(args, dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(1), kStartMs)) << serve.Stderr();
  Client c;
  // The remote refuses, so the relay may reset the client before Connect has
  // looked: only the relay's own message, which still reaches the log, counts.
  c.Connect(port);
  EXPECT_TRUE(
      serve.WaitForLog("端口:" + std::to_string(port) + " 连接服务器失败(10061)!", kStartMs))
      << serve.Stderr();
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStopMs), 0);
  EXPECT_EQ(serve.Stderr().find("新连接"), std::string::npos);
  EXPECT_EQ(serve.Stderr().find("连接关闭"), std::string::npos);
}

TEST(ServeRun, ConnectionOpensAndClosesAreLoggedWithThePeerAddress) {
  EchoBackend backend;
  TempDir dir;
  std::uint16_t port = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", IniText({To(port, backend.Port())}));
  ServeProcess serve(DirArgs(dir), dir.Path());
  ASSERT_TRUE(serve.WaitForLog(Running(1), kStartMs)) << serve.Stderr();
  Client c;
  ASSERT_TRUE(c.Connect(port));
  ASSERT_TRUE(c.Echo("x"));
  sockaddr_in local{};
  socklen_t len = sizeof local;
  ::getsockname(c.Fd(), reinterpret_cast<sockaddr*>(&local), &len);
  std::string peer = "127.0.0.1:" + std::to_string(ntohs(local.sin_port));
  c.Close();
  std::string p = "端口:" + std::to_string(port);
  EXPECT_TRUE(serve.WaitForLog(p + " 连接关闭 " + peer, kStartMs)) << serve.Stderr();
  EXPECT_NE(serve.Stderr().find(p + " 新连接 " + peer), std::string::npos);
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStopMs), 0);
}

}  // namespace
}  // namespace vx::test
