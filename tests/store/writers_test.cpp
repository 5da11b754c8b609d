// Several writers of one setting.ini: processes, as two windows or a window
// and a script would be. Every write lands; a writer that dies part-way (or
// holding the lock) leaves nothing that blocks or litters.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "store/ini_file_io.h"
#include "store/mapping_store.h"
#include "store/profile_file.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ChildProcess;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// Appends `count` pairs, each as Add does it: the count and the new section in
// one update. The pair's local port text is "<tag>-<i>".
int AddSectionsMain(const std::vector<std::string>& args) {
  MappingStore store(args.at(0));
  const int count = std::stoi(args.at(2));
  for (int i = 0; i < count; ++i) {
    ini::IoStatus saved = store.Update([&](MappingEdit& e) {
      int n = e.ReadMappingCount(-1);
      if (n < 0) {
        e.CreateMappingFile();
        n = 0;
      }
      e.WriteMappingCount(n + 1);
      e.WriteMappingEntry(n + 1, {args.at(1) + "-" + std::to_string(i), "10.0.0.1", "80"});
      return true;
    });
    if (!saved.Ok()) {
      return 1;
    }
  }
  return 0;
}

// Takes the write lock, says so through a marker file, and keeps it.
int HoldLockMain(const std::vector<std::string>& args) {
  ini::WriteLock lock;
  if (!lock.Acquire(ini::ReplacementTarget(args.at(0)), 10s).Ok()) {
    return 1;
  }
  WriteBytes(args.at(1), "held");
  std::this_thread::sleep_for(60s);
  return 0;
}

// Saves for ever (until killed): a counter in a file padded to 256 KB, so a
// save takes long enough to be caught part-way.
int SaveLoopMain(const std::vector<std::string>& args) {
  MappingStore store(args.at(0));
  for (int i = 0; i < 1000000; ++i) {
    store.WriteMappingEntry(1, {std::to_string(i % 60000 + 1), "10.0.0.2", "81"});
  }
  return 0;
}

const bool g_child = test::RunIfChild("add-sections", &AddSectionsMain) ||
                     test::RunIfChild("hold-lock", &HoldLockMain) ||
                     test::RunIfChild("save-loop", &SaveLoopMain);

std::vector<std::string> TemporaryFiles(const fs::path& dir) {
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    if (e.path().filename().string().find(".tmp-") != std::string::npos) {
      names.push_back(e.path().filename().string());
    }
  }
  return names;
}

bool WaitForFile(const fs::path& p, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!fs::exists(p)) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST(Writers, EveryPairOfFourProcessesAddingFiftyEachLands) {
  TempDir dir;
  const fs::path path = dir / "setting.ini";
  std::vector<std::unique_ptr<ChildProcess>> writers;
  for (int w = 0; w < 4; ++w) {
    writers.push_back(std::make_unique<ChildProcess>(
        "add-sections", std::vector<std::string>{path.string(), "w" + std::to_string(w), "50"}));
    ASSERT_TRUE(writers.back()->Running());
  }
  for (auto& w : writers) {
    EXPECT_EQ(w->Wait(120s), 0) << "a writer failed to save or did not finish";
  }
  MappingStore store(path);
  MappingSnapshot file = store.Load();
  ASSERT_EQ(file.ReadMappingCount(-1), 200);
  std::set<std::string> seen;
  for (int s = 1; s <= 200; ++s) {
    seen.insert(file.RawValue(s, "Cport").value_or("<missing>"));
  }
  EXPECT_EQ(seen.size(), 200u);
  for (int w = 0; w < 4; ++w) {
    for (int i = 0; i < 50; ++i) {
      EXPECT_EQ(seen.count("w" + std::to_string(w) + "-" + std::to_string(i)), 1u) << w << " " << i;
    }
  }
  EXPECT_TRUE(TemporaryFiles(dir.Path()).empty());
}

// A writer holding the lock makes the others wait; once it is gone (killed,
// as a crash would end it), they go on at once. One that holds it throughout
// makes the save fail with that reason, and the file stays as it was.
TEST(Writers, ALivingHolderMakesSavesWaitOrFailAndADeadOneBlocksNobody) {
  TempDir dir;
  const fs::path path = dir / "setting.ini";
  WriteBytes(path, "[Num]\r\nNumber=0\r\n");
  MappingStore store(path);

  {
    ChildProcess holder("hold-lock", {path.string(), (dir / "held").string()});
    ASSERT_TRUE(WaitForFile(dir / "held", 20s)) << "the holder never took the lock";
    const auto start = std::chrono::steady_clock::now();
    ini::IoStatus saved = store.WriteMappingCount(5);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(saved.GetKind(), ini::IoStatus::Kind::kLockTimeout);
    EXPECT_GE(waited, ini::kWriteLockWait);
    EXPECT_EQ(ini::DescribeIoStatus(saved), "另一个程序一直在写这个文件");
    EXPECT_EQ(ReadBytes(path), "[Num]\r\nNumber=0\r\n");
  }

  fs::remove(dir / "held");
  ChildProcess holder("hold-lock", {path.string(), (dir / "held").string()});
  ASSERT_TRUE(WaitForFile(dir / "held", 20s));
  std::atomic<bool> done{false};
  ini::IoStatus result = ini::IoStatus::LockTimeout();
  std::chrono::steady_clock::time_point finished;
  std::thread writer([&] {
    result = store.WriteMappingCount(7);
    finished = std::chrono::steady_clock::now();
    done = true;
  });
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(done.load()) << "the save did not wait for the living holder";
  holder.Kill();
  const auto killed = std::chrono::steady_clock::now();
  writer.join();
  EXPECT_TRUE(result.Ok());
  EXPECT_LT(finished - killed, 1s) << "a dead holder's lock still blocked";
  EXPECT_EQ(store.ReadMappingCount(-1), 7);
}

