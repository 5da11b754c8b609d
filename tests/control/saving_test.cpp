// How Add, Modify and Delete save: each in one replacement of the file, with
// the same bytes as before; a save the system refuses ends in one box that
// says why, the list showing the file as it is, and the relays as they were.
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "control/mapping_controller.h"
#include "store/ini_file_io.h"
#include "store/io_status.h"
#include "tests/control/controller_fixture.h"
#include "tests/support/held_open_file.h"
#include "tests/support/restricted_process.h"

namespace vx::test {
namespace {

namespace fs = std::filesystem;

const std::string kSaveFailed = "保存 setting.ini 失败: ";

#ifdef _WIN32
constexpr int kAccessDenied = 5;       // ERROR_ACCESS_DENIED
constexpr int kSharingViolation = 32;  // ERROR_SHARING_VIOLATION
constexpr int kInjected = 29;          // ERROR_WRITE_FAULT
#else
constexpr int kInjected = 5;  // EIO
#endif

// Counts replacements; the one numbered g_failAt fails as the system might.
std::atomic<int> g_replacements{0};
std::atomic<int> g_failAt{0};
int CountingGate(const fs::path&) {
  return ++g_replacements == g_failAt.load() ? kInjected : 0;
}

class Saving : public ControllerTest {
 protected:
  Saving() {
    Arm(0);
    ini::SetReplacementGate(&CountingGate);
  }
  ~Saving() override { ini::SetReplacementGate(nullptr); }

