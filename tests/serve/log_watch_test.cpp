// The pieces that let vexhold-serve run unattended, on real files and real
// directory notifications: the rotating log file, the journal form, the file
// watch and its judgement of half-written files, posted requests.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <chrono>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

#include "serve/file_watch.h"
#include "serve/log_file.h"
#include "serve/log_sinks.h"
#include "serve/logger.h"
#include "serve/setting_file_check.h"
#include "serve/stop_signal.h"
#include "store/mapping_store.h"
#include "tests/serve/setting_text.h"
#include "tests/support/temp_dir.h"

namespace vx {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kBom = "\xEF\xBB\xBF";

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", start)) {
    lines.push_back(text.substr(start, at - start));
    start = at + 2;
  }
  EXPECT_EQ(start, text.size()) << "a line without CRLF at the end";
  return lines;
}

TEST(ServeLogFile, IsUtf8WithBomCrlfAndTimestampsAndAppendsAcrossRuns) {
  TempDir dir;
  auto path = dir / "vexhold-serve.log";
  {
    RotatingLogFile log(path, 1 << 20);
    ASSERT_TRUE(log.IsOpen());
    log.Write(LogLevel::kNotice, Logger::FormatLine("启动第 1 节: 本地端口 8080 -> 127.0.0.1:80"));
  }
  {
    RotatingLogFile log(path, 1 << 20);
    log.Write(LogLevel::kError, Logger::FormatLine("端口:8080 有另外一个程序在使用!"));
  }
  std::string text = ReadBytes(path);
  ASSERT_EQ(text.compare(0, 3, kBom), 0);
  std::vector<std::string> lines = LinesOf(text.substr(3));
  ASSERT_EQ(lines.size(), 2u) << text;
  std::regex stamp("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} (.*)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, stamp));
  EXPECT_EQ(m[1], "启动第 1 节: 本地端口 8080 -> 127.0.0.1:80");
  ASSERT_TRUE(std::regex_match(lines[1], m, stamp));
  EXPECT_EQ(m[1], "端口:8080 有另外一个程序在使用!");
}

TEST(ServeLogFile, RotatesBySizeKeepingThreeOldFilesAndEveryRecentLineInOrder) {
  TempDir dir;
  auto path = dir / "vexhold-serve.log";
  const std::uint64_t limit = 300;
  {
    RotatingLogFile log(path, limit);
    for (int i = 0; i < 200; ++i)
      log.Write(LogLevel::kInfo, Logger::FormatLine("line " + std::to_string(i)));
  }
  EXPECT_EQ(RotatingLogFile::OldFile(path, 2), dir / "vexhold-serve.2.log");
  EXPECT_FALSE(std::filesystem::exists(RotatingLogFile::OldFile(path, 4)));
  EXPECT_EQ(test::CountEntries(dir.Path()), 4);
  // Oldest first: .3, .2, .1, then the current file; the lines must run on
  // without a gap and end with the last one written.
  std::vector<int> numbers;
  for (int n : {3, 2, 1, 0}) {
    auto file = n == 0 ? path : RotatingLogFile::OldFile(path, n);
    std::string text = ReadBytes(file);
    ASSERT_EQ(text.compare(0, 3, kBom), 0) << file;
    EXPECT_LE(text.size(), limit) << file;
    for (const std::string& line : LinesOf(text.substr(3)))
      numbers.push_back(std::stoi(line.substr(line.rfind(' ') + 1)));
  }
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.back(), 199);
  for (std::size_t i = 1; i < numbers.size(); ++i)
    ASSERT_EQ(numbers[i], numbers[i - 1] + 1);
  EXPECT_GT(numbers.size(), 20u);
}

TEST(ServeLogFile, AFolderThatCannotHoldTheFileLosesLinesButNothingFails) {
  TempDir dir;
  RotatingLogFile log(dir / "no-such-folder" / "vexhold-serve.log", 1000);
  EXPECT_FALSE(log.IsOpen());
  log.Write(LogLevel::kError, Logger::FormatLine("x"));
  EXPECT_FALSE(std::filesystem::exists(dir / "no-such-folder"));
}

TEST(ServeJournal, EveryLineCarriesItsPriorityAndNoTimestamp) {
  EXPECT_EQ(JournalLine(LogLevel::kError, "端口:80 有另外一个程序在使用!"),
            "<3>端口:80 有另外一个程序在使用!\n");
  EXPECT_EQ(JournalLine(LogLevel::kWarning, "w"), "<4>w\n");
  EXPECT_EQ(JournalLine(LogLevel::kNotice, "n"), "<5>n\n");
  EXPECT_EQ(JournalLine(LogLevel::kInfo, "a\nb"), "<6>a\n<6>b\n");
  EXPECT_EQ(JournalLine(LogLevel::kInfo, "a\n"), "<6>a\n");
}

