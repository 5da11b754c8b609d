#include "tests/store/ini_line_model.h"

#include "store/ini_document.h"

namespace vx::ini::model {

namespace {

// The section name of a header line, or nothing for any other line.
std::optional<std::string> NameInBrackets(std::string_view line) {
  std::string_view t = TrimBlank(line);
  std::size_t close = t.rfind(']');
  if (t.empty() || t[0] != '[' || close == std::string_view::npos || close == 0) {
    return std::nullopt;
  }
  return std::string(TrimBlank(t.substr(1, close - 1)));
}

// Name and value of a key line.
std::optional<std::pair<std::string, std::string>> KeyAndValue(std::string_view line) {
  std::size_t eq = line.find('=');
  if (NameInBrackets(line) || eq == std::string_view::npos) {
    return std::nullopt;
  }
  return std::make_pair(std::string(TrimBlank(line.substr(0, eq))),
                        std::string(TrimBlank(line.substr(eq + 1))));
}

std::string UpToBreak(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\r' || c == '\n' || c == '\0') {
      break;
    }
    out += c;
  }
  return out;
}

}  // namespace

LineModel::LineModel(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    m_bom = "\xEF\xBB\xBF";
    bytes.remove_prefix(3);
  }
  Line current;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c != '\r' && c != '\n') {
      current.text += c;
      continue;
    }
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      current.end = "\r\n";
      ++i;
    } else {
      current.end = std::string(1, c);
    }
    m_lines.push_back(current);
    current = Line();
  }
  if (!current.text.empty()) {
    m_lines.push_back(current);
  }
}

int LineModel::Header(std::string_view section) const {
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    std::optional<std::string> name = NameInBrackets(m_lines[i].text);
    if (name && EqualsIgnoringCase(*name, section)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int LineModel::Key(int header, std::string_view key) const {
  for (std::size_t i = header + 1; i < m_lines.size() && !NameInBrackets(m_lines[i].text); ++i) {
    auto kv = KeyAndValue(m_lines[i].text);
    if (kv && EqualsIgnoringCase(kv->first, key)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::optional<std::string> LineModel::Get(std::string_view section, std::string_view key) const {
  int h = Header(section);
  int k = h < 0 ? -1 : Key(h, key);
  if (k < 0) {
    return std::nullopt;
  }
  std::string v = KeyAndValue(m_lines[k].text)->second;
  v = v.substr(0, v.find('\0'));
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

void LineModel::Insert(int at, std::string text) {
  std::string end = "\r\n";
  for (const Line& l : m_lines) {
    if (!l.end.empty()) {
      end = l.end;
      break;
    }
  }
  if (at > 0 && m_lines[at - 1].end.empty()) {
    m_lines[at - 1].end = end;
  }
  m_lines.insert(m_lines.begin() + at, Line{std::move(text), end});
}

void LineModel::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string s = UpToBreak(section);
  const std::string k = UpToBreak(key);
  const std::string v = UpToBreak(value);
  int h = Header(s);
  if (h < 0) {
    Insert(static_cast<int>(m_lines.size()), "[" + s + "]");
    Insert(static_cast<int>(m_lines.size()), k + "=" + v);
    return;
  }
  if (int line = Key(h, k); line >= 0) {
    std::string& text = m_lines[line].text;
    std::size_t keep = text.find('=') + 1;
    while (keep < text.size() && IsBlank(text[keep])) {
      ++keep;
    }
    text = text.substr(0, keep) + v;
    return;
  }
  int after = h;
  for (std::size_t i = h + 1; i < m_lines.size() && !NameInBrackets(m_lines[i].text); ++i) {
    if (KeyAndValue(m_lines[i].text)) {
      after = static_cast<int>(i);
    }
  }
  Insert(after + 1, k + "=" + v);
}

std::string LineModel::Bytes() const {
  std::string out = m_bom;
  for (const Line& l : m_lines) {
    out += l.text + l.end;
  }
  return out;
}

}  // namespace vx::ini::model
