#pragma once

#include <windows.h>

#include <vector>

#include "config/app_config.h"
#include "ui/dialog_forms.h"
#include "ui/dialog_frame_win.h"

namespace lumora {

inline constexpr wchar_t kSettingsDialogClass[] = L"Parlino.SettingsDialog";

// The port, Enter on commit, start with Windows, overlay theme and position,
// whether a new phone must be allowed first, and the allowed phones, which
// can be forgotten here, edited in one window on a copy of the live settings.
class SettingsDialog final : public ConfigDialog {
 public:
  // Shows the dialog and returns when it is closed. True, with `result` set to
  // the whole edited record, when the user confirmed with a valid port and
  // `result` is not null; false when cancelled or closed, or when the window
  // could not be created, with `result` untouched. Applying and saving the
  // record is the caller's job. Phones forgotten in the dialog are missing
  // from `result`; a cancelled dialog forgets none.
  static bool Run(HWND owner, HINSTANCE instance, const AppConfig& current, AppConfig* result,
                  PortTrial try_port = {});

 private:
  SettingsDialog(HINSTANCE instance, HWND owner, const AppConfig& current, PortTrial try_port);
  void FillControls() override;
  void TakeControls(std::int32_t port, AppConfig& working) override;

  // The phone list and its forget button.
  bool HandleCommand(int id, int code) override;
  void ForgetSelectedPhone();
  // The forget button works only while a phone is selected.
  void UpdateForgetButton();

  // The phones as the list shows them, row for row; the result's at OK.
  std::vector<KnownPhone> phones_;
};

}  // namespace lumora
