// Opens one dialog with the program's resources and default settings, for a
// person to look at or for the README's screenshots:
//   dialog_gallery settings|onboarding|contact|phone|connection

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <utility>

#include "base/gdiplus_win.h"
#include "config/app_config.h"
#include "overlay/dpi_win.h"
#include "ui/connection_dialog_win.h"
#include "ui/contact_feedback_dialog_win.h"
#include "ui/onboarding_dialog_win.h"
#include "ui/phone_prompt_win.h"
#include "ui/settings_dialog_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/, int /*show*/) {
  lumora::EnableDpiAwareness();
  const lumora::GdiplusSession gdiplus;
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const std::wstring which = argc > 1 ? argv[1] : L"settings";
  LocalFree(argv);
  // Two allowed phones, so that the settings show their list as a user sees it.
  lumora::AppConfig config;
  config.known_phones = {{"我的手机", "aa:bb:cc:dd:ee:01", "192.168.1.23"}, {"", "", "192.168.1.40"}};
  lumora::AppConfig result;
  if (which == L"onboarding") {
    lumora::OnboardingDialog::Run(nullptr, instance, config, &result);
  } else if (which == L"connection") {
    // This PC as it is, the program's own port and no phone yet.
    lumora::ConnectionSource source;
    source.check = [&] {
      return lumora::StartConnectionCheck(config.listen_port, true, lumora::ProgramPathUtf8());
    };
    source.history = [] { return lumora::HistoryText(lumora::ConnectionHistory{}); };
    lumora::ConnectionDialog::Run(nullptr, instance, std::move(source));
  } else if (which == L"contact") {
    lumora::ContactFeedbackDialog::Run(nullptr, instance);
  } else if (which == L"phone") {
    // Not modal: this loop runs it until it is answered.
    const auto prompt = lumora::PhonePrompt::Show(nullptr, instance, L"Pixel 8", L"192.168.1.23",
                                                  [](bool) { PostQuitMessage(0); });
    MSG message{};
    while (prompt != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  } else {
    lumora::SettingsDialog::Run(nullptr, instance, config, &result);
  }
  return 0;
}
