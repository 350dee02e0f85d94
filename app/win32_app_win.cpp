#include "app/win32_app_win.h"

#include <commctrl.h>

#include <ctime>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "app/auto_start_win.h"
#include "base/resource.h"
#include "base/utf16.h"
#include "base/win32_util_win.h"
#include "core/listen_port.h"
#include "core/server_wiring.h"
#include "log/log.h"
#include "overlay/dpi_win.h"
#include "ui/connection_dialog_win.h"
#include "ui/onboarding_dialog_win.h"

namespace lumora {

Win32App::Win32App(HINSTANCE instance)
    : instance_(instance), text_injector_(MakePlatformDesktop(), [this](OutputReport report) {
        PostUiTask([this, report = std::move(report)]() mutable { OnOutputReport(std::move(report)); });
      }) {}

Win32App::~Win32App() {
  // Output ends before anything else: after exit nothing more may be typed
  // into whatever is in front, and what is still queued is dropped.
  text_injector_.Stop();
  // The system's threads post no more address changes.
  address_watch_.reset();
  // The server next: from here on no other thread posts tasks.
  if (server_) {
    server_->Stop();
  }
  if (tray_installed_) {
    Shell_NotifyIconW(NIM_DELETE, &tray_icon_data_);
    tray_installed_ = false;
  }
  // Tasks posted after the loop ended are dropped unrun.
  tasks_.Close();
  coordinator_.reset();
  server_.reset();
  // The stopped text injector and then the overlay go with the members, in
  // that order.
}

bool Win32App::InitHostWindow() {
  EnableDpiAwareness();

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_BAR_CLASSES;
  InitCommonControlsEx(&controls);

  taskbar_created_message_ = RegisterWindowMessageW(L"TaskbarCreated");

  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &Win32App::WindowProc;
  window_class.hInstance = instance_;
  window_class.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_APP));
  window_class.hIconSm = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_APP_SMALL));
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kHostWindowClass;
  if (RegisterClassExW(&window_class) == 0) {
    Log(LogLevel::Error, "APP", "Win32App: RegisterClass failed");
    return false;
  }

  HWND created = CreateWindowExW(WS_EX_TOOLWINDOW, kHostWindowClass, kProductName, WS_POPUP, 0, 0, 0, 0,
                                 nullptr, nullptr, instance_, this);
  if (created == nullptr) {
    Log(LogLevel::Error, "APP", "Win32App: CreateWindow failed");
    return false;
  }
  task_window_ = created;
  return true;
}

int Win32App::Run() {
  if (!InitHostWindow()) {
    return 1;
  }
  StartComponents();
  return MessageLoop();
}

void Win32App::StartComponents() {
  config_ = LoadAppConfig();
  std::error_code ec;
  const bool first_run = !std::filesystem::exists(ConfigFilePath(), ec) || ec;
  if (first_run) {
    // Before the overlay and the tray icon exist: the user picks the port.
    // The start button binds it before the dialog closes, so that a taken
    // one is told while the user can still pick another. Whatever the
    // dialog returns, the file is written so that it shows only once.
    AppConfig chosen;
    welcome_open_ = true;
    const bool started =
        OnboardingDialog::Run(window(), instance_, config_, &chosen, [this](std::int32_t port) {
          return MoveServerToPort(server_, static_cast<unsigned>(port),
                                  [this] { return MakeServerCallbacks(); }) != PortMove::Taken;
        });
    welcome_open_ = false;
    if (closing_) {
      // Closed by the installer or the end of the session before the user
      // chose: nothing is saved, registered or started, and the next start
      // welcomes again.
      return;
    }
    if (started) {
      config_ = chosen;
    }
    SaveAppConfig(config_);
  }
  ApplyAutoStart(config_.auto_start);
  ApplyPhoneSettings();

  overlay_ = std::make_unique<LiveTextOverlay>(instance_, window());
  coordinator_ = std::make_unique<Coordinator>(overlay_.get(), &text_injector_, &config_);
  // A commit's overlay hide and log line wait until the output has had a
  // moment for its first keystrokes (under Wine the hide alone took about
  // 3 ms of the system's time, the log line 2 ms, while the output typed).
  coordinator_->DeferCommitEpilogue(
      [this] { SetTimer(window(), kCommitEpilogueTimerId, kCommitEpilogueDelayMs, nullptr); });
  if (overlay_) {
    overlay_->SetThemeColor(config_.overlay_theme_color);
    overlay_->SetPosition(config_.overlay_position);
  }
  // Read before the icon shows the tip; changes are followed from here on.
  TakeAddresses(false);
  address_watch_ = std::make_unique<AddressWatch>([this] { PostUiTask([this] { OnAddressesChanged(); }); });
  AddTrayIcon();
  StartServer();
  UpdateTrayTip();
}

void Win32App::OnAddressesChanged() {
  // Each call starts the wait anew.
  SetTimer(window(), kAddressSettleTimerId, kAddressSettleDelayMs, nullptr);
}

