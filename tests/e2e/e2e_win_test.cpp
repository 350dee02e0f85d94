// The whole program, end to end: the real executable runs in the bench's
// Wine prefix with a written config.toml, a probe window holds the focus, and
// the phone simulator talks to it over 127.0.0.1.

#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/auto_start_win.h"
#include "app/tray_menu_win.h"
#include "config/app_config.h"
#include "net/socket_platform.h"
#include "tests/e2e/long_dictation.h"
#include "tests/e2e/program_run_win.h"
#include "tests/e2e/sim_phone_win.h"
#include "tests/support/free_port.h"
#include "tests/support/probe_window_win.h"
#include "tests/support/run_value_win.h"
#include "tools/phone_sim/session.h"
#include "ui/connection_dialog_win.h"
#include "ui/phone_prompt_win.h"

namespace lumora {
namespace {

using std::chrono::milliseconds;
using testing::ControlText;
using testing::Phone;
using testing::PressButton;
using testing::ProbeWindow;
using testing::ProgramRun;
using testing::ReadLogMessages;
using testing::SimResult;

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    std::filesystem::remove(LogDirectory() / kLogFileName, ec);
    config_.listen_port = static_cast<std::int32_t>(lumora::testing::FreePort());
    config_.auto_start = false;
    // The phones of these tests type without being asked; the tests of the
    // prompt turn it on.
    config_.confirm_new_phones = false;
    port_ = std::to_string(config_.listen_port);
  }

  // Writes the settings (so this is not a first run) and starts the program
  // behind a focused probe window.
  void StartProgram() {
    SaveAppConfig(config_);
    ASSERT_TRUE(probe_.ready());
    ASSERT_TRUE(program_.Start());
    ASSERT_TRUE(ProgramRun::WaitForLog("ParlinoServer: listening on port " + port_));
  }

  bool PumpUntil(const std::function<bool()>& done, milliseconds timeout = milliseconds(15000)) {
    return probe_.Pump(done, timeout);
  }

  void CloseProgram() {
    DWORD exit_code = 99;
    ASSERT_TRUE(program_.Close(&exit_code));
    EXPECT_EQ(exit_code, 0u);
  }

  bool OverlayVisible() {
    HWND overlay = program_.FindWindowOfClass(L"Lumora.LiveTextOverlay");
    return overlay != nullptr && IsWindowVisible(overlay);
  }

  AppConfig config_;
  std::string port_;
  ProbeWindow probe_;
  ProgramRun program_;
};

