// Byte streams for transfer checks.
#pragma once

#include <cstddef>
#include <string>

namespace vx::test {

// A deterministic byte pattern of n bytes; other seeds give other bytes.
std::string Pattern(std::size_t n, unsigned seed = 1);
// Empty when equal, else where and how two streams differ (never the bytes).
std::string Mismatch(const std::string& got, const std::string& want);
// How many times `needle` occurs in `haystack`.
std::size_t CountOf(const std::string& haystack, const std::string& needle);

}  // namespace vx::test
