// Add, Modify and Delete with no relay running: the checks, their messages,
// and what reaches setting.ini.
#include "tests/control/controller_fixture.h"

namespace vx::test {
namespace {

const char kRange[] = "测试端口为（1-65535）之间!";
const char kAddDup[] = "添加的端口已经存在";
const char kFull[] = "映射端口达到最大!";
const char kModDup[] = "修改的端口已经存在！";
const char kSame[] = "端口对已经存在!";

using Editing = ControllerTest;

TEST_F(Editing, FirstRunCreatesTheFileAndGreysModifyDeleteStop) {
  controller.Initialise();
  EXPECT_EQ(IniText(), "[Num]\r\nNumber=0\r\nQueldaUrlList=\r\n");
  EXPECT_EQ(view.RowCount(), 0);
  EXPECT_FALSE(view.Enabled(MappingButton::Modify));
  EXPECT_FALSE(view.Enabled(MappingButton::Delete));
  EXPECT_FALSE(view.Enabled(MappingButton::Stop));
  EXPECT_FALSE(controller.IsRunning());
  controller.OnListClicked();  // also a click into the empty list
  EXPECT_TRUE(view.Enabled(MappingButton::Modify));
  EXPECT_TRUE(view.Enabled(MappingButton::Delete));
}

TEST_F(Editing, ListShowsSectionsInRowOrderWithPortsAsNumbersAndCountZero) {
  WritePairs({{"080", "10.0.0.1", "0443"}, {"9000", "10.0.0.2", "22"}});
  controller.Initialise();
  ASSERT_EQ(view.RowCount(), 2);
  EXPECT_EQ(view.rows[0], (TestView::Row{"80", "10.0.0.1", "443", "0"}));
  EXPECT_EQ(view.rows[1], (TestView::Row{"9000", "10.0.0.2", "22", "0"}));
}

TEST_F(Editing, AddRefusesPortsOutsideOneTo65535AndWritesNothing) {
  controller.Initialise();
  const std::string before = IniText();
  for (const char* bad : {"0", "", "65536", "99999999999", "-1"}) {
    view.ClearMessages();
    Add({bad, "127.0.0.1", "80"});
    Add({"80", "127.0.0.1", bad});
    EXPECT_EQ(view.appMessages, (std::vector<std::string>{kRange, kRange})) << bad;
  }
  EXPECT_EQ(IniText(), before);
  view.ClearMessages();
  Add({"1", "127.0.0.1", "65535"});
  Add({"65535", "127.0.0.1", "1"});
  EXPECT_TRUE(view.appMessages.empty());
  EXPECT_EQ(view.RowCount(), 2);
}

TEST_F(Editing, AddPresetsTheEditorAndCancelChangesNothing) {
  controller.Initialise();
  const std::string before = IniText();
  view.QueueEditor(std::nullopt);
  controller.AddMapping();
  ASSERT_EQ(view.editorPresets.size(), 1u);
  EXPECT_EQ(view.editorPresets[0], (MappingEntry{"80", "127.0.0.1", "80"}));
  EXPECT_EQ(IniText(), before);
}

// By value: 080 listens on the same port as 80. Stored texts stay as typed.
TEST_F(Editing, DuplicatePortsCompareByValueAndStoredTextsStayAsTyped) {
  WritePairs({{"080", "10.0.0.1", "80"}, {"81", "10.0.0.2", "81"}});
  controller.Initialise();
  EXPECT_EQ(view.rows[0][0], "80");
  const std::string before = IniText();
  Add({"80", "10.0.0.3", "82"});
  Add({"00081", "10.0.0.3", "82"});
  Modify(1, {"0080", "10.0.0.2", "81"});
  EXPECT_EQ(view.appMessages, (std::vector<std::string>{kAddDup, kAddDup, kModDup}));
  EXPECT_EQ(IniText(), before);

  view.ClearMessages();
  Modify(0, {"80", "10.0.0.9", "80"});  // the row itself, in another spelling
  Add({"082", "10.0.0.4", "83"});
  EXPECT_TRUE(view.appMessages.empty());
  EXPECT_EQ(IniText(),
            "[Num]\r\nNumber=3\r\n"
            "[1]\r\nCport=80\r\nIP=10.0.0.9\r\nSport=80\r\n"
            "[2]\r\nCport=81\r\nIP=10.0.0.2\r\nSport=81\r\n"
            "[3]\r\nCport=082\r\nIP=10.0.0.4\r\nSport=83\r\n");
  EXPECT_EQ(view.rows[2][0], "82");
}

// A file edited by hand to hold two rows on one port: a Modify of either row
// that keeps the port runs into the other one.
TEST_F(Editing, ModifyOfOneOfTwoHandEditedRowsOnOnePortSeesTheOther) {
  WritePairs({{"080", "10.0.0.1", "80"}, {"80", "10.0.0.2", "81"}});
  controller.Initialise();
  const std::string before = IniText();
  Modify(0, {"80", "10.0.0.5", "80"});
  Modify(1, {"080", "10.0.0.6", "81"});
  EXPECT_EQ(view.appMessages, (std::vector<std::string>{kModDup, kModDup}));
  EXPECT_EQ(IniText(), before);
  view.ClearMessages();
  Modify(1, {"90", "10.0.0.6", "81"});
  EXPECT_TRUE(view.appMessages.empty());
  EXPECT_EQ(view.ListedPairs(),
            (std::vector<MappingEntry>{{"80", "10.0.0.1", "80"}, {"90", "10.0.0.6", "81"}}));
}

TEST_F(Editing, AddWritesCountBeforeThePairAndStopsAt127) {
  store.WriteMappingCount(126);
  controller.Initialise();
  Add({"5000", "10.1.2.3", "6000"});
  EXPECT_EQ(store.ReadMappingCount(-1), 127);
  const StoredMapping s = store.ReadMappingEntry(127, -1, 128);
  EXPECT_EQ(s.localPort, 5000);
  EXPECT_EQ(s.remoteIp, "10.1.2.3");
  EXPECT_EQ(view.RowCount(), 127);
  EXPECT_EQ(view.rows[126][0], "5000");

  const std::string full = IniText();
  Add({"5001", "10.1.2.3", "6001"});
  EXPECT_EQ(view.appMessages, std::vector<std::string>{kFull});
  EXPECT_EQ(IniText(), full);
}

TEST_F(Editing, ModifyNeedsASelectionAndPresetsTheRow) {
  WritePairs({Pair(7001, 80, "10.0.0.1"), Pair(7002, 81, "10.0.0.2")});
  controller.Initialise();
  view.QueueNotice(kIdOk);
  controller.ModifyMapping();
  ASSERT_EQ(view.notices.size(), 1u);
  EXPECT_EQ(view.notices[0].text, "请选择要修改的行!");
  EXPECT_EQ(view.notices[0].flags, 0x20u);
  EXPECT_TRUE(view.editorPresets.empty());

  view.selection = 1;
  view.QueueEditor(std::nullopt);
  controller.ModifyMapping();
  ASSERT_EQ(view.editorPresets.size(), 1u);
  EXPECT_EQ(view.editorPresets[0], Pair(7002, 81, "10.0.0.2"));
}

TEST_F(Editing, ModifyRefusesAnUnchangedPairAndAnotherRowsPort) {
  WritePairs({Pair(7001, 80, "10.0.0.1"), Pair(7002, 81, "10.0.0.2")});
  controller.Initialise();
  const std::string before = IniText();
  Modify(0, Pair(7001, 80, "10.0.0.1"));
  Modify(0, Pair(7002, 99, "10.0.0.9"));
  Modify(1, {"0", "10.0.0.2", "81"});
  EXPECT_EQ(view.appMessages, (std::vector<std::string>{kSame, kModDup, kRange}));
  EXPECT_EQ(IniText(), before);

  view.ClearMessages();
  Modify(1, Pair(7002, 81, "10.0.0.3"));  // only the address changes
  EXPECT_TRUE(view.appMessages.empty());
  EXPECT_EQ(store.ReadMappingEntry(2, -1, 128).remoteIp, "10.0.0.3");
  EXPECT_EQ(view.rows[1][1], "10.0.0.3");
  EXPECT_EQ(store.ReadMappingCount(-1), 2);
}

TEST_F(Editing, DeleteNeedsASelectionAndAYes) {
  WritePairs({Pair(7001, 80), Pair(7002, 81)});
  controller.Initialise();
  const std::string before = IniText();
  view.QueueNotice(kIdOk);
  controller.DeleteMapping();
  ASSERT_EQ(view.notices.size(), 1u);
  EXPECT_EQ(view.notices[0].text, "请选择要删除的行!");
  EXPECT_EQ(view.notices[0].flags, 0x20u);

  view.ClearMessages();
  view.selection = 0;
  view.QueueNotice(kIdNo);
  controller.DeleteMapping();
  ASSERT_EQ(view.notices.size(), 1u);
  EXPECT_EQ(view.notices[0].text, "此操作将不可恢复\n你确定要删除吗?\n");
  EXPECT_EQ(view.notices[0].flags, 0x34u);
  EXPECT_EQ(IniText(), before);
  EXPECT_EQ(view.RowCount(), 2);
}

TEST_F(Editing, DeletingTheLastRowOnlyLowersTheCount) {
  WritePairs({Pair(7001, 80), Pair(7002, 81)});
  controller.Initialise();
  std::string expected = IniText();
  expected.replace(expected.find("Number=2"), 8, "Number=1");
  Delete(1);
  EXPECT_EQ(IniText(), expected);
  EXPECT_EQ(view.ListedPairs(), std::vector<MappingEntry>{Pair(7001, 80)});
}

TEST_F(Editing, DeletingAMiddleRowMovesTheLastPairIntoIt) {
  WritePairs({Pair(7001, 80), {"07002", "10.0.0.2", "081"}, {"07003", "10.0.0.3", "082"}});
  controller.Initialise();
  Delete(0);
  EXPECT_EQ(IniText(),
            "[Num]\r\nNumber=2\r\n"
            "[1]\r\nCport=7003\r\nIP=10.0.0.3\r\nSport=82\r\n"
            "[2]\r\nCport=07002\r\nIP=10.0.0.2\r\nSport=081\r\n"
            "[3]\r\nCport=07003\r\nIP=10.0.0.3\r\nSport=082\r\n");
  EXPECT_EQ(view.ListedPairs(),
            (std::vector<MappingEntry>{Pair(7003, 82, "10.0.0.3"), Pair(7002, 81, "10.0.0.2")}));
}

// An Add after the last row was deleted (no relay running) shows a count of
// 0 in its new row, not an empty cell.
TEST_F(Editing, RowAddedAfterDeletingTheLastRowShowsZero) {
  WritePairs({Pair(7001, 80), Pair(7002, 81)});
  controller.Initialise();
  Delete(1);
  Add(Pair(7003, 82));
  ASSERT_EQ(view.RowCount(), 2);
  EXPECT_EQ(view.rows[1][3], "0");
  controller.RefreshConnectionCounts();
  EXPECT_EQ(view.rows[1][3], "0");
}

// A hand-edited count above 127: the list, Add and Delete treat the first
// 127 pairs as the whole list.
TEST_F(Editing, CountAbove127ListsAndEditsOnlyTheFirst127Pairs) {
  std::vector<MappingEntry> pairs;
  for (int i = 1; i <= 130; ++i)
    pairs.push_back(Pair(10000 + i, 80));
  WritePairs(pairs);
  controller.Initialise();
  ASSERT_EQ(view.RowCount(), 127);
  EXPECT_EQ(view.rows[126][0], "10127");
  for (int r = 0; r < 127; ++r)
    ASSERT_EQ(view.rows[r][3], "0") << r;

  Add(Pair(20000, 80));
  EXPECT_EQ(view.appMessages, std::vector<std::string>{kFull});
  Delete(4);
  EXPECT_EQ(store.ReadMappingCount(-1), 126);
  EXPECT_EQ(store.ReadMappingEntry(5, -1, 128).localPort, 10127);
  EXPECT_EQ(view.RowCount(), 126);
  EXPECT_EQ(view.rows[4][0], "10127");
}

// The file removed, or its count deleted, while the program runs: the file
// then holds no pairs; nothing goes to a section 0 or -1, and no count
// below 0 is written.
TEST_F(Editing, AddAfterTheFileWasRemovedStartsAFreshFileAtSection1) {
  WritePairs({Pair(7001, 80), Pair(7002, 81)});
  controller.Initialise();
  std::filesystem::remove(store.Path());
  Add(Pair(7003, 82));
  EXPECT_EQ(IniText(),
            "[Num]\r\nNumber=1\r\nQueldaUrlList=\r\n"
            "[1]\r\nCport=7003\r\nIP=127.0.0.1\r\nSport=82\r\n");
  EXPECT_EQ(view.ListedPairs(), std::vector<MappingEntry>{Pair(7003, 82)});
}

TEST_F(Editing, AddAfterTheCountWasDeletedOverwritesSection1) {
  WritePairs({Pair(7001, 80), Pair(7002, 81)});
  controller.Initialise();
  WriteBytes(store.Path(), "[1]\r\nCport=7001\r\nIP=127.0.0.1\r\nSport=80\r\n");
  Add(Pair(7003, 82));
  EXPECT_EQ(store.ReadMappingCount(-1), 1);
  EXPECT_EQ(store.ReadMappingEntry(1, -1, 128).localPort, 7003);
  EXPECT_EQ(IniText().find("[0]"), std::string::npos);
}

TEST_F(Editing, DeleteAndModifyOfARowTheFileNoLongerHoldsWriteNothing) {
  WritePairs({Pair(7001, 80), Pair(7002, 81)});
  controller.Initialise();
  std::filesystem::remove(store.Path());
  Delete(1);
  EXPECT_EQ(IniText(), "[Num]\r\nNumber=0\r\nQueldaUrlList=\r\n");
  EXPECT_EQ(view.RowCount(), 0);

  WritePairs({Pair(7001, 80), Pair(7002, 81)});
  view.DeleteAllRows();
  controller.LoadMappingList();
  store.WriteMappingCount(1);  // lowered by hand
  const std::string before = IniText();
  Modify(1, Pair(7002, 99));
  EXPECT_EQ(IniText(), before);
  EXPECT_EQ(view.ListedPairs(), std::vector<MappingEntry>{Pair(7001, 80)});
}

}  // namespace
}  // namespace vx::test
