#include "ui/connection_dialog_win.h"

#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

#include "base/product.h"
#include "base/scoped_win.h"
#include "base/win32_util_win.h"
#include "log/log.h"
#include "net/reachability.h"

namespace lumora {

namespace {

constexpr DialogFrame kConnectionFrame{kConnectionDialogClass, L"Lumora语音输入 - IP 和端口"};

// netsh adds a rule in well under a second; a copy that hangs must not hold
// the box for ever.
constexpr DWORD kFixWaitMs = 15000;

std::mutex g_runner_mutex;
detail::ShellRunner g_runner;  // under g_runner_mutex; empty: ShellExecuteEx

ShellOutcome RunWithShell(HWND owner, const ShellRequest& request) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  // NOCLOSEPROCESS: the rule must be there before the box looks again.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = owner;
  info.lpVerb = request.verb.c_str();
  info.lpFile = request.file.c_str();
  info.lpParameters = request.parameters.empty() ? nullptr : request.parameters.c_str();
  info.nShow = request.verb == L"runas" ? SW_HIDE : SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) {
    const DWORD error = GetLastError();
    Log(LogLevel::Warn, "APP",
        "connection fix: ShellExecuteEx failed, GetLastError=" + std::to_string(error));
    // The user said no to Windows' question.
    return error == ERROR_CANCELLED ? ShellOutcome::Declined : ShellOutcome::Failed;
  }
  const ScopedHandle process(info.hProcess);
  if (process.get() == nullptr) {
    return ShellOutcome::Done;  // handed to a program that was running already
  }
  DWORD code = 1;
  if (WaitForSingleObject(process.get(), kFixWaitMs) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.get(), &code)) {
    return ShellOutcome::Failed;
  }
  if (code != 0) {
    Log(LogLevel::Warn, "APP", "connection fix: the command ended with " + std::to_string(code));
  }
  return code == 0 ? ShellOutcome::Done : ShellOutcome::Failed;
}

ShellOutcome RunShellRequest(HWND owner, const ShellRequest& request) {
  detail::ShellRunner runner;
  {
    std::lock_guard<std::mutex> lock(g_runner_mutex);
    runner = g_runner;
  }
  return runner ? runner(owner, request) : RunWithShell(owner, request);
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(folder, length)
                                         : std::wstring(L"C:\\Windows\\System32");
}

void Tell(HWND owner, const wchar_t* text) { MessageBoxW(owner, text, kProductName, MB_OK | MB_ICONWARNING); }

}  // namespace

std::string ProgramPathUtf8() { return WideToUtf8(ModulePath()); }

void AddFirewallRuleForPhones(HWND owner) {
  const std::string arguments = FirewallRuleArguments(ProgramPathUtf8());
  if (arguments.empty()) {
    Tell(owner, L"本程序所在的路径无法交给 Windows 防火墙。请在 Windows 安全中心中允许本程序通过防火墙。");
    return;
  }
  // The full path: a netsh.exe that happens to lie beside the program or on
  // the search path must never be what runs with the user's elevation.
  const ShellRequest request{L"runas", SystemFolder() + L"\\netsh.exe", Utf8ToWide(arguments)};
  switch (RunShellRequest(owner, request)) {
    case ShellOutcome::Done:
      Log(LogLevel::Warn, "APP", "connection fix: firewall rule for phones added");
      break;
    case ShellOutcome::Declined:
      Tell(owner, L"防火墙规则没有添加：Windows 没有得到你的允许。");
      break;
    case ShellOutcome::Failed:
      Tell(owner, L"防火墙规则没有添加成功。请在 Windows 安全中心中允许本程序通过防火墙（专用网络）。");
      break;
  }
}

void OpenNetworkSettings(HWND owner) {
  const ShellRequest request{L"open", L"ms-settings:network-status", L""};
  if (RunShellRequest(owner, request) != ShellOutcome::Done) {
    Tell(owner, L"无法打开网络设置。请打开「设置 → 网络和 Internet」，在当前网络的属性中选择「专用网络」。");
  }
}

void ShowAddressLines(HWND list, const std::vector<std::u16string>& lines) {
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const std::u16string& line : lines) {
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideChars(line)));
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void EnableFixButtons(HWND dialog, int allow_id, int settings_id, const ConnectionView& view) {
  // A button that goes grey must not keep the focus: Tab would be stuck.
  const HWND focus = GetFocus();
  const auto enable = [&](int id, bool on) {
    HWND button = GetDlgItem(dialog, id);
    if (!on && focus == button) {
      SendMessageW(dialog, WM_NEXTDLGCTL, 0, FALSE);
    }
    EnableWindow(button, on ? TRUE : FALSE);
  };
  enable(allow_id, view.offer_firewall_rule);
  enable(settings_id, view.offer_network_settings);
}

namespace {
// Posted by the checker when its result is in result_.
constexpr UINT kCheckDoneMessage = WM_APP + 21;
}  // namespace

