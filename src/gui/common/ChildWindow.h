#pragma once
// A window that lives inside the main window. Its load handler is its construction, its unload
// handler its destruction (the main window deletes it when it closes).

#include <QList>
#include <QMdiSubWindow>
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

    // Closes the window as its own commands do: the frame around it when it sits in the main
    // window, else the window itself.
    void closeWindow()
    {
        if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
            frame->close();
        else
            close();
    }
};

} // namespace korvel
