#include "tests/support/bytes.h"

#include <cstdint>

namespace vx::test {

std::string Pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

std::string Mismatch(const std::string& got, const std::string& want) {
  if (got == want)
    return std::string();
  std::size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i])
    ++i;
  return "got " + std::to_string(got.size()) + " bytes, want " + std::to_string(want.size()) +
         ", first difference at " + std::to_string(i);
}

std::size_t CountOf(const std::string& haystack, const std::string& needle) {
  if (needle.empty())
    return 0;
  std::size_t n = 0;
  for (auto at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size())) {
    ++n;
  }
  return n;
}

}  // namespace vx::test
