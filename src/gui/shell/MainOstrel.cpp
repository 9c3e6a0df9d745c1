#include "gui/shell/MainOstrel.h"

#include "core/library/FlightLibrary.h"
#include "core/settings/Settings.h"
#include "gui/analysis/FrmAnalysis.h"
#include "gui/capture/FrmCapture.h"
#include "gui/common/ChildWindow.h"
#include "gui/common/LibrarySession.h"
#include "gui/common/Twips.h"
#include "gui/dialogs/frmAbout.h"
#include "gui/dialogs/frmConfigure.h"
#include "gui/flash/frmFlash.h"
#include "gui/graphs/FrmGraph.h"
#include "gui/library/FrmLibrary.h"
#include "gui/shell/StartPanel.h"

#include <QChildEvent>
#include <QCloseEvent>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QToolBar>

#include <algorithm>

namespace korvel {

MainOstrel::MainOstrel(AppState &state, Prompter &prompter, FileChooser &files, QWidget *parent)
    : QMainWindow(parent), m_state(state), m_prompter(prompter), m_files(files)
{
    setObjectName(QStringLiteral("MainOstrel"));
    setWindowTitle(AppTitle());
    setWindowIcon(QIcon(QStringLiteral(":/shell/icons/logo.svg")));

    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName(QStringLiteral("mdiArea"));
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);
    connect(m_mdi, &QMdiArea::subWindowActivated, this, &MainOstrel::updateMenus);

    buildMenus();
    buildToolbar();
    buildStatusBar();
    buildStartPanel();

    // The designed client area lies below the menu bar: toolbar, work area and status bar.
    resize(TwipsSize(14700, 8610) + QSize(0, menuBar()->sizeHint().height()));
}

// The toolbar is part of the window, not something to hide.
QMenu *MainOstrel::createPopupMenu()
{
    return nullptr;
}

MainOstrel::~MainOstrel()
{
    // Child windows unload while the status bar still exists: their unload writes to it.
    const auto subs = m_mdi->subWindowList();
    for (QMdiSubWindow *sub : subs)
        delete sub;
    delete m_about;
}

void MainOstrel::buildMenus()
{
    auto addMenu = [this](const char *name, const QString &caption) {
        auto *menu = new QMenu(caption, this);
        menu->setObjectName(QLatin1String(name));
        menu->menuAction()->setObjectName(QLatin1String(name));
        m_ownMenus << menu;
        return menu;
    };
    auto addItem = [this](QMenu *menu, const char *name, const QString &caption, void (MainOstrel::*slot)()) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        if (slot)
            connect(action, &QAction::triggered, this, slot);
        return action;
    };

    QMenu *file = addMenu("mnuFile", QStringLiteral("File"));
    addItem(file, "mnuflight", QStringLiteral("Load Flight Data From Plane"), &MainOstrel::mnuflight_Click);
    addItem(file, "mnuDisk", QStringLiteral("Load Flight Data From Disk"), &MainOstrel::mnuDisk_Click);
    addItem(file, "mnuconfigload", QStringLiteral("Configure RS-232"), &MainOstrel::mnuconfigload_Click);
    addItem(file, "mnuExit", QStringLiteral("Exit"), &MainOstrel::mnuExit_Click);

    // Planned configuration pages; not available yet.
    QMenu *config = addMenu("mnuconfig", QStringLiteral("Configuration"));
    addItem(config, "mnuenginedata", QStringLiteral("Engine"), nullptr);
    addItem(config, "mnutanks", QStringLiteral("Fuel Tanks"), nullptr);
    addItem(config, "mnucheck", QStringLiteral("Check Lists"), nullptr);
    config->menuAction()->setEnabled(false);

    QMenu *graph = addMenu("mnugraph", QStringLiteral("Graph Data"));
    addItem(graph, "mnuengine", QStringLiteral("Engine Data"), &MainOstrel::mnuengine_Click);
    addItem(graph, "mnuEGT", QStringLiteral("EGT CHT"), &MainOstrel::mnuEGT_Click);

    QMenu *hardware = addMenu("mnuHardware", QStringLiteral("Hardware"));
    addItem(hardware, "mnuFlash", QStringLiteral("Program OS"), &MainOstrel::mnuFlash_Click);

    // Our own windows on the flights, beside the instrument's.
    QMenu *analysis = addMenu("mnuAnalysis", QStringLiteral("Analysis"));
    addItem(analysis, "mnuFlightLibrary", QStringLiteral("Flight Library..."), &MainOstrel::mnuFlightLibrary_Click);
    addItem(analysis, "mnuAnalysisView", QStringLiteral("Analysis View..."), &MainOstrel::mnuAnalysisView_Click);
    // The reports as menu items too, beside their windows' buttons.
    analysis->addSeparator();
    QAction *saveReport = addItem(analysis, "mnuSaveReport", QStringLiteral("Save Report..."), nullptr);
    connect(saveReport, &QAction::triggered, this, [this] {
        showAnalysis();
        qobject_cast<FrmAnalysis *>(m_analysis->widget())->saveReport();
    });
    QAction *report = addItem(analysis, "mnuLibraryReport", QStringLiteral("Report..."), nullptr);
    connect(report, &QAction::triggered, this, [this] {
        mnuFlightLibrary_Click();
        qobject_cast<FrmLibrary *>(m_library->widget())->reportSelected();
    });
    QAction *card = addItem(analysis, "mnuLibraryReportCard", QStringLiteral("Report Card..."), nullptr);
    connect(card, &QAction::triggered, this, [this] {
        mnuFlightLibrary_Click();
        qobject_cast<FrmLibrary *>(m_library->widget())->reportCard();
    });
    // Save Report... needs a flight loaded; the library's reports say in the window what they need.
    connect(analysis, &QMenu::aboutToShow, this,
            [this, saveReport] { saveReport->setEnabled(m_state.flightData.FlightRecordCount.value_or(0) > 0); });

    QMenu *help = addMenu("mnuHelp", QStringLiteral("Help"));
    addItem(help, "mnuAbout", QStringLiteral("About"), &MainOstrel::mnuAbout_Click);

    updateMenus();
}

