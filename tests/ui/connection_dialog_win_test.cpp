// The connection box on the bench's desktop, fed by a source the test plays,
// with the shell's side of the fixes recorded instead of run.

#include "ui/connection_dialog_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/win32_util_win.h"
#include "tests/ui/dialog_script_win.h"
#include "tests/ui/dialog_test_support_win.h"

namespace lumora {
namespace {

using testing::DialogScript;
using testing::FindMessageBox;
using testing::ListBoxLines;
using testing::WindowText;

using testing::kInstance;

std::wstring AsWide(const std::u16string& text) { return {text.begin(), text.end()}; }

// A source whose answers the test changes between checks, counting them.
// The test changes `view` only once the box shows the last check's result,
// when no check runs.
struct PlayedPc {
  ConnectionView view;
  std::u16string history = u"还没有手机连接过。";
  std::atomic<int> checks{0};

  ConnectionSource Source() {
    return {[this] {
              PendingCheck check;
              check.shown = view;
              check.shown.diagnosis = u"checking";
              check.shown.offer_firewall_rule = false;
              check.finish = [this] {
                ++checks;
                return view;
              };
              return check;
            },
            [this] { return history; }};
  }
};

// The box shows the result of check number `count`.
bool Checked(const PlayedPc& pc, HWND dialog, int count) {
  return pc.checks == count &&
         WindowText(GetDlgItem(dialog, kConnectionDiagnosisId)) == AsWide(pc.view.diagnosis);
}

class ConnectionDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pc_.view.heading = u"heading";
    pc_.view.addresses = {u"192.168.1.5:47823（推荐）", u"172.20.0.1:47823（VPN 或隧道）"};
    pc_.view.diagnosis = u"firewall blocks";
    pc_.view.offer_firewall_rule = true;
    detail::SetShellRunnerForTest([this](HWND owner, const ShellRequest& request) {
      EXPECT_EQ(owner, FindWindowW(kConnectionDialogClass, nullptr)) << "the fix's boxes belong to the box";
      requests_.push_back(request);
      return outcome_;
    });
  }
  void TearDown() override { detail::SetShellRunnerForTest({}); }

  void Run(DialogScript& script) {
    script.Start();
    EXPECT_TRUE(ConnectionDialog::Run(nullptr, kInstance, pc_.Source()));
    EXPECT_TRUE(script.finished()) << script.failure();
    EXPECT_EQ(FindWindowW(kConnectionDialogClass, nullptr), nullptr) << "the box outlived Run";
  }

  PlayedPc pc_;
  std::vector<ShellRequest> requests_;
  ShellOutcome outcome_ = ShellOutcome::Done;
};

TEST_F(ConnectionDialogTest, ShowsTheCheckAndFollowsTheHost) {
  DialogScript script;
  script.WaitForDialog(kConnectionDialogClass)
      .Then("checked", [&] { return Checked(pc_, script.dialog(), 1); })
      .Check([&] {
        EXPECT_EQ(WindowText(script.Control(kConnectionHeadingId)), L"heading");
        EXPECT_EQ(ListBoxLines(script.Control(kConnectionAddressListId)),
                  (std::vector<std::wstring>{AsWide(pc_.view.addresses[0]), AsWide(pc_.view.addresses[1])}));
        EXPECT_EQ(WindowText(script.Control(kConnectionHistoryId)), AsWide(pc_.history));
        EXPECT_TRUE(IsWindowEnabled(script.Control(kConnectionAllowPhoneId)));
        EXPECT_FALSE(IsWindowEnabled(script.Control(kConnectionNetworkSettingsId)));
        // A refused phone: only the history is read again, no queries run.
        pc_.history = u"最近被拒绝的连接：\n  22:15:03  192.168.1.23  你拒绝了它";
        PostMessageW(script.dialog(), kConnectionRefreshMessage, kRefreshHistory, 0);
      })
      .Then("the history shows",
            [&] { return WindowText(script.Control(kConnectionHistoryId)) == AsWide(pc_.history); })
      .Check([&] {
        EXPECT_EQ(pc_.checks, 1);
        // The network became public: the box looks again when the host says
        // the addresses changed, and grows to the longer text.
        pc_.view.addresses = {u"10.0.0.9:47823（推荐）"};
        pc_.view.diagnosis = u"a public network\nsecond line\nthird line";
        pc_.view.offer_firewall_rule = false;
        pc_.view.offer_network_settings = true;
        PostMessageW(script.dialog(), kConnectionRefreshMessage, kRefreshAll, 0);
      })
      .Then("checked again", [&] { return Checked(pc_, script.dialog(), 2); })
      .Check([&] {
        EXPECT_EQ(ListBoxLines(script.Control(kConnectionAddressListId)),
                  std::vector<std::wstring>{L"10.0.0.9:47823（推荐）"});
        EXPECT_FALSE(IsWindowEnabled(script.Control(kConnectionAllowPhoneId)));
        EXPECT_TRUE(IsWindowEnabled(script.Control(kConnectionNetworkSettingsId)));
        RECT diagnosis{};
        RECT history{};
        GetWindowRect(script.Control(kConnectionDiagnosisId), &diagnosis);
        GetWindowRect(script.Control(kConnectionHistoryId), &history);
        EXPECT_LE(diagnosis.bottom, history.top) << "the longer check runs into the history";
        EXPECT_GE(diagnosis.bottom - diagnosis.top, 3 * testing::FontOf(script.dialog()).height)
            << "three lines of check";
      })
      .Click(kConnectionRecheckId)
      .Then("checked on request", [&] { return Checked(pc_, script.dialog(), 3); })
      .PressKey(VK_ESCAPE);
  Run(script);
  EXPECT_TRUE(requests_.empty());
}

