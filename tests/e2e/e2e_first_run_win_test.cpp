// The real program's first start: no config.toml, so the onboarding dialog
// comes before the overlay, the tray icon and the server, and what the user
// does in it decides the port the server listens on and what the file holds.
// The dialog is played through its controls from this process.

#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/auto_start_win.h"
#include "log/log.h"
#include "config/app_config.h"
#include "net/socket_platform.h"
#include "tests/e2e/program_run_win.h"
#include "tests/support/free_port.h"
#include "tests/support/run_value_win.h"
#include "tools/phone_sim/session.h"
#include "ui/onboarding_dialog_win.h"

namespace lumora {
namespace {

using std::chrono::milliseconds;
using testing::ProgramRun;
using testing::ReadLogMessages;

std::optional<std::string> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Whether something on this machine listens on `port` or holds it.
bool PortTaken(unsigned port) {
  EnsureWinsock();
  const SocketHandle socket = OpenTcpSocket();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<unsigned short>(port));
  const bool taken = ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0;
  CloseSocket(socket);
  return taken;
}

bool LoggedContaining(const std::string& needle) {
  for (const std::string& message : ReadLogMessages()) {
    if (message.find(needle) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// The bench's profile is shared with the other end-to-end tests: the settings
// file and the Run value are put back as they were.
class FirstRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_config_ = ReadFileBytes(ConfigFilePath());
    saved_run_value_ = testing::RunValue();
    std::error_code ec;
    std::filesystem::remove(ConfigFilePath(), ec);
    std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  }

  void TearDown() override {
    std::error_code ec;
    if (saved_config_) {
      WriteFileBytes(ConfigFilePath(), *saved_config_);
    } else {
      std::filesystem::remove(ConfigFilePath(), ec);
    }
    if (!saved_run_value_) {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName);
    } else {
      RegSetKeyValueW(HKEY_CURRENT_USER, kRunKeyPath, kRunValueName, REG_SZ, saved_run_value_->c_str(),
                      static_cast<DWORD>((saved_run_value_->size() + 1) * sizeof(wchar_t)));
    }
  }

  // Waits for the program's onboarding dialog, and checks on the way that
  // nothing else of the program exists yet.
  HWND WaitForDialog(ProgramRun& program) {
    HWND dialog = nullptr;
    for (int i = 0; i < 750 && dialog == nullptr; ++i) {
      dialog = program.FindWindowOfClass(kOnboardingDialogClass);
      if (dialog == nullptr || !IsWindowVisible(dialog)) {
        dialog = nullptr;
        Sleep(20);
      }
    }
    return dialog;
  }

  void ExpectNothingStartedBehind(ProgramRun& program) {
    // Left alone for a while: nothing goes on behind the dialog.
    Sleep(500);
    EXPECT_FALSE(LoggedContaining("ParlinoServer: listening")) << "the server started under the dialog";
    EXPECT_FALSE(LoggedContaining("tray icon installed")) << "the tray icon came before the dialog closed";
    EXPECT_EQ(program.FindWindowOfClass(L"Lumora.LiveTextOverlay"), nullptr) << "the overlay exists already";
    EXPECT_FALSE(std::filesystem::exists(ConfigFilePath())) << "the file was written before the user chose";
    EXPECT_TRUE(LoggedContaining("Parlino starting"));
  }

  static void SetPort(HWND dialog, const std::wstring& text) {
    SendMessageW(GetDlgItem(dialog, kOnboardingPortEditId), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(text.c_str()));
  }
  static void SetEnterChecked(HWND dialog, bool checked) {
    HWND box = GetDlgItem(dialog, kOnboardingPressEnterId);
    if ((SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != checked) {
      SendMessageW(box, BM_CLICK, 0, 0);
    }
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED, checked);
  }
  static void Click(HWND dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

  static int Ping(unsigned port) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    return RunPhoneSim({"127.0.0.1", std::to_string(port)}, in, out, err);
  }

  static void Close(ProgramRun& program) {
    DWORD exit_code = 99;
    ASSERT_TRUE(program.Close(&exit_code));
    EXPECT_EQ(exit_code, 0u);
  }

  std::optional<std::string> saved_config_;
  std::optional<std::wstring> saved_run_value_;
};

TEST_F(FirstRunTest, StartWithAChosenPortListensThereAndSavesTheChoice) {
  unsigned port = 50000;
  if (PortTaken(port)) {
    port = lumora::testing::FreePort();  // 50000 is busy on this machine; any free port shows the same
  }
  ProgramRun program;
  ASSERT_TRUE(program.Start());
  HWND dialog = WaitForDialog(program);
  ASSERT_NE(dialog, nullptr) << "no onboarding dialog on a first start";
  ExpectNothingStartedBehind(program);

  SetPort(dialog, std::to_wstring(port));
  SetEnterChecked(dialog, false);
  Click(dialog, kOnboardingStartId);
  // The start button binds the port while the dialog is still open; the file
  // is written once it has closed, before the tray icon comes.
  ASSERT_TRUE(ProgramRun::WaitForLog("ParlinoServer: listening on port " + std::to_string(port)));
  ASSERT_TRUE(ProgramRun::WaitForLog("Win32App: tray icon installed"));
  EXPECT_EQ(program.FindWindowOfClass(kOnboardingDialogClass), nullptr);

  AppConfig want;
  want.listen_port = static_cast<std::int32_t>(port);
  want.press_enter_on_commit = false;
  EXPECT_EQ(ReadFileBytes(ConfigFilePath()), FormatAppConfig(want));
  EXPECT_EQ(Ping(port), kSimPassed) << "the phone cannot reach the chosen port";
  Close(program);
}

// Skip, Esc and the close box all end the dialog the same way, with nothing
// returned (the dialog frame tests play all three on the dialog itself); what
// the whole program makes of that is shown once, with Skip: the button the
// dialog offers for this choice, so the way a first-time user most likely
// leaves it.
TEST_F(FirstRunTest, SkipSavesTheDefaultsAndListensOn47823) {
  if (PortTaken(kDefaultListenPort)) {
    GTEST_SKIP() << "port 47823 is busy on this machine";
  }
  ProgramRun program;
  ASSERT_TRUE(program.Start());
  HWND dialog = WaitForDialog(program);
  ASSERT_NE(dialog, nullptr);
  ExpectNothingStartedBehind(program);
  // Edited, then left: none of it counts.
  SetPort(dialog, L"50000");
  SetEnterChecked(dialog, false);
  Click(dialog, kOnboardingSkipId);
  ASSERT_TRUE(ProgramRun::WaitForLog("ParlinoServer: listening on port 47823"));
  EXPECT_EQ(ReadFileBytes(ConfigFilePath()), FormatAppConfig(AppConfig{}));
  EXPECT_EQ(Ping(47823), kSimPassed);
  Close(program);
}

TEST_F(FirstRunTest, TheNextStartShowsNoDialog) {
  struct Case {
    const char* what;
    std::optional<std::string> file;  // none: the file the first start wrote
    bool rewritten;
  };
  const unsigned port = lumora::testing::FreePort();
  // First start: the dialog, confirmed with a free port.
  {
    ProgramRun first;
    ASSERT_TRUE(first.Start());
    HWND dialog = WaitForDialog(first);
    ASSERT_NE(dialog, nullptr);
    SetPort(dialog, std::to_wstring(port));
    Click(dialog, kOnboardingStartId);
    ASSERT_TRUE(ProgramRun::WaitForLog("Win32App: tray icon installed"));
    Close(first);
  }
  const std::optional<std::string> written = ReadFileBytes(ConfigFilePath());
  ASSERT_TRUE(written);

  const Case cases[] = {
      {"the file of the first start", std::nullopt, false},
      // Malformed settings give the defaults, but the file exists: no dialog,
      // and the file stays as it is until a setting changes.
      {"a malformed file", std::string("listen_port = [[[\r\n"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.file) {
      WriteFileBytes(ConfigFilePath(), *c.file);
    }
    const std::string before = *ReadFileBytes(ConfigFilePath());
    std::error_code ec;
    std::filesystem::remove(LogDirectory() / kLogFileName, ec);
    ProgramRun again;
    ASSERT_TRUE(again.Start());
    // The tray icon comes after the dialog would have closed.
    ASSERT_TRUE(ProgramRun::WaitForLog("Win32App: tray icon installed"));
    EXPECT_EQ(again.FindWindowOfClass(kOnboardingDialogClass), nullptr);
    // A malformed file means port 47823, which may be taken on this
    // machine: that warning box is not what this test is about.
    if (ProgramRun::WaitForLog("ParlinoServer: ", milliseconds(5000)) && LoggedContaining("bind() failed")) {
      HWND box = nullptr;
      for (int i = 0; i < 250 && (box = again.FindWindowOfClass(L"#32770")) == nullptr; ++i) {
        Sleep(20);
      }
      if (box != nullptr) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
      }
    }
    Close(again);
    EXPECT_EQ(ReadFileBytes(ConfigFilePath()), before) << "rewritten without a change";
  }
}

}  // namespace
}  // namespace lumora
