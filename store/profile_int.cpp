#include "store/profile_int.h"

#include "store/ini_document.h"

namespace vx::ini {

namespace {
constexpr std::size_t kMaxIntCharacters = 29;
}  // namespace

std::optional<std::int32_t> ParseProfileInt(std::string_view value) {
  if (value.empty()) {
    return std::nullopt;
  }
  value = value.substr(0, kMaxIntCharacters);
  std::size_t i = 0;
  while (i < value.size() && IsBlank(value[i])) {
    ++i;
  }
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
    negative = value[i] == '-';
    ++i;
  }
  std::uint32_t sum = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    sum = sum * 10u + static_cast<std::uint32_t>(value[i] - '0');
  }
  if (negative) {
    sum = 0u - sum;
  }
  // Two's complement reinterpretation without relying on implementation-defined conversion.
  if (sum <= static_cast<std::uint32_t>(INT32_MAX)) {
    return static_cast<std::int32_t>(sum);
  }
  return -static_cast<std::int32_t>(~sum) - 1;
}

std::int32_t ProfileIntOr(const std::optional<std::string>& value, std::int32_t defaultValue) {
  if (!value) {
    return defaultValue;
  }
  return ParseProfileInt(*value).value_or(defaultValue);
}

}  // namespace vx::ini
