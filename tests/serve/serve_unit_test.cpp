// The parts of vexhold-serve that decide without a network: the checks of
// pair values, the reload plan, the command line and the log queue.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <thread>

#include "engine/endpoint_text.h"
#include "serve/cli.h"
#include "serve/logger.h"
#include "serve/messages.h"
#include "serve/pair_config.h"
#include "serve/reload_plan.h"
#include "store/mapping_store.h"

namespace vx {
namespace {

TEST(ServePairValues, DottedIPv4IsFourPlainDecimalNumbersUpTo255) {
  for (const char* ok : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "192.168.1.20", "10.0.0.5"}) {
    EXPECT_TRUE(engine::IsDottedIPv4(ok)) << ok;
  }
  // inet_addr would take several of these, meaning something else.
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "010.0.0.1", "0x7f.0.0.1",
                          "1..2.3", "1.2.3.", ".1.2.3", "1.2.3.4 ", " 1.2.3.4", "1.2.3.-4",
                          "1000.1.1.1", "localhost", "1.2.3.4x", "127.1"}) {
    EXPECT_FALSE(engine::IsDottedIPv4(bad)) << bad;
  }
}

TEST(ServePairValues, RemoteIsAnAddressOfEitherFamilyOrAHostName) {
  ServePair pair;
  std::string problem;
  for (const char* ok : {"127.0.0.1", "::1", "fe80::1", "2001:db8::8:800:200c:417a", "localhost",
                         "db-1.internal.example", "a", "x1.y2"}) {
    EXPECT_TRUE(ValidatePair(1, "80", ok, "80", &pair, &problem)) << ok << ": " << problem;
    EXPECT_EQ(pair.remoteHost, ok);
  }
  // Digits and dots alone must be a dotted IPv4 address: the resolver would
  // take "127.1" or "010.0.0.1" as other addresses.
  for (const char* numeric : {"127.1", "010.0.0.1", "1.2.3", "300.1.1.1", "1.2.3.4.5"}) {
    EXPECT_FALSE(ValidatePair(4, "80", numeric, "80", &pair, &problem)) << numeric;
    EXPECT_NE(problem.find("不是点分十进制的 IPv4 地址"), std::string::npos) << problem;
  }
  for (const char* bad : {"", "0x7f.0.0.1", "-a.com", "a-.com", "a..b", "a.b.", "a_b.com", "::g",
                          "host name", "[::1]", "1.2.3.4:80"}) {
    EXPECT_FALSE(ValidatePair(5, "80", bad, "80", &pair, &problem)) << bad;
  }
  EXPECT_FALSE(ValidatePair(5, "80", std::string(64, 'a') + ".com", "80", &pair, &problem));
  EXPECT_NE(problem.find("不是 IPv4 地址、IPv6 地址或主机名"), std::string::npos) << problem;
}

TEST(ServeLogText, ValuesAreCutAndControlBytesEscaped) {
  EXPECT_EQ(msg::Printable("plain 中文 C:\\dir"), "plain 中文 C:\\dir");
  EXPECT_EQ(msg::Printable("a\x1b[31mb\x07\r\n\x7f"), "a\\x1B[31mb\\x07\\x0D\\x0A\\x7F");
  // C1 controls written as UTF-8, broken and overlong sequences: escaped.
  EXPECT_EQ(msg::Printable("\xc2\x9b"
                           "2J"),
            "\\xC2\\x9B2J");
  EXPECT_EQ(msg::Printable("\xe4\xb8"), "\\xE4\\xB8");
  EXPECT_EQ(msg::Printable("\xc0\xaf"), "\\xC0\\xAF");
  std::string huge(10 << 20, 'x');
  std::string cut = msg::Printable(huge);
  EXPECT_EQ(cut, std::string(64, 'x') + "...(共 10485760 字节)");
  EXPECT_EQ(msg::Printable(std::string(64, 'y')), std::string(64, 'y'));
}

TEST(ServePairValues, PortTextIsDigitsWithValue1To65535) {
  EXPECT_EQ(ParsePortText("1"), 1);
  EXPECT_EQ(ParsePortText("65535"), 65535);
  EXPECT_EQ(ParsePortText("080"), 80);
  EXPECT_EQ(ParsePortText("0000000080"), 80);
  for (const char* bad : {"", "0", "000", "65536", "70000", "99999999999999999999", "-1", "+80",
                          "80x", "8 0", "abc"}) {
    EXPECT_EQ(ParsePortText(bad), 0) << bad;
  }
}

class ServeConfigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir =
        std::filesystem::temp_directory_path() /
        ("vexhold-serve-unit-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(m_dir);
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }
  void Write(const std::string& text) {
    std::ofstream(m_dir / "setting.ini", std::ios::binary) << text;
  }
  std::filesystem::path m_dir;
};

TEST_F(ServeConfigFile, ReadsEveryGoodPairAndNamesEachBadOne) {
  Write(
      "[Num]\nNumber=5\n"
      "[1]\nCport=8080\nIP=192.168.1.20\nSport=80\n"
      "[2]\nIP=10.0.0.5\nSport=3389\n"
      "[3]\nCport=3390\nSport=22\n"
      "[4]\nCport=8080\nIP=10.0.0.6\nSport=80\n"
      "[5]\nCport=0443\nIP=10.0.0.7\nSport=443\n");
  MappingStore store(m_dir / "setting.ini");
  ServeConfig c = ReadServeConfig(store, true);
  EXPECT_TRUE(c.usable);
  EXPECT_FALSE(c.created);
  ASSERT_EQ(c.pairs.size(), 3u);
  EXPECT_EQ(c.pairs[0].section, 1);
  EXPECT_EQ(c.pairs[0].remoteHost, "192.168.1.20");
  // A missing IP relays to 127.0.0.1, as the GUI's relay start does.
  EXPECT_EQ(c.pairs[1].section, 3);
  EXPECT_EQ(c.pairs[1].remoteHost, "127.0.0.1");
  EXPECT_EQ(c.pairs[2].localPort, 443);
  ASSERT_EQ(c.problems.size(), 2u);
  EXPECT_EQ(c.problems[0], "第 2 节: 本地端口 Cport \"\" 无效 (应为 1 到 65535), 已跳过");
  EXPECT_EQ(c.problems[1], "第 4 节: 本地端口 8080 已由第 1 节使用, 已跳过");
}

TEST_F(ServeConfigFile, CountBeyond127ServesTheFirst127AndSaysSo) {
  std::string text = "[Num]\nNumber=200\n";
  for (int s = 1; s <= 130; ++s) {
    text += "[" + std::to_string(s) + "]\nCport=" + std::to_string(20000 + s) +
            "\nIP=127.0.0.1\nSport=9\n";
  }
  Write(text);
  MappingStore store(m_dir / "setting.ini");
  ServeConfig c = ReadServeConfig(store, true);
  EXPECT_EQ(c.pairs.size(), 127u);
  ASSERT_EQ(c.problems.size(), 1u);
  EXPECT_NE(c.problems[0].find("200"), std::string::npos);
}

TEST_F(ServeConfigFile, FileWithoutCountIsCompletedLikeAFirstStartButOnlyAtStartUp) {
  Write("[7]\nCport=1\n");
  MappingStore store(m_dir / "setting.ini");
  ServeConfig reload = ReadServeConfig(store, false);
  EXPECT_FALSE(reload.usable);
  EXPECT_EQ(store.ReadMappingCount(-1), -1);

  ServeConfig start = ReadServeConfig(store, true);
  EXPECT_TRUE(start.usable);
  EXPECT_TRUE(start.created);
  EXPECT_TRUE(start.pairs.empty());
  EXPECT_EQ(store.ReadMappingCount(-1), 0);
  EXPECT_EQ(store.ReadMappingEntry(7, -1, 16).localPort, 1);  // other sections stay
}

TEST_F(ServeConfigFile, NegativeCountRunsNothing) {
  Write("[Num]\nNumber=-3\n[1]\nCport=8080\nIP=1.2.3.4\nSport=80\n");
  MappingStore store(m_dir / "setting.ini");
  ServeConfig c = ReadServeConfig(store, true);
  EXPECT_FALSE(c.usable);
  EXPECT_TRUE(c.pairs.empty());
  ASSERT_EQ(c.problems.size(), 1u);
  EXPECT_NE(c.problems[0].find("-3"), std::string::npos);
}

ServePair P(int section, std::uint16_t local, const char* ip, std::uint16_t remote) {
  ServePair p;
  p.section = section;
  p.localPort = local;
  p.remoteHost = ip;
  p.remotePort = remote;
  return p;
}

