#pragma once

// UTF-8 and UTF-16 in both directions, the same on every platform: what the
// portable texts (the tray's, a phone's name) are measured and cut in, since
// a Windows tip or notice holds a number of UTF-16 units.

#include <string>
#include <string_view>

namespace lumora {

// UTF-8 to UTF-16 as the Windows conversion does without
// MB_ERR_INVALID_CHARS: each maximal ill-formed subsequence (a stray
// continuation byte, a sequence cut short, an overlong form, a surrogate, a
// value past U+10FFFF) becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);

// And back: an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// The two halves of a pair that stands for a code point past U+FFFF.
inline bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace lumora
