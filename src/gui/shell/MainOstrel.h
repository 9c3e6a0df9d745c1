#pragma once
// The main window: a multiple-document parent from which every user action starts. Its menus and
// toolbar open the child windows, hand a chosen file to the loader and set the flags the child
// windows read; its status bar carries the program's one line of status text.

#include "core/ui/UiInterfaces.h"
#include "gui/common/AppState.h"
#include "gui/common/WindowContext.h"

#include <QMainWindow>
#include <QPointer>

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QTimer;
class QToolBar;

namespace korvel {

class ChildWindow;

class MainOstrel : public QMainWindow, public StatusLine {
    Q_OBJECT
public:
    MainOstrel(AppState &state, Prompter &prompter, FileChooser &files, QWidget *parent = nullptr);
    ~MainOstrel() override;

    // The "connection" panel.
    void setStatus(const QString &text) override;
    QString statusText() const;

    // The toolbar's click handler, by button index 1 to 9.
    void Toolbar1_ButtonClick(int index);

    // Menu commands.
    void mnuflight_Click();
    void mnuDisk_Click();
    void mnuconfigload_Click();
    void mnuExit_Click();
    void mnuengine_Click();
    void mnuEGT_Click();
    void mnuFlash_Click();
    void mnuAbout_Click();
    void mnuFlightLibrary_Click();

    QMdiArea *mdiArea() const { return mdi_; }
    WindowContext context() { return {state_, *this, prompter_, files_}; }

protected:
    void closeEvent(QCloseEvent *event) override;
    QMenu *createPopupMenu() override;

private:
    void buildMenus();
    void buildToolbar();
    void buildStatusBar();
    void updateClock();
    void updateMenus();
    QAction *barCommand(QMenu *menu);

    template <class Window> QMdiSubWindow *loadChild(QPointer<QMdiSubWindow> &slot);
    template <class Window> void showChild(QPointer<QMdiSubWindow> &slot);

    void showCapture();
    void showGraph();
    void showFlash();
    void loadFromDisk();
    void closeForm();
    int loadedWindowCount() const;

    AppState &state_;
    Prompter &prompter_;
    FileChooser &files_;

    QMdiArea *mdi_ = nullptr;
    QList<QMenu *> ownMenus_;
    QList<QMenu *> shownMenus_;
    QLabel *clock_ = nullptr;
    QLabel *connection_ = nullptr;
    QTimer *clockTimer_ = nullptr;
    bool closeWhenChildrenGone_ = false;

    QPointer<QMdiSubWindow> capture_;
    QPointer<QMdiSubWindow> graph_;
    QPointer<QMdiSubWindow> configure_;
    QPointer<QMdiSubWindow> flash_;
    QPointer<QMdiSubWindow> library_;
    QPointer<QWidget> about_;
};

} // namespace korvel
