// Integer values of profile keys, read as GetPrivateProfileInt reads them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vx::ini {

// The leading decimal digits of a value, after blank space and one optional
// sign: "080" is 80, "12ab" is 12, "abc" is 0. An empty value yields nothing,
// so the caller's default applies, as for a missing key. Only the first 29
// characters of the value count, as the Windows functions read the value into
// a 30-character buffer before converting it (measured against them). The
// digits are summed in unsigned 32 bits and wrap around, as Windows' own
// string-to-integer conversion does, and the result is taken as signed:
// "4294967295" is -1, "4294967296" is 0, "2147483648" is INT32_MIN. No input
// is undefined.
std::optional<std::int32_t> ParseProfileInt(std::string_view value);

// The value a read returns with its default: nothing becomes `defaultValue`.
std::int32_t ProfileIntOr(const std::optional<std::string>& value, std::int32_t defaultValue);

}  // namespace vx::ini
