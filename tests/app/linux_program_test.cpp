// The Linux program end to end, as a child process on an X server and a
// session bus of the test's own: its tray item registers with the session's
// StatusNotifierWatcher and exports the menu; a second start exits at once and
// has the first show its connection box; the autostart entry follows the
// setting.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
// clang-format off
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/free_port.h"
#include "tools/phone_sim/session.h"
#include "tests/support/program_run_linux.h"
#include "tests/support/x11_client_posix.h"
#include "tests/support/xvfb_posix.h"

namespace lumora {
namespace {

using std::chrono::seconds;

// What a desktop's tray host offers on the session bus: the watcher that
// items register with. Answers the property Qt looks at before it offers an
// item at all, and records who registered.
class FakeWatcher final : public QDBusVirtualObject {
 public:
  // Qt reads the property through an interface object, which it builds from
  // this description.
  QString introspect(const QString& /*path*/) const override {
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierWatcher\">"
        "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
        "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
        "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
        "</interface>");
  }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QString member = message.member();
    if (member == QLatin1String("RegisterStatusNotifierItem")) {
      items.push_back(message.arguments().value(0).toString());
      if (items.back().isEmpty() || items.back().startsWith(QLatin1Char('/'))) {
        items.back() = message.service();  // registered by its path: the sender is the service
      }
      connection.send(message.createReply());
      return true;
    }
    if (member == QLatin1String("RegisterStatusNotifierHost")) {
      connection.send(message.createReply());
      return true;
    }
    if (member == QLatin1String("Get")) {
      const QString property = message.arguments().value(1).toString();
      QVariant value;
      if (property == QLatin1String("IsStatusNotifierHostRegistered")) {
        value = true;
      } else if (property == QLatin1String("ProtocolVersion")) {
        value = 0;
      } else if (property == QLatin1String("RegisteredStatusNotifierItems")) {
        value = QStringList(items.begin(), items.end());
      } else {
        return false;
      }
      connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
      return true;
    }
    return false;
  }
  std::vector<QString> items;
};

class LinuxProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(xvfb_.Start());
    ASSERT_TRUE(bus_.Start());
    port_ = testing::FreePort();
    ASSERT_NE(port_, 0u);
  }

  // What the program said, for a failure's reader.
  void TearDown() override {
    if (HasFailure()) {
      std::cerr << "program log:\n" << std::ifstream(session_.log_file()).rdbuf();
    }
  }

  std::map<std::string, std::string> Env() const {
    return session_.Environment({{"DISPLAY", xvfb_.display()}, {"DBUS_SESSION_BUS_ADDRESS", bus_.address()}});
  }
  bool StartProgram(testing::ChildProcess& program) {
    return program.Start({PARLINO_LINUX_PROGRAM}, Env());
  }
  std::string Config(bool auto_start) const {
    return "listen_port = " + std::to_string(port_) + "\nauto_start = " + (auto_start ? "true" : "false") + "\n";
  }

  // The mapped top-level window titled `title` on the test's X server; 0
  // when there is none.
  Window WindowTitled(const std::string& title) const {
    Display* display = XOpenDisplay(xvfb_.display().c_str());
    if (display == nullptr) {
      return 0;
    }
    const Atom name = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    Window found = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && !found; ++i) {
      XWindowAttributes attributes{};
      if (XGetWindowAttributes(display, children[i], &attributes) == 0 || attributes.map_state != IsViewable) {
        continue;
      }
      Atom type = 0;
      int format = 0;
      unsigned long items = 0;
      unsigned long after = 0;
      unsigned char* data = nullptr;
      if (XGetWindowProperty(display, children[i], name, 0, 256, False, utf8, &type, &format, &items, &after,
                             &data) == Success &&
          data != nullptr) {
        if (std::string(reinterpret_cast<char*>(data), items) == title) {
          found = children[i];
        }
        XFree(data);
      }
    }
    if (children != nullptr) {
      XFree(children);
    }
    XCloseDisplay(display);
    return found;
  }
  Window WaitForWindow(const std::string& title) const {
    const auto deadline = std::chrono::steady_clock::now() + seconds(20);
    Window window = 0;
    while ((window = WindowTitled(title)) == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return window;
  }

  testing::XvfbServer xvfb_;
  testing::SessionBus bus_;
  testing::PrivateSession session_;
  unsigned port_ = 0;
};

