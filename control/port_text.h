// The port range rule of Add and Modify.
#pragma once

#include <string>

namespace vx {

// atoi of the text, saturated instead of overflowing.
long PortTextValue(const std::string& text);

// 1 to 65535 inclusive.
bool PortTextInRange(const std::string& text);

// Whether two port texts name the same listening port: by value, as a relay
// binds it (cut to 16 bits), so "080" and "80" are the same port.
bool SamePort(const std::string& a, const std::string& b);

}  // namespace vx
