#pragma once
// Helpers for the tests that build windows: what a window is handed, with a recording front end.

#include "gui/common/WindowContext.h"
#include "support/TestSupport.h"

namespace korvel::test {

struct Front {
    AppState state;
    RecordingUi ui;
    ScriptedFileChooser files;
    WindowContext context() { return {state, ui, ui, files}; }
};

} // namespace korvel::test
