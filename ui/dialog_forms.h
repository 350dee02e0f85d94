#pragma once

// What the dialogs hold, control by control in reading order (the order of
// Tab): kinds, texts and rows, from which their layout follows at any font
// and DPI. Portable, so that every dialog's layout is checked without a
// desktop.

#include <string>

#include "ui/form_layout.h"

namespace lumora {

// Control ids of the settings dialog.
inline constexpr int kSettingsPortEditId = 1001;
inline constexpr int kSettingsPressEnterId = 1002;
inline constexpr int kSettingsThemeListId = 1003;
inline constexpr int kSettingsPositionListId = 1004;
inline constexpr int kSettingsOkId = 1005;
inline constexpr int kSettingsCancelId = 1006;
inline constexpr int kSettingsAutoStartId = 1007;
inline constexpr int kSettingsConfirmPhonesId = 1008;
inline constexpr int kSettingsPhoneListId = 1009;
inline constexpr int kSettingsForgetPhoneId = 1010;

// Control ids of the onboarding dialog.
inline constexpr int kOnboardingAddressListId = 2001;
inline constexpr int kOnboardingPortEditId = 2002;
inline constexpr int kOnboardingPressEnterId = 2003;
inline constexpr int kOnboardingStartId = 2004;
inline constexpr int kOnboardingSkipId = 2005;
inline constexpr int kOnboardingDiagnosisId = 2006;
inline constexpr int kOnboardingAllowPhoneId = 2007;
inline constexpr int kOnboardingNetworkSettingsId = 2008;

// Control ids of the connection box.
inline constexpr int kConnectionHeadingId = 3001;
inline constexpr int kConnectionAddressListId = 3002;
inline constexpr int kConnectionDiagnosisId = 3003;
inline constexpr int kConnectionAllowPhoneId = 3004;
inline constexpr int kConnectionNetworkSettingsId = 3005;
inline constexpr int kConnectionHistoryId = 3006;
inline constexpr int kConnectionRecheckId = 3007;
inline constexpr int kConnectionCloseId = 3008;

// Control ids of the contact dialog.
inline constexpr int kContactCaptionId = 1000;
inline constexpr int kContactCloseId = 1001;
inline constexpr int kContactPictureId = 1002;  // no window: the dialog draws it

// Control ids of the new-phone prompt. The three lines of text: the request,
// the phone, what allowing means.
inline constexpr int kPhonePromptAllowId = 1001;
inline constexpr int kPhonePromptRefuseId = 1002;
inline constexpr int kPhonePromptRequestId = 1003;
inline constexpr int kPhonePromptPhoneId = 1004;
inline constexpr int kPhonePromptWarningId = 1005;

// The contact picture's side at 96 DPI.
inline constexpr std::int32_t kContactPictureSize = 360;

// The port, Enter on commit, start with Windows, the overlay's theme and
// position, whether a new phone must be allowed first, and the allowed phones.
Form SettingsForm();

// The first-run welcome: what the program does, the PC's addresses, what
// blocks the phone with the two fixes, the port and Enter on commit.
// `diagnosis` is the check's text as it stands when the dialog opens.
Form WelcomeForm(std::u16string diagnosis = u"");

// The connection box: the port, the ranked addresses, the check with its two
// fixes, what phones tried, and the buttons to check again and to close.
Form ConnectionForm(std::u16string heading, std::u16string diagnosis, std::u16string history);

// The caption, the picture and the close button.
Form ContactForm();

// The question for a phone not yet allowed; `phone_line` names it.
Form PhonePromptForm(std::u16string phone_line);

}  // namespace lumora
