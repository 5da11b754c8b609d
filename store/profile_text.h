// The text of a profile file in the encodings the Windows functions read: an
// 8-bit file as it is (ASCII, GBK, UTF-8, anything), or UTF-16 with its
// byte-order mark (what editors save as "Unicode"), which is edited as UTF-8
// and written back as UTF-16 in its own byte order, every untouched unit
// unchanged.
#pragma once

#include <string>
#include <string_view>

#include "store/ini_document.h"

namespace vx::ini {

class ProfileText {
 public:
  enum class Encoding { kBytes, kUtf16Le, kUtf16Be };

  static ProfileText Decode(std::string_view bytes);
  std::string Encode() const;

  Encoding GetEncoding() const { return m_encoding; }
  IniDocument& Document() { return m_doc; }
  const IniDocument& Document() const { return m_doc; }

 private:
  Encoding m_encoding = Encoding::kBytes;
  std::string m_oddByte;  // a UTF-16 file of odd length keeps its last byte
  IniDocument m_doc;
};

// UTF-16 code units to UTF-8; a lone surrogate becomes its own three-byte
// form, so that converting back restores every unit.
std::string Utf16ToUtf8(std::u16string_view units);
// The reverse; bytes that are no UTF-8 become one unit each.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace vx::ini
