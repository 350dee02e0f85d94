#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/app_config.h"
#include "core/connection_history.h"
#include "core/coordinator.h"
#include "core/phone_consent.h"
#include "core/phone_gate.h"
#include "core/tray_texts.h"
#include "core/ui_task_queue.h"
#include "net/address_watch.h"
#include "net/server.h"
#include "output/text_injector.h"

class QMenu;
class QSystemTrayIcon;
class QMessageBox;

namespace lumora {

class ConnectionDialogQt;
class LiveTextOverlayQt;

// The Linux program's host, as Win32App is the Windows one: owns every
// long-lived component, builds them in a fixed order on the UI thread (Qt's
// main thread), and tears them down in a fixed order. Other threads reach it
// only through PostUiTask.
class QtApp {
 public:
  QtApp();
  ~QtApp();
  QtApp(const QtApp&) = delete;
  QtApp& operator=(const QtApp&) = delete;

  // Builds everything and runs Qt's event loop until the tray's exit.
  int Run();
  void StartComponents();

  // Queues `task` to run on the UI thread, in posting order. Any thread;
  // dropped once the host is going.
  void PostUiTask(std::function<void()> task);

  // Ends the program as the tray's exit does, also from inside a dialog
  // (the end of the session, a signal).
  void RequestExit();

  void ExecuteTrayCommand(std::uint32_t command);
  void ShowConnectionInfo();
  void OnOutputReport(OutputReport report);
  void ShowNotice(const Notice& notice);

 private:
  ServerCallbacks MakeServerCallbacks();
  void StartServer();
  // Whether the phone link listens on `port` now, moved there if need be.
  bool TryListenPort(std::int32_t port);
  // The open modal dialog to the front; false when none is open.
  bool BringOpenDialogToFront();
  void RunSettingsFlow();
  void ApplyPhoneSettings();
  void SaveConfig();
  void AddTray();
  void RebuildTrayMenu();
  void ScheduleMenuRebuild();
  void UpdateTray();
  void ShowLinkedPhone();
  void TakeAddresses(bool announce);
  void CopyRecentText(const OutputReport& report);
  void BringPromptOrShowInfo();

  // Before anything that posts: tasks posted to it are dropped with it.
  QObject task_receiver_;
  UiTaskQueue tasks_;

  AppConfig config_;
  ConnectionHistory connection_history_;
  std::unique_ptr<AddressWatch> address_watch_;
  QTimer address_settle_;
  QTimer commit_epilogue_;
  std::string recommended_address_;
  std::string tip_address_line_;
  std::string tray_phone_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<QMenu> tray_menu_;
  std::unique_ptr<ConnectionDialogQt> connection_box_;
  std::unique_ptr<QMessageBox> port_warning_;
  // Asked by the server's accept thread: outlives every server.
  PhoneGate gate_{&GetLocalIPv4Subnets};
  std::unique_ptr<PhoneConsentFlow> consent_;
  std::unique_ptr<LiveTextOverlayQt> overlay_;
  TextInjector text_injector_;
  std::unique_ptr<ParlinoServer> server_;
  std::unique_ptr<Coordinator> coordinator_;
  // Memory only: dictated text may be private.
  std::vector<OutputReport> recent_texts_;
  // The program is ending: a dialog's loop returned for it.
  bool closing_ = false;
};

// Whether the session's screen saver says the screen is locked
// (org.freedesktop.ScreenSaver on the session bus); false where nobody
// answers. Any thread.
bool ScreenLockedPerSessionBus();

}  // namespace lumora