TEST(ServeSettingFile, AFileNamingSectionsItDoesNotHoldYetIsIncomplete) {
  TempDir dir;
  auto path = dir / "setting.ini";
  EXPECT_EQ(CheckSettingFile(path), SettingFileState::kMissing);
  WriteBytes(path, "");
  EXPECT_EQ(CheckSettingFile(path), SettingFileState::kIncomplete);
  WriteBytes(path, "[Num]\r\nNumber=0\r\n");
  EXPECT_EQ(CheckSettingFile(path), SettingFileState::kComplete);
  // The window's Add: the count first, then Cport, IP, Sport one by one.
  WriteBytes(path, "[Num]\r\nNumber=1\r\n");
  EXPECT_EQ(CheckSettingFile(path), SettingFileState::kIncomplete);
  WriteBytes(path, "[Num]\r\nNumber=1\r\n[1]\r\nCport=80\r\nIP=127.0.0.1\r\n");
  EXPECT_EQ(CheckSettingFile(path), SettingFileState::kIncomplete);
  WriteBytes(path, "[Num]\r\nNumber=1\r\n[1]\r\nCport=80\r\nSport=81\r\n");
  EXPECT_EQ(CheckSettingFile(path), SettingFileState::kComplete);
  // Bad values are complete: the server reports and skips them.
  WriteBytes(path, test::IniText({{"x", "1.2.3", "70000"}}));
  EXPECT_EQ(CheckSettingFile(path), SettingFileState::kComplete);
  // Sections past the 127 the server reads are not waited for.
  WriteBytes(path, test::IniText(std::vector<test::Section>(127, test::To(80, 81))) +
                       "[Num]\r\nNumber=500\r\n");
  EXPECT_EQ(CheckSettingFile(path), SettingFileState::kComplete);
}

// A FileWatch on a real directory with its reloads and log lines recorded.
class WatchFixture : public ::testing::Test {
 protected:
  WatchFixture()
      : m_logger([this](LogLevel, const std::string& s) {
          std::lock_guard<std::mutex> g(m_mutex);
          m_log += s + "\n";
        }) {}

