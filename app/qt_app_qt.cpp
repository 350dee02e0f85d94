#include "app/qt_app_qt.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QSystemTrayIcon>

#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <utility>

#include "app/auto_start_posix.h"
#include "base/product.h"
#include "core/listen_port.h"
#include "core/server_wiring.h"
#include "log/log.h"
#include "output/desktop_x11.h"
#include "overlay/live_text_overlay_qt.h"
#include "ui/connection_dialog_qt.h"
#include "ui/connection_view.h"
#include "ui/contact_dialog_qt.h"
#include "ui/phone_prompt_qt.h"
#include "ui/settings_dialog_qt.h"
#include "ui/welcome_dialog_qt.h"

namespace lumora {
namespace {

// A commit's overlay hide and log line wait this long, so that the output's
// first keys go out first (as on Windows).
constexpr int kCommitEpilogueDelayMs = 25;
// The PC's addresses are read once the notifications of one change stop.
constexpr int kAddressSettleDelayMs = 1500;
// How long the screen-lock question may take before it counts as unanswered.
constexpr int kScreenSaverTimeoutMs = 250;

QString Q(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

std::string Utf8(const std::u16string& text) { return QString::fromStdU16String(text).toStdString(); }

// A text of ours that password managers and clipboard histories should not
// keep (KDE's Klipper honours the hint).
QMimeData* PrivateText(const std::string& text) {
  auto* data = new QMimeData;
  data->setText(Q(text));
  data->setData(QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret"));
  return data;
}

void FillMenu(QMenu* menu, const std::vector<TrayMenuItem>& items, const std::function<void(std::uint32_t)>& run) {
  for (const TrayMenuItem& item : items) {
    if (item.separator) {
      menu->addSeparator();
      continue;
    }
    if (!item.submenu.empty()) {
      QMenu* sub = menu->addMenu(Q(item.label));
      FillMenu(sub, item.submenu, run);
      continue;
    }
    QAction* action = menu->addAction(Q(item.label));
    action->setEnabled(item.enabled);
    action->setCheckable(item.checkable);
    action->setChecked(item.checked);
    if (item.is_default) {
      QFont bold = action->font();
      bold.setBold(true);
      action->setFont(bold);
    }
    if (item.command != 0) {
      const std::uint32_t command = item.command;
      QObject::connect(action, &QAction::triggered, menu, [run, command] { run(command); });
    }
  }
}

}  // namespace

bool ScreenLockedPerSessionBus() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    return false;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                                     QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                     QStringLiteral("org.freedesktop.ScreenSaver"),
                                                     QStringLiteral("GetActive"));
  const QDBusReply<bool> reply = bus.call(call, QDBus::Block, kScreenSaverTimeoutMs);
  return reply.isValid() && reply.value();
}

namespace {

std::unique_ptr<Desktop> OpenX11Desktop() {
  X11DesktopOptions options;
  // Before every text: typing onto a locked screen would go to the locker.
  options.screen_locked = &ScreenLockedPerSessionBus;
  std::unique_ptr<Desktop> desktop = X11Desktop::Open(std::move(options));
  if (!desktop) {
    Log(LogLevel::Error, "APP", "QtApp: no X display with XTest, nothing can be typed");
  }
  return desktop;
}

}  // namespace

QtApp::QtApp()
    : text_injector_(OpenX11Desktop(), [this](OutputReport report) {
        PostUiTask([this, report = std::move(report)]() mutable { OnOutputReport(std::move(report)); });
      }) {
  address_settle_.setSingleShot(true);
  address_settle_.setInterval(kAddressSettleDelayMs);
  QObject::connect(&address_settle_, &QTimer::timeout, &task_receiver_, [this] { TakeAddresses(true); });
  commit_epilogue_.setSingleShot(true);
  commit_epilogue_.setInterval(kCommitEpilogueDelayMs);
  QObject::connect(&commit_epilogue_, &QTimer::timeout, &task_receiver_, [this] {
    if (coordinator_) {
      coordinator_->FinishCommit();
    }
  });
}

QtApp::~QtApp() {
  // Output ends first: after exit nothing more is typed, and the queue goes.
  text_injector_.Stop();
  address_watch_.reset();
  // From here on no other thread posts tasks.
  if (server_) {
    server_->Stop();
  }
  tasks_.Close();
  if (tray_) {
    tray_->hide();
  }
  consent_.reset();
  coordinator_.reset();
  server_.reset();
}

int QtApp::Run() {
  StartComponents();
  if (closing_) {
    return 0;
  }
  return QApplication::exec();
}

void QtApp::RequestExit() {
  closing_ = true;
  // Every loop running now ends, a dialog's as well as the program's (quit
  // would only ask the windows to close).
  QCoreApplication::exit(0);
}

bool QtApp::TryListenPort(std::int32_t port) {
  return MoveServerToPort(server_, static_cast<unsigned>(port), [this] { return MakeServerCallbacks(); }) !=
         PortMove::Taken;
}

bool QtApp::BringOpenDialogToFront() {
  QWidget* open = QApplication::activeModalWidget();
  if (open == nullptr) {
    return false;
  }
  open->show();
  open->raise();
  open->activateWindow();
  return true;
}

void QtApp::RunSettingsFlow() {
  const AppConfig opened = config_;
  AppConfig chosen;
  // A new port is bound before the dialog closes: a taken one is told there,
  // with the old server still serving and the file keeping the old port.
  const PortTrial try_port = [this](std::int32_t port) {
    return port == config_.listen_port || TryListenPort(port);
  };
  if (!RunSettingsDialogQt(opened, &chosen, try_port)) {
    return;
  }
  // The tray's toggles and the phone prompt work while the dialog is open:
  // what they changed meanwhile stays unless the user changed it here too.
  chosen = MergeDialogChoices(opened, chosen, config_);
  if (!ApplyAutoStart(chosen.auto_start)) {
    ShowNotice(AutoStartUnchangedNotice(chosen.auto_start, DesktopKind::X11));
    chosen.auto_start = config_.auto_start;
  }
  const bool port_changed = chosen.listen_port != config_.listen_port;
  config_ = chosen;
  SaveConfig();
  overlay_->SetThemeColor(config_.overlay_theme_color);
  overlay_->SetPosition(config_.overlay_position);
  ApplyPhoneSettings();
  if (port_changed) {
    // Normally the dialog moved the server already, and this finds it there.
    StartServer();
  }
  UpdateTray();
}

void QtApp::StartComponents() {
  config_ = LoadAppConfig();
  // Before anything can start a server: a phone may knock while the welcome
  // is open, and its question needs the flow.
  PhoneConsentHost consent;
  consent.show_prompt = [](const PhoneHello& hello,
                           std::function<void(bool)> decided) -> std::unique_ptr<ConsentPrompt> {
    return std::make_unique<PhonePromptQt>(hello.client, IdentifyPhone(hello).address, std::move(decided));
  };
  consent.answer_server = [this](std::uint64_t id, bool allow) {
    return server_ && server_->AnswerHeldPhone(id, allow);
  };
  consent.remember = [this](const PhoneHello& hello) {
    RememberPhone(config_.known_phones, IdentifyPhone(hello));
    SaveConfig();
    ApplyPhoneSettings();
  };
  consent.notice = [this](const Notice& notice) { ShowNotice(notice); };
  consent_ = std::make_unique<PhoneConsentFlow>(std::move(consent));
  gate_.Configure(config_);

  std::error_code ec;
  const bool first_run = !std::filesystem::exists(ConfigFilePath(), ec) || ec;
  if (first_run) {
    // Before the overlay and the tray icon: the user picks the port. The
    // start button binds it before the dialog closes, so that a taken one is
    // told while the user can still pick another. Whatever the dialog
    // returns, the file is written so that it shows only once.
    AppConfig chosen;
    const bool started = RunWelcomeDialogQt(config_, &chosen, [this](std::int32_t port) { return TryListenPort(port); });
    if (closing_) {
      // The session ended before the user chose: nothing is saved or
      // started, and the next start welcomes again.
      return;
    }
    if (started) {
      config_ = chosen;
    }
    SaveConfig();
  }
  if (!ApplyAutoStart(config_.auto_start)) {
    Log(LogLevel::Warn, "APP", "auto_start: the autostart entry does not follow the setting");
  }

  overlay_ = std::make_unique<LiveTextOverlayQt>();
  coordinator_ = std::make_unique<Coordinator>(overlay_.get(), &text_injector_, &config_);
  coordinator_->DeferCommitEpilogue([this] { commit_epilogue_.start(); });
  overlay_->SetThemeColor(config_.overlay_theme_color);
  overlay_->SetPosition(config_.overlay_position);

  TakeAddresses(false);
  address_watch_ = std::make_unique<AddressWatch>([this] {
    PostUiTask([this] { address_settle_.start(); });
  });
  AddTray();
  StartServer();
  UpdateTray();

  const char* session = std::getenv("XDG_SESSION_TYPE");
  if (session != nullptr && std::string(session) == "wayland") {
    Log(LogLevel::Warn, "APP", "QtApp: Wayland session, typing reaches X11 windows only");
    ShowNotice(Notice{"这是 Wayland 会话",
                      "文字只能输入到 X11（XWayland）窗口。要输入到所有窗口，请注销后在登录界面选择 X11（Xorg）会话。"});
  }
}

void QtApp::PostUiTask(std::function<void()> task) {
  // One wake for a batch: the run takes every task posted before it starts.
  if (tasks_.Push(std::move(task))) {
    QMetaObject::invokeMethod(&task_receiver_, [this] { tasks_.RunAll("QtApp"); }, Qt::QueuedConnection);
  }
}

ServerCallbacks QtApp::MakeServerCallbacks() {
  ServerWiringHost wiring;
  wiring.post_ui_task = [this](std::function<void()> task) { PostUiTask(std::move(task)); };
  wiring.coordinator = [this] { return coordinator_.get(); };
  wiring.link_changed = [this] { ShowLinkedPhone(); };
  wiring.gate = &gate_;
  wiring.phone_held = [this](const PhoneHello& hello) { consent_->OnPhoneHeld(hello); };
  wiring.held_phone_gone = [this](std::uint64_t id) { consent_->OnHeldPhoneGone(id); };
  wiring.phone_active = [this](const PhoneHello& hello, bool took_over) {
    consent_->OnPhoneActive(hello, took_over);
    connection_history_.NoteConnected();
    if (connection_box_ && connection_box_->isVisible()) {
      connection_box_->Refresh();
    }
  };
  wiring.connection_refused = [this](std::uint32_t address, RefusalReason reason) {
    connection_history_.NoteRefused({address, reason, ClockText(std::time(nullptr))});
    if (connection_box_ && connection_box_->isVisible()) {
      connection_box_->Refresh();
    }
  };
  return WireServerCallbacks(std::move(wiring));
}

void QtApp::StartServer() {
  const auto port = static_cast<unsigned>(config_.listen_port);
  if (MoveServerToPort(server_, port, [this] { return MakeServerCallbacks(); }) == PortMove::Taken) {
    // Not modal: the program runs on, and the user changes the port later.
    port_warning_ = std::make_unique<QMessageBox>(QMessageBox::Warning, QStringLiteral(PARLINO_PRODUCT_NAME_TEXT),
                                                  Q(PortTakenText(static_cast<int>(port))));
    port_warning_->show();
  }
}

void QtApp::ApplyPhoneSettings() {
  gate_.Configure(config_);
  if (server_) {
    server_->ReviewActivePhone();
  }
}

void QtApp::SaveConfig() { SaveAppConfig(config_); }

void QtApp::AddTray() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    // The icon still registers when a tray host appears later.
    Log(LogLevel::Warn, "APP", "QtApp: no system tray yet");
  }
  tray_ = std::make_unique<QSystemTrayIcon>(QIcon(QStringLiteral(":/icons/parlino.ico")));
  tray_menu_ = std::make_unique<QMenu>();
  QObject::connect(tray_menu_.get(), &QMenu::aboutToShow, &task_receiver_, [this] { RebuildTrayMenu(); });
  RebuildTrayMenu();
  tray_->setContextMenu(tray_menu_.get());
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, &task_receiver_,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (reason == QSystemTrayIcon::Trigger) {
                       BringPromptOrShowInfo();
                     }
                   });
  QObject::connect(tray_.get(), &QSystemTrayIcon::messageClicked, &task_receiver_,
                   [this] { consent_->BringPromptToFront(); });
  tray_->show();
  Log(LogLevel::Warn, "APP", "QtApp: tray icon installed");
}