TEST_F(EndToEndTest, DictationIsTypedOnceThenEnter) {
  StartProgram();
  // Growing partials of a sentence with an emoji, then a commit.
  Phone phone({"127.0.0.1", port_, "--dictate", "今天 天气 \xF0\x9F\x98\x80", "--interval", "300"});
  bool overlay_seen = false;
  PumpUntil([&] {
    overlay_seen = overlay_seen || OverlayVisible();
    return phone.done();
  });
  const SimResult& sim = phone.Wait();
  EXPECT_EQ(sim.status, kSimPassed) << sim.transcript;
  const std::wstring want = L"今天 天气 \U0001F600";
  EXPECT_TRUE(overlay_seen);
  EXPECT_TRUE(PumpUntil([&] { return !OverlayVisible(); }));

  // Enter by its scan code, once the whole text is in and at least the
  // 120 ms wait after the last character. What Enter then does to the edit is
  // the edit's business (Wine's ignores a key without its virtual key).
  std::vector<testing::KeyMessage> presses;
  EXPECT_TRUE(PumpUntil([&] {
    presses = probe_.KeyPresses();
    return presses.size() >= 2;
  }));
  ASSERT_EQ(presses.size(), 2u);
  EXPECT_EQ(presses[0].message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(presses[0].scan_code, 28u);
  EXPECT_EQ(presses[0].text_before, want) << presses[0].text_before.size();
  EXPECT_EQ(presses[1].message, static_cast<UINT>(WM_KEYUP));
  EXPECT_EQ(presses[1].scan_code, 28u);
  EXPECT_GE(std::chrono::duration_cast<milliseconds>(presses[0].at - probe_.last_char_at()).count(), 100);
  CloseProgram();
  // Typed once: nothing more arrived up to the end of the program.
  EXPECT_EQ(probe_.TypedUnits(), want.size());
  EXPECT_EQ(probe_.KeyPresses().size(), 2u);
}

// A key pressed and held as the user's keyboard would: it changes the
// physical key state that the program reads before it types.
void InjectControl(bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = VK_CONTROL;
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  SendInput(1, &input, sizeof input);
}

TEST_F(EndToEndTest, HeldCtrlDelaysTheTextUntilItIsReleased) {
  config_.press_enter_on_commit = false;
  // Wine takes the key state back from the X server, where Ctrl is up,
  // whenever X moves the keyboard focus, which on this bench follows the
  // pointer: the pointer stays on the probe, away from the overlay, and one
  // press and release lets the first resync happen before the test.
  RECT probe{};
  GetWindowRect(probe_.window(), &probe);
  SetCursorPos(probe.left + 20, probe.top + 20);
  InjectControl(true);
  InjectControl(false);
  PumpUntil([] { return false; }, milliseconds(200));
  StartProgram();
  Phone phone({"127.0.0.1", port_, "--script", "-"},
              "text 等一下\nsleep 1000\ncommit\nexpect ack of=commit\nsleep 700\nbye\n");
  ASSERT_TRUE(PumpUntil([&] { return OverlayVisible(); }));
  InjectControl(true);
  // Acknowledged, then well within the 2 s that the program waits.
  PumpUntil([&] { return phone.done(); });
  const bool typed_while_held = !probe_.Text().empty();
  const bool still_held = (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
  InjectControl(false);
  EXPECT_EQ(phone.Wait().status, kSimPassed);
  EXPECT_TRUE(still_held) << "the test's Ctrl did not stay down";
  EXPECT_FALSE(typed_while_held) << "typed while Ctrl was down";
  EXPECT_TRUE(PumpUntil([&] { return probe_.Text() == L"等一下"; })) << probe_.Text().size();
  CloseProgram();
  const auto log = ReadLogMessages();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& m) { return m.find("commit held") != std::string::npos; }),
            0);
}

TEST_F(EndToEndTest, LongCommitArrivesWholeAndInOrder) {
  config_.press_enter_on_commit = false;
  StartProgram();
  const testing::LongDictation text = testing::MakeLongDictation();
  const std::wstring& want = text.utf16;
  ASSERT_EQ(want.size(), 3000u);
  Phone phone({"127.0.0.1", port_, "--script", "-"},
              "text " + text.utf8 + "\ncommit\nexpect ack of=commit\nbye\n");
  PumpUntil([&] { return phone.done(); });
  EXPECT_EQ(phone.Wait().status, kSimPassed);
  EXPECT_TRUE(PumpUntil([&] { return probe_.Text().size() >= want.size(); }, milliseconds(60000)));
  PumpUntil([] { return false; }, milliseconds(300));
  const std::wstring got = probe_.Text();
  EXPECT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want) << "first difference at unit "
                           << std::distance(
                                  got.begin(),
                                  std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first);
  CloseProgram();
}

TEST_F(EndToEndTest, KeysClearAndEmptyCommit) {
  config_.press_enter_on_commit = false;
  StartProgram();
  Phone phone({"127.0.0.1", port_, "--script", "-"},
              "text abc\ncommit\nexpect ack of=commit\n"
              "text dropped\nclear\nexpect ack of=clear\n"
              "commit\nexpect ack of=commit\n"
              "key backspace\nkey enter\nkey Enter\nsleep 500\nbye\n");
  PumpUntil([&] { return phone.done(); });
  const SimResult& sim = phone.Wait();
  EXPECT_EQ(sim.status, kSimPassed) << sim.transcript;
  PumpUntil([&] { return probe_.KeyPresses().size() >= 4; });
  PumpUntil([] { return false; }, milliseconds(300));
  // Backspace then Enter by their scan codes, after "abc" and nothing else
  // was typed: the cleared text and the empty commit type nothing. What the
  // keys then do to the edit is the edit's business (Wine's ignores a key
  // without its virtual key; Windows' would delete the c).
  std::vector<std::pair<UINT, unsigned>> scan_keys;
  for (const testing::KeyMessage& key : probe_.KeyPresses()) {
    scan_keys.emplace_back(key.message, key.scan_code);
  }
  const std::vector<std::pair<UINT, unsigned>> want = {
      {WM_KEYDOWN, 14}, {WM_KEYUP, 14}, {WM_KEYDOWN, 28}, {WM_KEYUP, 28}};
  EXPECT_EQ(scan_keys, want);
  ASSERT_FALSE(probe_.KeyPresses().empty());
  EXPECT_EQ(probe_.KeyPresses().front().text_before, L"abc");
  EXPECT_EQ(probe_.TypedUnits(), 3u);
  CloseProgram();
  const auto log = ReadLogMessages();
  EXPECT_NE(std::find(log.begin(), log.end(), "coordinator: unknown key 'Enter'"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "coordinator: clear"), log.end());
}

