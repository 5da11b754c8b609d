// Waits with deadlines that fit the build: every time-out is stretched by the
// build's time factor (the sanitizers and Wine run several times slower than
// a plain build), and a wait that gives up says what it was waiting for.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

namespace vx::test {

using Ms = std::chrono::milliseconds;

// VEXHOLD_TEST_TIME_FACTOR from the environment, else the build's own.
double TimeFactor();
// A time-out of the plain build, stretched for this one.
Ms Scaled(Ms plain);

// A point in time `plain` (scaled) from now.
class Deadline {
 public:
  explicit Deadline(Ms plain);
  bool Passed() const;
  Ms Left() const;  // zero once passed
  Ms Budget() const { return m_budget; }

 private:
  std::chrono::steady_clock::time_point m_end;
  Ms m_budget;
};

// Polls `done` every few milliseconds until it holds or the scaled time-out
// has passed. The failure message names `what` and the time waited.
::testing::AssertionResult WaitFor(const std::function<bool()>& done, Ms timeout,
                                   const std::string& what);

// For waits on a condition variable: the message a wait gives when it has
// given up (or, negated, when it came true).
::testing::AssertionResult WaitOutcome(bool held, const Deadline& deadline,
                                       const std::string& what);

}  // namespace vx::test
