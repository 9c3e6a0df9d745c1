// The main window through its controls' names: what each command opens, when a window is built
// again and when only brought forward, "Close Form", the disk load's silent trap, menu merging,
// the start panel of the empty work area.
#include "gui/analysis/FrmAnalysis.h"
#include "gui/capture/FrmCapture.h"
#include "gui/dialogs/AppVersion.h"
#include "gui/dialogs/frmAbout.h"
#include "gui/dialogs/frmConfigure.h"
#include "gui/flash/frmFlash.h"
#include "gui/graphs/FrmGraph.h"
#include "gui/library/FrmLibrary.h"
#include "gui/shell/Main.h"
#include "gui/shell/MainOstrel.h"
#include "gui/shell/StartPanel.h"
#include "support/FlightPlans.h"
#include "support/TestSupport.h"
#include "support/WindowSupport.h"

#include "gui/common/Twips.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

using namespace korvel;
using namespace korvel::test;

namespace {

template <class Window> QList<Window *> loaded(MainOstrel &main)
{
    QList<Window *> found;
    for (QMdiSubWindow *sub : main.mdiArea()->subWindowList())
        if (auto *w = qobject_cast<Window *>(sub->widget()))
            found << w;
    return found;
}

QWidget *currentChild(MainOstrel &main)
{
    QMdiSubWindow *sub = main.mdiArea()->currentSubWindow();
    return sub ? sub->widget() : nullptr;
}

void trigger(MainOstrel &main, const char *name)
{
    auto *action = main.findChild<QAction *>(QLatin1String(name));
    QVERIFY2(action, name);
    action->trigger();
    Settle();
}

// A child window with a menu of its own, as the capture and firmware windows have.
class MenuChild : public ChildWindow {
public:
    MenuChild()
    {
        menu = new QMenu(QStringLiteral("&File"), this);
        menu->setObjectName(QStringLiteral("mnuChildFile"));
        menu->addAction(QStringLiteral("E&xit"));
    }
    QList<QMenu *> windowMenus() const override { return {menu}; }
    QMenu *menu;
};

QStringList menuBarCaptions(MainOstrel &main)
{
    QStringList captions;
    for (QAction *action : main.menuBar()->actions())
        captions << action->text();
    return captions;
}

} // namespace

class TestShell : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> settings;
    std::unique_ptr<Front> front;
    std::unique_ptr<MainOstrel> main;

