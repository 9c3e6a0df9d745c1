// Start-up of the window program, splash excluded: from constructing the main window to its
// first paint on the screen. Prints the median of several runs in milliseconds: with no flight
// library, then with a library of 100 flights, whose latest flight the start panel shows once it
// has been read after the first paint (that moment printed too).
//
// Then shut-down as a whole process: the program is started afresh as a child (this same
// executable with --exit-child, which runs the program's own start), loads the 3-hour flight and
// draws it, and closes its main window by File > Exit; the figure is the time from that close to
// the parent seeing the process end.
//
//   bench_startup [--runs N] [--exit-runs N] [--shots DIR]
//
// --shots also saves a picture of the main window with each of its windows open, for a look by
// eye (About and the splash as their own pictures).
#include "core/library/FlightLibrary.h"
#include "core/settings/Settings.h"
#include "gui/dialogs/frmAbout.h"
#include "gui/dialogs/frmSplash.h"
#include "gui/flash/frmFlash.h"
#include "gui/library/LibraryLocationDialog.h"
#include "gui/shell/Main.h"
#include "gui/shell/MainOstrel.h"
#include "gui/shell/StartPanel.h"
#include "sim/GeneratedRecords.h"
#include "sim/SimEngine.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPaintEvent>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <qcustomplot.h>

#include <algorithm>
#include <cstdio>

using namespace korvel;

namespace {

struct QuietUi : Prompter, FileChooser {
    MessageAnswer showMessage(const QString &, const QString &text, MessageIcon, MessageButtons) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return MessageAnswer::Ok;
    }
    std::optional<QString> chooseFile(const FileDialogRequest &) override { return next; }
    std::optional<QString> next;
};

// Notes when the main window's client area is painted for the first time, at that moment: what
// the event loop does after it in the same turn (the start panel's card) comes on a later frame.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(const QElapsedTimer &clock) : m_clock(clock) {}
    bool painted = false;
    double atMs = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !painted) {
            painted = true;
            atMs = m_clock.nsecsElapsed() / 1e6;
        }
        return false;
    }

private:
    const QElapsedTimer &m_clock;
};

