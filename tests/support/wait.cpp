#include "tests/support/wait.h"

#include <cstdlib>
#include <thread>

#ifndef VEXHOLD_TEST_DEFAULT_TIME_FACTOR
#define VEXHOLD_TEST_DEFAULT_TIME_FACTOR 1
#endif

namespace vx::test {

double TimeFactor() {
  static const double factor = [] {
    const char* text = std::getenv("VEXHOLD_TEST_TIME_FACTOR");
    const double fromEnv = text != nullptr ? std::atof(text) : 0.0;
    return fromEnv >= 1.0 ? fromEnv : static_cast<double>(VEXHOLD_TEST_DEFAULT_TIME_FACTOR);
  }();
  return factor;
}

Ms Scaled(Ms plain) {
  return Ms(static_cast<Ms::rep>(static_cast<double>(plain.count()) * TimeFactor()));
}

Deadline::Deadline(Ms plain)
    : m_end(std::chrono::steady_clock::now() + Scaled(plain)), m_budget(Scaled(plain)) {}

bool Deadline::Passed() const {
  return std::chrono::steady_clock::now() >= m_end;
}

Ms Deadline::Left() const {
  const auto left = std::chrono::duration_cast<Ms>(m_end - std::chrono::steady_clock::now());
  return left.count() > 0 ? left : Ms(0);
}

::testing::AssertionResult WaitOutcome(bool held, const Deadline& deadline,
                                       const std::string& what) {
  const auto waited = (deadline.Budget() - deadline.Left()).count();
  if (held)
    return ::testing::AssertionSuccess() << "came true after " << waited << " ms: " << what;
  return ::testing::AssertionFailure() << "gave up after " << waited << " ms (time factor "
                                       << TimeFactor() << ") waiting for: " << what;
}

::testing::AssertionResult WaitFor(const std::function<bool()>& done, Ms timeout,
                                   const std::string& what) {
  const Deadline deadline(timeout);
  bool held = done();
  while (!held && !deadline.Passed()) {
    std::this_thread::sleep_for(Ms(2));
    held = done();
  }
  return WaitOutcome(held, deadline, what);
}

}  // namespace vx::test
