#pragma once

// A phone's name and address as the prompt, the tray and the settings show
// them. The name comes from the network: whatever it holds, it is shown as one
// plain line of bounded length that cannot pretend to be something else.
// Lengths count UTF-16 units, which is what the Windows tray and notices
// hold; the UTF-8 forms measure and cut the same way.

#include <cstddef>
#include <string>
#include <string_view>

#include "base/utf16.h"

namespace lumora {

// How much of a phone's name and address is shown, in UTF-16 units.
inline constexpr std::size_t kPhoneNameMaxUnits = 40;
inline constexpr std::size_t kPhoneAddressMaxUnits = 64;

// `text` cut to at most `max_units` UTF-16 units: when it is longer, as much
// of it as fits before a closing "…", never ending in half a surrogate pair.
std::u16string CutDisplayText(std::u16string_view text, std::size_t max_units);

// Text from the network (a phone's name, an address) as it may be shown in
// one line: line breaks and tabs become blanks, other control characters and
// the invisible characters that reorder text are dropped, unpaired
// surrogates become U+FFFD, runs of blanks become one and blanks at the ends
// go; then it is cut as CutDisplayText does.
std::u16string PhoneDisplayText(std::u16string_view text, std::size_t max_units);
std::string PhoneDisplayText(std::string_view text_utf8, std::size_t max_units);

// The name as PhoneDisplayText shows it, or "未命名手机" when nothing of it is
// left.
std::u16string PhoneDisplayName(std::u16string_view name);

// "name（address）", both as shown above: the phone in the tray's tip, its
// notices and the settings' list.
std::u16string PhoneDisplayLabel(std::u16string_view name, std::u16string_view address);
std::string PhoneDisplayLabel(std::string_view name_utf8, std::string_view address_utf8);

// The phone as the prompt for a new phone names it: "“name”（address）",
// without the brackets when there is no address.
std::u16string PhonePromptLine(std::u16string_view name, std::u16string_view address);

}  // namespace lumora