TEST_F(LinuxProgramTest, TheTrayItemRegistersWithTheWatcherAndExportsTheMenu) {
  ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_.address().c_str(), 1);
  static int argc = 1;
  static char name[] = "linux_program_test";
  static char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  QDBusConnection connection = QDBusConnection::sessionBus();
  ASSERT_TRUE(connection.isConnected());
  FakeWatcher watcher;
  ASSERT_TRUE(connection.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher));
  ASSERT_TRUE(connection.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));

  session_.WriteConfig(Config(false));
  testing::ChildProcess program;
  ASSERT_TRUE(StartProgram(program));
  QElapsedTimer waited;
  waited.start();
  while (watcher.items.empty() && waited.elapsed() < 20000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  ASSERT_EQ(watcher.items.size(), 1u) << "the program's tray item did not register";

  // The menu as the tray host reads it (dbusmenu), labels and all.
  QProcess reader;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(bus_.address()));
  reader.setProcessEnvironment(env);
  reader.start(QStringLiteral("dbus-send"),
               {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--dest=") + watcher.items[0],
                QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu.GetLayout"), QStringLiteral("int32:0"),
                QStringLiteral("int32:-1"), QStringLiteral("array:string:")});
  while (reader.state() != QProcess::NotRunning && waited.elapsed() < 40000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    reader.waitForFinished(20);
  }
  const std::string layout = reader.readAllStandardOutput().toStdString();
  for (const char* label : {"最近的文字", "设置...", "显示 IP 和端口...", "开机自启动", "提交时按 Enter", "主题颜色",
                            "悬浮窗位置", "退出"}) {
    EXPECT_NE(layout.find(std::string("\"") + label + "\""), std::string::npos) << label << " is not in the menu";
  }
  EXPECT_EQ(program.Stop(), 0);
  EXPECT_TRUE(session_.Logged("Parlino exit"));
}

TEST_F(LinuxProgramTest, ASecondStartExitsAndTheFirstShowsItsConnectionBox) {
  session_.WriteConfig(Config(false));
  testing::ChildProcess first;
  ASSERT_TRUE(StartProgram(first));
  ASSERT_TRUE(session_.WaitForLog("ParlinoServer: listening on port " + std::to_string(port_)));
  ASSERT_EQ(WindowTitled("Lumora语音输入"), 0u);

  testing::ChildProcess second;
  ASSERT_TRUE(StartProgram(second));
  EXPECT_EQ(second.WaitForExit(seconds(20)), 0);
  EXPECT_NE(WaitForWindow("Lumora语音输入"), 0u) << "the running copy did not show its connection box";
  std::vector<std::string> starts;
  for (const std::string& message : session_.LogMessages()) {
    if (message == "Parlino starting") {
      starts.push_back(message);
    }
  }
  EXPECT_EQ(starts.size(), 1u) << "the second copy started as well";
  EXPECT_EQ(first.Stop(), 0);
}

TEST_F(LinuxProgramTest, TheAutostartEntryFollowsTheSetting) {
  const std::filesystem::path entry = session_.config_home() / "autostart" / "lumora-voice-input.desktop";
  for (const bool on : {true, false}) {
    SCOPED_TRACE(on ? "on" : "off");
    session_.WriteConfig(Config(on));
    testing::ChildProcess program;
    ASSERT_TRUE(StartProgram(program));
    ASSERT_TRUE(session_.WaitForLog("ParlinoServer: listening on port " + std::to_string(port_)));
    EXPECT_EQ(std::filesystem::exists(entry), on);
    if (on) {
      std::ifstream in(entry);
      std::stringstream text;
      text << in.rdbuf();
      EXPECT_NE(text.str().find("Exec=\"" + std::filesystem::canonical(PARLINO_LINUX_PROGRAM).string() + "\""),
                std::string::npos);
    }
    EXPECT_EQ(program.Stop(), 0);
    std::filesystem::remove(session_.log_file());
  }
}