private slots:
    void init()
    {
        settings = std::make_unique<IsolatedSettings>();
        front = std::make_unique<Front>();
        main = std::make_unique<MainOstrel>(front->state, front->ui, front->files);
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    }
    void cleanup()
    {
        main.reset();
        Settle();
    }

    // The designed client area lies below the menu bar; children open inside the work area, and
    // the toolbar offers no menu to hide it.
    // --help and --version print and end at once, with no window and no display.
    void helpAndVersionPrintAndExit()
    {
        for (const QString &option : {QStringLiteral("--version"), QStringLiteral("--help")}) {
            QProcess run;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove(QStringLiteral("DISPLAY"));
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            run.setProcessEnvironment(environment);
            run.start(BinDir() + QStringLiteral("/korvel"), {option});
            QVERIFY(run.waitForFinished(20000));
            QCOMPARE(run.exitCode(), 0);
            const QString out = QString::fromUtf8(run.readAllStandardOutput());
            QVERIFY2(option == QLatin1String("--version") ? out.startsWith(QStringLiteral("korvel ") + AppVersionText())
                                                          : out.startsWith(QLatin1String("Usage: korvel")),
                     qPrintable(out));
        }
    }

    void windowsFitTheWorkArea()
    {
        QCOMPARE(main->height() - main->menuBar()->height(), TwipsSize(14700, 8610).height());
        front->state.flightData = ParseFlightData("FLIGHT\r\n12/04/26 10:00:00,1\r\n12/04/26 10:00:06,2\r\n");
        trigger(*main, "mnuengine");
        trigger(*main, "mnuconfigload");
        trigger(*main, "mnuflight");
        const QRect area = main->mdiArea()->viewport()->rect();
        for (QMdiSubWindow *sub : main->mdiArea()->subWindowList()) {
            QVERIFY2(area.contains(sub->geometry()), qPrintable(sub->windowTitle()));
        }
        auto *graph = loaded<FrmGraph>(*main).value(0);
        QVERIFY(graph);
        QVERIFY(!main->mdiArea()->verticalScrollBar()->isVisible());

        QToolBar *bar = main->findChild<QToolBar *>("Toolbar1");
        QContextMenuEvent onBar(QContextMenuEvent::Mouse, QPoint(5, 5), bar->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(bar, &onBar);
        Settle();
        QVERIFY(!QApplication::activePopupWidget());
    }

    void startUpShowsTheMainWindowOnceTheSplashIsGone()
    {
        // A splash whose time is up while it is still being shown must not leave the start waiting.
        for (int splashMs : {30, 0}) {
            QPointer<MainOstrel> started = Main(front->state, front->ui, front->files, splashMs);
            QVERIFY(started && started->isVisible());
            started->close();
            Settle();
            QVERIFY(started.isNull());
        }
    }

    void startsWithItsMenusToolbarAndStatus()
    {
        QCOMPARE(main->windowTitle(), QStringLiteral("Korvel Engine Monitor"));
        QCOMPARE(menuBarCaptions(*main),
                 (QStringList{"File", "Configuration", "Graph Data", "Hardware", "Analysis", "Help"}));
        QVERIFY(!main->findChild<QMenu *>("mnuconfig")->menuAction()->isEnabled());
        auto *bar = main->findChild<QToolBar *>("Toolbar1");
        QVERIFY(bar);
        const QStringList tips{"Close Form", "", "Get Plane Flight Data ", "", "Load Disk Flight Data", "", "",
                               "Graph Data", ""};
        for (int i = 1; i <= 9; ++i) {
            auto *button = bar->findChild<QAction *>(QStringLiteral("Buttons(%1)").arg(i));
            QVERIFY(button);
            QCOMPARE(button->isSeparator(), i == 2 || i == 4 || i == 6 || i == 7);
            QCOMPARE(button->toolTip(), tips[i - 1]);
        }
        auto *status = main->findChild<QStatusBar *>("statMain");
        QVERIFY(status);
        auto *connection = status->findChild<QLabel *>("connection");
        QCOMPARE(connection->text(), QStringLiteral("Unconnected"));
        QCOMPARE(connection->toolTip(), QStringLiteral("State of the Connection"));
        QCOMPARE(status->findChild<QLabel *>("Panels(1)")->toolTip(), QStringLiteral("Current Time"));
        QVERIFY(!status->findChild<QLabel *>("Panels(1)")->text().isEmpty());
    }

    // Showing a loaded window only brings it forward; the graph choice counts only when the graph
    // window is not loaded.
    void windowsAreSingleInstances()
    {
        trigger(*main, "mnuflight");
        FrmCapture *capture = loaded<FrmCapture>(*main).value(0);
        QVERIFY(capture);
        trigger(*main, "mnuEGT");
        QCOMPARE(front->state.GraphSelect, std::optional<int>(2));
        FrmGraph *graph = loaded<FrmGraph>(*main).value(0);
        QVERIFY(graph);
        QCOMPARE(currentChild(*main), graph);

        main->Toolbar1_ButtonClick(3);
        Settle();
        QCOMPARE(loaded<FrmCapture>(*main), QList<FrmCapture *>{capture});
        QCOMPARE(currentChild(*main), capture);

        trigger(*main, "mnuengine");
        QCOMPARE(front->state.GraphSelect, std::optional<int>(1));
        QCOMPARE(loaded<FrmGraph>(*main), QList<FrmGraph *>{graph});
        QCOMPARE(currentChild(*main), graph);

        main->Toolbar1_ButtonClick(8);
        Settle();
        QCOMPARE(front->state.GraphSelect, std::optional<int>(1));
        QCOMPARE(main->mdiArea()->subWindowList().size(), 2);

        // Closed and chosen again: built anew.
        main->Toolbar1_ButtonClick(1);
        Settle();
        QVERIFY(loaded<FrmGraph>(*main).isEmpty());
        trigger(*main, "mnuEGT");
        QCOMPARE(loaded<FrmGraph>(*main).size(), 1);
    }

    // Separators and unknown buttons do nothing; the graph button before any choice leaves the
    // flag empty.
    void toolbarButtonsWithoutAChoice()
    {
        for (int index : {2, 4, 6, 7, 0, 10}) {
            main->Toolbar1_ButtonClick(index);
            Settle();
        }
        QVERIFY(main->isVisible());
        QVERIFY(main->mdiArea()->subWindowList().isEmpty());
        QVERIFY(front->files.requests.isEmpty());
        QCOMPARE(main->statusText(), QStringLiteral("Unconnected"));
        main->Toolbar1_ButtonClick(8);
        Settle();
        QVERIFY(!front->state.GraphSelect);
        QCOMPARE(loaded<FrmGraph>(*main).size(), 1);
    }

    void closeFormClosesTheActiveChildOrTheProgram()
    {
        trigger(*main, "mnuflight");
        trigger(*main, "mnuengine");
        main->Toolbar1_ButtonClick(1);
        Settle();
        QCOMPARE(loaded<FrmGraph>(*main).size(), 0);
        QCOMPARE(loaded<FrmCapture>(*main).size(), 1);
        QVERIFY(main->isVisible());
        main->Toolbar1_ButtonClick(1);
        Settle();
        QVERIFY(main->mdiArea()->subWindowList().isEmpty());
        QVERIFY(main->isVisible());

        // Another top-level window is loaded but no child is active: nothing happens.
        trigger(*main, "mnuAbout");
        QVERIFY(main->findChild<frmAbout *>());
        main->Toolbar1_ButtonClick(1);
        Settle();
        QVERIFY(main->isVisible());
        QVERIFY(main->findChild<frmAbout *>());
        main->findChild<frmAbout *>()->close();
        Settle();

        // Only the main window: the program ends.
        main->Toolbar1_ButtonClick(1);
        Settle();
        QVERIFY(!main->isVisible());
    }

    void exitUnloadsEveryChild()
    {
        trigger(*main, "mnuflight");
        QPointer<FrmCapture> capture = loaded<FrmCapture>(*main).value(0);
        trigger(*main, "mnuExit");
        QVERIFY(!main->isVisible());
        QVERIFY(capture.isNull());
    }

    void diskLoadCancelsQuietlyOrLoads()
    {
        QTemporaryDir dir;
        front->files.answers = {std::nullopt};
        trigger(*main, "mnuDisk");
        QCOMPARE(front->files.requests.size(), 1);
        const FileDialogRequest &request = front->files.requests[0];
        QCOMPARE(request.title, QStringLiteral("Load Flight Data"));
        QCOMPARE(request.filter, QStringLiteral("*.txt"));
        QCOMPARE(request.defaultExtension, QStringLiteral("txt"));
        QCOMPARE(request.initialFileName, QStringLiteral("*.txt"));
        QCOMPARE(request.folder, QCoreApplication::applicationDirPath());
        QCOMPARE(QDir::currentPath(), QCoreApplication::applicationDirPath());
        QCOMPARE(main->statusText(), QStringLiteral("Unconnected"));
        QVERIFY(!front->state.flightData.FlightRecordCount);

        // Files that cannot be loaded (the trap's other half) are rows of the fault matrix.
        const QString flight = WriteFile(
            dir, "flight.txt", "FLIGHT 0001\r\n06/15/26 16:30:00,0,1015,148\r\n06/15/26 16:30:06,1,990,145\r\nEND\r\n");
        front->files.answers = {flight};
        trigger(*main, "mnuDisk");
        QCOMPARE(front->state.flightData.FlightRecordCount, std::optional<int>(2));
        QCOMPARE(main->statusText(), QStringLiteral("Data File: ") + flight + QStringLiteral("  Loaded for Edit"));
        QVERIFY(front->ui.messages.isEmpty());
    }

    void configureOnlyOpensTheDialog()
    {
        main->setStatus(QStringLiteral("Connected "));
        trigger(*main, "mnuconfigload");
        trigger(*main, "mnuconfigload");
        QCOMPARE(loaded<frmConfigure>(*main).size(), 1);
        QCOMPARE(main->statusText(), QStringLiteral("Connected "));
        QVERIFY(front->ui.messages.isEmpty());
    }

    // The current child's own menus replace the main window's, and hand them back when it goes.
    void childMenusTakeTheMenuBar()
    {
        const QStringList own = menuBarCaptions(*main);
        auto *child = new MenuChild;
        QMdiSubWindow *sub = main->mdiArea()->addSubWindow(child);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->show();
        main->mdiArea()->setActiveSubWindow(sub);
        Settle();
        QCOMPARE(menuBarCaptions(*main), QStringList{"&File"});

        trigger(*main, "mnuconfigload");
        QCOMPARE(menuBarCaptions(*main), own);
        main->mdiArea()->setActiveSubWindow(sub);
        Settle();
        QCOMPARE(menuBarCaptions(*main), QStringList{"&File"});

        sub->close();
        Settle();
        QCOMPARE(menuBarCaptions(*main), own);
        // The main window's own items are still reachable by name.
        QVERIFY(main->findChild<QAction *>("mnuDisk"));
    }

    // The empty work area shows where to start, beneath the children: gone while one is open, back
    // when the last has closed, however it came and went. Its buttons are the menus' own commands.
    // With no library it offers no last flight and makes none; a library it cannot read says nothing.
    void startPanelStandsInTheEmptyWorkArea()
    {
        auto *panel = main->findChild<StartPanel *>("startPanel");
        QVERIFY(panel);
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->geometry(), main->mdiArea()->viewport()->rect());
        const QString folder = qEnvironmentVariable("KORVEL_LIBRARY");
        QSignalSpy read(panel, &StartPanel::libraryRead);
        panel->readLibraryLater();
        QTRY_VERIFY(read.count() >= 1);
        QVERIFY(!panel->lastFlight());
        QVERIFY(!main->findChild<QWidget *>("startLastBox")->isVisible());
        QVERIFY(!QFileInfo::exists(folder));

        trigger(*main, "mnuconfigload");
        QVERIFY(!panel->isVisible());
        trigger(*main, "mnuengine");
        main->Toolbar1_ButtonClick(1);
        Settle();
        QVERIFY(!panel->isVisible());
        main->Toolbar1_ButtonClick(1);
        Settle();
        QVERIFY(main->mdiArea()->subWindowList().isEmpty());
        QVERIFY(panel->isVisible());
        QCOMPARE(menuBarCaptions(*main),
                 (QStringList{"File", "Configuration", "Graph Data", "Hardware", "Analysis", "Help"}));

        const auto click = [&](const char *name) {
            auto *button = panel->findChild<QPushButton *>(QLatin1String(name));
            QVERIFY2(button && button->isVisible(), name);
            QTest::mouseClick(button, Qt::LeftButton);
            Settle();
        };
        const auto closeAll = [&] {
            main->mdiArea()->closeAllSubWindows();
            Settle();
            QVERIFY(panel->isVisible());
        };
        front->files.answers = {std::nullopt};
        click("startOpenFile");
        QCOMPARE(front->files.requests.size(), 1);
        QCOMPARE(front->files.requests[0].title, QStringLiteral("Load Flight Data"));
        QVERIFY(panel->isVisible()); // a load opens no window
        click("startDownload");
        QCOMPARE(loaded<FrmCapture>(*main).size(), 1);
        QVERIFY(!panel->isVisible());
        closeAll();
        front->state.FlashWindowClosed = true;
        click("startProgram");
        QCOMPARE(loaded<frmFlash>(*main).size(), 1);
        QCOMPARE(front->state.FlashWindowClosed, std::optional<bool>(false));
        closeAll();
        click("startLibrary");
        QCOMPARE(loaded<FrmLibrary>(*main).size(), 1);
        closeAll();
        front->ui.messages.clear();

        // The library window made the library: empty, so still no last flight. Then one that is no
        // library at all: nothing said, nothing changed.
        read.clear();
        panel->readLibraryLater();
        QTRY_VERIFY(read.count() >= 1);
        QVERIFY(!panel->lastFlight());
        const QString catalogue = QDir(folder).filePath(QStringLiteral("library.sqlite"));
        QFile::remove(catalogue);
        {
            QFile bad(catalogue);
            QVERIFY(bad.open(QIODevice::WriteOnly));
            bad.write("not a catalogue\n");
        }
        read.clear();
        panel->readLibraryLater();
        QTRY_VERIFY(read.count() >= 1);
        QVERIFY(!panel->lastFlight());
        QVERIFY(front->ui.messages.isEmpty());
        QFile file(catalogue);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("not a catalogue\n"));
    }

    // The library's latest flight, opened from the panel, is loaded as the library window loads one
    // and shown in the analysis view.
    void lastFlightOpensInTheAnalysisView()
    {
        QTemporaryDir dir;
        const QString folder = qEnvironmentVariable("KORVEL_LIBRARY");
        {
            FlightLibrary library(folder);
            for (int day : {20, 3}) {
                FlightPlan plan;
                plan.scale = 0.05;
                plan.start = QDateTime(QDate(2026, 5, day), QTime(9, 5));
                const QString file = WriteFile(dir, QStringLiteral("may%1.txt").arg(day), MakeFlight(plan));
                QCOMPARE(library.importFile(file).outcome, ImportResult::Added);
            }
        }
        main = std::make_unique<MainOstrel>(front->state, front->ui, front->files);
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main.get()));
        auto *panel = main->findChild<StartPanel *>("startPanel");
        QTRY_VERIFY(panel->lastFlight().has_value());
        auto *text = panel->findChild<QLabel *>("startLastFlight");
        QVERIFY(text->isVisible());
        const QString said = text->text().replace(QChar(0x00A0), QLatin1Char(' '));
        QVERIFY2(said.contains(QStringLiteral("20 May 2026, 09:05")), qPrintable(said));
        QVERIFY(said.contains(QStringLiteral("may20.txt")));

        QTest::mouseClick(panel->findChild<QPushButton *>("startOpenLast"), Qt::LeftButton);
        Settle();
        QVERIFY(front->state.flightData.FlightRecordCount.value_or(0) > 10);
        QCOMPARE(front->state.flightFileName, panel->lastFlight()->copy);
        // The status names the flight as it was imported, not by its copy's hash.
        QCOMPARE(main->statusText(), QStringLiteral("Data File: may20.txt  Loaded for Edit"));
        QVERIFY(qobject_cast<FrmAnalysis *>(currentChild(*main)));
        QVERIFY(!panel->isVisible());
        QVERIFY(front->ui.messages.isEmpty());
    }
};

QTEST_MAIN(TestShell)
#include "test_shell.moc"
