#pragma once
// The main window: a multiple-document parent from which every user action starts. Its menus and
// toolbar open the child windows, hand a chosen file to the loader and set the flags the child
// windows read; its status bar carries the program's one line of status text.

#include "core/ui/UiInterfaces.h"
#include "gui/common/AppState.h"
#include "gui/common/WindowContext.h"
#include "gui/shell/StartPanel.h"

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
    void mnuAnalysisView_Click();

    QMdiArea *mdiArea() const { return m_mdi; }
    WindowContext context() { return {m_state, *this, m_prompter, m_files}; }

    StartPanel *startPanel() const { return m_start; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    QMenu *createPopupMenu() override;

private:
    void buildMenus();
    void buildToolbar();
    void buildStatusBar();
    void buildStartPanel();
    void placeStartPanelLater();
    void placeStartPanel();
    void openLibraryFlight(const StartPanel::LastFlight &flight);
    void updateClock();
    void updateMenus();
    QAction *barCommand(QMenu *menu);

    template <class Window> QMdiSubWindow *loadChild(QPointer<QMdiSubWindow> &slot);
    template <class Window> void showChild(QPointer<QMdiSubWindow> &slot);

    void showCapture();
    void showGraph();
    void showFlash();
    void showAnalysis();
    void loadFromDisk();
    void closeForm();
    int loadedWindowCount() const;

    AppState &m_state;
    Prompter &m_prompter;
    FileChooser &m_files;

    QMdiArea *m_mdi = nullptr;
    QList<QMenu *> m_ownMenus;
    QList<QMenu *> m_shownMenus;
    QLabel *m_clock = nullptr;
    QLabel *m_connection = nullptr;
    QTimer *m_clockTimer = nullptr;
    bool m_closeWhenChildrenGone = false;
    StartPanel *m_start = nullptr;
    bool m_startPlacing = false;

    QPointer<QMdiSubWindow> m_capture;
    QPointer<QMdiSubWindow> m_graph;
    QPointer<QMdiSubWindow> m_configure;
    QPointer<QMdiSubWindow> m_flash;
    QPointer<QMdiSubWindow> m_analysis;
    QPointer<QMdiSubWindow> m_library;
    QPointer<QWidget> m_about;
};

} // namespace korvel
