#include "control/port_text.h"

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

}  // namespace vx
