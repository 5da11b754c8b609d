#include "tests/control/test_env.h"

namespace vx::test {

bool RoundTrip(net::Socket s, const std::string& payload, std::uint8_t key, int timeoutMs) {
  if (!SendAll(s, payload))
    return false;
  std::string expected = payload;
  for (char& c : expected)
    c = static_cast<char>(c ^ key);
  std::string got;
  return RecvExact(s, expected.size(), &got, Ms(timeoutMs)) && got == expected;
}

::testing::AssertionResult PortRelaysTo(std::uint16_t port, std::uint8_t key, int timeoutMs) {
  bool relayed = false;
  auto connected = WaitFor(
      [&] {
        net::UniqueSocket s = ConnectTo(port);
        if (!s.Valid())
          return false;
        relayed = RoundTrip(s.Get(), "ping " + std::to_string(port), key, timeoutMs);
        return true;
      },
      Ms(timeoutMs), "a listener on port " + std::to_string(port));
  if (!connected)
    return connected;
  if (!relayed)
    return ::testing::AssertionFailure()
           << "port " << port << " did not answer as backend " << static_cast<int>(key);
  return ::testing::AssertionSuccess()
         << "port " << port << " relays to backend " << static_cast<int>(key);
}

}  // namespace vx::test
