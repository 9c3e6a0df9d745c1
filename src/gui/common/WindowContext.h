#pragma once
// What every window of the program is handed: the application state and the two ways of telling
// the user something.

#include "core/ui/UiInterfaces.h"
#include "gui/common/AppState.h"

namespace korvel {

struct WindowContext {
    AppState &state;
    StatusLine &status; // the main window's "connection" panel
    Prompter &prompter; // message boxes
    FileChooser &files; // the common file dialog
};

} // namespace korvel