TEST(ServeReloadPlan, MatchesPairsByValuesNotBySection) {
  std::vector<ServePair> running = {P(1, 8080, "10.0.0.1", 80), P(2, 9090, "10.0.0.2", 90),
                                    P(3, 7070, "10.0.0.3", 70)};
  // 9090 moved to section 1 unchanged; 8080 changed its remote port; 7070 gone; 6060 new.
  std::vector<ServePair> wanted = {P(1, 9090, "10.0.0.2", 90), P(2, 8080, "10.0.0.1", 81),
                                   P(3, 6060, "10.0.0.4", 60)};
  ReloadPlan plan = PlanReload(running, wanted);
  ASSERT_EQ(plan.keep.size(), 1u);
  EXPECT_EQ(plan.keep[0], std::make_pair(std::size_t{1}, std::size_t{0}));
  EXPECT_EQ(plan.stop, (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(plan.start, (std::vector<std::size_t>{1, 2}));
}

TEST(ServeReloadPlan, UnchangedFileKeepsEverythingAndEmptyFileStopsEverything) {
  std::vector<ServePair> running = {P(1, 8080, "10.0.0.1", 80), P(2, 9090, "10.0.0.1", 80)};
  ReloadPlan same = PlanReload(running, running);
  EXPECT_EQ(same.keep.size(), 2u);
  EXPECT_TRUE(same.stop.empty());
  EXPECT_TRUE(same.start.empty());
  ReloadPlan none = PlanReload(running, {});
  EXPECT_EQ(none.stop, (std::vector<std::size_t>{0, 1}));
  // A changed address on the same local port is a restart.
  ReloadPlan moved = PlanReload(running, {P(1, 8080, "10.0.0.9", 80), P(2, 9090, "10.0.0.1", 80)});
  EXPECT_EQ(moved.stop, (std::vector<std::size_t>{0}));
  EXPECT_EQ(moved.start, (std::vector<std::size_t>{0}));
}

TEST(ServeCommandLineParse, OptionsAndTheirErrors) {
  ServeOptions o;
  std::string err;
  ASSERT_TRUE(ParseCommandLine({"--dir", "/srv/maps", "-q"}, &o, &err));
  EXPECT_EQ(o.dir, "/srv/maps");
  EXPECT_TRUE(o.quiet);
  ServeOptions d;
  ASSERT_TRUE(ParseCommandLine({"--dir=目录"}, &d, &err));
  EXPECT_EQ(d.dir, "目录");
  EXPECT_EQ(ServeOptions().dir, ".");
  ServeOptions n;
  ASSERT_TRUE(ParseCommandLine(
      {"--bind", "::", "--connect-timeout=3", "--idle-timeout", "60", "--max-connections", "10",
       "--half-close", "--stats-interval", "5", "--threads=2", "--busy-poll", "80", "--quiet"},
      &n, &err))
      << err;
  EXPECT_EQ(n.engine.bindAddress, "::");
  EXPECT_EQ(n.engine.connectTimeoutSeconds, 3);
  EXPECT_EQ(n.engine.idleTimeoutSeconds, 60);
  EXPECT_EQ(n.engine.maxConnections, 10);
  EXPECT_TRUE(n.engine.halfClose);
  EXPECT_EQ(n.statsIntervalSeconds, 5);
  EXPECT_EQ(n.engine.threads, 2);
  EXPECT_EQ(n.engine.busyPollMicroseconds, 80);
  EXPECT_FALSE(n.engine.connectionEvents);
  ServeOptions defaults;
  ASSERT_TRUE(ParseCommandLine({}, &defaults, &err));
  EXPECT_EQ(defaults.engine.bindAddress, "");
  EXPECT_EQ(defaults.engine.connectTimeoutSeconds, 10);
  EXPECT_EQ(defaults.engine.idleTimeoutSeconds, 0);
  EXPECT_EQ(defaults.engine.maxConnections, 4096);
  EXPECT_FALSE(defaults.engine.halfClose);
  EXPECT_EQ(defaults.engine.threads, 1);
#ifdef _WIN32
  EXPECT_EQ(defaults.engine.busyPollMicroseconds, 0);
#else
  EXPECT_EQ(defaults.engine.busyPollMicroseconds, 200);
#endif
  EXPECT_TRUE(defaults.engine.connectionEvents);
  for (std::vector<std::string> bad :
       std::vector<std::vector<std::string>>{{"--bind", "localhost"},
                                             {"--bind", "1.2.3"},
                                             {"--connect-timeout", "0"},
                                             {"--connect-timeout", "-1"},
                                             {"--max-connections", "2147483648"},
                                             {"--threads", "65"},
                                             {"--threads", "two"},
                                             {"--busy-poll", "1001"},
                                             {"--busy-poll", "-1"},
                                             {"--idle-timeout"},
                                             {"--half-close=yes"}}) {
    ServeOptions o;
    EXPECT_FALSE(ParseCommandLine(bad, &o, &err)) << bad[0];
    EXPECT_NE(err.find(bad[0].substr(0, bad[0].find('='))), std::string::npos) << err;
  }
  ServeOptions e;
  EXPECT_FALSE(ParseCommandLine({"--dir="}, &e, &err));
  EXPECT_FALSE(ParseCommandLine({"-d", ""}, &e, &err));
  EXPECT_FALSE(ParseCommandLine({"serve"}, &e, &err));
  EXPECT_NE(err.find("\"serve\""), std::string::npos);
}

TEST(ServeLogger, LinesAreTimestampedAndWrittenInOrder) {
  std::mutex m;
  std::string out;
  {
    Logger log([&](LogLevel, const std::string& s) {
      std::lock_guard<std::mutex> g(m);
      out += s;
    });
    log.Log(LogLevel::kError, "端口:8080 有另外一个程序在使用!");
    log.Log(LogLevel::kNotice, "second");
    log.Flush(5000);
  }
  std::regex line(
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} 端口:8080 有另外一个程序在使用!\n"
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} second\n");
  EXPECT_TRUE(std::regex_match(out, line)) << out;
}

TEST(ServeLogger, LinesCarryTheirLevelAndADroppedCountComesBeforeTheNextLineThatGetsThrough) {
  std::mutex m;
  std::condition_variable cv;
  bool release = false, entered = false;
  std::vector<std::pair<LogLevel, std::string>> out;
  {
    Logger log(
        [&](LogLevel level, const std::string& line) {
          std::unique_lock<std::mutex> g(m);
          entered = true;
          cv.notify_all();
          cv.wait(g, [&] { return release; });
          out.emplace_back(level, line);
        },
        2);
    log.Log(LogLevel::kError, "first");  // taken by the writer, which then blocks
    {
      std::unique_lock<std::mutex> g(m);
      ASSERT_TRUE(cv.wait_for(g, std::chrono::seconds(5), [&] { return entered; }));
    }
    for (int i = 0; i < 10; ++i)
      log.Log(LogLevel::kInfo, "drop " + std::to_string(i));
    EXPECT_FALSE(log.Flush(100));  // the writer is stuck: the flush gives up in time
    {
      std::lock_guard<std::mutex> g(m);
      release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(log.Flush(5000));
    log.Log(LogLevel::kNotice, "after");
    ASSERT_TRUE(log.Flush(5000));
  }
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out[0].first, LogLevel::kError);
  EXPECT_EQ(out[0].second.substr(Logger::kStampWidth), " first\n");
  EXPECT_EQ(out[1].second.substr(Logger::kStampWidth + 1), "drop 0\n");
  EXPECT_EQ(out[2].second.substr(Logger::kStampWidth + 1), "drop 1\n");
  EXPECT_EQ(out[3].first, LogLevel::kWarning);
  EXPECT_NE(out[3].second.find("丢弃了 8 行"), std::string::npos) << out[3].second;
  EXPECT_EQ(out.back().second.substr(Logger::kStampWidth + 1), "after\n");
  EXPECT_EQ(out.back().first, LogLevel::kNotice);
}

TEST(ServeLogger, AWriterStuckForGoodDoesNotHoldUpTheLoggersEnd) {
  auto stuck = std::make_shared<std::atomic<bool>>(true);
  auto t0 = std::chrono::steady_clock::now();
  {
    Logger log([stuck](LogLevel, const std::string&) {
      while (stuck->load())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    log.Log(LogLevel::kNotice, "never written");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
  stuck->store(false);  // lets the left-behind writer end before the process does
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(ServeLogger, ABlockedOutputNeverStallsTheCallerAndDroppedLinesAreCounted) {
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::string out;
  {
    Logger log(
        [&](LogLevel, const std::string& s) {
          std::unique_lock<std::mutex> g(m);
          cv.wait(g, [&] { return release; });
          out += s + "\n";
        },
        4);
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i)
      log.Log(LogLevel::kInfo, "line " + std::to_string(i));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    {
      std::lock_guard<std::mutex> g(m);
      release = true;
    }
    cv.notify_all();
    log.Flush(5000);
  }
  // The writer held at most one batch in hand and four queued lines; every
  // other line is counted in a notice.
  int dropped = 0;
  std::regex notice("丢弃了 (\\d+) 行");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), notice); it != std::sregex_iterator();
       ++it) {
    dropped += std::stoi((*it)[1]);
  }
  int kept = 0;
  for (std::size_t at = out.find("line "); at != std::string::npos; at = out.find("line ", at + 1))
    ++kept;
  EXPECT_NE(out.find("line 0\n"), std::string::npos);
  EXPECT_LE(kept, 8) << out;
  EXPECT_GE(dropped, 92) << out;
  EXPECT_EQ(kept + dropped, 100) << out;
}

}  // namespace
}  // namespace vx
