#pragma once

// The contact window on Linux, with the same texts as on Windows: a line
// asking the user to scan the code below it, the contact picture and a close
// button. Changes no settings.

namespace lumora {

inline constexpr char kContactDialogQtObjectName[] = "Parlino.ContactDialog";

// Shows the window, modal, and returns when it is closed: by its button,
// Enter, Esc or the close box.
void RunContactDialogQt();

}  // namespace lumora