TEST(Leftovers, OnlyTemporaryFilesOfTheStoresPatternWhoseWriterEndedAreRemoved) {
  TempDir dir;
  const fs::path path = dir / "setting.ini";
  WriteBytes(path, "[Num]\r\nNumber=0\r\n");

  ChildProcess ended("add-sections", {(dir / "elsewhere.ini").string(), "x", "0"});
  ASSERT_EQ(ended.Wait(20s), 0);
  const std::string dead = std::to_string(ended.Pid());
  ChildProcess living("hold-lock", {(dir / "other.ini").string(), (dir / "held").string()});
  ASSERT_TRUE(WaitForFile(dir / "held", 20s));
  const std::string alive = std::to_string(living.Pid());
  const std::string own = std::to_string(ini::CurrentProcessId());

  const std::vector<std::string> removed = {"setting.ini.tmp-" + dead + "-0",
                                            "setting.ini.tmp-" + dead + "-17",
                                            "setting.ini.tmp-" + own + "-3"};
  const std::vector<std::string> kept = {"setting.ini.tmp-" + alive + "-2",
                                         "setting.ini.tmp-" + dead + "-",
                                         "setting.ini.tmp-" + dead + "-1.bak",
                                         "setting.ini.tmp-x" + dead + "-1",
                                         "setting.ini.tmp--1",
                                         "setting.ini.tmp",
                                         "other.ini.tmp-" + dead + "-1",
                                         "my setting.ini.tmp-" + dead + "-1"};
  for (const std::string& name : removed) {
    WriteBytes(dir / name, "half a file");
  }
  for (const std::string& name : kept) {
    WriteBytes(dir / name, "not ours to remove");
  }
  fs::create_directory(dir / ("setting.ini.tmp-" + dead + "-4"));

  ASSERT_TRUE(MappingStore(path).WriteMappingCount(1).Ok());
  for (const std::string& name : removed) {
    EXPECT_FALSE(fs::exists(dir / name)) << name;
  }
  for (const std::string& name : kept) {
    EXPECT_EQ(ReadBytes(dir / name), "not ours to remove") << name;
  }
  EXPECT_TRUE(fs::is_directory(dir / ("setting.ini.tmp-" + dead + "-4")));
}

// Saves killed at random moments: the file is always whole, and whatever they
// left behind is gone after the next save.
TEST(Leftovers, SavesKilledPartWayKeepTheFileWholeAndTheNextSaveClearsUp) {
  TempDir dir;
  const fs::path path = dir / "setting.ini";
  std::string padding;
  for (int i = 0; i < 4000; ++i) {
    padding += "pad" + std::to_string(i) + "=" + std::string(56, 'p') + "\r\n";
  }
  WriteBytes(path, "[Num]\r\nNumber=1\r\n[1]\r\nCport=1\r\nIP=10.0.0.2\r\nSport=81\r\n[Pad]\r\n" +
                       padding);
  const std::uintmax_t size = fs::file_size(path);
  std::mt19937 rng(7);
  std::size_t leftoversSeen = 0;
  for (int round = 0; round < 40; ++round) {
    ChildProcess saver("save-loop", {path.string()});
    ASSERT_TRUE(saver.Running());
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + rng() % 60));
    saver.Kill();
    MappingSnapshot file = MappingStore(path).Load();
    ASSERT_FALSE(file.Refused());
    ASSERT_EQ(file.ReadMappingCount(-1), 1) << "round " << round;
    ASSERT_EQ(file.RawValue(1, "IP"), "10.0.0.2") << "round " << round;
    ASSERT_EQ(file.RawValue(1, "Sport"), "81") << "round " << round;
    const std::uintmax_t now = fs::file_size(path);
    ASSERT_TRUE(now >= size - 4 && now <= size + 4) << "round " << round;
    leftoversSeen = std::max(leftoversSeen, TemporaryFiles(dir.Path()).size());
  }
  std::printf("[ info ] at most %zu temporary file(s) were left between kills\n", leftoversSeen);
  ASSERT_TRUE(MappingStore(path).WriteMappingCount(1).Ok());
  EXPECT_TRUE(TemporaryFiles(dir.Path()).empty());
}

}  // namespace
}  // namespace vx
