#include "engine/endpoint_text.h"

namespace vx::engine {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

bool IsDottedIPv4(const std::string& text) {
  int parts = 0;
  std::size_t i = 0;
  while (true) {
    std::size_t start = i;
    int value = 0;
    while (i < text.size() && IsDigit(text[i]) && i - start < 3) {
      value = value * 10 + (text[i] - '0');
      ++i;
    }
    std::size_t len = i - start;
    if (len == 0 || value > 255 || (len > 1 && text[start] == '0'))
      return false;
    if (++parts == 4)
      return i == text.size();
    if (i >= text.size() || text[i] != '.')
      return false;
    ++i;
  }
}

std::string FormatEndpoint(const asio::ip::tcp::endpoint& endpoint) {
  asio::ip::address a = endpoint.address();
  if (a.is_v6() && a.to_v6().is_v4_mapped())
    a = asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6());
  std::string port = std::to_string(endpoint.port());
  if (a.is_v6())
    return "[" + a.to_string() + "]:" + port;
  return a.to_string() + ":" + port;
}

std::optional<asio::ip::address> ParseLiteralAddress(const std::string& text) {
  asio::error_code ec;
  if (text.find(':') != std::string::npos) {
    // Hex digits, colons and dots (an embedded IPv4 part), then an optional
    // "%scope": the same on every system, whatever its own parser takes
    // besides ("[::1]" on some).
    std::size_t scope = text.find('%');
    if (text.substr(0, scope).find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
      return std::nullopt;
    asio::ip::address_v6 v6 = asio::ip::make_address_v6(text, ec);
    if (ec)
      return std::nullopt;
    return asio::ip::address(v6);
  }
  if (!IsDottedIPv4(text))
    return std::nullopt;
  asio::ip::address_v4 v4 = asio::ip::make_address_v4(text, ec);
  if (ec)
    return std::nullopt;
  return asio::ip::address(v4);
}

bool IsHostName(const std::string& text) {
  if (text.empty() || text.size() > 253)
    return false;
  std::size_t labelStart = 0;
  bool lastLabelHasLetter = false;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      std::size_t len = i - labelStart;
      if (len == 0 || len > 63 || text[labelStart] == '-' || text[i - 1] == '-')
        return false;
      labelStart = i + 1;
      continue;
    }
    char c = text[i];
    if (labelStart == i)
      lastLabelHasLetter = false;
    if (IsLetter(c) || c == '-')
      lastLabelHasLetter = lastLabelHasLetter || IsLetter(c);
    else if (!IsDigit(c))
      return false;
  }
  return lastLabelHasLetter;
}

}  // namespace vx::engine
