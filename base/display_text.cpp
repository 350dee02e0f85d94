#include "base/display_text.h"

#include "base/utf16.h"

namespace lumora {
namespace {

constexpr char16_t kEllipsis = u'\u2026';
constexpr char16_t kReplacement = u'\uFFFD';

// Line breaks and tabs: in a one-line name they separate words.
bool IsBlank(char16_t unit) {
  return unit == u' ' || (unit >= 0x09 && unit <= 0x0D) || unit == 0x85 || unit == 0x2028 || unit == 0x2029;
}

// Control characters, and the marks, embeddings, overrides and isolates that
// reorder text: a name holding U+202E could show its address backwards or
// seem to end where it does not.
bool IsDropped(char16_t unit) {
  return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x061C || unit == 0x200E ||
         unit == 0x200F || (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
}

}  // namespace

std::u16string CutDisplayText(std::u16string_view text, std::size_t max_units) {
  if (text.size() <= max_units) {
    return std::u16string(text);
  }
  if (max_units == 0) {
    return {};
  }
  std::size_t keep = max_units - 1;
  if (keep > 0 && IsHighSurrogate(text[keep - 1])) {
    --keep;
  }
  std::u16string cut(text.substr(0, keep));
  cut += kEllipsis;
  return cut;
}

std::u16string PhoneDisplayText(std::u16string_view text, std::size_t max_units) {
  std::u16string plain;
  bool blank_pending = false;
  const auto append = [&](char16_t unit) {
    if (blank_pending) {
      plain += u' ';
      blank_pending = false;
    }
    plain += unit;
  };
  // A name may be as long as a phone line: past what can be shown, the rest
  // cannot change the result.
  for (std::size_t i = 0; i < text.size() && plain.size() <= max_units + 1; ++i) {
    const char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      append(unit);
      plain += text[++i];
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      append(kReplacement);
    } else if (IsBlank(unit)) {
      // Only between words: none at the start, and a pending one at the end
      // is never written.
      blank_pending = !plain.empty();
    } else if (!IsDropped(unit)) {
      append(unit);
    }
  }
  return CutDisplayText(plain, max_units);
}

std::string PhoneDisplayText(std::string_view text_utf8, std::size_t max_units) {
  return Utf16ToUtf8(PhoneDisplayText(Utf8ToUtf16(text_utf8), max_units));
}

std::u16string PhoneDisplayName(std::u16string_view name) {
  std::u16string shown = PhoneDisplayText(name, kPhoneNameMaxUnits);
  return shown.empty() ? std::u16string(u"未命名手机") : shown;
}

std::u16string PhoneDisplayLabel(std::u16string_view name, std::u16string_view address) {
  return PhoneDisplayName(name) + u"（" + PhoneDisplayText(address, kPhoneAddressMaxUnits) + u"）";
}

std::string PhoneDisplayLabel(std::string_view name_utf8, std::string_view address_utf8) {
  return Utf16ToUtf8(PhoneDisplayLabel(Utf8ToUtf16(name_utf8), Utf8ToUtf16(address_utf8)));
}

std::u16string PhonePromptLine(std::u16string_view name, std::u16string_view address) {
  std::u16string line = u"\u201C" + PhoneDisplayName(name) + u"\u201D";
  const std::u16string where = PhoneDisplayText(address, kPhoneAddressMaxUnits);
  if (!where.empty()) {
    line += u"（" + where + u"）";
  }
  return line;
}

}  // namespace lumora
