#pragma once
// A window that lives inside the main window. Its load handler is its construction, its unload
// handler its destruction (the main window deletes it when it closes).

#include <QList>
#include <QMenu>
#include <QWidget>

namespace korvel {

class ChildWindow : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // The menus that take the main window's place in its menu bar while this window is the active
    // child; none keeps the main window's own menus. The menus stay owned by the child, so
    // findChild on the child finds their items.
    virtual QList<QMenu *> windowMenus() const { return {}; }
};

} // namespace korvel
