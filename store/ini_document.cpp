#include "store/ini_document.h"

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

char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
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
  while (!bytes.empty()) {
    std::size_t brk = bytes.find_first_of("\r\n");
    Line line;
    if (brk == std::string_view::npos) {
      line.text = std::string(bytes);
      bytes = {};
    } else {
      std::size_t endSize = bytes.substr(brk, 2) == "\r\n" ? 2 : 1;
      line.text = std::string(bytes.substr(0, brk));
      line.end = std::string(bytes.substr(brk, endSize));
      bytes.remove_prefix(brk + endSize);
    }
    doc.m_lines.push_back(std::move(line));
  }
  return doc;
}

std::size_t IniDocument::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    std::optional<std::string_view> name = HeaderName(m_lines[i].text);
    if (name && EqualsIgnoringCase(*name, section)) {
      return i;
    }
  }
  return kNone;
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < m_lines.size() && !HeaderName(m_lines[i].text)) {
    ++i;
  }
  return i;
}

std::size_t IniDocument::FindKey(std::size_t header, std::string_view key) const {
  std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    std::string_view name;
    std::string_view value;
    if (SplitKey(m_lines[i].text, &name, &value) && EqualsIgnoringCase(name, key)) {
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
  SplitKey(m_lines[line].text, &name, &value);
  // The profile functions hand values over as C strings.
  value = value.substr(0, value.find('\0'));
  return std::string(Unquote(value));
}

std::string IniDocument::NewLineEnd() const {
  for (const Line& line : m_lines) {
    if (!line.end.empty()) {
      return line.end;
    }
  }
  return "\r\n";
}

void IniDocument::InsertLine(std::size_t at, std::string text) {
  std::string end = NewLineEnd();
  if (at > 0 && m_lines[at - 1].end.empty()) {
    m_lines[at - 1].end = end;
  }
  m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), end});
}

void IniDocument::SetString(std::string_view section, std::string_view key,
                            std::string_view value) {
  section = Clean(section);
  key = Clean(key);
  value = Clean(value);
  std::string keyLine = std::string(key) + "=" + std::string(value);

  std::size_t header = FindSection(section);
  if (header == kNone) {
    InsertLine(m_lines.size(), "[" + std::string(section) + "]");
    InsertLine(m_lines.size(), std::move(keyLine));
    return;
  }
  std::size_t line = FindKey(header, key);
  if (line != kNone) {
    std::string& text = m_lines[line].text;
    std::size_t keep = text.find('=') + 1;
    while (keep < text.size() && IsBlank(text[keep])) {
      ++keep;
    }
    text.replace(keep, std::string::npos, value);
    return;
  }
  std::size_t after = header;
  std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    std::string_view name;
    std::string_view val;
    if (SplitKey(m_lines[i].text, &name, &val)) {
      after = i;
    }
  }
  InsertLine(after + 1, std::move(keyLine));
}

std::string IniDocument::Serialize() const {
  std::string out = m_bom;
  for (const Line& line : m_lines) {
    out += line.text;
    out += line.end;
  }
  return out;
}

}  // namespace vx::ini
