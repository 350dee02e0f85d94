#pragma once

#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/gdiplus_win.h"
#include "base/product.h"
#include "base/window_proc_win.h"
#include "config/app_config.h"
#include "core/connection_history.h"
#include "core/coordinator.h"
#include "core/phone_consent.h"
#include "core/phone_gate.h"
#include "core/ui_task_queue.h"
#include "core/tray_texts.h"
#include "net/address_watch.h"
#include "net/server.h"
#include "output/text_injector.h"
#include "overlay/live_text_overlay_win.h"

namespace lumora {

inline constexpr UINT kTrayCallbackMessage = WM_APP + 1;
inline constexpr UINT kUiTaskMessage = WM_APP + 2;
// Posted to the running copy's host window by a second start of the program:
// show the connection box (the addresses and the port) to the user who just
// started the program again.
inline constexpr UINT kShowConnectionInfoMessage = WM_APP + 3;
inline constexpr wchar_t kHostWindowClass[] = L"Parlino.Host";
// The host window's timer that finishes a commit (Coordinator::FinishCommit)
// once its text has had a head start, and that head start.
inline constexpr UINT_PTR kCommitEpilogueTimerId = 1;
inline constexpr UINT kCommitEpilogueDelayMs = 25;
// The timer that takes the PC's new addresses once the notifications of one
// change have stopped coming (a new Wi-Fi brings a burst of them), and how
// long it waits after the last one.
inline constexpr UINT_PTR kAddressSettleTimerId = 2;
inline constexpr UINT kAddressSettleDelayMs = 1500;

// The host of the whole program: owns every long-lived component, builds them
// in a fixed order, runs the UI thread's message loop on a hidden window and
// tears everything down in a fixed order. The one way in for other threads is
// PostUiTask.
class Win32App : public WindowOwner<Win32App> {
 public:
  explicit Win32App(HINSTANCE instance);
  ~Win32App();
  Win32App(const Win32App&) = delete;
  Win32App& operator=(const Win32App&) = delete;

  // Initialises everything and runs the message loop; returns the exit value.
  int Run();

  // Queues `task` to run on the UI thread, in posting order. Any thread.
  void PostUiTask(std::function<void()> task);

  // Run in three parts: the host window; settings, overlay, coordinator,
  // tray and server; the message loop. Public so that tests can build a host
  // without its loop.
  bool InitHostWindow();
  void StartComponents();
  int MessageLoop();

  // What a tray menu command does. Public so that tests can run commands
  // without a mouse. A recent text's command copies from the list as it is
  // now; the menu itself copies what its item showed.
  void ExecuteTrayCommand(UINT command);
  // Replaces TrackPopupMenu for the tray menu (empty puts it back): returns
  // the command chosen in `menu`, 0 for none.
  void SetMenuTrackerForTest(std::function<UINT(HMENU menu)> track) { track_menu_ = std::move(track); }

  // What became of a committed text: a held one is announced and both kinds
  // are kept for the tray's recent texts. UI thread.
  void OnOutputReport(OutputReport report);
  // The recent commits, newest first, at most kRecentTextCount.
  const std::vector<OutputReport>& recent_texts() const { return recent_texts_; }

  // The phone the tray shows, UTF-8: empty when none is connected;
  // otherwise its client name and address, e.g. "Pixel 8（192.168.1.23）".
  void SetTrayPhone(std::string phone);
  // A notification from the tray icon (NIF_INFO balloon / toast); silently
  // nothing when the icon is not installed.
  void ShowTrayNotice(const std::wstring& title, const std::wstring& text);
  void ShowTrayNotice(const Notice& notice);

  const AppConfig& config() const { return config_; }
  const ParlinoServer* server() const { return server_.get(); }

  // The PC's addresses may have changed: they are read again once the
  // notifications settle (kAddressSettleDelayMs). UI thread.
  void OnAddressesChanged();
  // Reads the addresses now: the tip, an open connection box and, when the
  // address to type changed and `announce`, a notice with the new one.
  void TakeAddresses(bool announce);

 private:
  friend class WindowOwner<Win32App>;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // Serves the configured port unless a running server is there already; a
  // port that cannot be bound is reported in a message box.
  void StartServer();
  // The server's events into this host, for each server it makes.
  ServerCallbacks MakeServerCallbacks();
  // Whether the phone link listens on `port` now, moved there if need be:
  // what a dialog asks before it closes on a new port.
  bool TryListenPort(std::int32_t port);

