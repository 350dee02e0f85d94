#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <string>
#include <utility>

#include "app/auto_start_win.h"
#include "app/tray_menu_win.h"
#include "app/win32_app_win.h"
#include "base/display_text.h"
#include "base/resource.h"
#include "base/win32_util_win.h"
#include "core/listen_port.h"
#include "log/log.h"
#include "ui/connection_dialog_win.h"
#include "ui/contact_feedback_dialog_win.h"
#include "ui/onboarding_dialog_win.h"
#include "ui/settings_dialog_win.h"

namespace lumora {

void Win32App::AddTrayIcon() {
  if (tray_installed_) {
    return;
  }
  tray_icon_data_ = NOTIFYICONDATAW{};
  tray_icon_data_.cbSize = sizeof tray_icon_data_;
  tray_icon_data_.hWnd = window();
  tray_icon_data_.uID = kTrayIconId;
  // NIF_SHOWTIP: under version 4 the shell shows the hover tip only when
  // asked, and the tip is where the user sees the port and the state.
  tray_icon_data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  tray_icon_data_.uCallbackMessage = kTrayCallbackMessage;
  // Also after the taskbar was created again: the icon and the tip show the
  // phone that is connected now.
  tray_icon_data_.hIcon = TrayIcon();
  UpdateTrayTip();

  // "TaskbarCreated" also comes while the shell still holds our icon (a
  // change of display scale sends it): then adding fails and the icon is
  // brought up to date instead.
  if (!Shell_NotifyIconW(NIM_ADD, &tray_icon_data_) && !Shell_NotifyIconW(NIM_MODIFY, &tray_icon_data_)) {
    Log(LogLevel::Error, "APP",
        "Win32App: Shell_NotifyIcon NIM_ADD failed, GetLastError=" + std::to_string(GetLastError()));
    // The shell may still be starting (a logon start): one more try.
    Sleep(500);
    if (!Shell_NotifyIconW(NIM_ADD, &tray_icon_data_)) {
      Log(LogLevel::Error, "APP", "Win32App: Shell_NotifyIcon NIM_ADD retry failed; no tray icon");
      return;
    }
  }
  tray_icon_data_.uVersion = NOTIFYICON_VERSION_4;
  Shell_NotifyIconW(NIM_SETVERSION, &tray_icon_data_);
  tray_installed_ = true;
  Log(LogLevel::Warn, "APP", "Win32App: tray icon installed");
}

void Win32App::UpdateTrayTip() {
  const std::wstring tip = Utf8ToWide(
      TrayTipText(config_.listen_port, server_ && server_->IsRunning(), tip_address_line_, tray_phone_));
  const std::size_t room = sizeof tray_icon_data_.szTip / sizeof tray_icon_data_.szTip[0] - 1;
  const std::size_t length = tip.size() < room ? tip.size() : room;
  std::wmemcpy(tray_icon_data_.szTip, tip.c_str(), length);
  tray_icon_data_.szTip[length] = L'\0';
  tray_icon_data_.uFlags |= NIF_TIP;
  if (tray_installed_) {
    Shell_NotifyIconW(NIM_MODIFY, &tray_icon_data_);
  }
}

namespace {

// LoadIconMetric exists only in comctl32 version 6. Without a manifest that
// asks for version 6, Windows binds the program to version 5.82, and a
// function of 6 imported by name stops the program before it starts ("entry
// point not found"); so it is looked up here, in whichever comctl32 the
// process has loaded.
using LoadIconMetricFunction = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, HICON*);

LoadIconMetricFunction FindLoadIconMetric() {
  const HMODULE comctl32 = GetModuleHandleW(L"comctl32.dll");
  const FARPROC proc = comctl32 != nullptr ? GetProcAddress(comctl32, "LoadIconMetric") : nullptr;
  // Through void(*)(): GCC accepts that cast from any function pointer type.
  return reinterpret_cast<LoadIconMetricFunction>(reinterpret_cast<void (*)()>(proc));
}

// One of the module's icons as the notification area draws it: LoadIconMetric
// picks the image made for the small size (a large one shrunk by the shell
// looks blurred); without it, the image nearest the small-icon metrics.
HICON LoadSmallIcon(HINSTANCE instance, int id) {
  static const LoadIconMetricFunction load_icon_metric = FindLoadIconMetric();
  HICON icon = nullptr;
  if (load_icon_metric != nullptr &&
      SUCCEEDED(load_icon_metric(instance, MAKEINTRESOURCEW(id), LIM_SMALL, &icon)) && icon != nullptr) {
    return icon;
  }
  return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

}  // namespace

HICON Win32App::TrayIcon() {
  if (tray_icon_idle_.get() == nullptr) {
    tray_icon_idle_.Reset(LoadSmallIcon(instance_, IDI_APP_SMALL));
    if (tray_icon_idle_.get() == nullptr) {
      tray_icon_idle_.Reset(LoadSmallIcon(instance_, IDI_APP));
    }
    if (tray_icon_idle_.get() == nullptr) {
      tray_icon_idle_.Reset(CopyIcon(LoadIconW(nullptr, IDI_APPLICATION)));
    }
    tray_icon_connected_.Reset(LoadSmallIcon(instance_, IDI_TRAY_CONNECTED));
  }
  if (!tray_phone_.empty() && tray_icon_connected_.get() != nullptr) {
    return tray_icon_connected_.get();
  }
  return tray_icon_idle_.get();
}

void Win32App::SetTrayPhone(std::string phone) {
  tray_phone_ = std::move(phone);
  tray_icon_data_.hIcon = TrayIcon();
  // Pushes the icon with the tip when the shell has the icon; otherwise
  // AddTrayIcon shows both when it installs it.
  UpdateTrayTip();
}

void Win32App::ShowTrayNotice(const std::wstring& title, const std::wstring& text) {
  if (!tray_installed_) {
    return;
  }
  // A record of its own: NIF_INFO left in the icon's record would show the
  // notice again at every tip update and every re-add after Explorer
  // restarts.
  NOTIFYICONDATAW notice{};
  notice.cbSize = sizeof notice;
  notice.hWnd = tray_icon_data_.hWnd;
  notice.uID = tray_icon_data_.uID;
  // NIF_REALTIME: a notice the shell cannot show now (quiet hours, a full
  // screen program) is dropped rather than shown late, when the phone it
  // speaks of may be long gone.
  notice.uFlags = NIF_INFO | NIF_REALTIME;
  notice.dwInfoFlags = NIIF_INFO;
  const auto copy = [](const std::wstring& from, wchar_t* to, std::size_t capacity) {
    const std::wstring cut = AsWide(CutDisplayText(AsU16(from), capacity - 1));
    std::wmemcpy(to, cut.c_str(), cut.size() + 1);
  };
  copy(title, notice.szInfoTitle, std::size(notice.szInfoTitle));
  copy(text, notice.szInfo, std::size(notice.szInfo));
  if (!Shell_NotifyIconW(NIM_MODIFY, &notice)) {
    Log(LogLevel::Error, "APP",
        "Win32App: Shell_NotifyIcon notice failed, GetLastError=" + std::to_string(GetLastError()));
  }
}

void Win32App::ShowTrayNotice(const Notice& notice) {
  ShowTrayNotice(Utf8ToWide(notice.title), Utf8ToWide(notice.text));
}

void Win32App::OnOutputReport(OutputReport report) {
  if (report.held) {
    // The reason only: the text itself never reaches the log.
    Log(LogLevel::Warn, "APP", std::string("output: commit held, ") + HoldReasonName(report.reason));
    ShowTrayNotice(HeldTextNotice(report, DesktopKind::Windows));
  }
  KeepRecentText(recent_texts_, std::move(report));
}

void Win32App::CopyRecentText(const OutputReport& report) {
  ShowTrayNotice(CopiedTextNotice(MakePlatformDesktop()->SetClipboardText(ToUtf16(report.text))));
}

void Win32App::ShowConnectionInfo() {
  // Also the box itself, asked for again.
  if (BringOpenDialogToFront()) {
    return;
  }
  ConnectionSource source;
  // The port as it is served now: the user may have moved it meanwhile.
  source.check = [this] {
    return StartConnectionCheck(config_.listen_port, server_ && server_->IsRunning(), ProgramPathUtf8());
  };
  source.history = [this] { return HistoryText(connection_history_); };
  ConnectionDialog::Run(window(), instance_, std::move(source));
}

bool Win32App::BringOpenWindowToFront(const wchar_t* class_name, const wchar_t* title) {
  struct Search {
    const wchar_t* class_name;
    const wchar_t* title;
    HWND found;
  } search{class_name, title, nullptr};
  // The dialogs and boxes all belong to the UI thread, this one.
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t name[64] = {};
        GetClassNameW(window, name, static_cast<int>(std::size(name)));
        if (!IsWindowVisible(window) || std::wcscmp(name, s->class_name) != 0) {
          return TRUE;
        }
        if (s->title != nullptr) {
          wchar_t text[128] = {};
          GetWindowTextW(window, text, static_cast<int>(std::size(text)));
          if (std::wcscmp(text, s->title) != 0) {
            return TRUE;
          }
        }
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) {
    return false;
  }
  // A dialog's own message box, when it has one open, is where the user
  // must go on.
  SetForegroundWindow(GetLastActivePopup(search.found));
  return true;
}

