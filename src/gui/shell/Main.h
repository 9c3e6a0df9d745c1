#pragma once
// The program's start: the splash, modally, then the main window, shown modeless. The program
// then lives on in the window events and ends with its last window.

#include "core/ui/UiInterfaces.h"
#include "gui/common/AppState.h"

namespace korvel {

class MainOstrel;

// Returns the main window, which deletes itself when it closes.
MainOstrel *Main(AppState &state, Prompter &prompter, FileChooser &files, int splashMs = 4000);

} // namespace korvel