void Win32App::TakeAddresses(bool announce) {
  const std::vector<ShownAddress> ranked = CurrentAddresses();
  const std::optional<ShownAddress> recommended = RecommendedAddress(ranked);
  const std::string now = recommended ? recommended->address : std::string();
  tip_address_line_ = Utf16ToUtf8(TipAddressLine(ranked));
  if (announce) {
    if (const std::optional<AddressNotice> notice =
            AddressChangeNotice(recommended_address_, now, config_.listen_port)) {
      Log(LogLevel::Warn, "APP", "Win32App: the address to type is now " + (now.empty() ? "none" : now));
      ShowTrayNotice(AsWide(notice->title), AsWide(notice->text));
    }
  }
  recommended_address_ = now;
  UpdateTrayTip();
  RefreshConnectionBox(kRefreshAll);
}

void Win32App::OnConnectionRefused(std::uint32_t address, RefusalReason reason) {
  connection_history_.NoteRefused({address, reason, ClockText(std::time(nullptr))});
  RefreshConnectionBox(kRefreshHistory);
}

void Win32App::RefreshConnectionBox(WPARAM what) {
  // Posted: the box may be in the middle of a check of its own.
  HWND box = FindWindowW(kConnectionDialogClass, nullptr);
  DWORD process = 0;
  if (box != nullptr && GetWindowThreadProcessId(box, &process) != 0 && process == GetCurrentProcessId()) {
    PostMessageW(box, kConnectionRefreshMessage, what, 0);
  }
}

int Win32App::MessageLoop() {
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

void Win32App::PostUiTask(std::function<void()> task) {
  tasks_.Push(std::move(task));
  // A message for every task, not just the first of a batch: a message the
  // system could not post must not leave the queue waiting.
  if (HWND target = task_window_.load(); target != nullptr) {
    PostMessageW(target, kUiTaskMessage, 0, 0);
  }
}

ServerCallbacks Win32App::MakeServerCallbacks() {
  ServerWiringHost wiring;
  wiring.post_ui_task = [this](std::function<void()> task) { PostUiTask(std::move(task)); };
  wiring.coordinator = [this] { return coordinator_.get(); };
  wiring.link_changed = [this] { ShowLinkedPhone(); };
  wiring.gate = &gate_;
  wiring.phone_held = [this](const PhoneHello& hello) { consent_.OnPhoneHeld(hello); };
  wiring.held_phone_gone = [this](std::uint64_t id) { consent_.OnHeldPhoneGone(id); };
  wiring.phone_active = [this](const PhoneHello& hello, bool took_over) { OnPhoneActive(hello, took_over); };
  wiring.connection_refused = [this](std::uint32_t address, RefusalReason reason) {
    OnConnectionRefused(address, reason);
  };
  return WireServerCallbacks(std::move(wiring));
}

void Win32App::StartServer() {
  const unsigned port = static_cast<unsigned>(config_.listen_port);
  if (MoveServerToPort(server_, port, [this] { return MakeServerCallbacks(); }) == PortMove::Taken) {
    const std::wstring text = Utf8ToWide(PortTakenText(static_cast<int>(port)));
    MessageBoxW(window(), text.c_str(), kProductName, MB_OK | MB_ICONWARNING);
  }
}

LRESULT Win32App::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (taskbar_created_message_ != 0 && message == taskbar_created_message_) {
    tray_installed_ = false;
    AddTrayIcon();
    return 0;
  }
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      task_window_ = nullptr;
      return DefaultHandling(message, wparam, lparam);
    case WM_CLOSE:
      closing_ = true;
      DestroyWindow(window());
      return 0;
    case WM_QUERYENDSESSION:
      if (welcome_open_) {
        // Logging off during the first run: closed as the installer closes
        // it, with nothing saved.
        closing_ = true;
        PostMessageW(window(), WM_CLOSE, 0, 0);
      }
      return TRUE;
    case kTrayCallbackMessage:
      switch (LOWORD(lparam)) {
        case WM_CONTEXTMENU:
          ShowTrayMenu(static_cast<short>(LOWORD(wparam)), static_cast<short>(HIWORD(wparam)));
          break;
        case NIN_SELECT:
          // A phone that waits for an answer comes first: the prompt does not
          // take the focus by itself, the user fetches it from here.
          if (!consent_.BringPromptToFront()) {
            ShowConnectionInfo();
          }
          break;
        case NIN_BALLOONUSERCLICK:
          consent_.BringPromptToFront();
          break;
        case NIN_KEYSELECT:
          if (consent_.BringPromptToFront()) {
            break;  // Win+B, Enter: the keyboard goes on in the prompt
          }
          ShowConnectionInfo();
          // A keyboard user goes on from the notification area, where the
          // selection started, not from wherever the focus fell.
          if (tray_installed_) {
            Shell_NotifyIconW(NIM_SETFOCUS, &tray_icon_data_);
          }
          break;
        default:
          break;
      }
      return 0;
    case kUiTaskMessage:
      tasks_.RunAll("Win32App");
      return 0;
    case WM_TIMER:
      if (wparam == kCommitEpilogueTimerId) {
        KillTimer(window(), kCommitEpilogueTimerId);
        if (coordinator_) {
          coordinator_->FinishCommit();
        }
        return 0;
      }
      if (wparam == kAddressSettleTimerId) {
        KillTimer(window(), kAddressSettleTimerId);
        TakeAddresses(true);
        return 0;
      }
      return DefaultHandling(message, wparam, lparam);
    case kShowConnectionInfoMessage:
      ShowConnectionInfo();
      return 0;
    default:
      return DefaultHandling(message, wparam, lparam);
  }
}

}  // namespace lumora
