// vexhold-serve under a service manager, as the real binary: readiness on a
// NOTIFY_SOCKET the test binds, the journal's form of the log, and --watch
// picking up saves of setting.ini while traffic runs on loopback.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <regex>
#include <thread>

#include "store/mapping_store.h"
#include "tests/serve/client.h"
#include "tests/serve/notify_listener.h"
#include "tests/serve/serve_process.h"
#include "tests/serve/setting_text.h"

namespace vx::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kStartMs = 5000;
constexpr int kStopMs = 5000;

std::uint64_t MonotonicUsec() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

class ServeNotify : public ::testing::TestWithParam<bool> {};

TEST_P(ServeNotify, ReadyOnceListeningReloadingAroundAReloadStoppingOnStop) {
  EchoBackend backend;
  TempDir dir;
  NotifyListener manager(dir.Path() / "notify", GetParam());
  ASSERT_TRUE(manager.Ok());
  std::uint16_t port = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", IniText({To(port, backend.Port())}));
  ScopedEnv env({{"NOTIFY_SOCKET", manager.Address()}});
  ServeProcess serve({"--dir", dir.Path().string()}, dir.Path());

  std::string m;
  ASSERT_TRUE(manager.Receive(&m, kStartMs)) << serve.Stderr();
  EXPECT_EQ(m, "READY=1");
  EXPECT_TRUE(Accepts(port)) << "ready before the relay listened";

  std::uint64_t before = MonotonicUsec();
  serve.Signal(SIGHUP);
  ASSERT_TRUE(manager.Receive(&m, kStopMs)) << serve.Stderr();
  std::uint64_t after = MonotonicUsec();
  std::smatch parts;
  ASSERT_TRUE(std::regex_match(m, parts, std::regex("RELOADING=1\nMONOTONIC_USEC=(\\d+)"))) << m;
  std::uint64_t stamp = std::stoull(parts[1]);
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
  ASSERT_TRUE(manager.Receive(&m, kStopMs)) << serve.Stderr();
  EXPECT_EQ(m, "READY=1");
  EXPECT_TRUE(serve.WaitForLog("重新读取完成", kStopMs)) << serve.Stderr();

  serve.Signal(SIGTERM);
  ASSERT_TRUE(manager.Receive(&m, kStopMs)) << serve.Stderr();
  EXPECT_EQ(m, "STOPPING=1");
  EXPECT_EQ(serve.WaitExit(kStopMs), 0) << serve.Stderr();
  EXPECT_FALSE(manager.Receive(&m, 100)) << m;
}

INSTANTIATE_TEST_SUITE_P(PathAndAbstract, ServeNotify, ::testing::Values(false, true));