  void StartWatch(const std::filesystem::path& file) {
    m_watch = std::make_unique<FileWatch>(file, m_logger, [this] {
      std::lock_guard<std::mutex> g(m_mutex);
      m_reloads.push_back(Clock::now());
    });
  }
  int Reloads() {
    std::lock_guard<std::mutex> g(m_mutex);
    return static_cast<int>(m_reloads.size());
  }
  std::string Log() {
    EXPECT_TRUE(m_logger.Flush(5000)) << "the log writer did not catch up";
    std::lock_guard<std::mutex> g(m_mutex);
    return m_log;
  }
  // Waits until `n` reloads were asked for; returns the time of the n-th.
  bool WaitReloads(int n, std::chrono::milliseconds within, Clock::time_point* at = nullptr) {
    auto deadline = Clock::now() + within;
    while (Clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> g(m_mutex);
        if (static_cast<int>(m_reloads.size()) >= n) {
          if (at)
            *at = m_reloads[static_cast<std::size_t>(n - 1)];
          return true;
        }
      }
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
  // Gives the watch time to see a change and settle a burst.
  static void Settle() { std::this_thread::sleep_for(700ms); }

  TempDir m_dir;
  std::mutex m_mutex;
  std::string m_log;
  std::vector<Clock::time_point> m_reloads;
  Logger m_logger;
  std::unique_ptr<FileWatch> m_watch;
};

TEST_F(WatchFixture, AWindowSaveIsOneReloadWithinASecondAndOtherFilesAreIgnored) {
  auto path = m_dir / "setting.ini";
  MappingStore store(path);
  store.CreateMappingFile();
  StartWatch(path);
  std::this_thread::sleep_for(100ms);  // the watch is set up on its own thread

  // Neighbours: the service's own log and the store's temporary files.
  WriteBytes(m_dir / "vexhold-serve.log", "x");
  WriteBytes(m_dir / "setting.ini.bak", "x");
  Settle();
  EXPECT_EQ(Reloads(), 0) << Log();

  // What the window's Add does: the count, then the three keys, each a
  // replacement of the whole file.
  Clock::time_point saved = Clock::now(), seen;
  store.WriteMappingCount(1);
  store.WriteMappingEntry(1, MappingEntry{"8080", "127.0.0.1", "80"});
  ASSERT_TRUE(WaitReloads(1, 3s, &seen)) << Log();
  EXPECT_LT(seen - saved, 1s);
  Settle();
  EXPECT_EQ(Reloads(), 1) << "one save, one reload\n" << Log();
  EXPECT_NE(Log().find("setting.ini 已改变"), std::string::npos) << Log();

  // A rewrite in place (an editor without a rename) counts too.
  {
    std::ofstream f(path, std::ios::binary | std::ios::app);
    f << "; note\r\n";
  }
  EXPECT_TRUE(WaitReloads(2, 3s)) << Log();
}

TEST_F(WatchFixture, ChangesThatNeverPauseStillReloadAndEachBurstOnce) {
  auto path = m_dir / "setting.ini";
  WriteBytes(path, test::IniText({test::To(80, 81)}));
  StartWatch(path);
  std::this_thread::sleep_for(100ms);
  // A write every 50 ms for 1.5 s: never quiet for 200 ms.
  Clock::time_point first = Clock::now();
  for (int i = 0; i < 30; ++i) {
    WriteBytes(path, test::IniText({test::To(80, static_cast<std::uint16_t>(100 + i))}));
    std::this_thread::sleep_for(50ms);
  }
  Clock::time_point at;
  ASSERT_TRUE(WaitReloads(1, 3s, &at)) << Log();
  EXPECT_LT(at - first, 1200ms);
  Settle();
  int n = Reloads();
  EXPECT_GE(n, 2);
  EXPECT_LE(n, 4) << "bursts must be taken together";
}

TEST_F(WatchFixture, AHalfWrittenFileWaitsForItsEndAndAMissingOneAsksForNothing) {
  auto path = m_dir / "setting.ini";
  WriteBytes(path, test::IniText({test::To(80, 81)}));
  StartWatch(path);
  std::this_thread::sleep_for(100ms);

  // The count names two pairs; the second is not there yet.
  WriteBytes(path, test::IniText({test::To(80, 81)}) + "[2]\r\nCport=90\r\n");
  // Replace the count line in place: Number=2.
  {
    std::string t = ReadBytes(path);
    t.replace(t.find("Number=1"), 8, "Number=2");
    WriteBytes(path, t);
  }
  std::this_thread::sleep_for(1200ms);
  EXPECT_EQ(Reloads(), 0) << Log();
  Clock::time_point finished = Clock::now(), at;
  WriteBytes(path, test::IniText({test::To(80, 81), test::To(90, 91)}));
  ASSERT_TRUE(WaitReloads(1, 3s, &at)) << Log();
  EXPECT_LT(at - finished, 1s);

  // Gone: nothing to read, so nothing is asked for.
  std::filesystem::remove(path);
  Settle();
  EXPECT_EQ(Reloads(), 1);
  EXPECT_NE(Log().find("暂时不存在, 保留正在运行的映射"), std::string::npos) << Log();
  // Back again: that is a change.
  WriteBytes(path, test::IniText({test::To(80, 81)}));
  EXPECT_TRUE(WaitReloads(2, 3s)) << Log();

  // Left half-written for good: read as it is after a few seconds.
  WriteBytes(path, "[Num]\r\nNumber=3\r\n[1]\r\nCport=80\r\nSport=81\r\n");
  EXPECT_TRUE(WaitReloads(3, 6s)) << Log();
}

TEST_F(WatchFixture, AFolderThatAppearsLaterIsWatchedOnceItExists) {
  auto dir = m_dir / "later";
  StartWatch(dir / "setting.ini");
  std::this_thread::sleep_for(300ms);
  EXPECT_NE(Log().find("无法监视目录"), std::string::npos) << Log();
  std::filesystem::create_directory(dir);
  // Retried every 2 s.
  auto deadline = Clock::now() + 5s;
  while (Log().find("重新开始监视目录") == std::string::npos && Clock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  ASSERT_NE(Log().find("重新开始监视目录"), std::string::npos) << Log();
  WriteBytes(dir / "setting.ini", test::IniText({}));
  EXPECT_TRUE(WaitReloads(1, 3s)) << Log();
  // Ends promptly even while waiting for a retry.
  std::filesystem::remove_all(dir);
  std::this_thread::sleep_for(300ms);
  Clock::time_point t0 = Clock::now();
  m_watch.reset();
  EXPECT_LT(Clock::now() - t0, 1s);
}

TEST(ServeEvents, PostedRequestsWakeTheWaitAndTwoStopsCountAsTwo) {
  InstallStopSignals();
  EXPECT_EQ(WaitForServeEvent(10), ServeEvent::kNone);
  Clock::time_point t0 = Clock::now();
  std::thread poster([] {
    std::this_thread::sleep_for(100ms);
    PostServeEvent(ServeEvent::kReload);
  });
  ServeEvent ev = WaitForServeEvent(5000);
  poster.join();
  EXPECT_EQ(ev, ServeEvent::kReload);
  EXPECT_LT(Clock::now() - t0, 2s);
  PostServeEvent(ServeEvent::kReload);
  PostServeEvent(ServeEvent::kReload);
  PostServeEvent(ServeEvent::kStop);
  PostServeEvent(ServeEvent::kStop);
  // A stop goes before a reload; reloads asked for together are one.
  EXPECT_EQ(WaitForServeEvent(1000), ServeEvent::kStop);
  EXPECT_EQ(WaitForServeEvent(1000), ServeEvent::kStop);
  EXPECT_EQ(WaitForServeEvent(1000), ServeEvent::kReload);
  EXPECT_EQ(WaitForServeEvent(50), ServeEvent::kNone);
  EXPECT_EQ(WaitForServeEvent(50), ServeEvent::kNone);
}

}  // namespace
}  // namespace vx
