#pragma once

// UTF-8 as the phone sends it and the log and tools read it. Portable and
// header-only: every layer may use it.

#include <cstddef>
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

}  // namespace lumora