TEST_F(ConnectionDialogTest, FixesAskTheShellAndLookAgain) {
  struct Case {
    const char* what;
    int button;
    bool offer_rule;
    ShellOutcome outcome;
    bool tells_the_user;  // a box about what did not happen
  };
  const Case cases[] = {
      {"the rule added", kConnectionAllowPhoneId, true, ShellOutcome::Done, false},
      {"Windows' question declined", kConnectionAllowPhoneId, true, ShellOutcome::Declined, true},
      {"the settings opened", kConnectionNetworkSettingsId, false, ShellOutcome::Done, false},
      {"the settings did not open", kConnectionNetworkSettingsId, false, ShellOutcome::Failed, true},
  };
  const std::wstring program = Utf8ToWide(ProgramPathUtf8());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    requests_.clear();
    pc_.checks = 0;
    pc_.view.offer_firewall_rule = c.offer_rule;
    pc_.view.offer_network_settings = !c.offer_rule;
    outcome_ = c.outcome;
    DialogScript script;
    script.WaitForDialog(kConnectionDialogClass)
        .Then("checked", [&] { return Checked(pc_, script.dialog(), 1); })
        .Click(c.button);
    if (c.tells_the_user) {
      script.Then("the user is told", [] {
        HWND box = FindMessageBox();
        return box != nullptr && IsWindowVisible(box) && PostMessageW(box, WM_COMMAND, IDOK, 0);
      });
      script.Then("told", [] { return FindMessageBox() == nullptr; });
    }
    // The user goes to the settings and comes back: the box checks again
    // (after the elevation it has looked already).
    HWND away = testing::CreateOwnerWindow(0, 0, 200, 100, true);
    script.Then("away", [&] { return SetForegroundWindow(away) && GetForegroundWindow() == away; })
        .Then("back in the box", [&] { return SetForegroundWindow(script.dialog()) != FALSE; })
        .Then("checked again", [&] { return Checked(pc_, script.dialog(), 2); })
        .PressKey(VK_ESCAPE);
    Run(script);
    DestroyWindow(away);
    ASSERT_EQ(requests_.size(), 1u);
    const ShellRequest& request = requests_[0];
    if (c.button == kConnectionAllowPhoneId) {
      // Elevated, the system's own netsh, one inbound TCP allow rule for this
      // very program on private networks only.
      EXPECT_EQ(request.verb, L"runas");
      wchar_t system[MAX_PATH] = {};
      GetSystemDirectoryW(system, MAX_PATH);
      EXPECT_EQ(request.file, std::wstring(system) + L"\\netsh.exe");
      for (const std::wstring part : {L"advfirewall firewall add rule ", L" dir=in", L" action=allow",
                                      L" protocol=TCP", L" profile=private"}) {
        EXPECT_NE(request.parameters.find(part), std::wstring::npos) << request.parameters;
      }
      EXPECT_NE(request.parameters.find(L"program=\"" + program + L"\""), std::wstring::npos)
          << request.parameters;
      EXPECT_EQ(request.parameters.find(L"public"), std::wstring::npos) << request.parameters;
    } else {
      EXPECT_EQ(request.verb, L"open");
      EXPECT_EQ(request.file, L"ms-settings:network-status");
    }
  }
}

}  // namespace
}  // namespace lumora