void QtApp::RebuildTrayMenu() {
  if (!tray_menu_) {
    return;
  }
  tray_menu_->clear();
  // Each recent item copies the text it shows, whatever came in meanwhile.
  const std::vector<OutputReport> shown = recent_texts_;
  FillMenu(tray_menu_.get(), TrayMenuItems(config_, shown), [this, shown](std::uint32_t command) {
    if (command >= kTrayCommandRecentBase && command - kTrayCommandRecentBase < shown.size()) {
      CopyRecentText(shown[command - kTrayCommandRecentBase]);
      return;
    }
    ExecuteTrayCommand(command);
  });
}

void QtApp::ScheduleMenuRebuild() {
  // Never at once: a command runs inside its menu item's signal, and the
  // rebuild deletes that item.
  QMetaObject::invokeMethod(&task_receiver_, [this] { RebuildTrayMenu(); }, Qt::QueuedConnection);
}

void QtApp::UpdateTray() {
  if (!tray_) {
    return;
  }
  const bool connected = !tray_phone_.empty();
  tray_->setIcon(QIcon(connected ? QStringLiteral(":/icons/parlino-connected.ico")
                                 : QStringLiteral(":/icons/parlino.ico")));
  tray_->setToolTip(
      Q(TrayTipText(config_.listen_port, server_ && server_->IsRunning(), tip_address_line_, tray_phone_)));
  ScheduleMenuRebuild();
}

