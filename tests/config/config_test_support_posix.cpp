#include <cstdlib>
#include <optional>

#include "tests/config/config_test_support.h"

namespace lumora::test {

struct PrivateConfigFile::Saved {
  ScratchFolder folder;
  std::optional<std::string> old_value;
};

PrivateConfigFile::PrivateConfigFile() : saved_(std::make_unique<Saved>()) {
  if (const char* value = std::getenv("XDG_CONFIG_HOME")) {
    saved_->old_value = value;
  }
  setenv("XDG_CONFIG_HOME", (saved_->folder.path() / "xdg-config").c_str(), 1);
}

PrivateConfigFile::~PrivateConfigFile() {
  if (saved_->old_value) {
    setenv("XDG_CONFIG_HOME", saved_->old_value->c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace lumora::test
