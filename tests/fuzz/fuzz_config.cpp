// Feeds arbitrary bytes as config.toml and checks what the rest of the program
// relies on: every setting comes out in range whatever the file holds, and
// what a save writes reads back to the same settings.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/app_config.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void CheckInRange(const lumora::AppConfig& config) {
  Check(config.listen_port >= lumora::kMinListenPort && config.listen_port <= lumora::kMaxListenPort);
  const auto color = static_cast<std::int32_t>(config.overlay_theme_color);
  const auto position = static_cast<std::int32_t>(config.overlay_position);
  Check(color >= 0 && color < lumora::kOverlayThemeColorCount);
  Check(position >= 0 && position < lumora::kOverlayPositionCount);
}

// Seven lines, each ending in CR LF, and no other CR or LF.
void CheckSavedLayout(const std::string& text) {
  int lines = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      Check(i > 0 && text[i - 1] == '\r');
      ++lines;
    } else if (text[i] == '\r') {
      Check(i + 1 < text.size() && text[i + 1] == '\n');
    }
  }
  Check(lines == 7 && !text.empty() && text.back() == '\n');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  const lumora::AppConfig parsed = lumora::ParseAppConfig(input);
  CheckInRange(parsed);
  const std::string saved = lumora::FormatAppConfig(parsed);
  CheckSavedLayout(saved);
  Check(lumora::ParseAppConfig(saved) == parsed);

  // Names: any text gives a value in range, and only text as long as that value's name does.
  const auto color = static_cast<std::int32_t>(lumora::ParseThemeColor(input));
  const auto position = static_cast<std::int32_t>(lumora::ParsePosition(input));
  Check(color >= 0 && color < lumora::kOverlayThemeColorCount);
  Check(position >= 0 && position < lumora::kOverlayPositionCount);
  Check(color == 0 ||
        lumora::ThemeColorFileName(static_cast<lumora::OverlayThemeColor>(color)).size() == size);
  Check(position == 0 ||
        lumora::PositionFileName(static_cast<lumora::OverlayPosition>(position)).size() == size);
  return 0;
}
