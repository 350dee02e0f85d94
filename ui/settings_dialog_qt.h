#pragma once

// The settings dialog on Linux, with the same texts and rules as on Windows:
// the port, Enter on commit, start with the session, the overlay's theme and
// position, whether a new phone must be allowed first, and the allowed
// phones, which can be forgotten here.

#include "config/app_config.h"
#include "ui/port_text.h"

namespace lumora {

inline constexpr char kSettingsDialogQtObjectName[] = "Parlino.SettingsDialog";

// Shows the dialog, modal, and returns when it is closed. True, with `result`
// set to the whole edited record, when the user confirmed with a valid port
// that `try_port` (when given) could bind, and `result` is not null; false
// when cancelled or closed, with `result` untouched. Phones forgotten in the
// dialog are missing from `result`; a cancelled dialog forgets none. Merging
// into the live settings (MergeDialogChoices), applying and saving them is
// the caller's job.
bool RunSettingsDialogQt(const AppConfig& current, AppConfig* result, PortTrial try_port = {});

}  // namespace lumora
