#pragma once

// The long dictation of the end-to-end test and the latency tool: 2,700
// characters of Chinese, ASCII and emoji (each emoji two UTF-16 units, so
// 3,000 units), as the phone sends it and as it must arrive. Enough for the
// output to go out in many calls, with many surrogate pairs that a cut could
// split.

#include <string>

namespace lumora::testing {

struct LongDictation {
  std::string utf8;
  std::wstring utf16;
};

// `pieces` of 9 characters each; the full text has 300.
inline LongDictation MakeLongDictation(int pieces = 300) {
  LongDictation text;
  for (int i = 0; i < pieces; ++i) {
    const std::string n = std::to_string(i % 10);
    text.utf8 += "说话" + n + "\xF0\x9F\x98\x80" + "abcde";
    text.utf16 += L"说话" + std::wstring(n.begin(), n.end()) + L"\U0001F600" + L"abcde";
  }
  return text;
}

}  // namespace lumora::testing
