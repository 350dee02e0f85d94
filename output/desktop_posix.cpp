#include <string_view>

#include "base/utf16.h"
#include "output/desktop.h"

namespace lumora {

// The decoder lives in base/, where the portable texts use it too.
std::u16string ToUtf16(std::string_view utf8) { return Utf8ToUtf16(utf8); }

}  // namespace lumora