  // The tray icon, its tooltip and menu.
  void AddTrayIcon();
  void UpdateTrayTip();
  // The icon for the current phone state: the plain one, or the one with the
  // connected badge. Loaded on first use.
  HICON TrayIcon();
  void ShowTrayMenu(int x, int y);
  void ShowConnectionInfo();
  // Brings this thread's open window of `class_name` (and `title`, when
  // given) to the front; false when there is none. A second request for a
  // dialog or box shows the one already open instead of another.
  bool BringOpenWindowToFront(const wchar_t* class_name, const wchar_t* title = nullptr);
  // One modal window at a time: each runs a loop of its own, and one opened
  // from the tray inside another's loop would take over that loop's keys.
  // The open dialog or message box comes to the front instead; false when
  // none is open.
  bool BringOpenDialogToFront();
  // Puts the text on the clipboard, kept out of its history like pasted text.
  void CopyRecentText(const OutputReport& report);
  void RunSettingsFlow();
  // Serves the configured port, replacing the server unless it already runs
  // there; the old one stays when the port cannot be bound.
  void ApplyListenPort();
  // Start with Windows set to `enable`; when the registry refuses, the user
  // is told and false returned, and the setting must stay as it was.
  bool ChangeAutoStart(bool enable);

  // Phones that ask to type (phone_consent_win.cpp): the prompt, the
  // server, the remembered phones and the notices for the consent flow.
  PhoneConsentHost MakeConsentHost();
  // The gate follows the settings, and the connected phone is asked about
  // again: one no longer allowed waits for the user or goes.
  void ApplyPhoneSettings();
  // On the UI thread, from the server's events.
  void OnPhoneActive(const PhoneHello& hello, bool took_over);
  // A connection the server turned away, for the connection box.
  void OnConnectionRefused(std::uint32_t address, RefusalReason reason);
  // Tells an open connection box to look again (kRefreshAll) or to show the
  // history anew (kRefreshHistory).
  void RefreshConnectionBox(WPARAM what);
  // The tray's icon and tip for the coordinator's phone.
  void ShowLinkedPhone();

  // First member, so that GDI+ outlives the overlay and every dialog.
  GdiplusSession gdiplus_;
  HINSTANCE instance_;
  // The host window for PostUiTask, which runs on any thread, until the
  // window is destroyed.
  std::atomic<HWND> task_window_{nullptr};
  // Before the text injector: its worker posts reports until it is joined.
  UiTaskQueue tasks_;
  // Posts tasks from the system's threads until it is destroyed, before the
  // queue above.
  std::unique_ptr<AddressWatch> address_watch_;
  // The address to type as the tip shows it (UTF-8), and what it was when
  // last read (empty: none).
  std::string tip_address_line_;
  std::string recommended_address_;
  // What phones tried since the start, for the connection box.
  ConnectionHistory connection_history_;
  NOTIFYICONDATAW tray_icon_data_{};
  bool tray_installed_ = false;
  // At the shell's small-icon size; the connected one is null when it could
  // not be loaded (the idle one is shown then).
  ScopedIcon tray_icon_idle_;
  ScopedIcon tray_icon_connected_;
  std::string tray_phone_;  // UTF-8
  UINT taskbar_created_message_ = 0;
  AppConfig config_;
  // Asked by the server's accept thread: outlives every server.
  PhoneGate gate_{&GetLocalIPv4Subnets};
  // The phones that ask to type, and the open prompt about one of them.
  PhoneConsentFlow consent_{MakeConsentHost()};
  std::unique_ptr<LiveTextOverlay> overlay_;
  TextInjector text_injector_;
  std::unique_ptr<ParlinoServer> server_;
  std::unique_ptr<Coordinator> coordinator_;
  // Memory only, never written anywhere: dictated text may be private.
  std::vector<OutputReport> recent_texts_;
  std::function<UINT(HMENU)> track_menu_;  // empty: TrackPopupMenu
  // The first-run welcome is open; a close request then ends the program
  // before anything of it is saved or started.
  bool welcome_open_ = false;
  bool closing_ = false;
};

}  // namespace lumora
