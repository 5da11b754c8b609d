#include "store/profile_int.h"

#include <gtest/gtest.h>

#include <string>

namespace vx::ini {
namespace {

TEST(ProfileInt, ReadsTheLeadingDecimalDigits) {
  EXPECT_EQ(ParseProfileInt("080"), 80);
  EXPECT_EQ(ParseProfileInt("65535"), 65535);
  EXPECT_EQ(ParseProfileInt("12ab"), 12);
  EXPECT_EQ(ParseProfileInt("0x1F"), 0);
  EXPECT_EQ(ParseProfileInt("abc"), 0);
  EXPECT_EQ(ParseProfileInt(" \t7"), 7);
  EXPECT_EQ(ParseProfileInt("1 2"), 1);
  EXPECT_EQ(ParseProfileInt("+5"), 5);
  EXPECT_EQ(ParseProfileInt("-5"), -5);
  EXPECT_EQ(ParseProfileInt("--5"), 0);
  EXPECT_EQ(ParseProfileInt("-"), 0);
  EXPECT_EQ(ParseProfileInt("\xb6\xcb"), 0);
  EXPECT_EQ(ParseProfileInt(""), std::nullopt);
}

TEST(ProfileInt, HugeNumbersWrapAroundIn32Bits) {
  EXPECT_EQ(ParseProfileInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseProfileInt("2147483648"), INT32_MIN);
  EXPECT_EQ(ParseProfileInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseProfileInt("4294967295"), -1);
  EXPECT_EQ(ParseProfileInt("4294967296"), 0);
  EXPECT_EQ(ParseProfileInt("10000000000"), 1410065408);
  EXPECT_EQ(ParseProfileInt("1" + std::string(32, '0')), 0);  // 10^32 = 2^32 * 5^32
  EXPECT_EQ(ParseProfileInt("-1" + std::string(9999, '0') + "x").has_value(), true);
}

TEST(ProfileInt, MissingOrEmptyValuesGiveTheDefault) {
  EXPECT_EQ(ProfileIntOr(std::nullopt, -1), -1);
  EXPECT_EQ(ProfileIntOr(std::string(""), -1), -1);
  EXPECT_EQ(ProfileIntOr(std::string("x"), -1), 0);
  EXPECT_EQ(ProfileIntOr(std::string("0"), -1), 0);
}

}  // namespace
}  // namespace vx::ini
