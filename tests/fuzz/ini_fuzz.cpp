// Coverage-guided checks of the INI reader and writer on arbitrary bytes:
// parsing loses nothing, a written value reads back, and a write changes no
// line but the one it must (plus the lines it adds).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "store/ini_document.h"
#include "store/profile_int.h"
#include "store/profile_text.h"
#include "tests/store/ini_line_model.h"

namespace {

using vx::ini::IniDocument;

const char* const kNames[] = {"Num",   "Number", "QueldaUrlList", "1", "2", "127",
                              "Cport", "IP",     "Sport",         "",  "x"};

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// A name the writer can store and the reader can find again: a known name in
// random case, or letters and digits.
std::string PickName(FuzzedDataProvider& in) {
  std::string name;
  if (in.ConsumeBool()) {
    name = kNames[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kNames) - 1)];
    for (char& c : name) {
      if (in.ConsumeBool() && c >= 'a' && c <= 'z') {
        c = static_cast<char>(c - 'a' + 'A');
      }
    }
  } else {
    for (char c : in.ConsumeRandomLengthString(12)) {
      const char alphabet[] = "abcXYZ0123456789";
      name += alphabet[static_cast<unsigned char>(c) % 16];
    }
  }
  return name.empty() ? "s" : name;
}

// A value that reads back unchanged: no blank space at its edges, no quotes.
std::string PickValue(FuzzedDataProvider& in) {
  std::string value;
  for (char c : in.ConsumeRandomLengthString(24)) {
    const char alphabet[] = "0123456789.-+ =;[]abAB";
    value += alphabet[static_cast<unsigned char>(c) % 22];
  }
  std::string_view trimmed = vx::ini::TrimBlank(value);
  return std::string(trimmed);
}

// `after` is `before` with bytes replaced at one place only: inside one line
// (a rewritten value) or between lines (added lines, and the line end the old
// last line may gain).
void CheckOnlyTheWrittenLinesChanged(std::string_view before, std::string_view after) {
  std::size_t head = 0;
  while (head < before.size() && head < after.size() && before[head] == after[head]) {
    ++head;
  }
  std::size_t tail = 0;
  while (tail < before.size() - head && tail < after.size() - head &&
         before[before.size() - 1 - tail] == after[after.size() - 1 - tail]) {
    ++tail;
  }
  std::string_view removed = before.substr(head, before.size() - head - tail);
  std::string_view added = after.substr(head, after.size() - head - tail);
  Check(removed.find_first_of("\r\n") == std::string_view::npos, "no old line end is lost");
  std::size_t newLines = 0;
  for (char c : added) {
    newLines += c == '\n' || c == '\r';
  }
  Check(newLines <= 6, "at most two lines added");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  std::string section = PickName(in);
  std::string key = PickName(in);
  std::string value = PickValue(in);
  std::string file = in.ConsumeRemainingBytesAsString();

  vx::ini::ProfileText text = vx::ini::ProfileText::Decode(file);
  Check(text.Encode() == file, "decoding and parsing keep every byte");
  IniDocument& doc = text.Document();
  const std::string original = doc.Serialize();

  std::vector<std::pair<std::string, std::string>> probes;
  for (const char* s : kNames) {
    for (const char* k : kNames) {
      probes.emplace_back(s, k);
    }
  }
  probes.emplace_back(section, key);
  std::vector<std::optional<std::string>> seen;
  for (const auto& [s, k] : probes) {
    seen.push_back(doc.GetString(s, k));
    if (seen.back()) {
      (void)vx::ini::ParseProfileInt(*seen.back());
    }
  }

  vx::ini::model::LineModel model(original);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    Check(model.Get(probes[i].first, probes[i].second) == seen[i], "lookups match the line model");
  }
  doc.SetString(section, key, value);
  std::string written = doc.Serialize();
  model.Set(section, key, value);
  Check(model.Bytes() == written, "the write matches the line model byte for byte");
  std::string encoded = text.Encode();
  vx::ini::ProfileText again = vx::ini::ProfileText::Decode(encoded);
  Check(again.Encode() == encoded, "the encoded file decodes back unchanged");
  Check(again.Document().GetString(section, key) == value, "the written value reads back encoded");
  IniDocument reread = IniDocument::Parse(written);
  Check(reread.Serialize() == written, "written bytes parse back unchanged");
  Check(reread.GetString(section, key) == value, "the written value reads back");
  CheckOnlyTheWrittenLinesChanged(original, written);

  for (std::size_t i = 0; i < probes.size(); ++i) {
    const auto& [s, k] = probes[i];
    if (vx::ini::EqualsIgnoringCase(s, section) && vx::ini::EqualsIgnoringCase(k, key)) {
      continue;
    }
    Check(reread.GetString(s, k) == seen[i], "other keys keep their values");
  }

  reread.SetString(section, key, value);
  Check(reread.Serialize() == written, "writing the same value again changes nothing");
  return 0;
}
