#pragma once

// UTF-8 as the phone sends it and the log and tools read it. Portable and
// header-only: every layer may use it.

#include <cstddef>
#include <string>
#include <string_view>

namespace lumora {

namespace detail {
inline bool InRange(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }
}  // namespace detail

// The length of the well-formed UTF-8 sequence that starts at `pos`, or 0 when
// the bytes there are not one (stray continuation byte, truncated sequence,
// overlong form, surrogate, beyond U+10FFFF).
inline std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) {
    return 0;
  }
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  const std::size_t left = text.size() - pos;
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    return 1;
  }
  // The second byte's range is what rules out overlong forms, surrogates and
  // code points past U+10FFFF.
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (detail::InRange(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (detail::InRange(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) {
      low = 0xA0;
    } else if (lead == 0xED) {
      high = 0x9F;
    }
  } else if (detail::InRange(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) {
      low = 0x90;
    } else if (lead == 0xF4) {
      high = 0x8F;
    }
  } else {
    return 0;
  }
  if (left < length || !detail::InRange(byte(1), low, high)) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (!detail::InRange(byte(i), 0x80, 0xBF)) {
      return 0;
    }
  }
  return length;
}

// The code point of the well-formed sequence of `length` bytes at `pos` (as
// Utf8SequenceLength measured it).
inline char32_t DecodeUtf8(std::string_view text, std::size_t pos, std::size_t length) {
  static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t c = static_cast<unsigned char>(text[pos]) & kLeadBits[length];
  for (std::size_t i = 1; i < length; ++i) {
    c = c << 6 | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
  }
  return c;
}

// Appends the UTF-8 form of the code point `c` (at most U+10FFFF).
inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace lumora
