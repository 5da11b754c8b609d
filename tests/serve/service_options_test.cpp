// The command line of the unattended modes: --watch and --log-size
// everywhere, the service options on Windows, and the quoting of the
// command line the service manager stores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serve/cli.h"
#include "serve/win_command_line.h"

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

#include "serve/service.h"
#endif

namespace vx {
namespace {

TEST(ServeOptionsParse, WatchAndLogSizeInBothFormsAndOutOfRangeSizesRefused) {
  ServeOptions o;
  std::string err;
  EXPECT_EQ(o.logSizeMiB, 10);
  ASSERT_TRUE(ParseCommandLine({"--watch", "--log-size", "25"}, &o, &err)) << err;
  EXPECT_TRUE(o.watch);
  EXPECT_EQ(o.logSizeMiB, 25);
  ServeOptions p;
  ASSERT_TRUE(ParseCommandLine({"-w", "--log-size=4096"}, &p, &err)) << err;
  EXPECT_TRUE(p.watch);
  EXPECT_EQ(p.logSizeMiB, 4096);
  for (const char* bad : {"0", "4097", "-1", "1.5", "10M", "99999"}) {
    ServeOptions q;
    EXPECT_FALSE(ParseCommandLine({"--log-size", bad}, &q, &err)) << bad;
    EXPECT_NE(err.find("--log-size 的值 \"" + std::string(bad) + "\" 无效"), std::string::npos)
        << err;
  }
  ServeOptions r;
  EXPECT_FALSE(ParseCommandLine({"--log-size"}, &r, &err));
  EXPECT_NE(err.find("参数 --log-size 需要一个值"), std::string::npos) << err;
  EXPECT_FALSE(ParseCommandLine({"--log-size="}, &r, &err));
  ServeOptions d;
  ASSERT_TRUE(ParseCommandLine({"--dir", "x"}, &d, &err));
  EXPECT_TRUE(d.dirGiven);
  EXPECT_FALSE(ServeOptions().dirGiven);
}

TEST(WindowsCommandLine, ArgumentsAreQuotedOnlyWhenTheyMustBeAndBackslashesSurvive) {
  EXPECT_EQ(QuoteWindowsArgument("--watch"), "--watch");
  EXPECT_EQ(QuoteWindowsArgument("C:\\Vexhold"), "C:\\Vexhold");
  EXPECT_EQ(QuoteWindowsArgument(""), "\"\"");
  EXPECT_EQ(QuoteWindowsArgument("C:\\Program Files\\Vexhold"), "\"C:\\Program Files\\Vexhold\"");
  // A trailing backslash would escape the closing quote: it is doubled.
  EXPECT_EQ(QuoteWindowsArgument("C:\\My Dir\\"), "\"C:\\My Dir\\\\\"");
  EXPECT_EQ(QuoteWindowsArgument("a\"b"), "\"a\\\"b\"");
  EXPECT_EQ(QuoteWindowsArgument("a\\\"b"), "\"a\\\\\\\"b\"");
  EXPECT_EQ(JoinWindowsArguments({"--dir", "D:\\映射 一"}), "--dir \"D:\\映射 一\"");
}

#ifdef _WIN32
TEST(WindowsCommandLine, WhatIsJoinedSplitsBackIntoTheSameArguments) {
  const std::vector<std::string> args{"prog",      "--dir",   "C:\\Program Files\\Vexhold\\",
                                      "a\"b",      "",        "\\\\server\\share",
                                      "映射 目录", "x\\\\\"y"};
  int n = 0;
  LPWSTR* argv = CommandLineToArgvW(Widen(JoinWindowsArguments(args)).c_str(), &n);
  ASSERT_NE(argv, nullptr);
  ASSERT_EQ(n, static_cast<int>(args.size()));
  for (int i = 0; i < n; ++i)
    EXPECT_EQ(Narrow(argv[i]), args[static_cast<std::size_t>(i)]) << i;
  LocalFree(argv);
}

TEST(ServiceOptionsParse, TheServiceModesTheirNameAndTheStoredArguments) {
  ServeOptions o;
  std::string err;
  ASSERT_TRUE(ParseCommandLine(
      {"--install", "--name=vx-a", "--dir", "D:\\m", "-q", "-w", "--log-size", "3"}, &o, &err))
      << err;
  EXPECT_TRUE(o.install);
  EXPECT_EQ(o.name, "vx-a");
  EXPECT_EQ(ServiceArguments(o, "D:\\m"),
            (std::vector<std::string>{"--service", "--name", "vx-a", "--dir", "D:\\m", "--quiet",
                                      "--watch", "--log-size", "3"}));
  // What is stored parses back into the same run.
  ServeOptions back;
  ASSERT_TRUE(ParseCommandLine(ServiceArguments(o, "D:\\m"), &back, &err)) << err;
  EXPECT_TRUE(back.service);
  EXPECT_EQ(back.name, "vx-a");
  EXPECT_EQ(back.dir, "D:\\m");
  EXPECT_TRUE(back.quiet && back.watch);
  EXPECT_EQ(back.logSizeMiB, 3);
  // The engine's options go into the stored command line too.
  ServeOptions tuned;
  ASSERT_TRUE(ParseCommandLine({"--install", "--bind", "::", "--connect-timeout", "3",
                                "--idle-timeout=60", "--max-connections", "9000", "--half-close",
                                "--threads", "2", "--busy-poll", "40", "--stats-interval", "30"},
                               &tuned, &err))
      << err;
  ServeOptions tunedBack;
  ASSERT_TRUE(ParseCommandLine(ServiceArguments(tuned, "C:\\v"), &tunedBack, &err)) << err;
  EXPECT_EQ(tunedBack.engine.bindAddress, "::");
  EXPECT_EQ(tunedBack.engine.connectTimeoutSeconds, 3);
  EXPECT_EQ(tunedBack.engine.idleTimeoutSeconds, 60);
  EXPECT_EQ(tunedBack.engine.maxConnections, 9000);
  EXPECT_TRUE(tunedBack.engine.halfClose);
  EXPECT_EQ(tunedBack.engine.threads, 2);
  EXPECT_EQ(tunedBack.engine.busyPollMicroseconds, 40);
  EXPECT_EQ(tunedBack.statsIntervalSeconds, 30);
  EXPECT_EQ(ServiceArguments(ServeOptions(), "C:\\v"),
            (std::vector<std::string>{"--service", "--name", "vexhold-serve", "--dir", "C:\\v"}));

  for (const char* bad : {"", "a/b", "a\\b"}) {
    ServeOptions q;
    EXPECT_FALSE(ParseCommandLine({"--install", "--name", bad}, &q, &err)) << bad;
  }
  ServeOptions m;
  EXPECT_FALSE(ParseCommandLine({"--install", "--service"}, &m, &err));
  EXPECT_NE(err.find("只能用其中一个"), std::string::npos);
}
#endif

}  // namespace
}  // namespace vx
