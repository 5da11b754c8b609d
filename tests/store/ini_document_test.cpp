#include "store/ini_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vx::ini {
namespace {

std::string Get(const std::string& file, const std::string& section, const std::string& key) {
  return IniDocument::Parse(file).GetString(section, key).value_or("<none>");
}

std::string Set(const std::string& file, const std::string& section, const std::string& key,
                const std::string& value) {
  IniDocument doc = IniDocument::Parse(file);
  doc.SetString(section, key, value);
  return doc.Serialize();
}

TEST(IniDocument, AnyBytesSurviveParsingByteForByte) {
  const std::vector<std::string> files = {
      "",
      "\n",
      "\r\n\r\n",
      "[Num]\r\nNumber=1\r\n",
      "[Num]\nNumber=1",
      "mixed\r\nends\nhere\r\r\n\r",
      "old\rstyle\r\rends",
      "\xEF\xBB\xBF[Num]\r\nNumber=3\r\n",
      std::string("bin\0ary\xff\xfe\x01[x\n=\n]\n", 17),
      "[\xb6\xcb\xbf\xda]\r\nIP=\xd3\xb3\xc9\xe4\r\n",
      std::string(10000, 'x') + "\n[1]\n" + std::string(10000, '=') + "\n",
  };
  for (const std::string& f : files) {
    EXPECT_EQ(IniDocument::Parse(f).Serialize(), f);
  }
}

TEST(IniDocument, ReadsNamesAndValuesAsTheProfileFunctionsDo) {
  const std::string file =
      "top=before any section\r\n"
      "  [ Num ]  ; a comment after the header\r\n"
      "\tNumber \t=  42  \r\n"
      "Quoted=\"  spaced  \"\r\n"
      "Single='x'\r\n"
      "Twice=\"\"a\"\"\r\n"
      "Unmatched=\"a'\r\n"
      "Lone=\"\r\n"
      "Empty=\r\n"
      "Equals=a=b\r\n"
      "bare line without value\r\n"
      ";Hidden=1\r\n"
      "[broken\r\n"
      "After=still Num\r\n";
  EXPECT_EQ(Get(file, "num", "NUMBER"), "42");
  EXPECT_EQ(Get(file, "Num", "Quoted"), "  spaced  ");
  EXPECT_EQ(Get(file, "Num", "Single"), "x");
  EXPECT_EQ(Get(file, "Num", "Twice"), "\"a\"");
  EXPECT_EQ(Get(file, "Num", "Unmatched"), "\"a'");
  EXPECT_EQ(Get(file, "Num", "Lone"), "\"");
  EXPECT_EQ(Get(file, "Num", "Empty"), "");
  EXPECT_EQ(Get(file, "Num", "Equals"), "a=b");
  EXPECT_EQ(Get(file, "Num", "bare line without value"), "<none>");
  EXPECT_EQ(Get(file, "Num", "Hidden"), "<none>");
  EXPECT_EQ(Get(file, "Num", ";Hidden"), "1");
  EXPECT_EQ(Get(file, "Num", "After"), "still Num");
  EXPECT_EQ(Get(file, "Num", "top"), "<none>");
  EXPECT_EQ(Get(file, "broken", "After"), "<none>");
}

TEST(IniDocument, HeadersEndAtTheirLastBracketAndValuesAtNul) {
  EXPECT_EQ(Get("[1] c]\r\nIP=a\r\n", "1", "IP"), "<none>");
  EXPECT_EQ(Get("[1] c]\r\nIP=a\r\n", "1] c", "IP"), "a");
  EXPECT_EQ(Get(std::string("[1]\r\nIP=a\0z\r\n", 13), "1", "IP"), "a");
}

TEST(IniDocument, ALoneCarriageReturnEndsALine) {
  const std::string file = "[1]\rIP=a\rSport=5\r\n[2]\nx=1\r";
  EXPECT_EQ(Get(file, "1", "IP"), "a");
  EXPECT_EQ(Get(file, "1", "Sport"), "5");
  EXPECT_EQ(Get(file, "2", "x"), "1");
  EXPECT_EQ(Set(file, "1", "Cport", "7"), "[1]\rIP=a\rSport=5\r\nCport=7\r[2]\nx=1\r");
  EXPECT_EQ(Set(file, "2", "x", "2"), "[1]\rIP=a\rSport=5\r\n[2]\nx=2\r");
}

TEST(IniDocument, FirstSectionAndFirstKeyOfANameWin) {
  const std::string file = "[1]\nIP=first\nip=second\n[2]\nIP=two\n[1]\nIP=third\nCport=9\n";
  EXPECT_EQ(Get(file, "1", "IP"), "first");
  EXPECT_EQ(Get(file, "1", "Cport"), "<none>");  // only in the later duplicate
  EXPECT_EQ(Set(file, "1", "IP", "new"),
            "[1]\nIP=new\nip=second\n[2]\nIP=two\n[1]\nIP=third\nCport=9\n");
  EXPECT_EQ(Set(file, "1", "Cport", "5"),
            "[1]\nIP=first\nip=second\nCport=5\n[2]\nIP=two\n[1]\nIP=third\nCport=9\n");
}

TEST(IniDocument, DamagedBytesAroundOurSectionsDoNotHideThem) {
  std::string garbage("\x00\xff\x80[\x01=\x02]\x7f", 9);
  const std::string file = "\xEF\xBB\xBF[Num]\r\nNumber=2\r\n" + garbage +
                           "\r\n[\xb6\xcb]\r\nIP=\xd3\xb3\r\n" + std::string(10000, 'z') +
                           "\r\n[1]\r\nCport=80" + std::string(10000, '7') +
                           "\r\nIP=" + std::string(10000, 'a') + "\r\n";
  EXPECT_EQ(Get(file, "Num", "Number"), "2");
  EXPECT_EQ(Get(file, "\xb6\xcb", "IP"), "\xd3\xb3");
  EXPECT_EQ(Get(file, "1", "IP"), std::string(10000, 'a'));
  EXPECT_EQ(Get(file, "1", "Cport").size(), 10002u);

  std::string changed = Set(file, "1", "Sport", "22");
  EXPECT_EQ(changed, file + "Sport=22\r\n");
  EXPECT_EQ(Set(changed, "Num", "Number", "3"),
            "\xEF\xBB\xBF[Num]\r\nNumber=3\r\n" + changed.substr(20));
}

TEST(IniDocument, NewKeysGoAfterTheLastKeyOfTheirSection) {
  const std::string file = "[1]\r\nCport=80\r\n; about two\r\n\r\n[2]\r\n\r\n[3]\r\nx=1";
  EXPECT_EQ(Set(file, "1", "IP", "1.1.1.1"),
            "[1]\r\nCport=80\r\nIP=1.1.1.1\r\n; about two\r\n\r\n[2]\r\n\r\n[3]\r\nx=1");
  EXPECT_EQ(Set(file, "2", "IP", "2.2.2.2"),
            "[1]\r\nCport=80\r\n; about two\r\n\r\n[2]\r\nIP=2.2.2.2\r\n\r\n[3]\r\nx=1");
  // The last line had no line end; it gets one before the new line.
  EXPECT_EQ(Set(file, "3", "y", "2"),
            "[1]\r\nCport=80\r\n; about two\r\n\r\n[2]\r\n\r\n[3]\r\nx=1\r\ny=2\r\n");
  EXPECT_EQ(Set(file, "4", "z", ""),
            "[1]\r\nCport=80\r\n; about two\r\n\r\n[2]\r\n\r\n[3]\r\nx=1\r\n[4]\r\nz=\r\n");
}

TEST(IniDocument, NewLinesFollowTheFilesLineEnds) {
  EXPECT_EQ(Set("", "Num", "Number", "0"), "[Num]\r\nNumber=0\r\n");
  EXPECT_EQ(Set("[Num]\nNumber=1\n", "1", "IP", "a"), "[Num]\nNumber=1\n[1]\nIP=a\n");
  EXPECT_EQ(Set("; only a comment", "1", "IP", "a"), "; only a comment\r\n[1]\r\nIP=a\r\n");
  EXPECT_EQ(Set("[Num]\nNumber=1", "Num", "Number", "2"), "[Num]\nNumber=2");
}

TEST(IniDocument, RewritingAKeyKeepsItsNameSpacingAndLineEnd) {
  EXPECT_EQ(Set("[1]\r\n  cport =  \"80\"  \r\nIP=x\n", "1", "Cport", "8080"),
            "[1]\r\n  cport =  8080\r\nIP=x\n");
  EXPECT_EQ(Set("[1]\r\nCport=80\r\n", "1", "Cport", ""), "[1]\r\nCport=\r\n");
}

TEST(IniDocument, WrittenTextCannotAddLines) {
  std::string out = Set("[1]\r\n", "1", "IP", "1.2.3.4\r\n[Num]\r\nNumber=99");
  EXPECT_EQ(out, "[1]\r\nIP=1.2.3.4\r\n");
  EXPECT_EQ(Get(out, "Num", "Number"), "<none>");
  EXPECT_EQ(Set("", std::string("a\nb", 3), std::string("k\0x", 3), "v"), "[a]\r\nk=v\r\n");
}

}  // namespace
}  // namespace vx::ini
