// One mapping pair as the editor and the list carry it: three texts.
#pragma once

#include <string>

namespace vx {

struct MappingEntry {
  std::string localPort;   // decimal text, "Cport"
  std::string remoteIp;    // dotted IPv4 text, "IP"
  std::string remotePort;  // decimal text, "Sport"

  bool operator==(const MappingEntry& o) const {
    return localPort == o.localPort && remoteIp == o.remoteIp && remotePort == o.remotePort;
  }
};

}  // namespace vx
