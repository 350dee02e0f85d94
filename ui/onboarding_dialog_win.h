#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "config/app_config.h"
#include "ui/connection_view.h"
#include "ui/dialog_forms.h"
#include "ui/dialog_frame_win.h"

namespace lumora {

inline constexpr wchar_t kOnboardingDialogClass[] = L"Parlino.OnboardingDialog";

// The first-run welcome: what the program does, the PC's IPv4 addresses that
// the phone needs (the one to type first), what would block the phone with
// the fixes, and the choice of port and of Enter after each commit.
class OnboardingDialog final : public ConfigDialog {
 public:
  // True, with `result` set to the edited record (only the port and the Enter
  // setting change), when the user pressed the start button with a valid port
  // and `result` is not null; false for skip, Esc, the close box or a window
  // that could not be created, with `result` untouched. The caller saves the
  // settings and starts the server either way.
  static bool Run(HWND owner, HINSTANCE instance, const AppConfig& current, AppConfig* result,
                  PortTrial try_port = {});

 private:
  OnboardingDialog(HINSTANCE instance, HWND owner, const AppConfig& current, PortTrial try_port,
                   ConnectionView view);
  void FillControls() override;
  void TakeControls(std::int32_t port, AppConfig& working) override;
  bool HandleCommand(int id, int code) override;
  void Activated() override;
  void Show(const ConnectionView& view);
  void Recheck();

  // Looked at when the dialog opens, and again after a fix.
  ConnectionView view_;
  bool recheck_on_return_ = false;  // the user went to Windows' network settings
};

}  // namespace lumora
