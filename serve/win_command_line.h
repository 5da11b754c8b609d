// Command lines as Windows programs split them (CommandLineToArgvW rules).
#pragma once

#include <string>
#include <vector>

namespace vx {

// One argument, quoted only when it must be: spaces, tabs, quotes or empty.
std::string QuoteWindowsArgument(const std::string& arg);
// The arguments joined, each quoted as needed.
std::string JoinWindowsArguments(const std::vector<std::string>& args);

}  // namespace vx
