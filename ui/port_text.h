#pragma once

// The port the user typed, as text to number, and what the dialogs say when
// it will not do. Portable, so that the rules are checked natively as well as
// in the dialogs under Wine, and the Linux dialogs say the same words.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "config/app_config.h"

namespace lumora {

// The dialogs read the port edit into a buffer of 32 UTF-16 units, so at most
// this many characters of the text count.
inline constexpr std::size_t kPortTextMaxUnits = 31;

// Base-10 text to integer, as the C library's wcstol converts: leading white
// space is skipped, one optional sign is taken, the longest run of decimal
// digits that follows is converted and anything after it is ignored ("8080a"
// gives 8080). Only the first kPortTextMaxUnits units are looked at. False,
// with `out` untouched, when there is no digit or the value does not fit in
// 32 signed bits.
//
// Besides ASCII, full-width digits (U+FF10..U+FF19) count as digits and the
// ideographic space U+3000 as white space: a Chinese input method in
// full-width mode types those, and the Windows C library converts them too.
bool ParsePortText(std::u16string_view text, std::int32_t& out);

// Whether the dialogs accept `value` as the listen port: 1024..65535.
constexpr bool IsListenPort(std::int32_t value) { return value >= kMinListenPort && value <= kMaxListenPort; }

// The port that the dialogs accept: ParsePortText, then IsListenPort.
std::optional<std::int32_t> ListenPortFromText(std::u16string_view text);

// The most a port edit takes: 65535 has five digits.
inline constexpr int kPortEditMaxDigits = 5;

// The warning when the port edit holds no port the dialogs accept.
std::u16string PortWarningText();

// The message for a port the program could not listen on, in a dialog that
// stays open for another (the tray's own is PortTakenText).
std::u16string DialogPortTakenText(std::int32_t port);

// Tries the port a dialog is about to confirm, before the dialog closes: true
// when the program serves it now (or did already), false when it could not
// be bound, and the dialog then stays open for another.
using PortTrial = std::function<bool(std::int32_t port)>;

}  // namespace lumora
