// Start, Stop and the editing commands with real relays on loopback.
#include <chrono>

#include "platform/fault_injection.h"
#include "platform/thread.h"
#include "relay/slot_tables.h"
#include "tests/control/controller_fixture.h"

namespace vx::test {
namespace {

class Running : public ControllerTest {
 protected:
  XorEchoServer backendA{0x11};
  XorEchoServer backendB{0x22};

  MappingEntry To(std::uint16_t local, const XorEchoServer& backend) {
    return Pair(local, backend.Port());
  }
  bool Alerted(std::uint16_t port) const {
    for (const std::string& a : Recorder().Texts()) {
      if (a.find(std::to_string(port)) != std::string::npos)
        return true;
    }
    return false;
  }
};

double SecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

TEST_F(Running, StartWithoutCountStartsNothingButSwitchesAndHides) {
  WriteBytes(store.Path(), "[Num]\r\nQueldaUrlList=\r\n");
  controller.Initialise();
  controller.StartAllRelays();
  EXPECT_TRUE(controller.IsRunning());
  EXPECT_FALSE(view.Enabled(MappingButton::Start));
  EXPECT_TRUE(view.Enabled(MappingButton::Stop));
  EXPECT_EQ(view.trayCalls, std::vector<bool>{true});
  const auto t0 = std::chrono::steady_clock::now();
  controller.StopAllRelays();
  EXPECT_LT(SecondsSince(t0), 0.5);
  EXPECT_FALSE(controller.IsRunning());
  EXPECT_TRUE(view.Enabled(MappingButton::Start));
  EXPECT_FALSE(view.Enabled(MappingButton::Stop));
}

TEST_F(Running, APortInUseAmongThreeStopsOnlyItsOwnRelay) {
  const std::uint16_t p1 = FreePort(), p2 = FreePort(), p3 = FreePort();
  PortHolder blocker(p2);
  ASSERT_TRUE(blocker.Holding());
  WritePairs({To(p1, backendA), To(p2, backendA), To(p3, backendB)});
  controller.Initialise();
  controller.StartAllRelays();
  EXPECT_TRUE(PortRelaysTo(p1, backendA.Key()));
  EXPECT_TRUE(PortRelaysTo(p3, backendB.Key()));
  EXPECT_TRUE(WaitFor([&] { return tables.relayState[2].load() == RELAY_STOPPED; }, Ms(3000),
                      "tables.relayState[2].load() == RELAY_STOPPED"));
  EXPECT_TRUE(Alerted(p2));

  controller.StopAllRelays();
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(tables.relayState[i].load(), RELAY_STOPPED) << i;
  EXPECT_TRUE(PortRefuses(p1));
  EXPECT_TRUE(PortRefuses(p3));
  EXPECT_TRUE(WaitFor(
      [&] {
        return tables.connectionCount[1].load() == 0 && tables.connectionCount[3].load() == 0;
      },
      Ms(2000), "tables.connectionCount[1].load() == 0 && tables.connectionCount[3].load() == 0"));
  for (int i = 0; i < kSlotCount; ++i)
    EXPECT_EQ(tables.slotMap[i].load(), i);
}

TEST_F(Running, StopWhenEverySlotAlreadyReadsStoppedEndsAtOnce) {
  const std::uint16_t p1 = FreePort(), p2 = FreePort();
  PortHolder b1(p1), b2(p2);
  WritePairs({To(p1, backendA), To(p2, backendA)});
  controller.Initialise();
  controller.StartAllRelays();
  ASSERT_TRUE(WaitFor(
      [&] {
        return tables.relayState[1].load() == RELAY_STOPPED &&
               tables.relayState[2].load() == RELAY_STOPPED;
      },
      Ms(3000), "relays 1 and 2 to stop"));
  const auto t0 = std::chrono::steady_clock::now();
  controller.StopAllRelays();
  EXPECT_LT(SecondsSince(t0), 0.2);
  EXPECT_TRUE(view.Enabled(MappingButton::Start));
  EXPECT_FALSE(view.Enabled(MappingButton::Stop));
}

// A relay thread that cannot be created: its slot reads stopped, Start goes
// on with the next pair, and later commands on that row do not wait for it.
TEST_F(Running, AThreadThatCannotBeCreatedLeavesItsSlotStoppedAndStartGoesOn) {
  const std::uint16_t p1 = FreePort(), p2 = FreePort(), p3 = FreePort();
  WritePairs({To(p1, backendA), To(p2, backendA), To(p3, backendB)});
  controller.Initialise();
  fault::Rule rule;
  rule.call = fault::Call::kThread;
  rule.code = 1;
  rule.skip = 1;
  fault::Arm(rule);
  controller.StartAllRelays();
  fault::Clear();
  EXPECT_EQ(tables.relayState[2].load(), RELAY_STOPPED);
  EXPECT_TRUE(PortRelaysTo(p1, backendA.Key()));
  EXPECT_TRUE(PortRelaysTo(p3, backendB.Key()));
  EXPECT_TRUE(PortRefuses(p2));

  const auto t0 = std::chrono::steady_clock::now();
  Modify(1, To(p2, backendB));  // nothing to stop; a new relay starts
  EXPECT_LT(SecondsSince(t0), 0.5);
  EXPECT_TRUE(PortRelaysTo(p2, backendB.Key()));
  controller.StopAllRelays();
}

// Count above 127 in a hand-edited file: Start runs the first 127 pairs and
// touches no table entry past 127.
TEST_F(Running, CountAbove127StartsThe127ListedPairsOnly) {
  std::vector<std::uint16_t> ports;
  std::vector<MappingEntry> pairs;
  for (int i = 0; i < 130; ++i) {
    ports.push_back(FreePort());
    pairs.push_back(To(ports.back(), backendA));
  }
  WritePairs(pairs);
  controller.Initialise();
  controller.StartAllRelays();
  EXPECT_EQ(tables.slotMap[0].load(), 0);
  EXPECT_EQ(tables.relayState[0].load(), 1);
  EXPECT_EQ(tables.connectionCount[0].load(), 0);
  EXPECT_TRUE(PortRelaysTo(ports[0], backendA.Key()));
  EXPECT_TRUE(PortRelaysTo(ports[126], backendA.Key()));
  for (int i = 127; i < 130; ++i)
    EXPECT_TRUE(PortRefuses(ports[i])) << i;
  EXPECT_TRUE(CountShows(126, 0));
  EXPECT_TRUE(CountShows(0, 0));
  controller.StopAllRelays();
  EXPECT_TRUE(PortRefuses(ports[0]));
  EXPECT_TRUE(PortRefuses(ports[126]));
}

// Add, Modify and Delete while relays run and connections stay open through
// the pairs a command does not touch, including the pair a Delete moves.
TEST_F(Running, EditingWhileRunningKeepsOtherConnectionsAndFollowsMovedRelays) {
  const std::uint16_t p1 = FreePort(), p2 = FreePort(), p3 = FreePort();
  WritePairs({To(p1, backendA), To(p2, backendA), To(p3, backendA)});
  controller.Initialise();
  controller.StartAllRelays();
  for (std::uint16_t p : {p1, p2, p3})
    ASSERT_TRUE(PortRelaysTo(p, backendA.Key()));
  net::UniqueSocket c1 = ConnectTo(p1);
  net::UniqueSocket c2 = ConnectTo(p2);
  net::UniqueSocket c3a = ConnectTo(p3);
  net::UniqueSocket c3b = ConnectTo(p3);
  for (auto* c : {&c1, &c2, &c3a, &c3b})
    ASSERT_TRUE(RoundTrip(c->Get(), "hi", backendA.Key()));

  // Add: a fourth relay; nothing else is disturbed.
  const std::uint16_t p4 = FreePort();
  Add(To(p4, backendB));
  EXPECT_TRUE(PortRelaysTo(p4, backendB.Key()));
  for (auto* c : {&c1, &c2, &c3a})
    EXPECT_TRUE(RoundTrip(c->Get(), "after add", backendA.Key()));
  ExpectSlotsMatchList();

  // Modify row 1: its relay restarts with the new backend, its client is cut.
  Modify(1, To(p2, backendB));
  EXPECT_TRUE(PortRelaysTo(p2, backendB.Key()));
  EXPECT_FALSE(RoundTrip(c2.Get(), "cut", backendA.Key(), 1000));
  EXPECT_TRUE(RoundTrip(c1.Get(), "after modify", backendA.Key()));
  EXPECT_TRUE(RoundTrip(c3a.Get(), "after modify", backendA.Key()));

  // Delete row 0 while the last pair is p4: p4 moves into row 0, keeps running.
  net::UniqueSocket c4 = ConnectTo(p4);
  ASSERT_TRUE(RoundTrip(c4.Get(), "before move", backendB.Key()));
  Delete(0);
  EXPECT_TRUE(PortRefuses(p1));
  EXPECT_FALSE(RoundTrip(c1.Get(), "gone", backendA.Key(), 1000));
  EXPECT_TRUE(RoundTrip(c4.Get(), "after move", backendB.Key()));
  EXPECT_TRUE(RoundTrip(c3b.Get(), "after move", backendA.Key()));
  ASSERT_EQ(view.ListedPairs(),
            (std::vector<MappingEntry>{To(p4, backendB), To(p2, backendB), To(p3, backendA)}));
  ExpectSlotsMatchList();
  EXPECT_TRUE(CountShows(0, 1));  // the moved relay's count, in its new row
  EXPECT_TRUE(CountShows(2, 2));

  // Move p3 (now last) into row 0 as well, over the already moved p4.
  Delete(0);
  EXPECT_TRUE(PortRefuses(p4));
  EXPECT_TRUE(RoundTrip(c3a.Get(), "second move", backendA.Key()));
  ASSERT_EQ(view.ListedPairs(), (std::vector<MappingEntry>{To(p3, backendA), To(p2, backendB)}));
  ExpectSlotsMatchList();
  EXPECT_TRUE(CountShows(0, 2));

  // Add gets an index no live relay holds, although index 3 (section 3's
  // old number) still names the moved p3 relay.
  const std::uint16_t p5 = FreePort();
  Add(To(p5, backendA));
  EXPECT_TRUE(PortRelaysTo(p5, backendA.Key()));
  EXPECT_TRUE(RoundTrip(c3b.Get(), "after add", backendA.Key()));
  ExpectSlotsMatchList();

  // Modify the moved pair: the stop reaches the relay that serves row 0.
  const auto t0 = std::chrono::steady_clock::now();
  Modify(0, To(p3, backendB));
  EXPECT_LT(SecondsSince(t0), 5.0);
  EXPECT_TRUE(PortRelaysTo(p3, backendB.Key()));
  EXPECT_FALSE(RoundTrip(c3a.Get(), "cut", backendA.Key(), 1000));
  ExpectSlotsMatchList();

  controller.StopAllRelays();
  for (std::uint16_t p : {p2, p3, p5})
    EXPECT_TRUE(PortRefuses(p)) << p;
}

TEST_F(Running, DeletingTheLastRowWhileRunningStopsItsRelay) {
  const std::uint16_t p1 = FreePort(), p2 = FreePort();
  WritePairs({To(p1, backendA), To(p2, backendA)});
  controller.Initialise();
  controller.StartAllRelays();
  ASSERT_TRUE(PortRelaysTo(p1, backendA.Key()));
  ASSERT_TRUE(PortRelaysTo(p2, backendA.Key()));
  net::UniqueSocket c1 = ConnectTo(p1);
  ASSERT_TRUE(RoundTrip(c1.Get(), "x", backendA.Key()));
  Delete(1);
  EXPECT_TRUE(PortRefuses(p2));
  EXPECT_TRUE(RoundTrip(c1.Get(), "y", backendA.Key()));
  ExpectSlotsMatchList();
  // The freed index serves the next Add.
  const std::uint16_t p3 = FreePort();
  Add(To(p3, backendB));
  EXPECT_TRUE(PortRelaysTo(p3, backendB.Key()));
  ExpectSlotsMatchList();
}

// After a run with a move, Stop leaves the tables so that every row, also
// one added before the next Start, shows 0.
TEST_F(Running, AfterStopEveryRowShowsZeroAgain) {
  const std::uint16_t p1 = FreePort(), p2 = FreePort(), p3 = FreePort();
  WritePairs({To(p1, backendA), To(p2, backendA), To(p3, backendA)});
  controller.Initialise();
  controller.StartAllRelays();
  Delete(0);
  controller.StopAllRelays();
  Add(To(FreePort(), backendA));
  ASSERT_EQ(view.RowCount(), 3);
  for (int r = 0; r < 3; ++r)
    EXPECT_EQ(view.rows[r][3], "0") << r;
}

// The file removed while relays run: Add stores section 1 only, and the
// relays of the pairs that went with the file end.
TEST_F(Running, AddAfterTheFileWasRemovedKeepsRelaysMatchingTheNewFile) {
  const std::uint16_t p1 = FreePort(), p2 = FreePort(), p3 = FreePort();
  WritePairs({To(p1, backendA), To(p2, backendA)});
  controller.Initialise();
  controller.StartAllRelays();
  ASSERT_TRUE(PortRelaysTo(p2, backendA.Key()));
  std::filesystem::remove(store.Path());
  Add(To(p3, backendB));
  EXPECT_EQ(store.ReadMappingCount(-1), 1);
  EXPECT_TRUE(PortRefuses(p1));
  EXPECT_TRUE(PortRefuses(p2));
  EXPECT_TRUE(PortRelaysTo(p3, backendB.Key()));
  ExpectSlotsMatchList();
  controller.StopAllRelays();
  EXPECT_TRUE(PortRefuses(p3));
}

TEST_F(Running, DeleteAfterTheCountWasDeletedStopsTheRelaysAndWritesNoNegativeCount) {
  const std::uint16_t p1 = FreePort(), p2 = FreePort();
  WritePairs({To(p1, backendA), To(p2, backendA)});
  controller.Initialise();
  controller.StartAllRelays();
  ASSERT_TRUE(PortRelaysTo(p2, backendA.Key()));
  WriteBytes(store.Path(), "[1]\r\nCport=1\r\n");
  Delete(0);
  EXPECT_EQ(store.ReadMappingCount(-1), 0);
  EXPECT_EQ(IniText().find("-"), std::string::npos);
  EXPECT_TRUE(PortRefuses(p1));
  EXPECT_TRUE(PortRefuses(p2));
  EXPECT_EQ(view.RowCount(), 0);
  // Stop ends although the file's count no longer covers the started relays.
  controller.StopAllRelays();
}

// Stop with a count lowered by hand still stops every relay it started.
TEST_F(Running, StopReachesRelaysTheFileNoLongerCounts) {
  const std::uint16_t p1 = FreePort(), p2 = FreePort();
  WritePairs({To(p1, backendA), To(p2, backendA)});
  controller.Initialise();
  controller.StartAllRelays();
  ASSERT_TRUE(PortRelaysTo(p2, backendA.Key()));
  store.WriteMappingCount(0);
  controller.StopAllRelays();
  EXPECT_TRUE(PortRefuses(p1));
  EXPECT_TRUE(PortRefuses(p2));
}

}  // namespace
}  // namespace vx::test
