// The firmware programming window through its controls' names: its designed look, the program
// file's choice and editing, the line-error reports, its menus inside the main window, and whole
// burns against the simulated instrument over a pseudo-terminal, closed at the worst moments too.
#include "core/settings/Settings.h"
#include "gui/common/Twips.h"
#include "gui/dialogs/frmAbout.h"
#include "gui/dialogs/frmConfigure.h"
#include "gui/flash/frmFlash.h"
#include "gui/shell/MainOstrel.h"
#include "support/Instrument.h"
#include "support/ScriptedLine.h"
#include "support/WindowSupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace korvel;
using namespace korvel::test;

namespace {

QString child(QWidget &w, const char *name, const char *what = "text")
{
    QObject *found = w.findChild<QObject *>(QLatin1String(name));
    return found ? found->property(what).toString() : QStringLiteral("(no %1)").arg(QLatin1String(name));
}

QColor fillOf(QWidget &w)
{
    return w.findChild<QFrame *>(QStringLiteral("shpDone(1)"))->palette().color(QPalette::Window);
}

// The simulated instrument as a loader that echoes every byte back; silent when told.
struct EchoingInstrument : Instrument {
    QByteArray queue;
    bool silent = false;

    EchoingInstrument()
    {
        QObject::connect(&engine, &sim::SimEngine::bytesReceived, &engine, [this](const QByteArray &bytes) {
            if (!silent)
                queue += bytes;
            flush();
        });
        QObject::connect(&engine, &sim::SimEngine::recordSent, &engine, [this] { flush(); });
    }
    void flush()
    {
        if (engine.sending() || queue.isEmpty())
            return;
        engine.sendCapture({std::exchange(queue, {}), QByteArray(), false});
    }
};

} // namespace

class TestFlashWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<IsolatedSettings> settings;
    std::unique_ptr<Front> front;

    std::unique_ptr<frmFlash> window(ScriptedLine **line = nullptr)
    {
        auto fake = std::make_unique<ScriptedLine>();
        if (line)
            *line = fake.get();
        return std::make_unique<frmFlash>(front->context(), nullptr, std::move(fake));
    }

    // Short waits; the register file and the program in a folder of their own.
    void prepareBurn(frmFlash &w, const QTemporaryDir &dir, int programRecords)
    {
        w.link().timing = {2000, 20, 30};
        w.burn().setRegisterFile(WriteFile(dir, "init.B", "FFFFF0000104 chip select\r\nFFFFF0020120\r\n"));
        front->files.answers = {WriteFile(dir, "new program.S19", Program(programRecords))};
        w.cmdSetFileName_Click(2);
    }

