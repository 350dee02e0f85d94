// The settings, welcome and contact dialogs on an X server of the test's own,
// driven through their widgets from inside their modal loops: the confirm
// rule with its warnings, forgetting phones, the welcome's lines following
// the port being typed, the access keys (real key presses through the X
// server) and the ways out of the contact window. The port rules themselves
// are ParsePortText's, tested natively.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/qt_app_posix.h"
#include "ui/connection_view.h"
#include "ui/contact_dialog_qt.h"
#include "ui/dialog_forms.h"
#include "ui/dialog_frame_qt.h"
#include "ui/settings_dialog_qt.h"
#include "ui/welcome_dialog_qt.h"
// Last: Xlib defines None, Bool and Status as macros.
// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on
#undef KeyPress  // X's event number, not Qt's QEvent::KeyPress

namespace lumora {
namespace {

using Act = std::function<void(QDialog*)>;

// Runs `open`, which shows a modal dialog and returns once it is closed, with
// `act` run on the dialog inside its loop. A dialog that `act` left open is
// cancelled, so that a failed step cannot hang the test.
template <typename Open>
auto WithDialog(const char* name, const Act& act, Open open) {
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      ADD_FAILURE() << name << " is not modal";
      for (QWidget* window : QApplication::topLevelWidgets()) {
        window->close();
      }
      return;
    }
    EXPECT_EQ(dialog->objectName().toStdString(), name);
    act(dialog);
    if (dialog->isVisible()) {
      dialog->reject();
    }
  });
  return open();
}

template <typename T = QWidget>
T* Control(QDialog* dialog, int id) {
  T* control = FindFormControl<T>(dialog, id);
  EXPECT_NE(control, nullptr) << "no control " << id;
  return control;
}

// A key pressed in the dialog's focused control, as Qt hands it over.
void Key(QDialog* dialog, Qt::Key key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog, &press);
}

Act Click(int id) {
  return [id](QDialog* dialog) {
    Control<QPushButton>(dialog, id)->setFocus();  // as a click moves it
    Control<QPushButton>(dialog, id)->click();
  };
}

Act Press(Qt::Key key, int focus = 0) {
  return [key, focus](QDialog* dialog) {
    if (focus != 0) {
      Control(dialog, focus)->setFocus();
    }
    Key(dialog, key);
  };
}

// Answers every message box shown while it lives with OK, as a user who read
// it, and keeps their texts.
class MessageBoxes final : public QObject {
 public:
  MessageBoxes() { QApplication::instance()->installEventFilter(this); }
  std::vector<std::u16string> texts;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* box = event->type() == QEvent::Show ? qobject_cast<QMessageBox*>(watched) : nullptr;
    if (box != nullptr) {
      texts.push_back(box->text().toStdU16String());
      QMetaObject::invokeMethod(box, &QDialog::accept, Qt::QueuedConnection);
    }
    return false;
  }
};

// Every setting of the dialogs away from its default, and one they do not
// show. A result that still holds the defaults was not touched.
AppConfig Unusual() {
  AppConfig config;
  config.listen_port = 40000;
  config.overlay_theme_color = OverlayThemeColor::Purple;
  config.overlay_position = OverlayPosition::BottomRight;
  config.press_enter_on_commit = false;
  config.use_clipboard_paste = true;
  config.auto_start = false;
  config.confirm_new_phones = false;
  config.known_phones = {
      {"Pixel A", "", "192.168.1.21"}, {"Pixel B", "", "192.168.1.22"}, {"Pixel C", "", "192.168.1.23"}};
  return config;
}

