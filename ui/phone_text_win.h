#pragma once

// A phone's name and address as the prompt, the tray and the settings show
// them. The name comes from the network: whatever it holds, it is shown as one
// plain line of bounded length that cannot pretend to be something else.

#include <cstddef>
#include <string>
#include <string_view>

namespace lumora {

// How much of a phone's name and address is shown, in UTF-16 units.
inline constexpr std::size_t kPhoneNameMaxUnits = 40;
inline constexpr std::size_t kPhoneAddressMaxUnits = 64;

// `text` cut to at most `max_units` UTF-16 units: when it is longer, as much
// of it as fits before a closing "…", never ending in half a surrogate pair.
std::wstring CutDisplayText(std::wstring_view text, std::size_t max_units);

// Text from the network (a phone's name, an address) as it may be shown in
// one line: line breaks and tabs become blanks, other control characters and
// the invisible characters that reorder text are dropped, unpaired
// surrogates become U+FFFD, runs of blanks become one and blanks at the ends
// go; then it is cut as CutDisplayText does.
std::wstring PhoneDisplayText(std::wstring_view text, std::size_t max_units);

// The name as PhoneDisplayText shows it, or "未命名手机" when nothing of it is
// left.
std::wstring PhoneDisplayName(std::wstring_view name);

// "name（address）", both as shown above: the phone in the tray's tip, its
// notices and the settings' list.
std::wstring PhoneDisplayLabel(std::wstring_view name, std::wstring_view address);

}  // namespace lumora