void MainOstrel::buildToolbar()
{
    QToolBar *bar = addToolBar(QStringLiteral("Toolbar1"));
    bar->setObjectName(QStringLiteral("Toolbar1"));
    bar->setMovable(false);
    bar->setIconSize(QSize(24, 24));

    struct Button {
        const char *icon; // empty: a separator
        const char *text;
        const char *tip;
    };
    static const Button buttons[9] = {
        {"close-form", "Close Form", "Close Form"},
        {nullptr, nullptr, nullptr},
        {"plane-download", "Get Plane Flight Data", "Get Plane Flight Data "},
        {nullptr, nullptr, nullptr},
        {"disk-load", "Load Disk Flight Data", "Load Disk Flight Data"},
        {nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr},
        {"graph", "Graph Data", "Graph Data"},
        {"program-os", nullptr, nullptr},
    };
    for (int i = 0; i < 9; ++i) {
        const Button &b = buttons[i];
        QAction *action = nullptr;
        if (!b.icon) {
            action = bar->addSeparator();
        } else {
            action = bar->addAction(QIcon(QStringLiteral(":/shell/icons/%1.svg").arg(QLatin1String(b.icon))),
                                    b.text ? QString::fromLatin1(b.text) : QString());
            if (b.tip)
                action->setToolTip(QString::fromLatin1(b.tip));
        }
        action->setObjectName(QStringLiteral("Buttons(%1)").arg(i + 1));
        const int index = i + 1;
        connect(action, &QAction::triggered, this, [this, index] { Toolbar1_ButtonClick(index); });
    }
}

// The start panel lies in the work area beneath the child windows and is shown while none is: it
// follows the children the work area holds, however they came there.
void MainOstrel::buildStartPanel()
{
    const auto action = [this](const char *name) { return findChild<QAction *>(QLatin1String(name)); };
    const StartPanel::Roads roads{action("mnuflight"), action("mnuDisk"), action("mnuFlightLibrary"),
                                  action("mnuFlash")};
    m_start = new StartPanel(roads, LibraryLocation(), m_mdi->viewport());
    m_start->setGeometry(m_mdi->viewport()->rect());
    m_start->lower();
    connect(m_start, &StartPanel::lastFlightChosen, this, &MainOstrel::openLibraryFlight);
    m_mdi->viewport()->installEventFilter(this);
}