TEST_F(EndToEndTest, MalformedLineIsLoggedAndNothingTyped) {
  StartProgram();
  Phone phone({"127.0.0.1", port_, "--script", "-"},
              "text never typed\nraw {bad\\n\nexpect error code=bad_frame\nexpect bye reason=protocol_error\n"
              "wait-close\n");
  PumpUntil([&] { return phone.done(); });
  EXPECT_EQ(phone.Wait().status, kSimPassed);
  PumpUntil([] { return false; }, milliseconds(300));
  CloseProgram();
  EXPECT_EQ(probe_.Text(), L"");
  EXPECT_TRUE(probe_.keys().empty());
  const auto log = ReadLogMessages();
  EXPECT_EQ(std::count(log.begin(), log.end(), "server error bad_frame: invalid json"), 1);
}

TEST_F(EndToEndTest, ReplacementAndTheLogInOrder) {
  StartProgram();
  Phone first({"127.0.0.1", port_, "--script", "-", "--timeout", "10000"},
              "expect bye reason=replaced\nwait-close\n");
  ASSERT_TRUE(ProgramRun::WaitForLog("coordinator: client connect"));
  Phone second({"127.0.0.1", port_, "--script", "-"}, "text x\nclear\nexpect ack of=clear\nbye\n");
  PumpUntil([&] { return first.done() && second.done(); });
  EXPECT_EQ(first.Wait().status, kSimPassed);
  EXPECT_EQ(second.Wait().status, kSimPassed);
  ASSERT_TRUE(ProgramRun::WaitForLog("coordinator: client disconnect", milliseconds(5000)));
  CloseProgram();

  // Keep only the lines this run is about, in file order.
  std::vector<std::string> seen;
  for (const std::string& message : ReadLogMessages()) {
    for (const char* prefix : {"Parlino starting", "ParlinoServer: listening", "coordinator: client",
                               "coordinator: clear", "Parlino exit", "ParlinoServer: stopped"}) {
      if (message.rfind(prefix, 0) == 0) {
        seen.push_back(message.substr(0, message.find(" 127.0.0.1")));
      }
    }
  }
  const std::vector<std::string> want = {"Parlino starting",
                                         "ParlinoServer: listening on port " + port_,
                                         "coordinator: client connect",
                                         "coordinator: client disconnect",
                                         "coordinator: client connect",
                                         "coordinator: clear",
                                         "coordinator: client disconnect",
                                         "Parlino exit",
                                         "ParlinoServer: stopped"};
  EXPECT_EQ(seen, want);
}

TEST_F(EndToEndTest, SecondStartShowsTheRunningCopysConnectionBoxOnlyOnce) {
  StartProgram();
  const std::size_t lines_before = ReadLogMessages().size();
  const wchar_t* const box_class = kConnectionDialogClass;
  // Two more starts: each exits at once, the first copy shows one box.
  for (int start = 0; start < 2; ++start) {
    ProgramRun second;
    ASSERT_TRUE(second.Start());
    DWORD exit_code = 99;
    ASSERT_TRUE(second.WaitForExit(&exit_code));
    EXPECT_EQ(exit_code, 0u);
    EXPECT_TRUE(PumpUntil([&] { return !program_.WindowsOfClass(box_class).empty(); }));
  }
  PumpUntil([] { return false; }, milliseconds(500));
  EXPECT_EQ(program_.WindowsOfClass(box_class).size(), 1u);
  HWND box = program_.FindWindowOfClass(box_class);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(GetForegroundWindow(), box);
  // The box checked this PC: Wine answers the network's category but none of
  // the firewall's questions, which must read as unknown, never as clear.
  const auto text_of = [&](int id) {
    wchar_t text[1024] = {};
    GetWindowTextW(GetDlgItem(box, id), text, 1024);
    return std::wstring(text);
  };
  EXPECT_TRUE(PumpUntil([&] { return text_of(kConnectionDiagnosisId).rfind(L"正在检查", 0) != 0; }));
  const std::wstring diagnosis = text_of(kConnectionDiagnosisId);
  EXPECT_EQ(diagnosis.find(L"可以连接"), std::wstring::npos) << diagnosis;
  EXPECT_TRUE(diagnosis.find(L"无法检查") != std::wstring::npos || diagnosis.rfind(L"没有网络", 0) == 0)
      << diagnosis;
  // The second copies start nothing: the only new lines are the box's own
  // check of the network and the firewall.
  const std::vector<std::string> lines = ReadLogMessages();
  for (std::size_t i = lines_before; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("Reachability: ", 0), 0u) << lines[i];
  }
  PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(PumpUntil([&] { return program_.WindowsOfClass(box_class).empty(); }));
  EXPECT_TRUE(program_.Running());
  CloseProgram();
}