bool Win32App::BringOpenDialogToFront() {
  // "#32770": the message boxes, the connection box and the warnings alike.
  for (const wchar_t* name : {kSettingsDialogClass, kOnboardingDialogClass, kContactDialogClass,
                              kConnectionDialogClass, L"#32770"}) {
    if (BringOpenWindowToFront(name)) {
      return true;
    }
  }
  return false;
}

void Win32App::ShowTrayMenu(int x, int y) {
  UINT command = 0;
  // What the menu shows: commits that arrive while it is open (held, since
  // the menu is in front) move the live list, and an item must still copy
  // the text it showed, not whichever took its place.
  const std::vector<OutputReport> shown = recent_texts_;
  {
    // Gone before the command runs: a command may open a dialog.
    const ScopedMenu menu = BuildTrayMenu(TrayMenuItems(config_, shown));
    // Without this the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window());
    if (track_menu_) {
      command = track_menu_(menu.get());
    } else {
      command = static_cast<UINT>(TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON,
                                                 x, y, 0, window(), nullptr));
    }
    // Without it the menu may not open again at the next click: the
    // foreground window must see a message after a notification-area menu.
    PostMessageW(window(), WM_NULL, 0, 0);
  }
  if (command >= kTrayCommandRecentBase && command < kTrayCommandRecentBase + shown.size()) {
    CopyRecentText(shown[command - kTrayCommandRecentBase]);
    return;
  }
  ExecuteTrayCommand(command);
}

