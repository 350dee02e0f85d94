#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "config/app_config.h"

namespace lumora {

// Failure messages show the record field by field, and a phone's name byte by
// byte where it is not printable ASCII.
inline void PrintTo(const KnownPhone& phone, std::ostream* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  *out << "{\"";
  for (const char c : phone.name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      *out << c;
    } else {
      *out << "\\x" << kHex[byte >> 4] << kHex[byte & 0xF];
    }
  }
  *out << "\" " << phone.hardware_address << " " << phone.address << "}";
}

inline void PrintTo(const AppConfig& config, std::ostream* out) {
  *out << "{port " << config.listen_port << ", theme " << static_cast<int>(config.overlay_theme_color)
       << ", position " << static_cast<int>(config.overlay_position) << ", enter "
       << config.press_enter_on_commit << ", paste " << config.use_clipboard_paste << ", auto start "
       << config.auto_start << ", confirm " << config.confirm_new_phones << ", phones [";
  for (const KnownPhone& phone : config.known_phones) {
    PrintTo(phone, out);
  }
  *out << "]}";
}

namespace test {

std::string ReadBytes(const std::filesystem::path& file);
// Creates the file's folder first.
void WriteBytes(const std::filesystem::path& file, std::string_view bytes);
// Names of the folder's entries, sorted; empty for a missing folder.
std::vector<std::string> FolderEntries(const std::filesystem::path& folder);

// A new empty folder under the temporary folder, removed with everything in it
// by the destructor.
class ScratchFolder {
 public:
  ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder();

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Until destroyed, ConfigFilePath() names a file that does not exist yet and
// that no other program uses. Natively XDG_CONFIG_HOME points into a folder of
// this object's own. On Windows the file is the profile's real one (the tests'
// Wine prefix is private): whatever it held is put back at the end.
class PrivateConfigFile {
 public:
  PrivateConfigFile();
  PrivateConfigFile(const PrivateConfigFile&) = delete;
  PrivateConfigFile& operator=(const PrivateConfigFile&) = delete;
  ~PrivateConfigFile();

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

class ConfigFileTest : public testing::Test {
 protected:
  PrivateConfigFile config_file_;
  ScratchFolder scratch_;
};

}  // namespace test
}  // namespace lumora
