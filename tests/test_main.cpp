#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include "base/gdiplus_win.h"
#else
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
// Natively each test process logs into a folder of its own, so tests never
// touch the user's real log and never see each other's lines.
class PrivateLogFolder : public testing::Environment {
 public:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "parlino-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      folder_ = pattern;
      setenv("XDG_STATE_HOME", folder_.c_str(), 1);
    }
  }
  void TearDown() override {
    if (!folder_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(folder_, ec);
    }
  }

 private:
  std::string folder_;
};
#endif

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
#ifdef _WIN32
  // The overlay and the contact picture draw with GDI+, as inside the host.
  const lumora::GdiplusSession gdiplus;
#endif
#ifndef _WIN32
  testing::AddGlobalTestEnvironment(new PrivateLogFolder);
#endif
  return RUN_ALL_TESTS();
}
