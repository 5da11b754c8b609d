// A controller on a fresh setting.ini with the scripted view.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/mapping_controller.h"
#include "store/mapping_store.h"
#include "tests/control/test_env.h"
#include "tests/control/test_view.h"

namespace vx::test {

// Relays keep pointers into the tables and may still finish their last steps
// after a test, so tables are never freed (and stay reachable).
inline RelaySlotTables& LongLivedTables() {
  static auto* kept = new std::vector<RelaySlotTables*>;
  kept->push_back(new RelaySlotTables);
  return *kept->back();
}

class ControllerTest : public ::testing::Test {
 protected:
  ControllerTest()
      : store(dir.Path() / "setting.ini"),
        tables(LongLivedTables()),
        controller(view, store, tables) {
    Recorder().Reset();
    SetAlertSink(&Recorder());
  }
  ~ControllerTest() override {
    if (controller.IsRunning())
      controller.StopAllRelays();
  }

  std::string IniText() const { return ReadBytes(store.Path()); }

  // Writes Number = pairs.size() and sections 1..n.
  void WritePairs(const std::vector<MappingEntry>& pairs) {
    store.WriteMappingCount(static_cast<int>(pairs.size()));
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      store.WriteMappingEntry(static_cast<int>(i) + 1, pairs[i]);
    }
  }

  void Add(const MappingEntry& e) {
    view.QueueEditor(e);
    controller.AddMapping();
  }
  void Modify(int row, const MappingEntry& e) {
    view.selection = row;
    view.QueueEditor(e);
    controller.ModifyMapping();
  }
  void Delete(int row) {
    view.selection = row;
    view.QueueNotice(kIdYes);
    controller.DeleteMapping();
  }

  // Column 3 of `row` shows `count` on a refresh within two seconds (closed
  // connections take the relay a moment to count down).
  ::testing::AssertionResult CountShows(int row, int count) {
    return WaitFor(
        [&] {
          controller.RefreshConnectionCounts();
          return view.CellText(row, 3) == std::to_string(count);
        },
        Ms(2000), "row " + std::to_string(row) + " to show " + std::to_string(count));
  }

  // Every listed section is served by exactly one relay index, and no index
  // names a slot beyond the list.
  void ExpectSlotsMatchList() const {
    const int rows = view.RowCount();
    std::vector<int> servedBy(kSlotCount, 0);
    for (int t = 1; t < kSlotCount; ++t) {
      const int k = tables.slotMap[t].load();
      if (k == 0)
        continue;
      EXPECT_GE(k, 1) << "index " << t;
      EXPECT_LE(k, rows) << "index " << t << " serves a section the list no longer holds";
      if (k >= 1 && k < kSlotCount)
        ++servedBy[k];
    }
    for (int s = 1; s <= rows; ++s)
      EXPECT_EQ(servedBy[s], 1) << "section " << s;
  }

  TempDir dir;
  MappingStore store;
  RelaySlotTables& tables;
  TestView view;
  MappingController controller;
};

inline MappingEntry Pair(int local, int remote, const std::string& ip = "127.0.0.1") {
  return {std::to_string(local), ip, std::to_string(remote)};
}

}  // namespace vx::test
