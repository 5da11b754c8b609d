#include "store/profile_text.h"

#include <gtest/gtest.h>

#include <string>

namespace vx::ini {
namespace {

std::string Utf16Le(const std::u16string& units) {
  std::string out = "\xFF\xFE";
  for (char16_t u : units) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

TEST(ProfileText, Utf16FilesAreReadAndWrittenInTheirOwnEncoding) {
  std::string le = Utf16Le(u"; 端口\r\n[Num]\r\nNumber=3\r\n");
  ProfileText text = ProfileText::Decode(le);
  EXPECT_EQ(text.GetEncoding(), ProfileText::Encoding::kUtf16Le);
  EXPECT_EQ(text.Document().GetString("Num", "Number"), "3");
  text.Document().SetString("Num", "Number", "4");
  text.Document().SetString("1", "IP", "10.0.0.5");
  EXPECT_EQ(text.Encode(), Utf16Le(u"; 端口\r\n[Num]\r\nNumber=4\r\n[1]\r\nIP=10.0.0.5\r\n"));

  std::string be(
      "\xFE\xFF\x00[\x00"
      "1\x00]\x00\n\x00I\x00P\x00=\x00x",
      18);
  ProfileText big = ProfileText::Decode(be);
  EXPECT_EQ(big.Document().GetString("1", "IP"), "x");
  big.Document().SetString("1", "IP", "y");
  EXPECT_EQ(big.Encode(), std::string("\xFE\xFF\x00[\x00"
                                      "1\x00]\x00\n\x00I\x00P\x00=\x00y",
                                      18));
}

TEST(ProfileText, UnitsThatAreNoTextSurviveARewrite) {
  // A pair, two lone surrogates, a NUL unit, and an odd last byte.
  std::u16string units = u"[1]\r\nK=\U0001F600\xDC00\xD800\r\nIP=a";
  units += char16_t{0};
  units += u"b\r\n";
  std::string file = Utf16Le(units) + "z";
  ProfileText text = ProfileText::Decode(file);
  EXPECT_EQ(text.Encode(), file);
  EXPECT_EQ(text.Document().GetString("1", "IP"), "a");
  text.Document().SetString("1", "Sport", "22");
  EXPECT_EQ(text.Encode(), Utf16Le(units) + Utf16Le(u"Sport=22\r\n").substr(2) + "z");
}

TEST(ProfileText, AnyBytesConvertWithoutLoss) {
  EXPECT_EQ(ProfileText::Decode("\xFF\xFE").Encode(), "\xFF\xFE");
  EXPECT_EQ(ProfileText::Decode("\xFF").Encode(), "\xFF");
  EXPECT_EQ(ProfileText::Decode(std::string("\xFE\xFF\xD8", 3)).Encode(),
            std::string("\xFE\xFF\xD8", 3));
  // Bytes that are no UTF-8 become one unit each instead of vanishing.
  EXPECT_EQ(Utf8ToUtf16("a\xFF\xC0\x80\xED\xA0"),
            std::u16string(u"a\u00FF\u00C0\u0080\u00ED\u00A0"));
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xE7\xAB\xAF\xF0\x9F\x98\x80")),
            "\xE7\xAB\xAF\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace vx::ini
