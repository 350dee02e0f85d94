#pragma once

// The first-run welcome on Linux, with the same texts and rules as on
// Windows: what the program does, the PC's IPv4 addresses that the phone
// needs (the one to type first), and the choice of port and of Enter after
// each commit. There is no Windows Firewall to read here: the check's place
// says which firewall to look at instead, and the two fixes are not offered.

#include "config/app_config.h"
#include "ui/port_text.h"

namespace lumora {

inline constexpr char kWelcomeDialogQtObjectName[] = "Parlino.OnboardingDialog";

// Shows the dialog, modal. True, with `result` set to the edited record (only
// the port and the Enter setting change), when the user pressed the start
// button with a valid port that `try_port` (when given) could bind, and
// `result` is not null; false for skip, Esc or the close box, with `result`
// untouched. The caller saves the settings and starts the server either way.
bool RunWelcomeDialogQt(const AppConfig& current, AppConfig* result, PortTrial try_port = {});

}  // namespace lumora