void QtApp::ShowLinkedPhone() {
  tray_phone_ = consent_->LinkedPhoneText(coordinator_ ? coordinator_->client_peer() : std::string());
  UpdateTray();
}

void QtApp::ShowNotice(const Notice& notice) {
  Log(LogLevel::Warn, "APP", "QtApp: notice shown");
  if (tray_ && tray_->isVisible() && QSystemTrayIcon::supportsMessages()) {
    tray_->showMessage(Q(notice.title), Q(notice.text), QSystemTrayIcon::Information, 10000);
  }
}

void QtApp::OnOutputReport(OutputReport report) {
  if (report.held) {
    Log(LogLevel::Warn, "APP", std::string("output: commit held, ") + HoldReasonName(report.reason));
    ShowNotice(HeldTextNotice(report, DesktopKind::X11));
  }
  KeepRecentText(recent_texts_, std::move(report));
  ScheduleMenuRebuild();
}

void QtApp::CopyRecentText(const OutputReport& report) {
  QApplication::clipboard()->setMimeData(PrivateText(report.text), QClipboard::Clipboard);
  ShowNotice(CopiedTextNotice(true));
}

void QtApp::BringPromptOrShowInfo() {
  // A phone that waits for an answer comes first: its prompt does not take
  // the focus by itself.
  if (!consent_->BringPromptToFront()) {
    ShowConnectionInfo();
  }
}