void Win32App::ExecuteTrayCommand(UINT command) {
  if (command >= kTrayCommandRecentBase && command < kTrayCommandRecentBase + kRecentTextCount) {
    if (command - kTrayCommandRecentBase < recent_texts_.size()) {
      CopyRecentText(recent_texts_[command - kTrayCommandRecentBase]);
    }
    return;
  }
  // Only the values the menu offers: any other would be saved as a theme or
  // position the file cannot name.
  if (command >= kTrayCommandThemeBase && command < kTrayCommandThemeBase + kOverlayThemeColorCount) {
    config_.overlay_theme_color = static_cast<OverlayThemeColor>(command - kTrayCommandThemeBase);
    SaveAppConfig(config_);
    if (overlay_) {
      overlay_->SetThemeColor(config_.overlay_theme_color);
    }
    return;
  }
  if (command >= kTrayCommandPositionBase && command < kTrayCommandPositionBase + kOverlayPositionCount) {
    config_.overlay_position = static_cast<OverlayPosition>(command - kTrayCommandPositionBase);
    SaveAppConfig(config_);
    if (overlay_) {
      overlay_->SetPosition(config_.overlay_position);
    }
    return;
  }
  switch (command) {
    case kTrayCommandSettings:
      if (!BringOpenDialogToFront()) {
        RunSettingsFlow();
      }
      break;
    case kTrayCommandShowInfo:
      ShowConnectionInfo();
      break;
    case kTrayCommandAutoStart:
      // The check mark shows what Windows will do: the setting changes only
      // when the Run value did.
      if (ChangeAutoStart(!config_.auto_start)) {
        config_.auto_start = !config_.auto_start;
        SaveAppConfig(config_);
      }
      break;
    case kTrayCommandPressEnter:
      config_.press_enter_on_commit = !config_.press_enter_on_commit;
      SaveAppConfig(config_);
      break;
    case kTrayCommandClipboardPaste:
      config_.use_clipboard_paste = !config_.use_clipboard_paste;
      SaveAppConfig(config_);
      break;
    case kTrayCommandContact:
      if (!BringOpenDialogToFront()) {
        ContactFeedbackDialog::Run(window(), instance_);
      }
      break;
    case kTrayCommandExit:
      PostMessageW(window(), WM_CLOSE, 0, 0);
      break;
    default:
      break;
  }
}

void Win32App::RunSettingsFlow() {
  const AppConfig opened = config_;
  AppConfig chosen;
  // A new port is bound before the dialog closes: a taken one is told there,
  // with the old server still serving and the file keeping the old port.
  const PortTrial try_port = [this](std::int32_t port) {
    return port == config_.listen_port || TryListenPort(port);
  };
  if (!SettingsDialog::Run(window(), instance_, opened, &chosen, try_port)) {
    return;
  }
  // The tray's toggles and the phone prompt work while the dialog is open:
  // what they changed meanwhile stays unless the user changed it here too.
  chosen = MergeDialogChoices(opened, chosen, config_);
  if (!ChangeAutoStart(chosen.auto_start)) {
    chosen.auto_start = config_.auto_start;
  }
  const bool port_changed = chosen.listen_port != config_.listen_port;
  config_ = chosen;
  SaveAppConfig(config_);
  if (overlay_) {
    overlay_->SetThemeColor(config_.overlay_theme_color);
    overlay_->SetPosition(config_.overlay_position);
  }
  ApplyPhoneSettings();
  if (port_changed) {
    ApplyListenPort();
  }
  UpdateTrayTip();
}

bool Win32App::TryListenPort(std::int32_t port) {
  return MoveServerToPort(server_, static_cast<unsigned>(port), [this] { return MakeServerCallbacks(); }) !=
         PortMove::Taken;
}

void Win32App::ApplyListenPort() {
  // Normally the dialog moved the server already, and this finds it there.
  StartServer();
}

bool Win32App::ChangeAutoStart(bool enable) {
  if (ApplyAutoStart(enable)) {
    return true;
  }
  ShowTrayNotice(AutoStartUnchangedNotice(enable, DesktopKind::Windows));
  return false;
}

}  // namespace lumora
