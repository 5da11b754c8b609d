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
  EXPECT_EQ(ParseProfileInt("1" + std::string(28, '0')),
            1 << 28);  // 10^28 = 2^28 * 5^28, 5^28 = 1 mod 16
}

TEST(ProfileInt, OnlyTheFirst29CharactersCount) {
  EXPECT_EQ(ParseProfileInt(std::string(29, '9')), -1610612737);  // (10^29 - 1) mod 2^32
  EXPECT_EQ(ParseProfileInt(std::string(10000, '9')), -1610612737);
  EXPECT_EQ(ParseProfileInt(std::string(28, '0') + "7"), 7);
  EXPECT_EQ(ParseProfileInt(std::string(29, '0') + "7"), 0);
  EXPECT_EQ(ParseProfileInt(std::string(28, ' ') + "-5"), 0);
}

TEST(ProfileInt, MissingOrEmptyValuesGiveTheDefault) {
  EXPECT_EQ(ProfileIntOr(std::nullopt, -1), -1);
  EXPECT_EQ(ProfileIntOr(std::string(""), -1), -1);
  EXPECT_EQ(ProfileIntOr(std::string("x"), -1), 0);
  EXPECT_EQ(ProfileIntOr(std::string("0"), -1), 0);
}

}  // namespace
}  // namespace vx::ini
