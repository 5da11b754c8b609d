// The pairs vexhold-serve runs, read from setting.ini and checked before any
// relay sees them: a bad pair is reported by its section and skipped, so the
// good pairs still run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vx {

class MappingStore;

struct ServePair {
  int section = 0;  // for messages only: a pair is identified by its values
  std::uint16_t localPort = 0;
  std::string remoteHost;  // IPv4 (strict dotted form), IPv6 or a host name, as validated
  std::uint16_t remotePort = 0;

  // Same values: a pair that only moved to another section is unchanged.
  bool SameValues(const ServePair& o) const {
    return localPort == o.localPort && remoteHost == o.remoteHost && remotePort == o.remotePort;
  }
};

struct ServeConfig {
  bool usable = false;   // a valid count could be read (after first-run creation)
  bool created = false;  // the file was created as on the GUI's first start
  std::vector<ServePair> pairs;
  std::vector<std::string> problems;  // one message per skipped pair or file fault
};

// A port text as the file holds it: decimal digits only, value 1..65535
// (leading zeros allowed, "080" is 80). Returns 0 for anything else.
std::uint16_t ParsePortText(const std::string& text);

// Checks one section's raw texts; on success fills `pair`, otherwise returns
// the message naming the section. The remote may be an IPv4 address in the
// editor's dotted form, an IPv6 address, or a host name; digits and dots
// alone must form a dotted IPv4 address.
bool ValidatePair(int section, const std::string& localPort, const std::string& remoteHost,
                  const std::string& remotePort, ServePair* pair, std::string* problem);

// Reads the count and every pair section. A missing file (or one without a
// count) is created exactly as the GUI's first start does, when `createIfMissing`.
// A negative count makes the file unusable, like a missing one.
ServeConfig ReadServeConfig(MappingStore& store, bool createIfMissing);

}  // namespace vx
