#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ui/connection_view.h"
#include "ui/dialog_forms.h"
#include "ui/dialog_frame_win.h"

namespace lumora {

inline constexpr wchar_t kConnectionDialogClass[] = L"Parlino.ConnectionDialog";
// Sent or posted to an open connection box: look again. wParam
// kRefreshHistory: only what phones tried changed (cheap, no queries);
// kRefreshAll: the addresses may have changed too.
inline constexpr UINT kConnectionRefreshMessage = WM_APP + 20;
inline constexpr WPARAM kRefreshAll = 0;
inline constexpr WPARAM kRefreshHistory = 1;

// Where the connection box gets what it shows. Called on the UI thread.
struct ConnectionSource {
  // A look at the PC afresh (StartConnectionCheck): what to show at once,
  // and the check that the box runs on a thread of its own.
  std::function<PendingCheck()> check;
  // What phones tried, one line each.
  std::function<std::u16string()> history;
};

// The fixes the check offers, as both the box and the welcome dialog run
// them; the caller looks again afterwards.
//
// "允许手机连接": one inbound allow rule for this program, TCP, on the Private
// profile, added by netsh with the user's consent (Windows asks for it). A
// refusal or a failure is told in a box owned by `owner`.
void AddFirewallRuleForPhones(HWND owner);
// Windows' network settings, where the user makes the network private. The
// program never changes the category itself.
void OpenNetworkSettings(HWND owner);

// The box with the PC's addresses, the port, the check and what phones tried.
// Modal, with its own loop; returns when the user closes it. The host keeps
// it up to date with kConnectionRefreshMessage. The check runs on one thread
// of the box's at a time, joined before the box is gone; the window stays
// responsive while the firewall's rules are read.
class ConnectionDialog final : public WindowOwner<ConnectionDialog> {
 public:
  // False when the window could not be created.
  static bool Run(HWND owner, HINSTANCE instance, ConnectionSource source);

 private:
  friend class WindowOwner<ConnectionDialog>;
  ConnectionDialog(HINSTANCE instance, HWND owner, ConnectionSource source, PendingCheck first);
  ~ConnectionDialog();
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void Show(const ConnectionView& view);
  void ShowHistory();
  // Shows what is known at once and starts the check; one asked for while a
  // check runs starts when it ends.
  void Recheck();
  void StartCheck(std::function<ConnectionView()> finish);
  void TakeCheckResult();
  void JoinCheck();

  HINSTANCE instance_;
  HWND owner_;
  ConnectionSource source_;
  PendingCheck first_;  // shown at WM_CREATE, and then checked
  DialogControls controls_;
  std::thread checker_;
  std::mutex result_mutex_;               // guards result_
  std::optional<ConnectionView> result_;  // the checker's, until the UI thread takes it
  bool check_again_ = false;
  HWND focus_ = nullptr;
  // The user went to Windows' settings: coming back to the box checks again,
  // since the network may be private now.
  bool recheck_on_return_ = false;
};

// What the fixes ask of the shell, and the seam that a test puts in place of
// ShellExecuteEx so that the command line is built but not run.
struct ShellRequest {
  std::wstring verb;  // "runas" or "open"
  std::wstring file;
  std::wstring parameters;
};
enum class ShellOutcome { Done, Declined, Failed };

// Fills the box's address list and its fix buttons from `view`; the welcome
// dialog shows the same.
void ShowAddressLines(HWND list, const std::vector<std::u16string>& lines);
void EnableFixButtons(HWND dialog, int allow_id, int settings_id, const ConnectionView& view);

// This program's full path, UTF-8.
std::string ProgramPathUtf8();

namespace detail {
using ShellRunner = std::function<ShellOutcome(HWND owner, const ShellRequest& request)>;
// Empty puts ShellExecuteEx back.
void SetShellRunnerForTest(ShellRunner runner);
}  // namespace detail

}  // namespace lumora
