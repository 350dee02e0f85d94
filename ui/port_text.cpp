#include "ui/port_text.h"

#include <limits>
#include <string>

namespace lumora {

namespace {

// The ideographic space stays an escape: written out it cannot be told from
// an ordinary one.
bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r') || c == u'\u3000'; }

// The digit's value, or -1.
int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') {
    return c - u'0';
  }
  if (c >= u'０' && c <= u'９') {
    return c - u'０';
  }
  return -1;
}

}  // namespace

bool ParsePortText(std::u16string_view text, std::int32_t& out) {
  text = text.substr(0, kPortTextMaxUnits);
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  // Accumulated as a magnitude in 64 bits and checked after every digit, so
  // that a long run of digits cannot wrap around.
  constexpr std::int64_t kMaxMagnitude = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  bool any_digit = false;
  bool overflow = false;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i]);
    if (digit < 0) {
      break;
    }
    any_digit = true;
    if (!overflow) {
      magnitude = magnitude * 10 + digit;
      overflow = magnitude > kMaxMagnitude;
    }
  }
  if (!any_digit || overflow || (!negative && magnitude == kMaxMagnitude)) {
    return false;
  }
  out = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return true;
}

std::optional<std::int32_t> ListenPortFromText(std::u16string_view text) {
  std::int32_t value = 0;
  if (!ParsePortText(text, value) || !IsListenPort(value)) {
    return std::nullopt;
  }
  return value;
}

std::u16string PortWarningText() { return u"请输入 1024 到 65535 之间的 TCP 端口。"; }

std::u16string DialogPortTakenText(std::int32_t port) {
  const std::string digits = std::to_string(port);
  return u"无法绑定 TCP 端口 " + std::u16string(digits.begin(), digits.end()) +
         u"。\n\n可能已有其他程序占用该端口。请换一个端口。";
}

}  // namespace lumora