TEST_F(EndToEndTest, TakenPortShowsTheWarningAndTheProgramRunsOn) {
  // Hold the port the program will ask for.
  const SocketHandle holder = OpenTcpSocket();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<unsigned short>(config_.listen_port));
  ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(holder, 1), 0);

  SaveAppConfig(config_);
  ASSERT_TRUE(program_.Start());
  // The warning box, captioned with the product name.
  const wchar_t* kCaption = L"Lumora语音输入";
  HWND box = nullptr;
  EXPECT_TRUE(PumpUntil([&] { return (box = program_.FindWindowOfClass(L"#32770", kCaption)) != nullptr; }));
  ASSERT_NE(box, nullptr);
  // Its first line names the port.
  std::wstring text;
  EnumChildWindows(
      box,
      [](HWND child, LPARAM param) -> BOOL {
        wchar_t buffer[512] = {};
        GetWindowTextW(child, buffer, 512);
        *reinterpret_cast<std::wstring*>(param) += buffer;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&text));
  EXPECT_NE(text.find(L"无法绑定 TCP 端口 " + std::wstring(port_.begin(), port_.end()) + L"。"),
            std::wstring::npos);
  EXPECT_TRUE(ProgramRun::WaitForLog("ParlinoServer: bind() failed on port " + port_));
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(PumpUntil([&] { return program_.FindWindowOfClass(L"#32770", kCaption) == nullptr; }));
  EXPECT_TRUE(program_.Running());
  CloseSocket(holder);
  CloseProgram();
}

TEST_F(EndToEndTest, NewPhoneIsAskedOnceThenRememberedAcrossARestart) {
  config_.confirm_new_phones = true;
  config_.press_enter_on_commit = false;
  StartProgram();
  // While it waits its pings are answered, and nothing it says is taken or
  // acknowledged: the pong is the next line it receives.
  Phone phone({"127.0.0.1", port_, "--client", "小米 13", "--script", "-", "--timeout", "30000"},
              "text 不该出现\ncommit\nping 5\nexpect pong ts=5\nsleep 6000\n"
              "text 你好\ncommit\nexpect ack of=commit\nbye\n");
  HWND prompt = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (prompt = program_.FindWindowOfClass(kPhonePromptClass)) != nullptr; }));
  // The window exists a moment before its line is filled in.
  std::wstring phone_line;
  EXPECT_TRUE(PumpUntil([&] {
    phone_line = ControlText(prompt, kPhonePromptPhoneId);
    return !phone_line.empty();
  }));
  EXPECT_NE(phone_line.find(L"小米 13"), std::wstring::npos);
  EXPECT_NE(phone_line.find(L"127.0.0.1"), std::wstring::npos);
  // Pressed until it takes: the prompt ignores its buttons for a moment
  // after it appears.
  EXPECT_TRUE(PumpUntil([&] {
    PressButton(prompt, kPhonePromptAllowId);
    return program_.FindWindowOfClass(kPhonePromptClass) == nullptr;
  }));
  ASSERT_TRUE(probe_.TakeFocus());
  PumpUntil([&] { return phone.done(); }, milliseconds(30000));
  const SimResult& sim = phone.Wait();
  EXPECT_EQ(sim.status, kSimPassed) << sim.transcript;
  EXPECT_TRUE(PumpUntil([&] { return probe_.Text() == L"你好"; })) << probe_.Text().size();
  CloseProgram();
  const AppConfig saved = LoadAppConfig();
  ASSERT_EQ(saved.known_phones.size(), 1u);
  EXPECT_EQ(saved.known_phones[0].name, "小米 13");
  EXPECT_EQ(saved.known_phones[0].address, "127.0.0.1");

  // The next start knows it: no question.
  std::error_code ec;
  std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  ProgramRun again;
  ASSERT_TRUE(again.Start());
  ASSERT_TRUE(ProgramRun::WaitForLog("ParlinoServer: listening on port " + port_));
  Phone back({"127.0.0.1", port_, "--client", "小米 13", "--script", "-"},
             "text 再来\ncommit\nexpect ack of=commit\nbye\n");
  PumpUntil([&] { return back.done(); });
  EXPECT_EQ(back.Wait().status, kSimPassed);
  EXPECT_TRUE(PumpUntil([&] { return probe_.Text() == L"你好再来"; }));
  EXPECT_EQ(again.FindWindowOfClass(kPhonePromptClass), nullptr);
  DWORD exit_code = 99;
  ASSERT_TRUE(again.Close(&exit_code));
  const auto log = ReadLogMessages();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& m) { return m.find("asking whether") != std::string::npos; }),
            0);
}

