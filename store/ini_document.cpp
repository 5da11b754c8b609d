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

// Byte order after folding ASCII case: the order of the section index.
bool LessIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = FoldCase(a[i]);
    unsigned char y = FoldCase(b[i]);
    if (x != y) {
      return x < y;
    }
  }
  return a.size() < b.size();
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

void IniDocument::Index() {
  m_sections.clear();
  m_keys.clear();
  m_byName.clear();
  if (m_text.size() > std::numeric_limits<std::uint32_t>::max()) {
    return;
  }
  const std::string_view text(m_text);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = text.substr(pos, end - pos);
    if (std::optional<std::string_view> name = HeaderName(line)) {
      const auto nameBegin = static_cast<std::uint32_t>(name->data() - text.data());
      m_sections.push_back(Section{static_cast<std::uint32_t>(end), nameBegin,
                                   nameBegin + static_cast<std::uint32_t>(name->size()),
                                   static_cast<std::uint32_t>(m_keys.size())});
    } else if (!m_sections.empty() && line.find('=') != std::string_view::npos) {
      m_keys.push_back(Span{static_cast<std::uint32_t>(pos), static_cast<std::uint32_t>(end)});
    }
    pos = NextLine(end);
  }
  m_byName.resize(m_sections.size());
  std::iota(m_byName.begin(), m_byName.end(), 0u);
  // Equal names keep file order, so the first section of a name comes first.
  std::stable_sort(m_byName.begin(), m_byName.end(), [this](std::uint32_t a, std::uint32_t b) {
    return LessIgnoringCase(SectionName(a), SectionName(b));
  });
}

std::string_view IniDocument::SectionName(std::size_t section) const {
  const Section& s = m_sections[section];
  return std::string_view(m_text).substr(s.nameBegin, s.nameEnd - s.nameBegin);
}

std::size_t IniDocument::FindSection(std::string_view section) const {
  auto it = std::lower_bound(
      m_byName.begin(), m_byName.end(), section,
      [this](std::uint32_t s, std::string_view name) { return LessIgnoringCase(SectionName(s), name); });
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
  SplitKey(std::string_view(m_text).substr(m_keys[line].begin, m_keys[line].end - m_keys[line].begin),
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

void IniDocument::InsertLine(std::size_t at, std::string_view text) {
  std::string end = NewLineEnd();
  std::string piece;
  // A last line without a line end gets one before the new line.
  if (at > 0 && at == m_text.size() && !IsLineBreak(m_text.back())) {
    piece = end;
  }
  piece.append(text);
  piece += end;
  m_text.insert(at, piece);
}

void IniDocument::SetString(std::string_view section, std::string_view key,
                            std::string_view value) {
  section = Clean(section);
  key = Clean(key);
  value = Clean(value);
  std::string keyLine = std::string(key) + "=" + std::string(value);

  std::size_t header = FindSection(section);
  if (header == kNone) {
    InsertLine(m_text.size(), "[" + std::string(section) + "]");
    InsertLine(m_text.size(), keyLine);
  } else if (std::size_t line = FindKey(header, key); line != kNone) {
    const Span span = m_keys[line];
    std::size_t keep = m_text.find('=', span.begin) + 1;
    while (keep < span.end && IsBlank(m_text[keep])) {
      ++keep;
    }
    m_text.replace(keep, span.end - keep, value);
  } else {
    const std::size_t first = m_sections[header].firstKey;
    const std::size_t last = KeysEnd(header);
    std::size_t after = last > first ? m_keys[last - 1].end : m_sections[header].headerEnd;
    InsertLine(NextLine(after), keyLine);
  }
  Index();
}

std::string IniDocument::Serialize() const {
  return m_bom + m_text;
}

}  // namespace vx::ini
