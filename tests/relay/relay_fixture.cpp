#include "tests/relay/relay_fixture.h"

#include <thread>

#include "platform/fault_injection.h"
#include "platform/lock.h"
#include "relay/relay_worker.h"

namespace vx::test {

RelaySlotTables& RelayTest::Tables() {
  static RelaySlotTables* tables = [] {
    auto* t = new RelaySlotTables;
    t->Initialise();
    return t;
  }();
  return *tables;
}

void RelayTest::SetUp() {
  EnsureSockets();
  fault::Clear();
  Recorder().Reset();
  SetAlertSink(&Recorder());
  Tables().Initialise();
  BindStartBlock(Tables());
}

void RelayTest::TearDown() {
  Recorder().Release();
  fault::Clear();
  for (int slot : m_started) {
    EXPECT_TRUE(Stop(slot, Ms(10000)));
  }
}

bool RelayTest::Start(int t, std::uint16_t localPort, std::uint16_t remotePort,
                      const std::string& remoteAddress) {
  Tables().slotMap[t] = t;
  Tables().relayState[t] = RELAY_STOP;
  m_started.push_back(t);
  RelayEndpoint endpoint;
  endpoint.localPort = localPort;
  endpoint.remotePort = remotePort;
  endpoint.remoteAddress = remoteAddress;
  return StartOneRelay(Tables(), t, endpoint);
}

::testing::AssertionResult RelayTest::WaitCount(int slot, std::int32_t n, Ms timeout) {
  return WaitFor(
      [&] { return Count(slot) == n; }, timeout,
      "relay " + std::to_string(slot) + " to count " + std::to_string(n) + " connections");
}

::testing::AssertionResult RelayTest::WaitListening(std::uint16_t port, Ms timeout) {
  // A rule that fails nothing: it only counts the first wait whose read set
  // starts with a listener on `port`.
  fault::Rule seen{fault::Call::kWait, 0};
  seen.localPort = port;
  const int before = fault::Fired(fault::Call::kWait);
  fault::Arm(seen);
  return WaitFor([&] { return fault::Fired(fault::Call::kWait) > before; }, timeout,
                 "the relay on port " + std::to_string(port) + " to wait on its listener");
}

bool RelayTest::IsStopped(int slot) {
  LockGuard guard(g_relayLock);
  return Tables().relayState[slot].load() == RELAY_STOPPED && Tables().ackPending[slot].load() == 0;
}

::testing::AssertionResult RelayTest::Stop(int slot, Ms timeout) {
  RequestStop(Tables(), slot);
  return WaitFor([&] { return IsStopped(slot); }, timeout,
                 "relay " + std::to_string(slot) + " to stop");
}

std::shared_ptr<WorkerRun> RunWorkerDirectly(RelaySlotTables& tables, int t,
                                             const RelayEndpoint& endpoint) {
  tables.slotMap[t] = t;
  tables.relayState[t] = RELAY_STOP;
  FillStartBlock(t, endpoint);
  auto run = std::make_shared<WorkerRun>();
  std::thread([run] {
    run->exitCode = RelayWorker(&g_relayStart);
    run->done = true;
  }).detach();
  ConfirmStart(tables, t);
  return run;
}

}  // namespace vx::test