TEST_F(EndToEndTest, RefusedPhoneNeverTypesWhileTheActivePhoneWorksOn) {
  config_.confirm_new_phones = true;
  config_.press_enter_on_commit = false;
  config_.known_phones = {{"mine", "", "127.0.0.1"}};
  StartProgram();
  Phone mine({"127.0.0.1", port_, "--client", "mine", "--script", "-", "--timeout", "30000"},
             "text 我的\nsleep 6000\ntext 我的话\ncommit\nexpect ack of=commit\nbye\n");
  ASSERT_TRUE(ProgramRun::WaitForLog("coordinator: client connect"));
  Phone stranger({"127.0.0.1", port_, "--client", "stranger", "--script", "-", "--timeout", "30000"},
                 "text 坏\ncommit\nexpect bye reason=refused\nwait-close\n");
  HWND prompt = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (prompt = program_.FindWindowOfClass(kPhonePromptClass)) != nullptr; }));
  const auto log = ReadLogMessages();
  EXPECT_EQ(
      std::count_if(log.begin(), log.end(),
                    [](const std::string& m) { return m.find("client disconnect") != std::string::npos; }),
      0)
      << "the waiting phone replaced the active one";
  EXPECT_TRUE(PumpUntil([&] {
    PressButton(prompt, kPhonePromptRefuseId);
    return program_.FindWindowOfClass(kPhonePromptClass) == nullptr;
  }));
  ASSERT_TRUE(probe_.TakeFocus());
  PumpUntil([&] { return mine.done() && stranger.done(); }, milliseconds(30000));
  const SimResult& refused = stranger.Wait();
  EXPECT_EQ(refused.status, kSimPassed) << refused.transcript;
  const SimResult& served = mine.Wait();
  EXPECT_EQ(served.status, kSimPassed) << served.transcript;
  EXPECT_TRUE(PumpUntil([&] { return probe_.Text() == L"我的话"; }));
  CloseProgram();
  EXPECT_EQ(probe_.Text(), L"我的话");
  EXPECT_EQ(LoadAppConfig().known_phones.size(), 1u);
}

TEST_F(EndToEndTest, RunValueFollowsTheAutoStartSetting) {
  config_.auto_start = true;
  StartProgram();
  CloseProgram();
  EXPECT_EQ(testing::RunValue(), L"\"" + testing::ProgramPath() + L"\"");

  config_.auto_start = false;
  ProgramRun again;
  std::error_code ec;
  std::filesystem::remove(LogDirectory() / kLogFileName, ec);
  SaveAppConfig(config_);
  ASSERT_TRUE(again.Start());
  ASSERT_TRUE(ProgramRun::WaitForLog("ParlinoServer: listening on port " + port_));
  DWORD exit_code = 99;
  ASSERT_TRUE(again.Close(&exit_code));
  EXPECT_EQ(testing::RunValue(), std::nullopt);
}

}  // namespace
}  // namespace lumora
