#include "relay/relay_messages.h"

#include <cstdio>

namespace vx {

std::string FormatRelayMessage(const char* format, std::uint16_t port, int code) {
  char text[160];
  int n = std::snprintf(text, sizeof text, format, static_cast<unsigned>(port), code);
  if (n < 0)
    return std::string();
  return std::string(text, static_cast<std::size_t>(n) < sizeof text ? n : sizeof text - 1);
}

}  // namespace vx