void QtApp::ShowConnectionInfo() {
  if (BringOpenDialogToFront()) {
    return;
  }
  if (!connection_box_) {
    ConnectionSourceQt source;
    source.port = [this] { return config_.listen_port; };
    source.listening = [this] { return server_ && server_->IsRunning(); };
    source.history = [this] { return HistoryText(connection_history_); };
    connection_box_ = std::make_unique<ConnectionDialogQt>(std::move(source));
  }
  connection_box_->Refresh();
  connection_box_->show();
  connection_box_->raise();
  connection_box_->activateWindow();
}

void QtApp::TakeAddresses(bool announce) {
  const std::vector<ShownAddress> ranked = CurrentAddresses();
  const std::optional<ShownAddress> recommended = RecommendedAddress(ranked);
  const std::string now = recommended ? recommended->address : std::string();
  tip_address_line_ = Utf8(TipAddressLine(ranked));
  if (announce) {
    if (const std::optional<AddressNotice> notice = AddressChangeNotice(recommended_address_, now, config_.listen_port)) {
      Log(LogLevel::Warn, "APP", "QtApp: the address to type is now " + (now.empty() ? std::string("none") : now));
      ShowNotice(Notice{Utf8(notice->title), Utf8(notice->text)});
    }
  }
  recommended_address_ = now;
  UpdateTray();
  if (connection_box_ && connection_box_->isVisible()) {
    connection_box_->Refresh();
  }
}

