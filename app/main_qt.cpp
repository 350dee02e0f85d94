// The Linux program's entry: one copy per user session, then the host.

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <string>

#include "app/qt_app_qt.h"
#include "log/log.h"

namespace {

// A second start asks the first to show its connection box; wait this long
// for it to answer before taking the name as left over from a crash.
constexpr int kPeerTimeoutMs = 1000;
constexpr char kShowRequest[] = "show\n";

void LogError(const std::string& message) { lumora::Log(lumora::LogLevel::Error, "APP", message); }

// The session's own folder when there is one (private to the user, emptied at
// logout); else a name of the user's own in /tmp.
QString InstanceSocketPath() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/') {
    return QString::fromLocal8Bit(runtime) + QStringLiteral("/lumora-voice-input.sock");
  }
  return QStringLiteral("/tmp/lumora-voice-input-%1.sock").arg(::getuid());
}

// True when another copy answered and was told to show itself.
bool AskRunningCopy(const QString& path) {
  QLocalSocket socket;
  socket.connectToServer(path);
  if (!socket.waitForConnected(kPeerTimeoutMs)) {
    return false;
  }
  socket.write(kShowRequest);
  socket.waitForBytesWritten(kPeerTimeoutMs);
  socket.disconnectFromServer();
  return true;
}

// The end of the session (SIGTERM, SIGHUP) or Ctrl+C ends the program as the
// tray's exit does, so that the keyboard map is given back and nothing more
// is typed. The handler only writes a byte; the loop does the rest.
int g_signal_pipe[2] = {-1, -1};

void OnSignal(int /*signal*/) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(g_signal_pipe[1], &byte, 1);
}

void QuitOnSignals(lumora::QtApp& app) {
  if (::pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    return;
  }
  auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, qApp, [&app] { app.RequestExit(); });
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    ::sigaction(signal, &action, nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // X11 even in a Wayland session (through XWayland): typing, the checks of
  // what is in front and the overlay's placement all speak X11.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "xcb");
  }
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName(QStringLiteral("lumora-voice-input"));
  QApplication::setDesktopFileName(QStringLiteral("lumora-voice-input"));

  const QString socket_path = InstanceSocketPath();
  if (AskRunningCopy(socket_path)) {
    lumora::Log(lumora::LogLevel::Debug, "APP", "main: another Parlino instance already running");
    return 0;
  }
  QLocalServer instance;
  instance.setSocketOptions(QLocalServer::UserAccessOption);
  if (!instance.listen(socket_path)) {
    // Nobody answered there: a socket file left by a copy that crashed.
    QLocalServer::removeServer(socket_path);
    if (!instance.listen(socket_path)) {
      LogError("main: the single-instance socket cannot be made: " + instance.errorString().toStdString());
      return 1;
    }
  }

  int result = 1;
  try {
    lumora::Log(lumora::LogLevel::Warn, "APP", "Parlino starting");
    lumora::QtApp app;
    QuitOnSignals(app);
    QObject::connect(&instance, &QLocalServer::newConnection, &instance, [&instance, &app] {
      while (QLocalSocket* peer = instance.nextPendingConnection()) {
        const auto read = [peer, &app] {
          if (peer->readAll().contains('\n')) {
            app.ShowConnectionInfo();
          }
        };
        QObject::connect(peer, &QLocalSocket::readyRead, peer, read);
        QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        // What came before the connection above is read now.
        if (peer->bytesAvailable() > 0) {
          read();
        }
      }
    });
    result = app.Run();
    lumora::Log(lumora::LogLevel::Warn, "APP", "Parlino exit");
  } catch (const std::exception& error) {
    LogError(std::string("main: fatal: ") + error.what());
    result = 1;
  } catch (...) {
    LogError("main: fatal (unknown exception)");
    result = 1;
  }
  return result;
}
