// The port range rule of Add and Modify.
#pragma once

#include <string>

namespace vx {

// atoi of the text, saturated instead of overflowing.
long PortTextValue(const std::string& text);

// 1 to 65535 inclusive.
bool PortTextInRange(const std::string& text);

}  // namespace vx
