#include "ui/dialog_forms.h"

#include <utility>

#include "config/app_config.h"
#include "output/desktop.h"

namespace lumora {

namespace {

constexpr char16_t kWelcomeText[] =
    u"欢迎使用Lumora语音输入！\n\n"
    u"本程序接收同一 Wi-Fi 下手机发来的文字，并粘贴到当前焦点输入框。\n"
    u"请在下方选择 TCP 端口；安卓 APP 需要此端口以及下列 IP 之一。";

// The display names of `count` values in enumeration order, so that a list
// index is the value.
template <typename Enum, typename NameOf>
std::vector<std::u16string> Names(std::int32_t count, NameOf name_of) {
  std::vector<std::u16string> names;
  for (std::int32_t value = 0; value < count; ++value) {
    names.push_back(ToUtf16(name_of(static_cast<Enum>(value))));
  }
  return names;
}

FormControl Control(ControlKind kind, int id, std::u16string text, Place place) {
  FormControl control;
  control.kind = kind;
  control.id = id;
  control.text = std::move(text);
  control.place = place;
  return control;
}

FormControl StartingGroup(FormControl control) {
  control.group_start = true;
  return control;
}

FormControl Literal(FormControl control) {
  control.literal = true;
  return control;
}

}  // namespace

Form SettingsForm() {
  using enum ControlKind;
  FormControl theme = Control(DropList, kSettingsThemeListId, u"", Place::Field);
  theme.entries = Names<OverlayThemeColor>(kOverlayThemeColorCount, ThemeColorDisplayName);
  FormControl position = Control(DropList, kSettingsPositionListId, u"", Place::Field);
  position.entries = Names<OverlayPosition>(kOverlayPositionCount, PositionDisplayName);
  // Four rows; the list shows the phones in the record's order.
  FormControl phones = Control(List, kSettingsPhoneListId, u"", Place::Line);
  phones.rows = 4;
  // Nothing is selected at first, so there is nothing to forget yet.
  FormControl forget = Control(Button, kSettingsForgetPhoneId, u"忘记(&F)", Place::Beside);
  forget.disabled = true;
  return Form{{
                  Control(Label, 0, u"监听端口 (TCP)(&P)：", Place::FieldLabel),
                  Control(NumberEdit, kSettingsPortEditId, u"", Place::Field),
                  Control(CheckBox, kSettingsPressEnterId, u"提交时按 Enter(&E)", Place::Line),
                  Control(CheckBox, kSettingsAutoStartId, u"开机自启动(&S)", Place::Line),
                  StartingGroup(Control(Label, 0, u"主题颜色(&T)：", Place::FieldLabel)),
                  std::move(theme),
                  Control(Label, 0, u"悬浮窗位置(&W)：", Place::FieldLabel),
                  std::move(position),
                  StartingGroup(
                      Control(CheckBox, kSettingsConfirmPhonesId, u"新手机连接前先询问我(&A)", Place::Line)),
                  Control(Label, 0, u"已允许的手机(&L)：", Place::Line),
                  std::move(phones),
                  std::move(forget),
                  Control(DefaultButton, kSettingsOkId, u"确定", Place::Button),
                  Control(Button, kSettingsCancelId, u"取消", Place::Button),
              },
              180};
}

namespace {

// The buttons that fix what blocks the phone, at the start of the bottom row
// (a row of their own would make the dialog too tall for a small screen at
// a large text size); each is enabled only when the check offers its fix.
void AppendFixButtons(std::vector<FormControl>& controls, int allow_id, int settings_id) {
  using enum ControlKind;
  FormControl allow = Control(Button, allow_id, u"允许手机连接(&A)", Place::Button);
  allow.disabled = true;
  FormControl settings = Control(Button, settings_id, u"打开网络设置(&N)", Place::Button);
  settings.disabled = true;
  controls.push_back(std::move(allow));
  controls.push_back(std::move(settings));
}

}  // namespace

Form WelcomeForm(std::u16string diagnosis) {
  using enum ControlKind;
  // For reading only: nothing in it can be selected.
  FormControl addresses = Control(ReadOnlyList, kOnboardingAddressListId, u"", Place::Line);
  addresses.rows = 3;
  // The port first, where the focus starts: Enter there starts, and the
  // fixes come after it in the order of Tab.
  Form form{{
                Control(Paragraph, 0, kWelcomeText, Place::Line),
                StartingGroup(Control(Label, 0, u"本机 IPv4 地址：", Place::Line)),
                std::move(addresses),
                StartingGroup(Control(Label, 0, u"监听端口 (TCP)(&P)：", Place::FieldLabel)),
                Control(NumberEdit, kOnboardingPortEditId, u"", Place::Field),
                Control(CheckBox, kOnboardingPressEnterId, u"提交时按 Enter(&E)", Place::Line),
                StartingGroup(Control(Label, 0, u"连接检查：", Place::Line)),
                // Words of the system's (a network's name): no access keys.
                Literal(Control(Paragraph, kOnboardingDiagnosisId, std::move(diagnosis), Place::Line)),
            },
            270};
  AppendFixButtons(form.controls, kOnboardingAllowPhoneId, kOnboardingNetworkSettingsId);
  // Left to right, as Tab goes.
  form.controls.push_back(Control(Button, kOnboardingSkipId, u"跳过(&K)", Place::Button));
  form.controls.push_back(Control(DefaultButton, kOnboardingStartId, u"开始监听", Place::Button));
  return form;
}

Form ConnectionForm(std::u16string heading, std::u16string diagnosis, std::u16string history) {
  using enum ControlKind;
  // Read, not chosen from: the user types one of them into the phone.
  FormControl addresses = Control(ReadOnlyList, kConnectionAddressListId, u"", Place::Line);
  addresses.rows = 3;
  // The texts name networks and addresses: no access keys in them.
  Form form{{
                Literal(Control(Paragraph, kConnectionHeadingId, std::move(heading), Place::Line)),
                std::move(addresses),
                StartingGroup(Control(Label, 0, u"检查结果：", Place::Line)),
                Literal(Control(Paragraph, kConnectionDiagnosisId, std::move(diagnosis), Place::Line)),
            },
            270};
  form.controls.push_back(StartingGroup(Control(Label, 0, u"手机连接情况：", Place::Line)));
  form.controls.push_back(Literal(Control(Paragraph, kConnectionHistoryId, std::move(history), Place::Line)));
  AppendFixButtons(form.controls, kConnectionAllowPhoneId, kConnectionNetworkSettingsId);
  form.controls.push_back(Control(Button, kConnectionRecheckId, u"重新检查(&R)", Place::Button));
  // Enter closes: the box is there to be read.
  form.controls.push_back(Control(DefaultButton, kConnectionCloseId, u"关闭", Place::Button));
  return form;
}

Form ContactForm() {
  using enum ControlKind;
  FormControl picture = Control(Picture, kContactPictureId, u"", Place::CentredLine);
  picture.picture_size = kContactPictureSize;
  return Form{{
                  Control(Label, kContactCaptionId, u"联系作者 · 问题反馈", Place::CentredLine),
                  std::move(picture),
                  // Enter closes, as Esc does: the window has nothing else to do.
                  Control(DefaultButton, kContactCloseId, u"关闭", Place::CentredLine),
              },
              0};
}

Form PhonePromptForm(std::u16string phone_line) {
  using enum ControlKind;
  // The phone's line is text from the network: no "&" may turn into an
  // underlined letter, and it wraps rather than running off the edge.
  return Form{{
                  Literal(Control(Label, kPhonePromptRequestId, u"一部新手机请求连接：", Place::Line)),
                  Literal(Control(Paragraph, kPhonePromptPhoneId, std::move(phone_line), Place::Line)),
                  Literal(Control(Paragraph, kPhonePromptWarningId,
                                  u"允许后，它说的话会输入到当前窗口。只允许你自己的手机。", Place::Line)),
                  // "允许" first, as the affirmative button goes on Windows;
                  // "拒绝" is the default button.
                  Control(Button, kPhonePromptAllowId, u"允许", Place::Button),
                  Control(DefaultButton, kPhonePromptRefuseId, u"拒绝", Place::Button),
              },
              216};
}

}  // namespace lumora
