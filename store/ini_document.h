// An INI file held as its bytes, read and edited with the results of the
// Windows private-profile functions, so that files written by either side
// read back the same on the other.
//
// Reading:
// - Lines end at CRLF, LF or a lone CR, as for the Windows functions.
// - A UTF-8 byte-order mark at the start of the file is skipped.
// - Blank space (space, tab, CR, VT, FF) around a whole line, around a section
//   name inside its brackets, around a key name and around a value is ignored.
// - "[name]" opens a section; the name ends at the last "]" of the line and
//   anything after it is ignored, as for the Windows functions ("[1] c]" names
//   the section "1] c"). A line starting with "[" without "]" is no header.
// - A line with "=" is a key: the name before the first "=", the value after.
//   A line without "=" (a comment, a stray word) is no key; ";" has no meaning
//   of its own, exactly as for Windows: ";Cport=1" is the key ";Cport".
// - Section and key names match without regard to ASCII case; other bytes
//   (GBK, UTF-8, garbage, NUL) match only themselves.
// - Duplicates: only the first section of a name counts, and in it the first
//   key of a name; later ones are ignored when reading and never written.
// - One pair of matching quotes ('...' or "...") around a value is removed,
//   and a value ends at a NUL byte, as it reaches callers as a C string.
// - Lines before the first section belong to none and are never found.
//
// Writing, which changes only the lines it must:
// - An existing key keeps its line: the text up to the "=" and the blank space
//   after it stays, the value after it is replaced, the line end stays.
// - A new key goes right after the last key line of its section (so blank
//   lines and comments before the next section stay where they were), or right
//   after the header of a section without keys.
// - A new section goes at the end of the file, with no blank line before it.
// - New lines take the line end of the file's first line (CRLF, LF, CR); a new
//   file gets CRLF, as Windows writes it, so Windows tools keep seeing one
//   consistent style.
// - Everything else, the byte-order mark and a missing final line end included,
//   survives byte for byte. CR, LF and NUL would break the line structure, so a
//   written name or value ends before the first of them.
//
// Cost: parsing is two passes over the bytes plus a sort of the section names;
// besides the bytes themselves the document keeps 8 bytes per key line and 20
// per section header (its entry and its place in the name index), nothing for
// other lines. A lookup is a binary search for
// the section and a scan of that section's keys; a write moves the bytes and
// the index behind it. Offsets are 32-bit: a
// document above 4 GiB keeps its bytes but finds nothing (the file reader
// refuses far smaller files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::ini {

class IniDocument {
 public:
  IniDocument() = default;
  static IniDocument Parse(std::string_view bytes);

  // The value as the private-profile functions return it, or nothing when the
  // section or the key does not exist.
  std::optional<std::string> GetString(std::string_view section, std::string_view key) const;
  // Creates the section and the key as needed.
  void SetString(std::string_view section, std::string_view key, std::string_view value);

  std::string Serialize() const;

 private:
  // A line's text without its line end, as offsets into m_text.
  struct Span {
    std::uint32_t begin;
    std::uint32_t end;
  };
  struct Section {
    Span name;                // the trimmed name inside the brackets
    std::uint32_t headerEnd;  // the end of the header line's text
    std::uint32_t firstKey;   // this section's key lines start here in m_keys
  };
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  void Index();
  // Calls header(name, line) for every header line and key(line) for every
  // key line inside a section, in file order.
  template <class OnHeader, class OnKey>
  void ScanLines(OnHeader header, OnKey key) const;
  std::string_view SectionName(std::size_t section) const;
  std::size_t FindSection(std::string_view section) const;
  // One past the last key line of `section` in m_keys.
  std::size_t KeysEnd(std::size_t section) const;
  std::size_t FindKey(std::size_t section, std::string_view key) const;
  // The offset just past the line end that follows the line text ending at `textEnd`.
  std::size_t NextLine(std::size_t textEnd) const;
  std::string NewLineEnd() const;
  // Inserts `text` as a line at offset `at` (a line start or the end) and
  // moves the index behind it; returns the new line's span, not yet indexed.
  Span InsertLine(std::size_t at, std::string_view text);
  // Moves every indexed line starting at or after `from` by `by` bytes.
  void ShiftFrom(std::size_t from, std::int64_t by);

  std::string m_bom;
  std::string m_text;                   // everything after the byte-order mark
  std::vector<Section> m_sections;      // in file order
  std::vector<Span> m_keys;             // key lines inside sections, in file order
  std::vector<std::uint32_t> m_byName;  // section indices by folded name, then file order
};

// Blank space as the profile functions skip it; ASCII only, no locale.
bool IsBlank(char c);
std::string_view TrimBlank(std::string_view s);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace vx::ini