TEST(SettingsDialogQtTest, ConfirmsOnlyAPortFrom1024To65535ThatTheProgramCouldBind) {
  constexpr std::int32_t kTaken = 50002;
  struct Case {
    const char* what;
    std::u16string typed;
    Act act;
    std::optional<std::u16string> warning;  // and the dialog stays
    std::vector<std::int32_t> tried;
    std::optional<std::int32_t> port;  // none: false, the result untouched
  };
  const Act ok = Click(kSettingsOkId);
  const Act cancel = Click(kSettingsCancelId);
  const std::u16string bad = PortWarningText();
  const Case cases[] = {
      // Which texts are ports is ParsePortText's rule, tested there; one
      // that is not stands for them all.
      {"below 1024", u"1023", ok, bad, {}, {}},
      {"taken by another program", u"50002", ok, DialogPortTakenText(kTaken), {kTaken}, {}},
      {"a free port", u"50000", ok, {}, {50000}, 50000},
      {"no sixth digit, no letter", u"6553a59", ok, {}, {65535}, 65535},
      {"Enter in the edit confirms", u"50001", Press(Qt::Key_Return), {}, {50001}, 50001},
      {"cancel", u"50000", cancel, {}, {}, {}},
      {"Enter on the focused cancel button", u"50000", Press(Qt::Key_Return, kSettingsCancelId), {}, {}, {}},
      {"Esc", u"50000", Press(Qt::Key_Escape), {}, {}, {}},
      {"the close box", u"50000", [](QDialog* dialog) { dialog->close(); }, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::int32_t> tried;
    const PortTrial try_port = [&tried](std::int32_t port) {
      tried.push_back(port);
      return port != kTaken;
    };
    MessageBoxes boxes;
    AppConfig result;
    const bool returned = WithDialog(
        kSettingsDialogQtObjectName,
        [&](QDialog* dialog) {
          auto* edit = Control<QLineEdit>(dialog, kSettingsPortEditId);
          ASSERT_EQ(dialog->focusWidget(), edit);
          edit->clear();
          for (const char16_t unit : c.typed) {
            Key(dialog, Qt::Key_unknown, QString(QChar(unit)));
          }
          c.act(dialog);
          if (c.warning) {
            EXPECT_EQ(boxes.texts, std::vector<std::u16string>{*c.warning});
            EXPECT_TRUE(dialog->isVisible()) << "the dialog closed on a port it cannot take";
            // What the user types next replaces the port.
            EXPECT_EQ(dialog->focusWidget(), edit);
            EXPECT_EQ(edit->selectedText().toStdU16String(), c.typed);
          }
        },
        [&] { return RunSettingsDialogQt(Unusual(), &result, try_port); });
    EXPECT_EQ(tried, c.tried);
    EXPECT_EQ(returned, c.port.has_value());
    EXPECT_EQ(result.listen_port, c.port.value_or(kDefaultListenPort));
  }
}

// What the dialog shows is what it gives back, with one change at a time: one
// check box, so that two controls read into each other's fields cannot pass,
// or the port and the lists (in enumeration order: an index is the value).
TEST(SettingsDialogQtTest, OkReturnsWhatEachControlHolds) {
  const std::pair<int, bool AppConfig::*> changes[] = {
      {0, nullptr},
      {kSettingsPressEnterId, &AppConfig::press_enter_on_commit},
      {kSettingsAutoStartId, &AppConfig::auto_start},
      {kSettingsConfirmPhonesId, &AppConfig::confirm_new_phones}};
  for (const auto& [check_box, field] : changes) {
    SCOPED_TRACE(check_box);
    AppConfig want = Unusual();
    if (field != nullptr) {
      want.*field = true;
    } else {
      want.listen_port = 50000;
      want.overlay_theme_color = OverlayThemeColor::Pink;
      want.overlay_position = OverlayPosition::TopRight;
    }
    const auto act = [&](QDialog* dialog) {
      if (field != nullptr) {
        Control<QCheckBox>(dialog, check_box)->toggle();
      } else {
        Control<QLineEdit>(dialog, kSettingsPortEditId)->setText(QStringLiteral("50000"));
        Control<QComboBox>(dialog, kSettingsThemeListId)->setCurrentIndex(1);
        Control<QComboBox>(dialog, kSettingsPositionListId)->setCurrentIndex(2);
      }
      Click(kSettingsOkId)(dialog);
    };
    AppConfig result;
    EXPECT_TRUE(WithDialog(kSettingsDialogQtObjectName, act,
                           [&] { return RunSettingsDialogQt(Unusual(), &result); }));
    EXPECT_EQ(result, want);
  }
}

TEST(SettingsDialogQtTest, ForgettingAPhoneSelectsTheNextUntilNoneIsLeftBelow) {
  AppConfig result;
  const auto act = [](QDialog* dialog) {
    auto* list = Control<QListWidget>(dialog, kSettingsPhoneListId);
    auto* forget = Control<QPushButton>(dialog, kSettingsForgetPhoneId);
    EXPECT_FALSE(forget->isEnabled()) << "nothing is selected yet";
    list->setCurrentRow(0);
    Click(kSettingsForgetPhoneId)(dialog);
    ASSERT_EQ(list->count(), 2);
    EXPECT_TRUE(list->item(0)->text().startsWith(QStringLiteral("Pixel B")));
    EXPECT_TRUE(list->item(0)->isSelected()) << "the next phone moved up and is selected";
    EXPECT_TRUE(forget->isEnabled());

    list->setCurrentRow(1);
    Click(kSettingsForgetPhoneId)(dialog);
    ASSERT_EQ(list->count(), 1);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_FALSE(forget->isEnabled());
    EXPECT_EQ(dialog->focusWidget(), list) << "not on to 确定, where Enter would confirm";
    Click(kSettingsOkId)(dialog);
  };
  ASSERT_TRUE(
      WithDialog(kSettingsDialogQtObjectName, act, [&] { return RunSettingsDialogQt(Unusual(), &result); }));
  EXPECT_EQ(result.known_phones, std::vector<KnownPhone>{Unusual().known_phones[1]});
}

std::vector<ShownAddress> TwoAdapters() {
  std::vector<ShownAddress> ranked(2);
  ranked[0].address = "192.168.1.5";
  ranked[0].recommended = true;
  ranked[1].address = "10.0.0.7";
  return ranked;
}

TEST(WelcomeDialogQtTest, TheLinesFollowTheTypedPortAndStartTakesOnlyItAndTheEnterChoice) {
  detail::SetAddressQueryForTest(&TwoAdapters);
  const auto lines = [](QDialog* dialog) {
    QStringList shown;
    auto* list = Control<QListWidget>(dialog, kOnboardingAddressListId);
    for (int row = 0; row < list->count(); ++row) {
      shown.append(list->item(row)->text());
    }
    return shown.join(QLatin1Char('|')).toStdString();
  };
  const auto act = [&](QDialog* dialog) {
    auto* edit = Control<QLineEdit>(dialog, kOnboardingPortEditId);
    auto* note = Control<QLabel>(dialog, kOnboardingDiagnosisId);
    EXPECT_EQ(lines(dialog), "192.168.1.5:40000（推荐）|10.0.0.7:40000");
    EXPECT_TRUE(note->text().contains(QStringLiteral("40000")));
    // No Windows Firewall here, and none of its fixes.
    EXPECT_FALSE(Control(dialog, kOnboardingAllowPhoneId)->isVisible());
    EXPECT_FALSE(Control(dialog, kOnboardingNetworkSettingsId)->isVisible());

    edit->setText(QStringLiteral("50"));  // on the way to 50000: not a port yet
    EXPECT_EQ(lines(dialog), "192.168.1.5:40000（推荐）|10.0.0.7:40000");
    edit->setText(QStringLiteral("50000"));
    EXPECT_EQ(lines(dialog), "192.168.1.5:50000（推荐）|10.0.0.7:50000");
    EXPECT_TRUE(note->text().contains(QStringLiteral("50000")) &&
                !note->text().contains(QStringLiteral("40000")));

    Control<QCheckBox>(dialog, kOnboardingPressEnterId)->setChecked(true);
    Click(kOnboardingStartId)(dialog);
  };
  AppConfig result;
  EXPECT_TRUE(
      WithDialog(kWelcomeDialogQtObjectName, act, [&] { return RunWelcomeDialogQt(Unusual(), &result); }));
  AppConfig want = Unusual();
  want.listen_port = 50000;
  want.press_enter_on_commit = true;
  EXPECT_EQ(result, want);

  result = AppConfig();
  EXPECT_FALSE(WithDialog(kWelcomeDialogQtObjectName, Click(kOnboardingSkipId),
                          [&] { return RunWelcomeDialogQt(Unusual(), &result); }));
  EXPECT_EQ(result, AppConfig());
  detail::SetAddressQueryForTest(nullptr);
}

// Alt and a label's letter, pressed on the X server's keyboard, move the
// focus to the label's field, as Windows does.
TEST(DialogsQtTest, ALabelsAccessKeyMovesTheFocusToItsField) {
  Display* display = XOpenDisplay(testing::kQtApplication->display().c_str());
  ASSERT_NE(display, nullptr);
  const auto press = [display](KeySym key, bool down) {
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, key), down ? True : False, CurrentTime);
    XSync(display, False);
  };
  struct Case {
    const char* what;
    bool welcome;
    KeySym letter;
    int field;
    int from;  // where the focus is before
  };
  const Case cases[] = {
      {"settings: the port", false, XK_p, kSettingsPortEditId, kSettingsCancelId},
      {"settings: the theme", false, XK_t, kSettingsThemeListId, kSettingsPortEditId},
      {"settings: the position", false, XK_w, kSettingsPositionListId, kSettingsPortEditId},
      {"settings: the phones, a list below its label", false, XK_l, kSettingsPhoneListId,
       kSettingsPortEditId},
      {"welcome: the port", true, XK_p, kOnboardingPortEditId, kOnboardingSkipId},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto act = [&](QDialog* dialog) {
      dialog->activateWindow();
      ASSERT_TRUE(testing::PumpUntil([&] { return dialog->isActiveWindow(); }));
      Control(dialog, c.from)->setFocus();
      press(XK_Alt_L, true);
      press(c.letter, true);
      press(c.letter, false);
      press(XK_Alt_L, false);
      EXPECT_TRUE(
          testing::PumpUntil([&] { return QApplication::focusWidget() == Control(dialog, c.field); }));
    };
    if (c.welcome) {
      WithDialog(kWelcomeDialogQtObjectName, act, [] { return RunWelcomeDialogQt(Unusual(), nullptr); });
    } else {
      WithDialog(kSettingsDialogQtObjectName, act, [] { return RunSettingsDialogQt(Unusual(), nullptr); });
    }
  }
  XCloseDisplay(display);
}

TEST(ContactDialogQtTest, ShowsThePictureAndClosesByEnterEscOrTheCloseBox) {
  const std::pair<const char*, Act> ways[] = {
      {"Enter", Press(Qt::Key_Return)},
      {"Esc", Press(Qt::Key_Escape)},
      {"the close box", [](QDialog* dialog) { dialog->close(); }},
  };
  for (const auto& [what, close] : ways) {
    SCOPED_TRACE(what);
    const auto act = [&](QDialog* dialog) {
      EXPECT_FALSE(Control<QLabel>(dialog, kContactPictureId)->pixmap().isNull())
          << "no picture in the resources";
      close(dialog);
      EXPECT_FALSE(dialog->isVisible());
    };
    WithDialog(kContactDialogQtObjectName, act, [] {
      RunContactDialogQt();
      return true;
    });
  }
}

}  // namespace
}  // namespace lumora
