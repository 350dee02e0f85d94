#include "app/auto_start_posix.h"

#include <cerrno>
#include <system_error>

#include "base/product.h"
#include "config/app_config.h"
#include "config/app_config_platform.h"
#include "log/log.h"

namespace lumora {

std::filesystem::path AutoStartDirectory() { return ConfigDirectory().parent_path() / "autostart"; }

std::filesystem::path AutoStartEntryPath() { return AutoStartDirectory() / kAutoStartEntryName; }

std::string DesktopEntryExec(std::string_view program) {
  // A line break would end the value and start a line of its own.
  if (program.empty() || program.find_first_of("\r\n") != std::string_view::npos) {
    return {};
  }
  // Inside double quotes, '"', '`', '$' and '\' take a backslash; the value
  // is then a string whose own escape doubles every backslash. '%' starts a
  // field code anywhere and is written twice.
  std::string quoted = "\"";
  for (const char c : program) {
    switch (c) {
      case '"':
      case '`':
      case '$':
        quoted += "\\\\";
        quoted += c;
        break;
      case '\\':
        quoted += "\\\\\\\\";
        break;
      case '%':
        quoted += "%%";
        break;
      default:
        quoted += c;
        break;
    }
  }
  quoted += '"';
  return quoted;
}

std::string AutoStartEntry(std::string_view program) {
  const std::string exec = DesktopEntryExec(program);
  if (exec.empty()) {
    return {};
  }
  return std::string("[Desktop Entry]\n"
                     "Type=Application\n"
                     "Name=") +
         PARLINO_PRODUCT_NAME_TEXT +
         "\n"
         "Comment=Phone dictation receiver\n"
         "Exec=" +
         exec +
         "\n"
         "Icon=lumora-voice-input\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool ApplyAutoStart(bool enable, const std::filesystem::path& program) {
  const std::filesystem::path entry = AutoStartEntryPath();
  std::error_code ec;
  if (!enable) {
    std::filesystem::remove(entry, ec);
    if (ec) {
      Log(LogLevel::Warn, "APP", "auto_start: removing the autostart entry failed, error=" + std::to_string(ec.value()));
      return false;
    }
    return true;
  }
  std::filesystem::path target = program;
  if (target.empty()) {
    target = std::filesystem::read_symlink("/proc/self/exe", ec);
  }
  const std::string text = AutoStartEntry(target.string());
  if (text.empty()) {
    Log(LogLevel::Warn, "APP", "auto_start: this program's path cannot be written in an autostart entry");
    return false;
  }
  std::filesystem::create_directories(entry.parent_path(), ec);
  // Written beside and moved over the old entry, so that a login never finds
  // half an entry.
  detail::ReplacementFile file(entry);
  if (!file.IsOpen() || !file.Write(text) || !file.Flush() || !file.Replace()) {
    Log(LogLevel::Warn, "APP", "auto_start: writing the autostart entry failed, errno=" + std::to_string(errno));
    return false;
  }
  return true;
}

}  // namespace lumora
