#include "store/ini_document.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace vx::ini {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::optional<std::string_view> HeaderName(std::string_view text) {
  std::string_view t = TrimBlank(text);
  if (t.empty() || t.front() != '[') {
    return std::nullopt;
  }
  std::size_t close = t.rfind(']');
  if (close == 0 || close == std::string_view::npos) {
    return std::nullopt;
  }
  return TrimBlank(t.substr(1, close - 1));
}

bool SplitKey(std::string_view text, std::string_view* name, std::string_view* value) {
  if (HeaderName(text)) {
    return false;
  }
  std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) {
    return false;
  }
  *name = TrimBlank(text.substr(0, eq));
  *value = TrimBlank(text.substr(eq + 1));
  return true;
}

std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// A written name or value stops before anything that would end its line.
std::string_view Clean(std::string_view s) {
  std::size_t cut = s.find_first_of(std::string_view("\r\n\0", 3));
  return cut == std::string_view::npos ? s : s.substr(0, cut);
}

unsigned char FoldCase(char c) {
  return static_cast<unsigned char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
}

// Byte order after folding ASCII case, the order of the section index:
// negative, zero or positive.
int CompareIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = FoldCase(a[i]);
    unsigned char y = FoldCase(b[i]);
    if (x != y) {
      return x < y ? -1 : 1;
    }
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view TrimBlank(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && IsBlank(s[b])) {
    ++b;
  }
  while (e > b && IsBlank(s[e - 1])) {
    --e;
  }
  return s.substr(b, e - b);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) {
      return false;
    }
  }
  return true;
}

IniDocument IniDocument::Parse(std::string_view bytes) {
  IniDocument doc;
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    doc.m_bom = std::string(kUtf8Bom);
    bytes.remove_prefix(kUtf8Bom.size());
  }
  doc.m_text = std::string(bytes);
  doc.Index();
  return doc;
}

std::size_t IniDocument::NextLine(std::size_t textEnd) const {
  if (textEnd >= m_text.size()) {
    return m_text.size();
  }
  bool crlf = m_text[textEnd] == '\r' && textEnd + 1 < m_text.size() && m_text[textEnd + 1] == '\n';
  return textEnd + (crlf ? 2 : 1);
}

template <class OnHeader, class OnKey>
void IniDocument::ScanLines(OnHeader header, OnKey key) const {
  const std::string_view text(m_text);
  bool inSection = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(pos, end - pos);
    const Span span{static_cast<std::uint32_t>(pos), static_cast<std::uint32_t>(end)};
    if (std::optional<std::string_view> name = HeaderName(line)) {
      inSection = true;
      const auto nameBegin = static_cast<std::uint32_t>(name->data() - text.data());
      header(Span{nameBegin, nameBegin + static_cast<std::uint32_t>(name->size())}, span);
    } else if (inSection && line.find('=') != std::string_view::npos) {
      key(span);
    }
    pos = NextLine(end);
  }
}

void IniDocument::Index() {
  m_sections.clear();
  m_keys.clear();
  m_byName.clear();
  if (m_text.size() > std::numeric_limits<std::uint32_t>::max()) {
    return;
  }
  // Counted first, so that each table is allocated once at its exact size.
  std::size_t headers = 0;
  std::size_t keys = 0;
  ScanLines([&](Span, Span) { ++headers; }, [&](Span) { ++keys; });
  m_sections.reserve(headers);
  m_keys.reserve(keys);
  ScanLines(
      [&](Span name, Span line) {
        m_sections.push_back(Section{name, line.end, static_cast<std::uint32_t>(m_keys.size())});
      },
      [&](Span line) { m_keys.push_back(line); });
  m_byName.resize(m_sections.size());
  std::iota(m_byName.begin(), m_byName.end(), 0u);
  // Equal names in file order, so the first section of a name comes first.
  std::sort(m_byName.begin(), m_byName.end(), [this](std::uint32_t a, std::uint32_t b) {
    int order = CompareIgnoringCase(SectionName(a), SectionName(b));
    return order != 0 ? order < 0 : a < b;
  });
}

std::string_view IniDocument::SectionName(std::size_t section) const {
  const Span& name = m_sections[section].name;
  return std::string_view(m_text).substr(name.begin, name.end - name.begin);
}

std::size_t IniDocument::FindSection(std::string_view section) const {
  auto it = std::lower_bound(m_byName.begin(), m_byName.end(), section,
                             [this](std::uint32_t s, std::string_view name) {
                               return CompareIgnoringCase(SectionName(s), name) < 0;
                             });
  if (it == m_byName.end() || !EqualsIgnoringCase(SectionName(*it), section)) {
    return kNone;
  }
  return *it;
}

std::size_t IniDocument::KeysEnd(std::size_t section) const {
  return section + 1 < m_sections.size() ? m_sections[section + 1].firstKey : m_keys.size();
}

std::size_t IniDocument::FindKey(std::size_t section, std::string_view key) const {
  const std::string_view text(m_text);
  for (std::size_t i = m_sections[section].firstKey, end = KeysEnd(section); i < end; ++i) {
    std::string_view name;
    std::string_view value;
    if (SplitKey(text.substr(m_keys[i].begin, m_keys[i].end - m_keys[i].begin), &name, &value) &&
        EqualsIgnoringCase(name, key)) {
      return i;
    }
  }
  return kNone;
}

