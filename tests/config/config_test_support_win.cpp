#include <optional>

#include "tests/config/config_test_support.h"

namespace lumora::test {

struct PrivateConfigFile::Saved {
  std::filesystem::path file;
  std::optional<std::string> old_bytes;
};

PrivateConfigFile::PrivateConfigFile() : saved_(std::make_unique<Saved>()) {
  saved_->file = ConfigFilePath();
  std::error_code ec;
  if (std::filesystem::is_regular_file(saved_->file, ec)) {
    saved_->old_bytes = ReadBytes(saved_->file);
  }
  std::filesystem::remove_all(saved_->file, ec);
  EXPECT_FALSE(std::filesystem::exists(saved_->file, ec)) << saved_->file;
}

PrivateConfigFile::~PrivateConfigFile() {
  std::error_code ec;
  std::filesystem::remove_all(saved_->file, ec);
  if (saved_->old_bytes) {
    WriteBytes(saved_->file, *saved_->old_bytes);
  }
}

}  // namespace lumora::test
