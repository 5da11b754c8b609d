// inet_addr / inet_ntoa implemented once, so that both systems parse the same
// texts the same way (1 to 4 parts; decimal, 0-octal and 0x-hex parts).
#include <cstring>

#include "platform/socket.h"

namespace vx::net {

namespace {

std::uint32_t FromBytes(const unsigned char b[4]) {
  std::uint32_t v;
  std::memcpy(&v, b, 4);
  return v;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

int DigitValue(char c, int base) {
  int d;
  if (c >= '0' && c <= '9') {
    d = c - '0';
  } else if (base == 16 && c >= 'a' && c <= 'f') {
    d = c - 'a' + 10;
  } else if (base == 16 && c >= 'A' && c <= 'F') {
    d = c - 'A' + 10;
  } else {
    return -1;
  }
  return d < base ? d : -2;  // -2: a digit that is not valid in this base
}

}  // namespace

std::uint32_t InetAddr(const char* text) {
  if (text == nullptr)
    return kInaddrNone;
  std::uint64_t parts[4];
  int n = 0;
  const char* p = text;
  for (;;) {
    if (*p < '0' || *p > '9')
      return kInaddrNone;  // every part starts with a digit
    int base = 10;
    if (*p == '0') {
      ++p;
      base = 8;
      if (*p == 'x' || *p == 'X') {
        ++p;
        base = 16;
      }
    }
    std::uint64_t value = 0;
    for (;; ++p) {
      int d = DigitValue(*p, base);
      if (d == -2)
        return kInaddrNone;
      if (d < 0)
        break;
      value = value * base + d;
      if (value > 0xFFFFFFFFu)
        return kInaddrNone;
    }
    parts[n++] = value;
    if (*p != '.')
      break;
    if (n == 4)
      return kInaddrNone;
    ++p;
  }
  if (*p != '\0' && !IsSpace(*p))
    return kInaddrNone;

  // The last part fills the bits the earlier 8-bit parts leave.
  static const std::uint64_t kLastMax[4] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
  for (int i = 0; i + 1 < n; ++i) {
    if (parts[i] > 0xFF)
      return kInaddrNone;
  }
  if (parts[n - 1] > kLastMax[n - 1])
    return kInaddrNone;
  std::uint32_t host = static_cast<std::uint32_t>(parts[n - 1]);
  for (int i = 0; i + 1 < n; ++i)
    host |= static_cast<std::uint32_t>(parts[i]) << (24 - 8 * i);
  return HostToNet32(host);
}

std::string InetNtoa(std::uint32_t addr) {
  unsigned char b[4];
  std::memcpy(b, &addr, 4);
  std::string out;
  for (int i = 0; i < 4; ++i) {
    if (i != 0)
      out += '.';
    out += std::to_string(b[i]);
  }
  return out;
}

std::uint32_t HostToNet32(std::uint32_t v) {
  const unsigned char b[4] = {static_cast<unsigned char>(v >> 24),
                              static_cast<unsigned char>(v >> 16),
                              static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  return FromBytes(b);
}

std::uint32_t NetToHost32(std::uint32_t v) {
  unsigned char b[4];
  std::memcpy(b, &v, 4);
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
         b[3];
}

}  // namespace vx::net
