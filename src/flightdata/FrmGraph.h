#pragma once
// The graph window "Korvel Flight Graphs" (placeholder: the graphs fill it).

#include "shell/ChildWindow.h"
#include "shell/WindowContext.h"

namespace korvel {

class FrmGraph : public ChildWindow {
    Q_OBJECT
public:
    FrmGraph(WindowContext context, QWidget *parent = nullptr);
};

} // namespace korvel