  void Arm(int failAt) {
    g_replacements = 0;
    g_failAt = failAt;
  }
  // The file and list afresh, as the window opens them.
  void Open(const std::string& file) {
    Arm(0);
    WriteBytes(store.Path(), file);
    view.DeleteAllRows();
    view.ClearMessages();
    controller.Initialise();
  }
  // `steps` applied to a copy of `file` as separate saves, the way each
  // command used to write: the bytes the single save must give.
  std::string WrittenBySteps(const std::string& file,
                             const std::function<void(MappingStore&)>& steps) {
    Arm(0);
    TempDir other;
    MappingStore copy(other.Path() / "setting.ini");
    WriteBytes(copy.Path(), file);
    steps(copy);
    return ReadBytes(copy.Path());
  }
};

const std::string kThreePairs =
    "[Num]\r\nNumber=3\r\nQueldaUrlList=\r\n"
    "[1]\r\nCport=7001\r\nIP=10.0.0.1\r\nSport=81\r\n"
    "[2]\r\nCport=07002\r\nIP=10.0.0.2\r\nSport=082\r\n"
    "[3]\r\nCport=7003\r\nIP=10.0.0.3\r\nSport=83\r\n";

// A fault between the two saves a command used to make (the second save
// refused) and at its only save now: the file holds the old list or the new
// one, never a count that names a missing section or a pair twice.
TEST_F(Saving, EachCommandIsOneReplacementSoAFaultLeavesTheOldListOrTheNew) {
  struct Case {
    const char* name;
    std::string file;
    std::function<void()> command;
    std::function<void(MappingStore&)> steps;
  };
  const MappingEntry added = Pair(7004, 84, "10.0.0.4");
  const MappingEntry changed = Pair(7009, 89, "10.0.0.9");
  const std::vector<Case> cases = {
      {"add", kThreePairs, [&] { Add(added); },
       [&](MappingStore& s) {
         s.WriteMappingCount(4);
         s.WriteMappingEntry(4, added);
       }},
      {"modify", kThreePairs, [&] { Modify(1, changed); },
       [&](MappingStore& s) { s.WriteMappingEntry(2, changed); }},
      {"delete a middle row", kThreePairs, [&] { Delete(0); },
       [&](MappingStore& s) {
         s.CopyMappingSection(3, 1);
         s.WriteMappingCount(2);
       }},
      {"delete the last row", kThreePairs, [&] { Delete(2); },
       [&](MappingStore& s) { s.WriteMappingCount(2); }},
  };
  for (const Case& c : cases) {
    const std::string after = WrittenBySteps(c.file, c.steps);
    for (int failAt : {1, 2}) {
      SCOPED_TRACE(std::string(c.name) + ", replacement " + std::to_string(failAt) + " refused");
      Open(c.file);
      const std::vector<MappingEntry> listedBefore = view.ListedPairs();
      Arm(failAt);
      c.command();
      EXPECT_EQ(g_replacements.load(), 1) << "one replacement per command";
      const std::string now = IniText();
      ASSERT_TRUE(now == c.file || now == after) << "a mix of two versions:\n" << now;
      if (failAt == 1) {
        EXPECT_EQ(now, c.file);
        EXPECT_EQ(view.appMessages,
                  std::vector<std::string>{kSaveFailed + ini::SystemErrorText(kInjected)});
        EXPECT_EQ(view.ListedPairs(), listedBefore);
      } else {
        EXPECT_EQ(now, after);
        EXPECT_TRUE(view.appMessages.empty());
      }
    }
  }

  // An Add after the count was removed by hand writes the count section the
  // first start writes, the count and the pair: still in one replacement.
  const std::string handEdited = "[1]\r\nCport=7001\r\n";
  const std::string after = WrittenBySteps(handEdited, [&](MappingStore& s) {
    s.CreateMappingFile();
    s.WriteMappingCount(1);
    s.WriteMappingEntry(1, added);
  });
  Open(kThreePairs);
  WriteBytes(store.Path(), handEdited);
  Arm(0);
  Add(added);
  EXPECT_EQ(g_replacements.load(), 1);
  EXPECT_EQ(IniText(), after);
}

TEST_F(Saving, ARefusedSaveLeavesTheRunningRelaysAsTheyWere) {
  XorEchoServer backendA(0x11);
  XorEchoServer backendB(0x22);
  const std::uint16_t p1 = FreePort(), p2 = FreePort(), p3 = FreePort();
  WritePairs({Pair(p1, backendA.Port()), Pair(p2, backendA.Port())});
  controller.Initialise();
  controller.StartAllRelays();
  ASSERT_TRUE(PortRelaysTo(p1, backendA.Key()));
  ASSERT_TRUE(PortRelaysTo(p2, backendA.Key()));
  const std::string before = IniText();

  Arm(1);
  Modify(0, Pair(p1, backendB.Port()));
  Arm(1);
  Delete(0);
  Arm(1);
  Add(Pair(p3, backendB.Port()));
  const std::string box = kSaveFailed + ini::SystemErrorText(kInjected);
  EXPECT_EQ(view.appMessages, (std::vector<std::string>{box, box, box}));
  EXPECT_EQ(IniText(), before);
  EXPECT_EQ(view.ListedPairs(),
            (std::vector<MappingEntry>{Pair(p1, backendA.Port()), Pair(p2, backendA.Port())}));
  EXPECT_TRUE(PortRelaysTo(p1, backendA.Key())) << "the relay of the row not modified changed";
  EXPECT_TRUE(PortRelaysTo(p2, backendA.Key())) << "the relay of the row not deleted changed";
  EXPECT_TRUE(PortRefuses(p3)) << "a relay started for a pair that was not saved";
  EXPECT_EQ(tables.relayState[1].load(), RELAY_RUNNING);
  EXPECT_EQ(tables.relayState[2].load(), RELAY_RUNNING);
  ExpectSlotsMatchList();
}

// The causes the system itself gives. Each box is the reason in the system's
// words; the list then shows the file, unchanged.
class SaveRefused : public Saving {
 protected:
  void SetUp() override {
    WritePairs({Pair(7001, 81, "10.0.0.1")});
    before = IniText();
  }
  // An Add, Modify and Delete: each must fail with `reason`, change nothing
  // and show the file as it is. Runs where `Run*` puts it, so checks are
  // collected instead of asserted.
  bool AllThreeRefusedWith(const std::string& reason) {
    std::string box = kSaveFailed + reason;
    controller.Initialise();
    Add(Pair(7002, 82));
    Modify(0, Pair(7001, 89));
    Delete(0);
    bool ok = view.appMessages == std::vector<std::string>{box, box, box} &&
              ReadBytes(store.Path()) == before &&
              view.ListedPairs() == std::vector<MappingEntry>{Pair(7001, 81, "10.0.0.1")};
    if (!ok) {
      std::fprintf(stderr, "expected three boxes [%s]; got %zu:\n", box.c_str(),
                   view.appMessages.size());
      for (const std::string& m : view.appMessages)
        std::fprintf(stderr, "  [%s]\n", m.c_str());
    }
    return ok;
  }
  std::string before;
};

TEST_F(SaveRefused, AReadOnlyFile) {
  fs::permissions(store.Path(),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
#ifdef _WIN32
  const std::string reason = ini::SystemErrorText(kAccessDenied);
#else
  const std::string reason = "权限不够";
#endif
  EXPECT_EQ(test::RunWithoutPrivileges(dir.Path(), [&] { return AllThreeRefusedWith(reason); }),
            test::ChildOutcome::kPassed);
  fs::permissions(store.Path(), fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(SaveRefused, AFileTooLargeToRead) {
  WriteBytes(store.Path(), before + std::string(ini::kMaxProfileBytes, ';'));
  before = IniText();
  std::string box = kSaveFailed + ini::DescribeIoStatus(ini::IoStatus::TooLarge(before.size()));
  controller.Initialise();
  EXPECT_TRUE(view.appMessages.empty()) << "the start reports a refused file once it shows";
  controller.ReportStartProblems();
  controller.ReportStartProblems();
  EXPECT_EQ(view.appMessages, std::vector<std::string>{
                                  "读取 setting.ini 失败: " +
                                  ini::DescribeIoStatus(ini::IoStatus::TooLarge(before.size()))});
  EXPECT_EQ(view.RowCount(), 0);
  view.ClearMessages();
  Add(Pair(7002, 82));
  EXPECT_EQ(view.appMessages, std::vector<std::string>{box});
  EXPECT_EQ(IniText(), before);
}

#ifdef _WIN32
// While it is held the file cannot even be read: the list shows it as empty,
// as at a start, until the hold ends.
TEST_F(SaveRefused, AFileHeldOpenByAnotherProgramWithoutSharing) {
  controller.Initialise();
  {
    test::HeldOpen held(store.Path());
    ASSERT_TRUE(held.Holding());
    Add(Pair(7002, 82));
    EXPECT_EQ(view.appMessages,
              std::vector<std::string>{kSaveFailed + ini::SystemErrorText(kSharingViolation)});
    EXPECT_EQ(view.RowCount(), 0);
  }
  EXPECT_EQ(IniText(), before);
  view.DeleteAllRows();
  controller.LoadMappingList();
  EXPECT_EQ(view.ListedPairs(), std::vector<MappingEntry>{Pair(7001, 81, "10.0.0.1")});
}
#else
TEST_F(SaveRefused, AReadOnlyDirectory) {
  fs::permissions(dir.Path(),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(test::RunWithoutPrivileges(dir.Path(), [&] { return AllThreeRefusedWith("权限不够"); }),
            test::ChildOutcome::kPassed);
  fs::permissions(dir.Path(), fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(SaveRefused, AFullDisk) {
  test::ChildOutcome outcome = test::RunOnSmallDisk(dir.Path(), 64 * 1024, [&] {
    WriteBytes(store.Path(), before);
    WriteBytes(dir.Path() / "filler", std::string(256 * 1024, 'f'));  // stops where the disk does
    return AllThreeRefusedWith("设备上没有空间");
  });
  if (outcome == test::ChildOutcome::kUnavailable)
    GTEST_SKIP() << "no small file system can be mounted here";
  EXPECT_EQ(outcome, test::ChildOutcome::kPassed);
}

TEST_F(SaveRefused, AFileSizeLimit) {
  EXPECT_TRUE(test::WithFileSizeLimit(16, [&] { return AllThreeRefusedWith("文件过大"); }));
}
#endif

}  // namespace
}  // namespace vx::test