bool MainOstrel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_mdi->viewport()) {
        if (event->type() == QEvent::Resize) {
            m_start->setGeometry(m_mdi->viewport()->rect());
        } else if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildRemoved) {
            if (auto *sub = qobject_cast<QMdiSubWindow *>(static_cast<QChildEvent *>(event)->child())) {
                if (event->type() == QEvent::ChildAdded)
                    sub->installEventFilter(this);
                placeStartPanelLater();
            }
        }
    } else if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) &&
               qobject_cast<QMdiSubWindow *>(watched)) {
        placeStartPanelLater();
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainOstrel::placeStartPanelLater()
{
    if (m_startPlacing)
        return;
    m_startPlacing = true;
    QMetaObject::invokeMethod(this, &MainOstrel::placeStartPanel, Qt::QueuedConnection);
}

void MainOstrel::placeStartPanel()
{
    m_startPlacing = false;
    const auto subs = m_mdi->subWindowList();
    const bool empty = std::none_of(subs.begin(), subs.end(), [](QMdiSubWindow *sub) { return sub->isVisible(); });
    if (empty) {
        m_start->lower();
        m_start->show();
    } else {
        m_start->hide();
    }
}

// As a double-click in the library window: the flight's copy is loaded as the disk-load command
// loads a file, and a copy that cannot be read loads nothing and says no more.
void MainOstrel::openLibraryFlight(const StartPanel::LastFlight &flight)
{
    try {
        QString copy = flight.copy;
        if (copy.isEmpty()) {
            // A server's flight is fetched now, off the window's thread: a server that does not
            // answer holds no menu.
            LibrarySession library(m_start->libraryFolder());
            copy = library.call([id = flight.id](FlightLibrary &kept) {
                return KeptForTheSession(kept.copyPath(id).value_or(QString()));
            });
        }
        LoadFlightDataFile(copy, m_state.flightData, *this);
        // Named as it was imported, not by its copy's hash.
        NoteFlightLoaded(m_state, copy, FlightOrigin{QFileInfo(flight.source).fileName(), flight.aircraft});
        setStatus(FlightFileStatusText(QFileInfo(flight.source).fileName()));
    } catch (...) {
        m_start->readLibraryLater();
        return;
    }
    showAnalysis();
}

void MainOstrel::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("statMain"));
    bar->setSizeGripEnabled(true);

    m_clock = new QLabel(bar);
    m_clock->setObjectName(QStringLiteral("Panels(1)"));
    m_clock->setToolTip(QStringLiteral("Current Time"));
    m_clock->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_clock->setMargin(2);
    bar->addWidget(m_clock);

    m_connection = new QLabel(QStringLiteral("Unconnected"), bar);
    m_connection->setObjectName(QStringLiteral("connection"));
    m_connection->setToolTip(QStringLiteral("State of the Connection"));
    m_connection->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_connection->setMargin(2);
    m_connection->setTextFormat(Qt::PlainText);
    bar->addWidget(m_connection, 1);

    m_clockTimer = new QTimer(this);
    m_clockTimer->setInterval(1000);
    connect(m_clockTimer, &QTimer::timeout, this, &MainOstrel::updateClock);
    m_clockTimer->start();
    updateClock();
}

void MainOstrel::updateClock()
{
    m_clock->setText(QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat));
}

void MainOstrel::setStatus(const QString &text)
{
    m_connection->setText(text);
}

QString MainOstrel::statusText() const
{
    return m_connection->text();
}

// While a child window with menus of its own is the current one, its menus take the place of
// the main window's.
void MainOstrel::updateMenus()
{
    QList<QMenu *> wanted = m_ownMenus;
    if (QMdiSubWindow *sub = m_mdi->currentSubWindow()) {
        if (auto *child = qobject_cast<ChildWindow *>(sub->widget())) {
            const QList<QMenu *> childMenus = child->windowMenus();
            if (!childMenus.isEmpty())
                wanted = childMenus;
        }
    }
    if (wanted == m_shownMenus && menuBar()->actions().size() == wanted.size())
        return;
    menuBar()->clear();
    for (QMenu *menu : std::as_const(wanted)) {
        if (menu->actions().isEmpty())
            menuBar()->addAction(barCommand(menu));
        else
            menuBar()->addMenu(menu);
    }
    m_shownMenus = wanted;
}