ConnectionDialog::ConnectionDialog(HINSTANCE instance, HWND owner, ConnectionSource source,
                                   PendingCheck first)
    : instance_(instance),
      owner_(owner),
      source_(std::move(source)),
      first_(std::move(first)),
      controls_(ConnectionForm(first_.shown.heading, first_.shown.diagnosis, first_.shown.history)) {}

ConnectionDialog::~ConnectionDialog() { JoinCheck(); }

bool ConnectionDialog::Run(HWND owner, HINSTANCE instance, ConnectionSource source) {
  static std::atomic<bool> registered{false};
  RegisterDialogClass(registered, instance, kConnectionDialogClass, &ConnectionDialog::WindowProc);
  // The addresses before the window is made, so that it opens with them.
  PendingCheck first = source.check ? source.check() : PendingCheck{};
  if (source.history) {
    first.shown.history = source.history();
  }
  ConnectionDialog dialog(instance, owner, std::move(source), std::move(first));
  return RunDialogFrame(kConnectionFrame, dialog.controls_, owner, instance, &dialog);
}

void ConnectionDialog::Show(const ConnectionView& view) {
  controls_.SetText(kConnectionHeadingId, view.heading);
  ShowAddressLines(GetDlgItem(window(), kConnectionAddressListId), view.addresses);
  controls_.SetText(kConnectionDiagnosisId, view.diagnosis);
  EnableFixButtons(window(), kConnectionAllowPhoneId, kConnectionNetworkSettingsId, view);
}

void ConnectionDialog::ShowHistory() {
  if (source_.history) {
    controls_.SetText(kConnectionHistoryId, source_.history());
  }
}

void ConnectionDialog::Recheck() {
  ShowHistory();
  if (checker_.joinable()) {
    check_again_ = true;
    return;
  }
  if (!source_.check) {
    return;
  }
  PendingCheck check = source_.check();
  Show(check.shown);
  StartCheck(std::move(check.finish));
}

void ConnectionDialog::StartCheck(std::function<ConnectionView()> finish) {
  if (!finish) {
    return;
  }
  const HWND dialog = window();
  checker_ = std::thread([this, dialog, finish = std::move(finish)] {
    ConnectionView view = finish();
    {
      std::lock_guard<std::mutex> lock(result_mutex_);
      result_ = std::move(view);
    }
    // The window is there: it joins this thread before it goes.
    PostMessageW(dialog, kCheckDoneMessage, 0, 0);
  });
}

void ConnectionDialog::TakeCheckResult() {
  JoinCheck();
  std::optional<ConnectionView> view;
  {
    std::lock_guard<std::mutex> lock(result_mutex_);
    view.swap(result_);
  }
  if (view) {
    Show(*view);
  }
  if (check_again_) {
    check_again_ = false;
    Recheck();
  }
}

void ConnectionDialog::JoinCheck() {
  if (checker_.joinable()) {
    checker_.join();
  }
}

LRESULT ConnectionDialog::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      controls_.Create(window(), instance_);
      Show(first_.shown);
      StartCheck(std::move(first_.finish));
      return 0;
    case WM_DPICHANGED:
    case WM_SETTINGCHANGE:
      if (controls_.HandleLayoutChange(message, wparam, lparam)) {
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case DM_GETDEFID:
      return MAKELRESULT(kConnectionCloseId, DC_HASDEFID);
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE && recheck_on_return_) {
        recheck_on_return_ = false;
        // Posted: the activation finishes before the check starts.
        PostMessageW(window(), kConnectionRefreshMessage, kRefreshAll, 0);
      }
      if (KeepFocusAcrossActivation(window(), wparam, focus_)) {
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case kConnectionRefreshMessage:
      if (wparam == kRefreshHistory) {
        ShowHistory();
      } else {
        Recheck();
      }
      return 0;
    case kCheckDoneMessage:
      TakeCheckResult();
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case kConnectionAllowPhoneId:
          AddFirewallRuleForPhones(window());
          Recheck();
          break;
        case kConnectionNetworkSettingsId:
          recheck_on_return_ = true;
          OpenNetworkSettings(window());
          break;
        case kConnectionRecheckId:
          Recheck();
          break;
        case kConnectionCloseId:
        case IDCANCEL:
          DestroyWindow(window());
          break;
        default:
          break;
      }
      return 0;
    case WM_CLOSE:
      DestroyWindow(window());
      return 0;
    case WM_DESTROY:
      // A check still running ends first: it reports to this window.
      JoinCheck();
      controls_.Release();
      ReleaseOwner(owner_);
      return 0;
    default:
      return DefaultHandling(message, wparam, lparam);
  }
}

namespace detail {
void SetShellRunnerForTest(ShellRunner runner) {
  std::lock_guard<std::mutex> lock(g_runner_mutex);
  g_runner = std::move(runner);
}
}  // namespace detail

}  // namespace lumora
