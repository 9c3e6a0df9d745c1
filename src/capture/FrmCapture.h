#pragma once
// The capture window "Korvel Data Capture" (placeholder: the serial road fills it).

#include "shell/ChildWindow.h"
#include "shell/WindowContext.h"

namespace korvel {

class FrmCapture : public ChildWindow {
    Q_OBJECT
public:
    FrmCapture(WindowContext context, QWidget *parent = nullptr);
};

} // namespace korvel