// A first start (no settings file) welcomes before anything listens; the end
// of the session meanwhile ends the program with nothing saved, so that the
// next start welcomes again.
TEST_F(LinuxProgramTest, TheEndOfTheSessionDuringTheWelcomeLeavesNothingBehind) {
  testing::ChildProcess program;
  ASSERT_TRUE(StartProgram(program));
  ASSERT_NE(WaitForWindow("Lumora语音输入 - 欢迎"), 0u) << "no welcome on a first start";
  EXPECT_FALSE(session_.Logged("ParlinoServer: listening")) << "the server started under the welcome";
  EXPECT_EQ(program.Stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(session_.config_file())) << "the file was written before the user chose";
  EXPECT_TRUE(session_.Logged("Parlino exit"));
}

int Phone(unsigned port, std::vector<std::string> args, const std::string& script = "") {
  std::istringstream in(script);
  std::ostringstream out;
  std::ostringstream err;
  args.insert(args.begin(), {"127.0.0.1", std::to_string(port)});
  return RunPhoneSim(args, in, out, err);
}

void Press(Display* display, KeySym key) {
  const KeyCode code = XKeysymToKeycode(display, key);
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XTestFakeKeyEvent(display, code, False, CurrentTime);
  XSync(display, False);
}

// A phone the user has not allowed is asked about without the focus leaving
// the window the user types in; allowed from the keyboard, it is remembered
// and what it says arrives there exactly. With one of the program's own
// windows in front, a dictation is held, not typed.
TEST_F(LinuxProgramTest, ANewPhoneIsAskedAboutThenItsDictationArrivesExactly) {
  session_.WriteConfig(Config(false));
  testing::X11Client editor;
  ASSERT_TRUE(editor.Open(xvfb_.display()));
  testing::ChildProcess program;
  ASSERT_TRUE(StartProgram(program));
  ASSERT_TRUE(session_.WaitForLog("ParlinoServer: listening on port " + std::to_string(port_)));

  // Waits, unheard, for the user's answer, and stays a while once allowed.
  auto asking = std::async(std::launch::async, [this] { return Phone(port_, {"--script", "-"}, "sleep 4000\nbye\n"); });
  const Window prompt = WaitForWindow("Lumora语音输入 - 新手机");
  ASSERT_NE(prompt, 0u);
  const testing::X11Connection display(XOpenDisplay(xvfb_.display().c_str()));
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(display.get(), &focus, &revert);
  EXPECT_EQ(focus, editor.window()) << "the prompt took the focus";

  // The user fetches the prompt and, after its settling time, tabs to 允许.
  XSetInputFocus(display.get(), prompt, RevertToParent, CurrentTime);
  XSync(display.get(), False);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  Press(display.get(), XK_Tab);
  Press(display.get(), XK_Return);
  EXPECT_TRUE(session_.WaitForLog("coordinator: client connect")) << "the allowed phone was not served";
  EXPECT_EQ(asking.get(), kSimPassed);
  std::stringstream saved;
  saved << std::ifstream(session_.config_file()).rdbuf();
  EXPECT_NE(saved.str().find("phone_sim"), std::string::npos) << "the allowed phone was not remembered";

  XSetInputFocus(display.get(), editor.window(), RevertToParent, CurrentTime);
  XSync(display.get(), False);
  const std::u32string said = U"你好，世界 Hello \U0001F600";
  ASSERT_EQ(Phone(port_, {"--dictate", "你好，世界 Hello \U0001F600"}), kSimPassed);
  EXPECT_TRUE(editor.WaitForText(said + U"\n")) << "typed " << editor.text().size() << " characters";

  // One of the program's windows in front: the window manager says so.
  testing::ChildProcess second;
  ASSERT_TRUE(StartProgram(second));
  ASSERT_EQ(second.WaitForExit(seconds(20)), 0);
  const Window box = WaitForWindow("Lumora语音输入");
  ASSERT_NE(box, 0u);
  testing::SetActive(display.get(), box);
  ASSERT_EQ(Phone(port_, {"--dictate", "不该输入"}), kSimPassed);
  EXPECT_TRUE(session_.WaitForLog("output: commit held, own window in front"));
  EXPECT_EQ(editor.text(), said + U"\n");
  EXPECT_EQ(program.Stop(), 0);
}

}  // namespace
}  // namespace lumora
