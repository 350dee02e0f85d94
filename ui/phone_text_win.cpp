#include "ui/phone_text_win.h"

namespace lumora {
namespace {

constexpr wchar_t kEllipsis = L'\u2026';
constexpr wchar_t kReplacement = L'\uFFFD';

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Line breaks and tabs: in a one-line name they separate words.
bool IsBlank(wchar_t unit) {
  return unit == L' ' || (unit >= 0x09 && unit <= 0x0D) || unit == 0x85 || unit == 0x2028 || unit == 0x2029;
}

// Control characters, and the marks, embeddings, overrides and isolates that
// reorder text: a name holding U+202E could show its address backwards or
// seem to end where it does not.
bool IsDropped(wchar_t unit) {
  return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x061C || unit == 0x200E ||
         unit == 0x200F || (unit >= 0x202A && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
}

}  // namespace

std::wstring CutDisplayText(std::wstring_view text, std::size_t max_units) {
  if (text.size() <= max_units) {
    return std::wstring(text);
  }
  if (max_units == 0) {
    return {};
  }
  std::size_t keep = max_units - 1;
  if (keep > 0 && IsHighSurrogate(text[keep - 1])) {
    --keep;
  }
  std::wstring cut(text.substr(0, keep));
  cut += kEllipsis;
  return cut;
}

std::wstring PhoneDisplayText(std::wstring_view text, std::size_t max_units) {
  std::wstring plain;
  bool blank_pending = false;
  const auto append = [&](wchar_t unit) {
    if (blank_pending) {
      plain += L' ';
      blank_pending = false;
    }
    plain += unit;
  };
  // A name may be as long as a phone line: past what can be shown, the rest
  // cannot change the result.
  for (std::size_t i = 0; i < text.size() && plain.size() <= max_units + 1; ++i) {
    const wchar_t unit = text[i];
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

std::wstring PhoneDisplayName(std::wstring_view name) {
  std::wstring shown = PhoneDisplayText(name, kPhoneNameMaxUnits);
  return shown.empty() ? std::wstring(L"未命名手机") : shown;
}

std::wstring PhoneDisplayLabel(std::wstring_view name, std::wstring_view address) {
  return PhoneDisplayName(name) + L"（" + PhoneDisplayText(address, kPhoneAddressMaxUnits) + L"）";
}

}  // namespace lumora