void QtApp::ExecuteTrayCommand(std::uint32_t command) {
  if (command >= kTrayCommandRecentBase && command < kTrayCommandRecentBase + kRecentTextCount) {
    if (command - kTrayCommandRecentBase < recent_texts_.size()) {
      CopyRecentText(recent_texts_[command - kTrayCommandRecentBase]);
    }
    return;
  }
  if (command >= kTrayCommandThemeBase && command < kTrayCommandThemeBase + kOverlayThemeColorCount) {
    config_.overlay_theme_color = static_cast<OverlayThemeColor>(command - kTrayCommandThemeBase);
    SaveConfig();
    overlay_->SetThemeColor(config_.overlay_theme_color);
    ScheduleMenuRebuild();
    return;
  }
  if (command >= kTrayCommandPositionBase && command < kTrayCommandPositionBase + kOverlayPositionCount) {
    config_.overlay_position = static_cast<OverlayPosition>(command - kTrayCommandPositionBase);
    SaveConfig();
    overlay_->SetPosition(config_.overlay_position);
    ScheduleMenuRebuild();
    return;
  }
  switch (command) {
    case kTrayCommandShowInfo:
      ShowConnectionInfo();
      break;
    case kTrayCommandSettings:
      // One dialog at a time: a second would run its loop inside the first's.
      if (!BringOpenDialogToFront()) {
        RunSettingsFlow();
      }
      break;
    case kTrayCommandContact:
      if (!BringOpenDialogToFront()) {
        RunContactDialogQt();
      }
      break;
    case kTrayCommandAutoStart:
      // The check mark shows what the session will do: the setting changes
      // only when the autostart entry did.
      if (ApplyAutoStart(!config_.auto_start)) {
        config_.auto_start = !config_.auto_start;
        SaveConfig();
      } else {
        ShowNotice(AutoStartUnchangedNotice(!config_.auto_start, DesktopKind::X11));
      }
      break;
    case kTrayCommandPressEnter:
      config_.press_enter_on_commit = !config_.press_enter_on_commit;
      SaveConfig();
      break;
    case kTrayCommandClipboardPaste:
      config_.use_clipboard_paste = !config_.use_clipboard_paste;
      SaveConfig();
      break;
    case kTrayCommandExit:
      RequestExit();
      break;
    default:
      break;
  }
  ScheduleMenuRebuild();
}

}  // namespace lumora