std::optional<std::string> IniDocument::GetString(std::string_view section,
                                                  std::string_view key) const {
  std::size_t header = FindSection(section);
  if (header == kNone) {
    return std::nullopt;
  }
  std::size_t line = FindKey(header, key);
  if (line == kNone) {
    return std::nullopt;
  }
  std::string_view name;
  std::string_view value;
  SplitKey(
      std::string_view(m_text).substr(m_keys[line].begin, m_keys[line].end - m_keys[line].begin),
      &name, &value);
  // The profile functions hand values over as C strings.
  value = value.substr(0, value.find('\0'));
  return std::string(Unquote(value));
}

std::string IniDocument::NewLineEnd() const {
  std::size_t brk = m_text.find_first_of("\r\n");
  if (brk == std::string::npos) {
    return "\r\n";
  }
  return m_text.substr(brk, NextLine(brk) - brk);
}

void IniDocument::ShiftFrom(std::size_t from, std::int64_t by) {
  auto shift = [&](Span& line) {
    if (line.begin >= from) {
      line.begin = static_cast<std::uint32_t>(line.begin + by);
      line.end = static_cast<std::uint32_t>(line.end + by);
    }
  };
  for (Span& key : m_keys) {
    shift(key);
  }
  for (Section& section : m_sections) {
    if (section.name.begin >= from) {
      shift(section.name);
      section.headerEnd = static_cast<std::uint32_t>(section.headerEnd + by);
    }
  }
}

IniDocument::Span IniDocument::InsertLine(std::size_t at, std::string_view text) {
  std::string end = NewLineEnd();
  std::string piece;
  // A last line without a line end gets one before the new line.
  if (at > 0 && at == m_text.size() && !IsLineBreak(m_text.back())) {
    piece = end;
  }
  const std::size_t begin = at + piece.size();
  piece.append(text);
  piece += end;
  m_text.insert(at, piece);
  ShiftFrom(at, static_cast<std::int64_t>(piece.size()));
  return Span{static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(begin + text.size())};
}

// The index follows each edit in place, which costs a pass over the index
// rather than a new parse and sort. Where a written line would read as a
// header ("[a" = "]" makes "[a=]"), the document is indexed afresh.
void IniDocument::SetString(std::string_view section, std::string_view key,
                            std::string_view value) {
  section = Clean(section);
  key = Clean(key);
  value = Clean(value);
  const std::string keyLine = std::string(key) + "=" + std::string(value);
  const bool keyReadsAsHeader = HeaderName(keyLine).has_value();

  const std::size_t header = FindSection(section);
  if (header == kNone) {
    const Span headerLine = InsertLine(m_text.size(), "[" + std::string(section) + "]");
    const Span newKey = InsertLine(m_text.size(), keyLine);
    const auto added = static_cast<std::uint32_t>(m_sections.size());
    const std::string_view headerText =
        std::string_view(m_text).substr(headerLine.begin, headerLine.end - headerLine.begin);
    const std::string_view parsedName = *HeaderName(headerText);
    const auto nameBegin = static_cast<std::uint32_t>(parsedName.data() - m_text.data());
    m_sections.push_back(
        Section{Span{nameBegin, nameBegin + static_cast<std::uint32_t>(parsedName.size())},
                headerLine.end, static_cast<std::uint32_t>(m_keys.size())});
    const std::string_view name = SectionName(added);
    m_byName.insert(std::lower_bound(m_byName.begin(), m_byName.end(), name,
                                     [this](std::uint32_t s, std::string_view n) {
                                       return CompareIgnoringCase(SectionName(s), n) < 0;
                                     }),
                    added);
    m_keys.push_back(newKey);
  } else if (const std::size_t line = FindKey(header, key); line != kNone) {
    Span& span = m_keys[line];
    std::size_t keep = m_text.find('=', span.begin) + 1;
    while (keep < span.end && IsBlank(m_text[keep])) {
      ++keep;
    }
    const std::size_t oldEnd = span.end;
    m_text.replace(keep, oldEnd - keep, value);
    const std::size_t newEnd = keep + value.size();
    ShiftFrom(oldEnd, static_cast<std::int64_t>(newEnd) - static_cast<std::int64_t>(oldEnd));
    span.end = static_cast<std::uint32_t>(newEnd);
    if (HeaderName(std::string_view(m_text).substr(span.begin, span.end - span.begin))) {
      Index();
    }
    return;
  } else {
    const std::size_t first = m_sections[header].firstKey;
    const std::size_t last = KeysEnd(header);
    const std::size_t after = last > first ? m_keys[last - 1].end : m_sections[header].headerEnd;
    const Span newKey = InsertLine(NextLine(after), keyLine);
    m_keys.insert(m_keys.begin() + static_cast<std::ptrdiff_t>(last), newKey);
    for (std::size_t s = header + 1; s < m_sections.size(); ++s) {
      ++m_sections[s].firstKey;
    }
  }
  if (keyReadsAsHeader || m_text.size() > std::numeric_limits<std::uint32_t>::max()) {
    Index();
  }
}

std::string IniDocument::Serialize() const {
  return m_bom + m_text;
}

}  // namespace vx::ini
