#include "serve/win_command_line.h"

namespace vx {

std::string QuoteWindowsArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
    return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them: then each is doubled.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');  // before the closing quote
  out += '"';
  return out;
}

std::string JoinWindowsArguments(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) {
    if (!out.empty())
      out += ' ';
    out += QuoteWindowsArgument(a);
  }
  return out;
}

}  // namespace vx