private slots:
    void init()
    {
        settings = std::make_unique<IsolatedSettings>();
        front = std::make_unique<Front>();
        // The user's own editor is what a test sets, not what the shell running the tests has.
        qunsetenv("VISUAL");
        qunsetenv("EDITOR");
    }
    void cleanup() { Settle(); }

    void opensAsDrawnOnFirstUse()
    {
        ScriptedLine *line = nullptr;
        auto w = window(&line);
        QCOMPARE(w->windowTitle(), QStringLiteral("Korvel Engine Monitor"));
        QCOMPARE(w->width(), Twips(6585));
        QCOMPARE(fillOf(*w), QColor(255, 0, 0));
        // Nothing is stored by the first look.
        QCOMPARE(GetSetting(AppTitle(), "LastSettings", "LastFlashSProg", "(none)"), QStringLiteral("(none)"));

        const struct {
            const char *name;
            QRect place;
            const char *text; // the indicator has none
        } controls[] = {
            {"cmdUploadSProg", TwipsRect(390, 360, 1455, 375), "&Burn Program"},
            {"lblFileName(0)", TwipsRect(2160, 330, 2235, 315), "init.B"},
            {"lblStep(2)", TwipsRect(390, 1110, 1455, 615), "Choose Program to Burn into flash."},
            {"lblFileName(2)", TwipsRect(2070, 1140, 2235, 315), "ostrel.s19"},
            {"cmdSetFileName(2)", TwipsRect(4380, 1170, 375, 315), "..."},
            {"cmdEditSToBurn", TwipsRect(2100, 1590, 675, 315), "Edit"},
            {"shpDone(1)", TwipsRect(390, 2070, 1455, 375), nullptr},
            {"lblFlashDone", TwipsRect(450, 2130, 1335, 255), "Not Done"},
        };
        QRect designed;
        for (const auto &c : controls) {
            auto *control = w->findChild<QWidget *>(QLatin1String(c.name));
            QVERIFY2(control, c.name);
            QCOMPARE(control->geometry(), c.place);
            if (c.text)
                QCOMPARE(child(*w, c.name), QString::fromUtf8(c.text));
            designed |= c.place;
        }
        // The label is drawn over the indicator, not under it.
        QVERIFY(w->children().indexOf(w->findChild<QLabel *>("lblFlashDone")) >
                w->children().indexOf(w->findChild<QFrame *>("shpDone(1)")));
        // The arrows: a shaft and two head strokes each, all drawn.
        for (const char *name : {"Line4(4)", "Line5(4)", "Line6(4)", "Line4(0)", "Line5(0)", "Line6(0)"})
            QVERIFY2(w->findChild<QWidget *>(QLatin1String(name)) &&
                         w->findChild<QWidget *>(QLatin1String(name))->height() > 0,
                     name);
        auto *bar = w->findChild<QProgressBar *>("progMain");
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->value(), 0);
        w->show();
        QCOMPARE(bar->geometry(), QRect(0, Twips(4245), w->width(), Twips(330)));
        auto *rate = w->findChild<QLabel *>("lblRate");
        QVERIFY(rate && !rate->isVisible() && rate->text().isEmpty());
        QVERIFY(!rate->geometry().intersects(designed));
        QVERIFY(!rate->geometry().intersects(bar->geometry()));

        // The editor gets the stored pattern, as it stands.
        QList<EditorCommand> started;
        w->setProgramStarter([&](const EditorCommand &command, QString *) {
            started << command;
            return true;
        });
        w->findChild<QPushButton *>("cmdEditSToBurn")->click();
        QCOMPARE(started.size(), 1);
        QCOMPARE(started[0].commandLine(), QStringLiteral("notepad.exe *.S19"));
    }

    void programFileIsChosenShownAndEdited()
    {
        // Each window released marks itself closed; "Program OS" clears the flag before the next.
        // Shortened at the platform's separator: a backslash is one only on Windows.
        SaveSetting(AppTitle(), "LastSettings", "LastFlashSProg", "C:\\Firmware\\v3\\ostrel 31.S19");
#ifdef Q_OS_WIN
        QCOMPARE(child(*window(), "lblFileName(2)"), QStringLiteral("...\\ostrel 31.S19"));
#else
        QCOMPARE(child(*window(), "lblFileName(2)"), QStringLiteral("C:\\Firmware\\v3\\ostrel 31.S19"));
#endif
        QCOMPARE(front->state.FlashWindowClosed, std::optional<bool>(true));
        front->state.FlashWindowClosed = false;
        SaveSetting(AppTitle(), "LastSettings", "LastFlashSProg", "/home/pilot/fw/v31.S19");
        QCOMPARE(child(*window(), "lblFileName(2)"), QDir::toNativeSeparators(QStringLiteral(".../v31.S19")));
        front->state.FlashWindowClosed = false;
        SaveSetting(AppTitle(), "LastSettings", "LastFlashSProg", "v31.S19");
        auto w = window();
        QCOMPARE(child(*w, "lblFileName(2)"), QStringLiteral("v31.S19"));

        front->files.answers = {QStringLiteral("/data/fw/ostrel 32.S19"), std::nullopt};
        w->findChild<QPushButton *>("cmdSetFileName(2)")->click();
        QCOMPARE(front->files.requests.size(), 1);
        const FileDialogRequest &request = front->files.requests[0];
        QCOMPARE(request.title, QStringLiteral("Load S-Record"));
        QCOMPARE(request.filter, QStringLiteral("*.S19"));
        QCOMPARE(request.defaultExtension, QStringLiteral("S19"));
        QCOMPARE(request.initialFileName, QStringLiteral("v31.S19"));
        QCOMPARE(GetSetting(AppTitle(), "LastSettings", "LastFlashSProg", ""),
                 QStringLiteral("/data/fw/ostrel 32.S19"));
        QCOMPARE(child(*w, "lblFileName(2)"), QDir::toNativeSeparators(QStringLiteral(".../ostrel 32.S19")));
        // A cancel keeps the choice and its label.
        w->findChild<QPushButton *>("cmdSetFileName(2)")->click();
        QCOMPARE(front->files.requests.size(), 2);
        QCOMPARE(front->files.requests[1].initialFileName, QStringLiteral("/data/fw/ostrel 32.S19"));
        QCOMPARE(GetSetting(AppTitle(), "LastSettings", "LastFlashSProg", ""),
                 QStringLiteral("/data/fw/ostrel 32.S19"));
        QCOMPARE(child(*w, "lblFileName(2)"), QDir::toNativeSeparators(QStringLiteral(".../ostrel 32.S19")));

        // Blanks in either part stay unquoted; an editor that does not start says why.
        SaveSetting(AppTitle(), "Configuration", "Editor", "C:\\Program Files\\Ed\\ed.exe");
        QList<EditorCommand> started;
        w->setProgramStarter([&](const EditorCommand &command, QString *reason) {
            started << command;
            *reason = QStringLiteral("No such file or directory");
            return false;
        });
        w->cmdEditSToBurn_Click();
        QCOMPARE(started.size(), 1);
        QCOMPARE(started[0].editor, QStringLiteral("C:\\Program Files\\Ed\\ed.exe"));
        QCOMPARE(started[0].file, QStringLiteral("/data/fw/ostrel 32.S19"));
        QCOMPARE(started[0].commandLine(), QStringLiteral("C:\\Program Files\\Ed\\ed.exe /data/fw/ostrel 32.S19"));
        QCOMPARE(front->ui.messages.size(), 1);
        QVERIFY(front->ui.messages[0].text.contains("No such file or directory"));
        QVERIFY(front->ui.messages[0].text.contains("File > Configure..."));

        // The platform's starter reports a program that is not there.
        QString reason;
        QVERIFY(!StartDetachedEditor({QStringLiteral("/nonexistent/editor"), QStringLiteral("x.S19"), {}}, &reason));
        QVERIFY(!reason.isEmpty());

        // Re-created after a close by something that needs only its port: labels as drawn.
        front->state.FlashWindowClosed = true;
        auto again = window();
        QCOMPARE(child(*again, "lblFileName(0)"), QStringLiteral("fileName"));
        QCOMPARE(child(*again, "lblFileName(2)"), QStringLiteral("fileName"));
    }

    // Where the stored editor cannot run (notepad.exe outside Windows) the file opens in the
    // user's $VISUAL or $EDITOR, then in the desktop's program for it; only when all fail is the
    // user sent to the configuration.
    void editWhereTheStoredEditorCannotRun()
    {
        QTemporaryDir dir;
        const QString program = WriteFile(dir, "fw.S19", Program(2));
        SaveSetting(AppTitle(), "LastSettings", "LastFlashSProg", program);
        auto w = window();
        QStringList started, opened;
        QStringList runnable;
        w->setProgramStarter([&](const EditorCommand &command, QString *reason) {
            started << command.commandLine();
            if (reason)
                *reason = QStringLiteral("No such file or directory");
            return runnable.contains(command.editor);
        });
        bool desktopOpens = true;
        w->setFileOpener([&](const QUrl &url) {
            opened << url.toLocalFile();
            return desktopOpens;
        });
        auto edit = [&] {
            started.clear();
            opened.clear();
            front->ui.messages.clear();
            w->cmdEditSToBurn_Click();
        };

        qputenv("VISUAL", "gvim -f");
        qputenv("EDITOR", "nano");
        runnable = {"gvim"};
        edit();
        QCOMPARE(started, (QStringList{"notepad.exe " + program, "gvim -f " + program}));
        QVERIFY(opened.isEmpty() && front->ui.messages.isEmpty());

        runnable = {"nano"};
        edit();
        QCOMPARE(started.last(), "nano " + program);
        QVERIFY(opened.isEmpty() && front->ui.messages.isEmpty());

        qunsetenv("VISUAL");
        qunsetenv("EDITOR");
        edit();
        QCOMPARE(started, QStringList{"notepad.exe " + program});
        QCOMPARE(opened, QStringList{program});
        QVERIFY(front->ui.messages.isEmpty());

        desktopOpens = false;
        edit();
        QCOMPARE(front->ui.messages.size(), 1);
        QCOMPARE(front->ui.messages[0].text,
                 "Could not start the editor: notepad.exe " + program +
                     "\r\nNo such file or directory\r\nChoose the editor under File > Configure...");
        QCOMPARE(front->ui.messages[0].icon, MessageIcon::Exclamation);

        // The stored editor that runs is the only one asked.
        runnable = {"notepad.exe"};
        qputenv("VISUAL", "gvim");
        edit();
        QCOMPARE(started, QStringList{"notepad.exe " + program});
        QVERIFY(opened.isEmpty() && front->ui.messages.isEmpty());
        qunsetenv("VISUAL");
    }

    void lineErrorsAreReportedOutsideAConnectionAttempt()
    {
        ScriptedLine *line = nullptr;
        auto w = window(&line);
        w->link().IsConnecting = true;
        for (int code : {1001, 1004, 1006, 1009, 1010, 1011})
            emit line->lineError(code);
        QVERIFY(front->ui.messages.isEmpty());

        w->link().IsConnecting = false;
        for (int code : {1001, 1004, 1006, 1008, 1009, 1010, 1011, 1002, 1003, 1007, 1, 3, 7})
            emit line->lineError(code);
        QStringList texts;
        for (const auto &m : front->ui.messages) {
            QCOMPARE(m.caption, QStringLiteral("Korvel Engine Monitor"));
            QCOMPARE(m.icon, MessageIcon::None);
            QCOMPARE(m.buttons, MessageButtons::Ok);
            texts << m.text;
        }
        QCOMPARE(texts, (QStringList{"A Break received!", "Framing Error", "Overrun, Data lost", "Parity Error",
                                     "Transmit buffer Full", "Unexpected Error!"}));

        // Arrivals outside a wait are dropped; during one they are the wait's.
        line->open();
        line->arrive("stray");
        QCOMPARE(line->waiting(), 0);
        QTimer::singleShot(5, line, [line] { line->arrive("ab"); });
        QTimer::singleShot(10, line, [line] { line->arrive("c"); });
        QCOMPARE(w->link().waitFor([line] { return line->waiting() >= 3; }, 2000), TargetLink::WaitEnd::Ready);
        QCOMPARE(line->read(), QByteArray("abc"));
    }

    // The window's menus take the main window's menu bar; its commands, "Program OS" and button 9.
    void menusAndOpeningFromTheMainWindow()
    {
        MainOstrel main(front->state, front->ui, front->files);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        auto flashWindows = [&] {
            QList<frmFlash *> found;
            for (QMdiSubWindow *sub : main.mdiArea()->subWindowList())
                if (auto *w = qobject_cast<frmFlash *>(sub->widget()))
                    found << w;
            return found;
        };
        auto captions = [&] {
            QStringList list;
            for (QAction *a : main.menuBar()->actions())
                list << a->text();
            return list;
        };

        front->state.FlashWindowClosed = true;
        main.findChild<QAction *>("mnuFlash")->trigger();
        Settle();
        QCOMPARE(front->state.FlashWindowClosed, std::optional<bool>(false));
        QCOMPARE(flashWindows().size(), 1);
        frmFlash *w = flashWindows()[0];
        QCOMPARE(child(*w, "lblFileName(2)"), QStringLiteral("ostrel.s19"));
        QCOMPARE(w->parentWidget()->width(), Twips(6585));
        QCOMPARE(w->height(), Twips(4575));
        QCOMPARE(captions(), (QStringList{"&File", "&About"}));
        auto *file = main.findChild<QMenu *>("mnu_main_file");
        QVERIFY(file);
        QStringList items;
        for (QAction *a : file->actions())
            items << a->objectName() + '=' + (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(items, (QStringList{"mnu_File(0)=&Configure...", "mnu_File(3)=-", "mnu_File(4)=E&xit"}));
        // The separator is a line alone: a caption on it is drawn beside the line.
        QVERIFY(main.findChild<QAction *>("mnu_File(3)")->text().isEmpty());
        main.Toolbar1_ButtonClick(9);
        QCOMPARE(flashWindows(), QList<frmFlash *>{w});

        // "&About" on the menu bar opens the About box at once, modally, owned by this window.
        QAction *about = main.menuBar()->actions().value(1);
        QVERIFY(about && !about->menu());
        QPointer<QWidget> seenOwner;
        bool seenModal = false;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<frmAbout *>(QApplication::activeModalWidget())) {
                seenOwner = box->parentWidget();
                seenModal = true;
                box->close();
            }
        });
        closer.start(10);
        QTest::mouseClick(main.menuBar(), Qt::LeftButton, {}, main.menuBar()->actionGeometry(about).center());
        QTRY_VERIFY(seenModal);
        QCOMPARE(seenOwner.data(), w);
        QVERIFY(!main.findChild<QMenu *>("mnu_About")->isVisible());
        // By its name too, as a script would.
        seenModal = false;
        main.findChild<QAction *>("mnu_About")->trigger();
        QVERIFY(seenModal);
        closer.stop();

        // Configure opens the main window's configuration dialog, whose frame keeps its size.
        main.findChild<QAction *>("mnu_File(0)")->trigger();
        Settle();
        auto *configure = main.findChild<frmConfigure *>();
        QVERIFY(configure);
        auto *frame = qobject_cast<QMdiSubWindow *>(configure->parentWidget());
        const QSize designed = frame->size();
        QVERIFY(designed.width() > configure->width() && designed.height() > configure->height());
        frame->resize(designed + QSize(90, 80));
        QCOMPARE(frame->size(), designed);
        QCOMPARE(frame->minimumSize(), frame->maximumSize());
        QVERIFY(!(frame->windowFlags() & Qt::WindowMaximizeButtonHint));

        // Exit: the port and this window; the status and the flag say so. The configuration dialog stays.
        QPointer<frmFlash> gone = w;
        main.setStatus(QStringLiteral("Connected at: 19200,N,8,1"));
        main.findChild<QAction *>("mnu_File(4)")->trigger();
        Settle();
        QVERIFY(gone.isNull());
        QCOMPARE(main.statusText(), QStringLiteral("Unconnected"));
        QCOMPARE(front->state.FlashWindowClosed, std::optional<bool>(true));
        QVERIFY(main.findChild<frmConfigure *>());

        // Button 9 opens it anew, as "Program OS" would.
        main.Toolbar1_ButtonClick(9);
        Settle();
        QCOMPARE(front->state.FlashWindowClosed, std::optional<bool>(false));
        QCOMPARE(flashWindows().size(), 1);
        QCOMPARE(child(*flashWindows()[0], "lblFileName(0)"), QStringLiteral("init.B"));
    }

    void wholeBurnAgainstTheInstrument()
    {
        EchoingInstrument instrument;
        QTemporaryDir dir;
        auto w = std::make_unique<frmFlash>(front->context());
        prepareBurn(*w, dir, 12);
        auto *button = w->findChild<QPushButton *>("cmdUploadSProg");
        auto *rate = w->findChild<QLabel *>("lblRate");
        auto *bar = w->findChild<QProgressBar *>("progMain");

        // What the window shows as each record comes back.
        QStringList seen;
        bool refused = false;
        connect(&w->link(), &TargetLink::recordEchoed, w.get(), [&](int sent, int total) {
            seen << QStringLiteral("%1/%2 %3 | %4 | %5 | enabled %6 | %7")
                        .arg(sent)
                        .arg(total)
                        .arg(child(*w, "lblStep(2)"), child(*w, "lblFlashDone"), fillOf(*w).name())
                        .arg(button->isEnabled() ? "yes" : "no")
                        .arg(rate->text().section(',', 0, 0));
            refused = refused || w->burn().run() == FlashBurn::Outcome::AlreadyRunning;
        });
        QSignalSpy progress(bar, &QProgressBar::valueChanged);
        w->show();
        QElapsedTimer clock;
        clock.start();
        button->click();
        QVERIFY(clock.elapsed() < 10000);

        QVERIFY(front->ui.messages.isEmpty());
        QVERIFY(refused);
        QCOMPARE(seen.size(), 2 + 12);
        QCOMPARE(seen[0], QStringLiteral("1/2 Waiting... | Waiting... | #ff0000 | enabled no | Record 1 of 2"));
        QCOMPARE(seen[2],
                 QStringLiteral("1/12 Loading New Program | Waiting... | #ff0000 | enabled no | Record 1 of 12"));
        QCOMPARE(child(*w, "lblStep(2)"), QStringLiteral("Burning Flash"));
        QCOMPARE(child(*w, "lblFlashDone"), QStringLiteral("Finished"));
        QCOMPARE(fillOf(*w), QColor(0, 255, 0));
        QCOMPARE(bar->value(), 100);
        QVERIFY(button->isEnabled());
        QVERIFY(rate->isHidden() && rate->text().isEmpty());
        QCOMPARE(front->ui.statuses.last(), QStringLiteral("Connected at: 19200,N,8,1"));
        // The silent burn: 3, 7, 10, ... 100 in thirty steps after the program's bar.
        QList<int> values;
        for (const auto &args : progress)
            values << args.at(0).toInt();
        const QList<int> tail = values.mid(values.size() - 30);
        QCOMPARE(tail.first(), 3);
        QCOMPARE(tail[1], 7);
        QCOMPARE(tail.last(), 100);
        const QByteArray wire = instrument.engine.received();
        QVERIFY(wire.contains("\rFFFFF0000104\rFFFFF0020120\r"));
        QVERIFY(wire.contains("\r0000800010414141414141414141414141414141"));
        QVERIFY(wire.endsWith("\r0000800000"));
        QVERIFY(w->commMain().isOpen());
    }

    // Closing during the connection attempt ends it at once without a word; closing during the
    // transfer ends it with "Error". Either way the window goes only after the burn has returned.
    void closingDuringABurn()
    {
        for (const bool duringTransfer : {false, true}) {
            EchoingInstrument instrument;
            instrument.silent = !duringTransfer;
            QTemporaryDir dir;
            front->ui.messages.clear();
            MainOstrel main(front->state, front->ui, front->files);
            main.show();
            main.findChild<QAction *>("mnuFlash")->trigger();
            auto *sub = main.mdiArea()->currentSubWindow();
            QPointer<frmFlash> w = qobject_cast<frmFlash *>(sub->widget());
            QVERIFY(w);
            prepareBurn(*w, dir, 40);
            w->link().timing.replyTimeoutMs = 20000;

            QLabel *done = w->findChild<QLabel *>("lblFlashDone");
            QString doneAtReturn;
            connect(&w->burn(), &FlashBurn::runningChanged, done, [&](bool running) {
                if (!running)
                    doneAtReturn = done->text();
            });
            if (duringTransfer)
                connect(&w->link(), &TargetLink::recordEchoed, sub, [sub](int sent, int total) {
                    if (total == 40 && sent == 5)
                        sub->close();
                });
            else
                QTimer::singleShot(100, sub, [sub] { sub->close(); });
            QElapsedTimer clock;
            clock.start();
            w->findChild<QPushButton *>("cmdUploadSProg")->click();
            QVERIFY2(clock.elapsed() < 5000, "the wait returned at once");
            QVERIFY(!w.isNull()); // still here as the click handler returns
            QVERIFY(!sub->isVisible());
            QCOMPARE(front->state.FlashWindowClosed, std::optional<bool>(true));
            QVERIFY(!w->commMain().isOpen());
            QCOMPARE(doneAtReturn, duringTransfer ? QStringLiteral("Error") : QStringLiteral("Waiting..."));
            QVERIFY(front->ui.messages.isEmpty());
            Settle();
            QVERIFY(w.isNull());
            QVERIFY(main.mdiArea()->subWindowList().isEmpty());
        }

        // The main window closed during a burn waits for the burn to return, then goes.
        EchoingInstrument instrument;
        QTemporaryDir dir;
        MainOstrel main(front->state, front->ui, front->files);
        main.show();
        main.findChild<QAction *>("mnuFlash")->trigger();
        QPointer<frmFlash> w = qobject_cast<frmFlash *>(main.mdiArea()->currentSubWindow()->widget());
        prepareBurn(*w, dir, 40);
        connect(&w->link(), &TargetLink::recordEchoed, &main, [&main](int sent, int total) {
            if (total == 40 && sent == 3)
                main.close();
        });
        w->cmdUploadSProg_Click();
        QVERIFY(!w.isNull());
        QTRY_VERIFY(w.isNull());
        QTRY_VERIFY(!main.isVisible());
    }
};

QTEST_MAIN(TestFlashWindow)
#include "test_flash_window.moc"
