// The relay tests' fixture: one shared set of tables (never freed), the
// recorder installed, faults cleared, and every relay started here stopped
// (bounded) afterwards.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "relay/relay_control.h"
#include "relay/slot_tables.h"
#include "tests/support/alert_recorder.h"
#include "tests/support/bytes.h"
#include "tests/support/ports.h"
#include "tests/support/sockets.h"
#include "tests/support/test_server.h"
#include "tests/support/wait.h"

namespace vx::test {

using namespace std::chrono_literals;

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static RelaySlotTables& Tables();
  // Sets slot t up as the start commands do and starts relay t.
  bool Start(int t, std::uint16_t localPort, std::uint16_t remotePort,
             const std::string& remoteAddress = "127.0.0.1");
  std::int32_t State(int slot) { return Tables().relayState[slot].load(); }
  std::int32_t Count(int slot) { return Tables().connectionCount[slot].load(); }
  ::testing::AssertionResult WaitCount(int slot, std::int32_t n, Ms timeout = Ms(5000));
  // Waits until the relay listening on `port` is in its wait loop, without
  // connecting (a probe connection would be relayed).
  static ::testing::AssertionResult WaitListening(std::uint16_t port, Ms timeout = Ms(5000));
  // Requests the stop and waits (bounded) for RELAY_STOPPED.
  ::testing::AssertionResult Stop(int slot, Ms timeout = Ms(5000));
  bool IsStopped(int slot);

  std::vector<int> m_started;
};

// Runs RelayWorker on a thread of the test's own, to see its exit code.
struct WorkerRun {
  std::atomic<bool> done{false};
  std::atomic<unsigned> exitCode{0};
};
std::shared_ptr<WorkerRun> RunWorkerDirectly(RelaySlotTables& tables, int t,
                                             const RelayEndpoint& endpoint);

}  // namespace vx::test