// A child's menu without items is a command on the menu bar itself ("&About" of the firmware
// window): the bar holds a plain action that runs it, so a click runs the command rather than
// dropping down an empty list. The action belongs to the menu and goes with it.
QAction *MainOstrel::barCommand(QMenu *menu)
{
    const QString name = QStringLiteral("barCommand");
    if (auto *existing = menu->findChild<QAction *>(name, Qt::FindDirectChildrenOnly))
        return existing;
    auto *command = new QAction(menu->title(), menu);
    command->setObjectName(name);
    command->setProperty("command", menu->objectName());
    connect(command, &QAction::triggered, menu->menuAction(), &QAction::trigger);
    return command;
}

template <class Window> QMdiSubWindow *MainOstrel::loadChild(QPointer<QMdiSubWindow> &slot)
{
    if (slot)
        return slot;
    // The frame exists before the window's load runs, so the load can size it.
    auto *sub = new QMdiSubWindow;
    sub->setAttribute(Qt::WA_DeleteOnClose);
    auto *window = new Window(context(), sub);
    sub->setWidget(window);
    sub->setWindowTitle(window->windowTitle());
    sub->setWindowIcon(window->windowIcon().isNull() ? windowIcon() : window->windowIcon());
    connect(window, &QWidget::windowTitleChanged, sub, &QWidget::setWindowTitle);
    // The menus follow the current child; one that goes away hands them back.
    connect(sub, &QObject::destroyed, this, [this] {
        QMetaObject::invokeMethod(this, &MainOstrel::updateMenus, Qt::QueuedConnection);
        if (m_closeWhenChildrenGone)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    });
    m_mdi->addSubWindow(sub);
    slot = sub;
    return sub;
}

// A child opened beside others is placed where it fits in the work area, so none runs off its
// edge; one larger than the work area starts at its top left corner.
static void KeepInside(QMdiSubWindow *sub, const QSize &area)
{
    QRect place = sub->geometry();
    place.moveLeft(std::max(0, std::min(place.left(), area.width() - place.width())));
    place.moveTop(std::max(0, std::min(place.top(), area.height() - place.height())));
    sub->move(place.topLeft());
}

template <class Window> void MainOstrel::showChild(QPointer<QMdiSubWindow> &slot)
{
    const bool loaded = slot;
    QMdiSubWindow *sub = loadChild<Window>(slot);
    sub->show();
    if (!loaded)
        KeepInside(sub, m_mdi->viewport()->size());
    sub->raise();
    m_mdi->setActiveSubWindow(sub);
    updateMenus();
}

void MainOstrel::showCapture()
{
    showChild<FrmCapture>(m_capture);
}

void MainOstrel::showGraph()
{
    const bool loaded = m_graph;
    showChild<FrmGraph>(m_graph);
    if (!loaded)
        connect(qobject_cast<FrmGraph *>(m_graph->widget()), &FrmGraph::analysisRequested, this,
                &MainOstrel::showAnalysis);
}

// The view takes the whole work area when it opens: its charts want the width.
void MainOstrel::showAnalysis()
{
    const bool loaded = m_analysis;
    showChild<FrmAnalysis>(m_analysis);
    if (!loaded) {
        m_analysis->resize(m_mdi->viewport()->size());
        m_analysis->move(0, 0);
        // With no flight loaded, the view offers the library.
        connect(qobject_cast<FrmAnalysis *>(m_analysis->widget()), &FrmAnalysis::libraryRequested, this,
                &MainOstrel::mnuFlightLibrary_Click);
    }
}

void MainOstrel::showFlash()
{
    const bool loaded = m_flash;
    showChild<frmFlash>(m_flash);
    if (!loaded)
        connect(qobject_cast<frmFlash *>(m_flash->widget()), &frmFlash::configureRequested, this,
                &MainOstrel::mnuconfigload_Click);
}

