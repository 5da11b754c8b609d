#include "control/port_text.h"

#include <cstdint>
#include <cstdlib>

namespace vx {

long PortTextValue(const std::string& text) {
  // strtol parses what atoi parses, but clamps where atoi overflows.
  return std::strtol(text.c_str(), nullptr, 10);
}

bool PortTextInRange(const std::string& text) {
  const long v = PortTextValue(text);
  return v >= 1 && v <= 65535;
}

bool SamePort(const std::string& a, const std::string& b) {
  return static_cast<std::uint16_t>(PortTextValue(a)) ==
         static_cast<std::uint16_t>(PortTextValue(b));
}

}  // namespace vx