// Runs the binary with stderr on a file the test made, so that JOURNAL_STREAM
// can name that file's device and inode.
int RunWithStderr(const std::vector<std::string>& args, const std::filesystem::path& errFile,
                  const std::string& journalStream) {
  int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  struct stat st;
  ::fstat(fd, &st);
  std::string stream = journalStream.empty()
                           ? std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)
                           : journalStream;
  std::vector<std::string> argv_s{VEXHOLD_SERVE_BINARY};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s)
    argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fd, 2);
    ::setenv("JOURNAL_STREAM", stream.c_str(), 1);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fd);
  auto deadline = Clock::now() + 10s;
  while (Clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    std::this_thread::sleep_for(10ms);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

TEST(ServeJournal, OnTheJournalsStreamLinesCarryPrioritiesAndNoTimestamps) {
  TempDir dir;
  std::uint16_t port = FreePort();
  // One bad pair and one whose port another program holds: nothing runs.
  int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(holder, 5), 0);
  SaveReplacing(dir.Path() / "setting.ini", IniText({{"0", "127.0.0.1", "80"}, To(port, 9)}));
  std::vector<std::string> args{"--dir", dir.Path().string()};

  EXPECT_EQ(RunWithStderr(args, dir.Path() / "journal.err", ""), 2);
  std::string err = ReadBytes(dir.Path() / "journal.err");
  EXPECT_NE(err.find("<5>vexhold-serve " VEXHOLD_VERSION " 启动"), std::string::npos) << err;
  EXPECT_NE(err.find("<4>第 1 节: 本地端口 Cport \"0\" 无效"), std::string::npos) << err;
  EXPECT_NE(err.find("<3>端口:" + std::to_string(port) + " 有另外一个程序在使用!"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("<3>没有能运行的映射, 退出"), std::string::npos) << err;
  EXPECT_NE(err.find("<5>启动第 2 节"), std::string::npos) << err;
  // Every line has a prefix; none has a timestamp.
  std::regex prefixed("(<[3-6]>[^\n]*\n)*");
  EXPECT_TRUE(std::regex_match(err, prefixed)) << err;

  // JOURNAL_STREAM left over from a parent whose stderr was the journal:
  // this stderr is something else, so lines keep their timestamps.
  EXPECT_EQ(RunWithStderr(args, dir.Path() / "other.err", "1:1"), 2);
  std::string other = ReadBytes(dir.Path() / "other.err");
  EXPECT_EQ(other.find("<"), std::string::npos) << other;
  EXPECT_TRUE(std::regex_search(
      other, std::regex("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} vexhold-serve")))
      << other;
  ::close(holder);
}

TEST(ServeWatch, AWindowSaveIsPickedUpAndHalfWrittenOrMissingFilesStopNothing) {
  EchoBackend backend;
  TempDir dir;
  NotifyListener manager(dir.Path() / "notify", false);
  auto ini = dir.Path() / "setting.ini";
  std::uint16_t pa = FreePort(), pb = FreePort();
  SaveReplacing(ini, IniText({To(pa, backend.Port())}));
  ScopedEnv env({{"NOTIFY_SOCKET", manager.Address()}});
  ServeProcess serve({"--dir", dir.Path().string(), "--watch"}, dir.Path());
  std::string m;
  ASSERT_TRUE(manager.Receive(&m, kStartMs)) << serve.Stderr();
  ASSERT_EQ(m, "READY=1");
  EXPECT_TRUE(serve.WaitForLog("监视 " + ini.string() + " 的变化", 1000)) << serve.Stderr();
  Client ca;
  ASSERT_TRUE(ca.Connect(pa));
  ASSERT_TRUE(ca.Echo(Pattern(20000, 1)));

  // The window's Add of a second pair: the count, then each key.
  MappingStore store(ini);
  Clock::time_point saved = Clock::now();
  store.WriteMappingCount(2);
  store.WriteMappingEntry(
      2, MappingEntry{std::to_string(pb), "127.0.0.1", std::to_string(backend.Port())});
  ASSERT_TRUE(serve.WaitForLog("setting.ini 已改变", 3000)) << serve.Stderr();
  EXPECT_LT(Clock::now() - saved, 1s) << "a save must be seen within a second";
  ASSERT_TRUE(manager.Receive(&m, kStopMs));
  EXPECT_EQ(m.rfind("RELOADING=1\nMONOTONIC_USEC=", 0), 0u) << m;
  ASSERT_TRUE(serve.WaitForLog("重新读取完成: 保留 1 个, 停止 0 个, 启动 1 个映射", kStopMs))
      << serve.Stderr();
  ASSERT_TRUE(manager.Receive(&m, kStopMs));
  EXPECT_EQ(m, "READY=1");
  Client cb;
  ASSERT_TRUE(cb.Connect(pb));
  EXPECT_TRUE(cb.Echo(Pattern(20000, 2)));
  EXPECT_TRUE(ca.Echo(Pattern(20000, 3))) << "an unchanged pair keeps its connections";

  // Half-written: the count names a third pair that is not there yet.
  std::string text = ReadBytes(ini);
  std::string half = text;
  half.replace(half.find("Number=2"), 8, "Number=3");
  SaveReplacing(ini, half);
  std::this_thread::sleep_for(1500ms);
  // Missing for a while.
  std::filesystem::remove(ini);
  ASSERT_TRUE(serve.WaitForLog("暂时不存在, 保留正在运行的映射", 3000)) << serve.Stderr();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(CountOf(serve.Stderr(), "重新读取完成"), 1u) << serve.Stderr();
  EXPECT_EQ(serve.Stderr().find("停止第"), std::string::npos) << serve.Stderr();
  EXPECT_TRUE(ca.Echo(Pattern(5000, 4)));
  EXPECT_TRUE(cb.Echo(Pattern(5000, 5)));

  // Back with only the first pair: the second stops.
  SaveReplacing(ini, IniText({To(pa, backend.Port())}));
  ASSERT_TRUE(serve.WaitForLog("保留 1 个, 停止 1 个, 启动 0 个映射", kStopMs)) << serve.Stderr();
  EXPECT_TRUE(cb.SeesClose(2000));
  EXPECT_TRUE(ca.Echo(Pattern(5000, 6)));
  serve.Signal(SIGTERM);
  EXPECT_EQ(serve.WaitExit(kStopMs), 0) << serve.Stderr();
}

TEST(ServeWatch, WithNothingToRunItWaitsForTheFileInsteadOfExiting) {
  EchoBackend backend;
  TempDir dir;
  NotifyListener manager(dir.Path() / "notify", false);
  ScopedEnv env({{"NOTIFY_SOCKET", manager.Address()}});
  ServeProcess serve({"--dir", dir.Path().string(), "-w"}, dir.Path());
  std::string m;
  ASSERT_TRUE(manager.Receive(&m, kStartMs)) << serve.Stderr();
  EXPECT_EQ(m, "READY=1");
  EXPECT_TRUE(serve.WaitForLog("没有能运行的映射, 等待 setting.ini 改变 (--watch)", 1000))
      << serve.Stderr();
  EXPECT_EQ(serve.WaitExit(300), -1) << "must keep running";
  std::uint16_t port = FreePort();
  SaveReplacing(dir.Path() / "setting.ini", IniText({To(port, backend.Port())}));
  ASSERT_TRUE(serve.WaitForLog("启动 1 个映射", kStopMs)) << serve.Stderr();
  Client c;
  ASSERT_TRUE(c.Connect(port));
  EXPECT_TRUE(c.Echo(Pattern(10000, 7)));
  serve.Signal(SIGINT);
  EXPECT_EQ(serve.WaitExit(kStopMs), 0) << serve.Stderr();
}

}  // namespace
}  // namespace vx::test