void MainOstrel::mnuflight_Click()
{
    showCapture();
}

void MainOstrel::mnuDisk_Click()
{
    loadFromDisk();
}

void MainOstrel::mnuconfigload_Click()
{
    showChild<frmConfigure>(m_configure);
}

void MainOstrel::mnuExit_Click()
{
    close();
}

void MainOstrel::mnuengine_Click()
{
    m_state.GraphSelect = 1;
    showGraph();
}

void MainOstrel::mnuEGT_Click()
{
    m_state.GraphSelect = 2;
    showGraph();
}

void MainOstrel::mnuFlash_Click()
{
    m_state.FlashWindowClosed = false;
    showFlash();
}

void MainOstrel::mnuFlightLibrary_Click()
{
    const bool loaded = m_library;
    showChild<FrmLibrary>(m_library);
    // A flight loaded from the library opens in the analysis view.
    if (!loaded) {
        auto *library = qobject_cast<FrmLibrary *>(m_library->widget());
        connect(library, &FrmLibrary::flightLoaded, this, &MainOstrel::showAnalysis);
        // The panel's last flight, and the captures to come, follow the library chosen there.
        connect(library, &FrmLibrary::locationChanged, this, [this](const QString &location) {
            m_start->setLibraryFolder(location);
            m_start->readLibraryLater();
            if (m_capture)
                if (auto *capture = qobject_cast<FrmCapture *>(m_capture->widget()))
                    capture->capture().setLibraryFolder(location);
        });
    }
}

void MainOstrel::mnuAnalysisView_Click()
{
    showAnalysis();
}

void MainOstrel::mnuAbout_Click()
{
    if (!m_about) {
        auto *about = new frmAbout(m_prompter, this);
        about->setAttribute(Qt::WA_DeleteOnClose);
        m_about = about;
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

// A cancelled dialog or an unreadable file ends the command without a word; what the loader
// wrote to the status line before it gave up stays there.
void MainOstrel::loadFromDisk()
{
    const FileDialogRequest request =
        ProgramFolderTextFile(QStringLiteral("Load Flight Data"), QStringLiteral("*.txt"));
    try {
        const std::optional<QString> name = m_files.chooseFile(request);
        if (name) {
            LoadFlightDataFile(*name, m_state.flightData, *this);
            NoteFlightLoaded(m_state, *name);
        }
    } catch (...) {
    }
}

int MainOstrel::loadedWindowCount() const
{
    int count = 1 + int(m_mdi->subWindowList().size());
    if (m_about)
        ++count;
    return count;
}

void MainOstrel::closeForm()
{
    if (loadedWindowCount() > 1) {
        if (QMdiSubWindow *sub = m_mdi->currentSubWindow())
            sub->close();
    } else {
        close();
    }
}

void MainOstrel::Toolbar1_ButtonClick(int index)
{
    try {
        switch (index) {
        case 1:
            closeForm();
            break;
        case 3:
            showCapture();
            break;
        case 5:
            loadFromDisk();
            break;
        case 8:
            showGraph();
            break;
        case 9:
            // As "Program OS": a window opened anew must not find itself already closed.
            m_state.FlashWindowClosed = false;
            showFlash();
            break;
        default:
            break;
        }
    } catch (...) {
    }
}

void MainOstrel::closeEvent(QCloseEvent *event)
{
    // Each child unloads as the main window goes; one that refuses keeps the program running.
    m_mdi->closeAllSubWindows();
    const auto subs = m_mdi->subWindowList();
    if (std::any_of(subs.begin(), subs.end(), [](QMdiSubWindow *sub) { return sub->isVisible(); })) {
        event->ignore();
        return;
    }
    // A child that has closed but still finishes a wait (the firmware window during a burn) goes
    // as soon as it has returned; the main window follows it then.
    if (!subs.isEmpty()) {
        m_closeWhenChildrenGone = true;
        event->ignore();
        return;
    }
    m_closeWhenChildrenGone = false;
    if (m_about)
        m_about->close();
    event->accept();
}

} // namespace korvel
