// The indexed document against the line-list model, on random files made of
// the characters that give INI text its structure: every lookup and every
// write must give the same answers and the same bytes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "store/ini_document.h"
#include "tests/store/ini_line_model.h"

namespace vx::ini {
namespace {

const std::vector<std::string> kNames = {"Num", "num",   "NUMBER", "Number", "1",  "2", "IP",
                                         "ip",  "Cport", "",       "a b",    "x]", "[k"};

std::string RandomFile(std::mt19937& rng) {
  static const std::vector<std::string> kPieces = {
      "[",        "]",   "=",      "\r",    "\n",     "\r\n",
      " ",        "\t",  ";",      "\"",    "'",      std::string(1, '\0'),
      "\xb6\xcb", "Num", "Number", "1",     "2",      "IP",
      "Cport",    "a",   "[1]",    "[Num]", "=7\r\n", "x"};
  std::string file = rng() % 8 == 0 ? "\xEF\xBB\xBF" : "";
  for (int n = static_cast<int>(rng() % 60); n > 0; --n) {
    file += kPieces[rng() % kPieces.size()];
  }
  return file;
}

const std::string& Pick(std::mt19937& rng, const std::vector<std::string>& from) {
  return from[rng() % from.size()];
}

TEST(IniIndex, AnswersAndWritesMatchTheLineModelOnRandomFiles) {
  std::mt19937 rng(20240611);
  // "[k" = "]" writes "[k=]", a line that reads as a header.
  const std::vector<std::string> values = {"", "80", " 9 ", "a\r\nb", "\"q\"", "v=w", "[s]", "]"};
  for (int round = 0; round < 3000; ++round) {
    const std::string file = RandomFile(rng);
    IniDocument doc = IniDocument::Parse(file);
    ASSERT_EQ(doc.Serialize(), file);
    std::string bytes = file;
    for (int step = 0; step < 8; ++step) {
      model::LineModel model(bytes);
      for (const std::string& s : kNames) {
        for (const std::string& k : kNames) {
          ASSERT_EQ(doc.GetString(s, k), model.Get(s, k))
              << "file [" << bytes << "] section [" << s << "] key [" << k << "]";
        }
      }
      const std::string& s = Pick(rng, kNames);
      const std::string& k = Pick(rng, kNames);
      const std::string& v = Pick(rng, values);
      doc.SetString(s, k, v);
      model.Set(s, k, v);
      ASSERT_EQ(doc.Serialize(), model.Bytes())
          << "file [" << bytes << "] set [" << s << "] [" << k << "] [" << v << "]";
      bytes = model.Bytes();
    }
  }
}

}  // namespace
}  // namespace vx::ini
