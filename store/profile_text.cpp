#include "store/profile_text.h"

#include <cstdint>

namespace vx::ini {

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsHighSurrogate(std::uint32_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(std::uint32_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

// One UTF-8 sequence at `s[i]`: its code point and length, or length 0.
std::size_t DecodeSequence(std::string_view s, std::size_t i, std::uint32_t* cp) {
  auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  std::uint8_t b0 = byte(i);
  std::size_t len = b0 < 0x80         ? 1
                    : (b0 >> 5) == 6  ? 2
                    : (b0 >> 4) == 14 ? 3
                    : (b0 >> 3) == 30 ? 4
                                      : 0;
  if (len == 0 || i + len > s.size()) {
    return 0;
  }
  std::uint32_t v = len == 1 ? b0 : b0 & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      return 0;
    }
    v = (v << 6) | (byte(i + k) & 0x3F);
  }
  static const std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (v < kMin[len] || v > 0x10FFFF) {
    return 0;
  }
  *cp = v;
  return len;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t u = units[i];
    if (IsHighSurrogate(u) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      ++i;
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t cp = 0;
    std::size_t len = DecodeSequence(text, i, &cp);
    if (len == 0) {
      out += static_cast<char16_t>(static_cast<std::uint8_t>(text[i]));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += len;
  }
  return out;
}

ProfileText ProfileText::Decode(std::string_view bytes) {
  ProfileText t;
  bool le = bytes.substr(0, 2) == "\xFF\xFE";
  bool be = bytes.substr(0, 2) == "\xFE\xFF";
  if (!le && !be) {
    t.m_doc = IniDocument::Parse(bytes);
    return t;
  }
  t.m_encoding = le ? Encoding::kUtf16Le : Encoding::kUtf16Be;
  bytes.remove_prefix(2);
  if (bytes.size() % 2 != 0) {
    t.m_oddByte = std::string(bytes.substr(bytes.size() - 1));
    bytes.remove_suffix(1);
  }
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    auto lo = static_cast<std::uint8_t>(bytes[le ? i : i + 1]);
    auto hi = static_cast<std::uint8_t>(bytes[le ? i + 1 : i]);
    units += static_cast<char16_t>(lo | (hi << 8));
  }
  t.m_doc = IniDocument::Parse(Utf16ToUtf8(units));
  return t;
}

std::string ProfileText::Encode() const {
  std::string text = m_doc.Serialize();
  if (m_encoding == Encoding::kBytes) {
    return text;
  }
  bool le = m_encoding == Encoding::kUtf16Le;
  std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t u : Utf8ToUtf16(text)) {
    char lo = static_cast<char>(u & 0xFF);
    char hi = static_cast<char>(u >> 8);
    out += le ? lo : hi;
    out += le ? hi : lo;
  }
  return out + m_oddByte;
}

}  // namespace vx::ini
