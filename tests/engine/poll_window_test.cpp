#include "engine/poll_window.h"

#include <gtest/gtest.h>

namespace vx::engine {
namespace {

using std::chrono::microseconds;

// The window in nanoseconds, so a failure prints a number.
long long Ns(const PollWindow& w) {
  return w.Current().count();
}

TEST(PollWindow, GrowsWhileEventsComeSoonAfterItGaveUpButNeverPastItsLimit) {
  PollWindow w(microseconds(50));
  EXPECT_EQ(Ns(w), 0) << "a fresh thread sleeps at once";
  w.AfterIdle(microseconds(20));
  EXPECT_EQ(Ns(w), 12500);
  w.AfterIdle(microseconds(20));
  EXPECT_EQ(Ns(w), 25000);
  for (int i = 0; i < 5; ++i)
    w.AfterIdle(microseconds(40));
  EXPECT_EQ(Ns(w), 50000);
  // An event just at the limit would still have been caught.
  w.AfterIdle(microseconds(50));
  EXPECT_EQ(Ns(w), 50000);
}

TEST(PollWindow, HalvesAfterEveryLongQuietDownToSleepingAtOnce) {
  PollWindow w(microseconds(50));
  for (int i = 0; i < 4; ++i)
    w.AfterIdle(microseconds(10));
  ASSERT_EQ(Ns(w), 50000);
  w.AfterIdle(microseconds(51));
  EXPECT_EQ(Ns(w), 25000);
  w.AfterIdle(std::chrono::seconds(5));
  EXPECT_EQ(Ns(w), 12500);
  for (int i = 0; i < 4; ++i)
    w.AfterIdle(std::chrono::milliseconds(50));
  EXPECT_EQ(Ns(w), 0) << "sparse traffic must cost no polling";
  // And it comes back with the traffic.
  w.AfterIdle(microseconds(30));
  EXPECT_GT(Ns(w), 0);
}

TEST(PollWindow, WithoutALimitItNeverPolls) {
  PollWindow w(microseconds(0));
  w.AfterIdle(microseconds(0));
  w.AfterIdle(microseconds(1));
  EXPECT_EQ(Ns(w), 0);
}

}  // namespace
}  // namespace vx::engine
