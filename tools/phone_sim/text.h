#pragma once

// UTF-8 helpers of the phone simulator. Pure functions.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumora {

bool IsValidUtf8(std::string_view text);

// A blank between words of a script line or a sentence: space or tab.
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The texts a speech recogniser would report while `sentence` is being said,
// each one longer than the last and the last the whole sentence (without
// surrounding blanks). A sentence with blanks grows a word at a time; one
// without (Chinese, Japanese) grows a character at a time, never cutting a
// UTF-8 sequence. Empty when there is nothing but blanks.
std::vector<std::string> GrowingPartials(std::string_view sentence);

// Bytes as one printable line: well-formed UTF-8 passes unchanged; line feed,
// carriage return and tab become \n \r \t; other control bytes and bytes that
// are not UTF-8 become \xNN.
std::string EscapeForDisplay(std::string_view bytes);

}  // namespace lumora
