#include <string_view>

#include "output/desktop.h"

namespace lumora {

std::unique_ptr<Desktop> MakePlatformDesktop() { return nullptr; }

std::u16string ToUtf16(std::string_view utf8) {
  // Decodes as the Windows conversion does without MB_ERR_INVALID_CHARS:
  // each maximal ill-formed subsequence (a stray continuation byte, a sequence
  // cut short, an overlong form, a surrogate, a value past U+10FFFF) becomes
  // one U+FFFD.
  std::u16string out;
  out.reserve(utf8.size());
  const auto byte = [&utf8](std::size_t at) { return static_cast<unsigned char>(utf8[at]); };
  std::size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    // Length of the sequence and the range its second byte must lie in; the
    // narrowed ranges exclude overlong forms, surrogates and values past
    // U+10FFFF.
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    std::size_t taken = 1;
    char32_t code = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
    while (length != 0 && taken < length && i + taken < utf8.size()) {
      const unsigned char next = byte(i + taken);
      const bool fits = taken == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
      if (!fits) {
        break;
      }
      code = (code << 6) | (next & 0x3F);
      ++taken;
    }
    i += taken;
    if (length == 0 || taken < length) {
      out.push_back(0xFFFD);
    } else if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

}  // namespace lumora