// The first paint; with panelDone, also the moment the start panel was complete: its card drawn
// and the library read (its latest flight shown, or none found).
double startOnce(AppState &state, QuietUi &ui, double *panelDone = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    MainOstrel window(state, ui, ui);
    PaintWatch watch(clock);
    window.mdiArea()->viewport()->installEventFilter(&watch);
    bool read = false;
    QObject::connect(window.startPanel(), &StartPanel::libraryRead, [&read] { read = true; });
    window.show();
    while (!watch.painted)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double painted = watch.atMs;
    if (panelDone) {
        while (!read && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        *panelDone = read ? clock.nsecsElapsed() / 1e6 : -1;
    }
    return painted;
}

// A library of 100 generated flights in folder.
bool makeLibrary(const QString &folder)
{
    try {
        FlightLibrary library(folder);
        for (int i = 0; i < 100; ++i)
            library.importBytes(sim::GenerateFlight(200 + i), QStringLiteral("flight%1.txt").arg(i));
        return true;
    } catch (const LibraryError &error) {
        std::fprintf(stderr, "bench_startup: %s\n", qPrintable(error.message()));
        return false;
    }
}

struct StartFigures {
    double first = 0, median = 0, worst = 0, panelDone = -1;
};

StartFigures startUps(AppState &state, QuietUi &ui, int runs)
{
    // The first start-up pays for fonts and style as a cold program does (in the program the
    // splash has paid most of that already); the later ones are what a warm start costs.
    StartFigures f;
    f.first = startOnce(state, ui);
    QList<double> times, shown;
    for (int i = 0; i < runs; ++i)
        times << startOnce(state, ui);
    for (int i = 0; i < runs; ++i) {
        double done = -1;
        startOnce(state, ui, &done);
        shown << done;
    }
    std::sort(times.begin(), times.end());
    std::sort(shown.begin(), shown.end());
    f.median = times[times.size() / 2];
    f.worst = times.back();
    f.panelDone = shown[shown.size() / 2];
    return f;
}

void save(QWidget &w, const QString &dir, const QString &name)
{
    QCoreApplication::processEvents();
    const QString file = QDir(dir).filePath(name + QStringLiteral(".png"));
    w.grab().save(file);
    std::printf("shot: %s\n", qPrintable(file));
}

void takeShots(const QString &dir, AppState &state, QuietUi &ui)
{
    QDir().mkpath(dir);
    frmSplash splash(600000);
    splash.show();
    save(splash, dir, QStringLiteral("splash"));
    splash.close();

    MainOstrel window(state, ui, ui);
    window.show();
    // The start panel's card comes the turn after the first paint.
    for (QElapsedTimer wait; !wait.isValid() || wait.elapsed() < 300;) {
        if (!wait.isValid())
            wait.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    save(window, dir, QStringLiteral("main"));
    // The start panel with the library's latest flight, at a large, a small and a very small size.
    const QSize designed = window.size();
    for (const QSize size : {QSize(1600, 1000), QSize(900, 600), QSize(640, 480)}) {
        window.resize(size);
        window.startPanel()->readLibraryLater();
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        save(window, dir, QStringLiteral("start_%1x%2").arg(size.width()).arg(size.height()));
    }
    window.resize(designed);
    auto trigger = [&](const char *name) { window.findChild<QAction *>(QLatin1String(name))->trigger(); };

    trigger("mnuconfigload");
    save(window, dir, QStringLiteral("configure"));
    window.mdiArea()->closeAllSubWindows();

    ui.next = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/flight_3h.txt");
    trigger("mnuDisk");
    trigger("mnuengine");
    save(window, dir, QStringLiteral("graph_flight"));
    window.findChild<QPushButton *>(QStringLiteral("Command3"))->click();
    save(window, dir, QStringLiteral("graph_engine"));
    window.mdiArea()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    trigger("mnuEGT");
    save(window, dir, QStringLiteral("graph_cht"));
    // The readout under a resting mouse, then the chart's menu open, as the screen shows them.
    if (auto *chart = window.findChild<QCustomPlot *>(QStringLiteral("chart"))) {
        const QPoint at = chart->axisRect()->rect().center();
        QMouseEvent move(QEvent::MouseMove, at, chart->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(chart, &move);
        QCoreApplication::processEvents();
        save(window, dir, QStringLiteral("graph_cht_readout"));
        QMouseEvent press(QEvent::MouseButtonPress, at, chart->mapToGlobal(at), Qt::RightButton, Qt::RightButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, chart->mapToGlobal(at), Qt::RightButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(chart, &press);
        QApplication::sendEvent(chart, &release);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const QString file = QDir(dir).filePath(QStringLiteral("graph_menu.png"));
        window.screen()->grabWindow(0).save(file);
        std::printf("shot: %s\n", qPrintable(file));
        if (QWidget *menu = QApplication::activePopupWidget())
            menu->close();
    }
    trigger("mnuflight");
    save(window, dir, QStringLiteral("graph_and_second_child"));
    window.mdiArea()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // The analysis view on the three-hour example, its findings found, at a large, a small and a
    // very small size.
    for (const QSize size : {QSize(1600, 1000), QSize(900, 600), QSize(640, 480)}) {
        window.resize(size);
        trigger("mnuAnalysisView");
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 1500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        save(window, dir, QStringLiteral("analysis_%1x%2").arg(size.width()).arg(size.height()));
        window.mdiArea()->closeAllSubWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    window.resize(designed);

    // The flight library as it stands (KORVEL_LIBRARY names the one to show).
    trigger("mnuFlightLibrary");
    save(window, dir, QStringLiteral("library"));
    {
        // Its Library... chooser once Test has said what it found there.
        LibraryLocationDialog chooser(LibraryLocation(), &window);
        chooser.show();
        QEventLoop tested;
        QObject::connect(&chooser, &LibraryLocationDialog::tested, &tested, &QEventLoop::quit);
        chooser.test();
        tested.exec();
        save(chooser, dir, QStringLiteral("library_location"));
    }
    window.mdiArea()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // The capture window on the simulated instrument, registered as "Com 1" in a store of its own.
    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());
    sim::SimEngine instrument;
    if (instrument.open()) {
        SaveSetting(AppTitle(), QStringLiteral("Ports"), QStringLiteral("COM1"), instrument.slavePath());
        ui.next = store.filePath(QStringLiteral("download.txt"));
        trigger("mnuflight");
        window.findChild<QAction *>(QStringLiteral("mnuFileSaveAs"))->trigger();
        instrument.sendCapture({sim::GenerateFlight(60), QByteArray("MENU\r\n"), false});
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 1500)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        save(window, dir, QStringLiteral("capture"));
    }

    // The firmware window burning the example program into the simulated instrument: a picture
    // while the program goes out, then one after the burn.
    window.mdiArea()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QString bin = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/");
    SaveSetting(AppTitle(), QStringLiteral("LastSettings"), QStringLiteral("LastFlashSProg"),
                QFileInfo(bin + QStringLiteral("example.S19")).absoluteFilePath());
    sim::LoaderOptions loader;
    loader.burnReplyMs = 1500;
    instrument.setLoader(loader);
    trigger("mnuFlash");
    if (auto *flash = window.findChild<frmFlash *>()) {
        flash->burn().setRegisterFile(bin + QStringLiteral("init.B"));
        QTimer::singleShot(2000, &window, [&] { save(window, dir, QStringLiteral("flash")); });
        flash->findChild<QPushButton *>(QStringLiteral("cmdUploadSProg"))->click();
        save(window, dir, QStringLiteral("flash_done"));
    }
    window.mdiArea()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    trigger("mnuAbout");
    if (auto *about = window.findChild<frmAbout *>())
        save(*about, dir, QStringLiteral("about"));
}

// The child of the shut-down figure: the program's start without the splash's wait, a flight
// loaded and drawn, then File > Exit. It writes the moment of the close (monotonic clock, shared
// by all processes) on its standard output and ends as the program does, by leaving exec().
int exitChild(QApplication &app)
{
    AppState state;
    QuietUi ui;
    MainOstrel *window = Main(state, ui, ui, 1);
    auto trigger = [window](const char *name) { window->findChild<QAction *>(QLatin1String(name))->trigger(); };
    ui.next = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/flight_3h.txt");
    trigger("mnuDisk");
    trigger("mnuengine");
    QTimer::singleShot(300, window, [&] {
        QElapsedTimer now;
        now.start();
        std::printf("closing %lld\n", static_cast<long long>(now.msecsSinceReference()));
        std::fflush(stdout);
        trigger("mnuExit");
    });
    return app.exec();
}

// Starts the child and returns the milliseconds from its main window's close to its end, or a
// negative figure when the child did not run as it should.
double exitOnce()
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--exit-child")});
    if (!child.waitForStarted(10000) || !child.waitForReadyRead(30000))
        return -1;
    const QByteArray line = child.readLine().trimmed();
    if (!child.waitForFinished(30000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return -1;
    QElapsedTimer now;
    now.start();
    if (!line.startsWith("closing "))
        return -1;
    return double(now.msecsSinceReference() - line.mid(8).toLongLong());
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addOption(
        {QStringLiteral("runs"), QStringLiteral("Start-ups to time."), QStringLiteral("n"), QStringLiteral("15")});
    options.addOption(
        {QStringLiteral("exit-runs"), QStringLiteral("Shut-downs to time."), QStringLiteral("n"), QStringLiteral("7")});
    options.addOption(
        {QStringLiteral("shots"), QStringLiteral("Save pictures of the windows here."), QStringLiteral("dir")});
    QCommandLineOption child(QStringLiteral("exit-child"));
    child.setFlags(QCommandLineOption::HiddenFromHelp);
    options.addOption(child);
    options.addHelpOption();
    options.process(app);
    if (options.isSet(child))
        return exitChild(app);

    AppState state;
    QuietUi ui;
    if (options.isSet(QStringLiteral("shots"))) {
        // Without a library named, one of 100 flights, so the start panel shows its latest.
        QTemporaryDir library;
        if (qEnvironmentVariableIsEmpty("KORVEL_LIBRARY")) {
            qputenv("KORVEL_LIBRARY", QFile::encodeName(library.path()));
            if (!makeLibrary(library.path()))
                return 1;
        }
        takeShots(options.value(QStringLiteral("shots")), state, ui);
        return 0;
    }

    const int runs = std::max(1, options.value(QStringLiteral("runs")).toInt());
    QTemporaryDir libraries;
    qputenv("KORVEL_LIBRARY", QFile::encodeName(libraries.filePath(QStringLiteral("none"))));
    const StartFigures bare = startUps(state, ui, runs);
    std::printf("main window start-up to first paint, no flight library: first %.1f ms; then median %.1f ms, worst "
                "%.1f ms (%d runs; target 300 ms); the start panel complete after %.1f ms (median)\n",
                bare.first, bare.median, bare.worst, runs, bare.panelDone);

    const QString folder = libraries.filePath(QStringLiteral("hundred"));
    if (!makeLibrary(folder))
        return 1;
    qputenv("KORVEL_LIBRARY", QFile::encodeName(folder));
    const StartFigures full = startUps(state, ui, runs);
    std::printf("main window start-up to first paint, a library of 100 flights: first %.1f ms; then median %.1f ms, "
                "worst %.1f ms; its latest flight on the start panel after %.1f ms (median)\n",
                full.first, full.median, full.worst, full.panelDone);

    QList<double> exits;
    const int exitRuns = std::max(1, options.value(QStringLiteral("exit-runs")).toInt());
    for (int i = 0; i < exitRuns; ++i) {
        const double ms = exitOnce();
        if (ms < 0) {
            std::fprintf(stderr, "bench_startup: the program's child did not start, close and end as it should\n");
            return 1;
        }
        exits << ms;
    }
    std::sort(exits.begin(), exits.end());
    std::printf("main window closed to process end, as its parent sees it: median %.1f ms, worst %.1f ms "
                "(%d runs; target 100 ms)\n",
                exits[exits.size() / 2], exits.back(), exitRuns);
    return 0;
}
