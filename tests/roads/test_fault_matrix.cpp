// The fault matrix end to end: each way the roads can go wrong (the port, the line, the disk, the
// files), met by the window and by korvel-cli over a pseudo-terminal against the simulated
// instrument and on real files. For each: what the user is told, that nothing hangs, and that
// nothing already received is lost. The README's "What happens when..." table is this file's map.
#include "core/capture/CaptureLine.h"
#include "core/link/TargetLink.h"
#include "core/settings/Settings.h"
#include "gui/capture/FrmCapture.h"
#include "gui/flash/frmFlash.h"
#include "gui/shell/MainOstrel.h"
#include "support/Instrument.h"
#include "support/WindowSupport.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace korvel;
using namespace korvel::sim;
using namespace korvel::test;

namespace {

QString SystemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString TrailMessage(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1String("\r"), QLatin1String("\\r")).replace(QLatin1String("\n"), QLatin1String("\\n"));
    return QStringLiteral("message: Korvel Engine Monitor: ") + escaped + QStringLiteral(" -> OK\n");
}

const QByteArray kRegisterFile("FFFFF0000104 chip select\r\nFFFFF0020120\r\n");

QString PortMissingText(const QString &device)
{
    return QStringLiteral("The port %1 could not be opened: %2.\r\nCheck that the instrument's cable and adapter are "
                          "plugged in, and that the port chosen under Configure RS-232 is the right one.")
        .arg(device, SystemText(ENOENT));
}

const QString kBusyText = QStringLiteral(
    "The port %1 could not be opened: it is in use by another program.\r\nIf another program is using it (another "
    "Korvel window, a terminal program), close that program and try again.");

// A burn against the simulated loader with a fault: the window's burn (short waits) and
// korvel-cli flash (the real ones, so only faults that need no time-out run there).
struct BurnRig {
    Instrument instrument;
    QTemporaryDir dir;
    QString init, program;
    explicit BurnRig(LoaderOptions options, const QByteArray &programText = Program(6))
    {
        options.paced = false;
        options.burnReplyMs = 0;
        instrument.engine.setLoader(options);
        init = WriteFile(dir, "init.B", kRegisterFile);
        program = WriteFile(dir, "program.S19", programText);
    }
    struct Window {
        Front front;
        QString done;
        qint64 ms = 0;
    };
    // answers: for the OK/Cancel prompts in turn. hook: runs with the window before the burn.
    std::unique_ptr<Window> burnInWindow(QList<MessageAnswer> answers = {},
                                         const std::function<void(frmFlash &)> &hook = {})
    {
        auto result = std::make_unique<Window>();
        result->front.ui.answers = answers;
        frmFlash window(result->front.context());
        window.link().timing = {400, 20, 30};
        window.burn().setRegisterFile(init);
        window.burn().setProgramFile(program);
        if (hook)
            hook(window);
        QElapsedTimer clock;
        clock.start();
        window.cmdUploadSProg_Click();
        result->ms = clock.elapsed();
        result->done = window.findChild<QLabel *>("lblFlashDone")->text();
        return result;
    }
    CliRun burnWithCli()
    {
        // The loader resets when the line closes; the records it took stay.
        return RunCli({"flash", "--port", instrument.engine.slavePath(), "--init", init, program});
    }
    QStringList texts(const RecordingUi &ui) const
    {
        QStringList out;
        for (const auto &m : ui.messages)
            out << m.text;
        return out;
    }
};

const QString kLineGone =
    QStringLiteral("The line to the instrument went away (hang-up, or the adapter was removed).\r\nCheck the cable "
                   "and the adapter, reset the instrument and burn again.");
const QString kTimeout =
    QStringLiteral("Timeout occured while sending data\r\nI have to abort since this will corrupt the send.");
const QString kResetPrompt = QStringLiteral("Please reset target and press OK to try again.\r\nCancel to not connect.");

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT

private slots:
    // Port missing, busy, or not the user's: the window's box and korvel-cli's trail say which and
    // what to do; the capture says "NOT Connected " once, the burn "Could Not Connect".
    void portMissingBusyOrDenied()
    {
        IsolatedSettings settings;
        const QString missing = QStringLiteral("/dev/no-such-korvel-port");
        SaveSetting(AppTitle(), "Ports", "COM2", missing); // the window's port: the configured second one
        SaveSetting(AppTitle(), "Configuration", "COMMPORT", "1");
        {
            Front front;
            FrmCapture window(front.context());
            QCOMPARE(front.ui.messages.size(), 1);
            QCOMPARE(front.ui.messages[0].text, PortMissingText(missing));
            QCOMPARE(front.ui.statuses, QStringList{"NOT Connected "});
        }
        QTemporaryDir dir;
        const CliRun capture = RunCli({"capture", "--port", missing, dir.filePath("out.txt")});
        QCOMPARE(capture.exitCode, 1);
        QCOMPARE(capture.trail, TrailMessage(PortMissingText(missing)) + "status: NOT Connected \n");
        QVERIFY(!QFileInfo::exists(dir.filePath("out.txt")));

        const QString init = WriteFile(dir, "init.B", kRegisterFile);
        const QString program = WriteFile(dir, "p.S19", Program(2));
        const CliRun flash = RunCli({"flash", "--port", missing, "--init", init, program});
        QCOMPARE(flash.exitCode, 1);
        QCOMPARE(flash.trail, "status: Disconnected\nstep: Waiting...\ndone: Waiting...\n" +
                                  TrailMessage(PortMissingText(missing)) +
                                  "status: Connection Error\ndone: Error\n" + TrailMessage("Could Not Connect"));

        // Busy: another program holds the port.
        Instrument instrument;
        const QString slave = instrument.engine.slavePath();
        {
            QSerialPort other(slave);
            QVERIFY(other.open(QIODevice::ReadWrite));
            const CliRun busy = RunCli({"capture", "--port", slave, dir.filePath("busy.txt")});
            QCOMPARE(busy.exitCode, 1);
            QCOMPARE(busy.trail, TrailMessage(kBusyText.arg(slave)) + "status: NOT Connected \n");
            const CliRun busyBurn = RunCli({"flash", "--port", slave, "--init", init, program});
            QCOMPARE(busyBurn.exitCode, 1);
            QVERIFY(busyBurn.trail.contains(TrailMessage(kBusyText.arg(slave))));
            QVERIFY(busyBurn.trail.endsWith(TrailMessage("Could Not Connect")));
            Front front;
            FrmCapture window(front.context());
            QCOMPARE(front.ui.messages.size(), 1);
            QCOMPARE(front.ui.messages[0].text, kBusyText.arg(slave));
        }

        // Permission denied: a device the user may not open.
        const std::optional<QStringList> asUser = UnprivilegedPrefix();
        if (!asUser)
            QSKIP("running as root without setpriv: cannot try a port the user may not open");
        QVERIFY(::chmod(QFile::encodeName(slave).constData(), 0) == 0); // nobody's, the owner's included
        const CliRun denied = RunCli({"capture", "--port", slave, "/tmp/korvel-never-written.txt"}, *asUser);
        QCOMPARE(denied.exitCode, 1);
        QVERIFY2(denied.trail.contains(QStringLiteral("could not be opened: %1.\\r\\nYour user may not use it: add "
                                                      "your user to the group")
                                           .arg(SystemText(EACCES))),
                 qPrintable(denied.trail));
        QVERIFY(denied.trail.endsWith("status: NOT Connected \n"));
    }

    // The line hangs up in the middle of a record: what came is in the file, the user is told the
    // line went away, and the capture ends.
    void hangUpDuringACapture()
    {
        const QByteArray flight = GenerateFlight(60);
        {
            Instrument instrument;
            QTemporaryDir dir;
            const QString file = dir.filePath("cut.txt");
            CaptureScript script{flight, QByteArray(), false};
            script.hangUpAfter = 1500;
            const CliRun cli = instrument.captureWithCli({"--max-seconds", "20", file}, script);
            QVERIFY(cli.finished);
            QCOMPARE(cli.exitCode, 1);
            QCOMPARE(ReadAll(file), flight.left(1500));
            QCOMPARE(cli.out, flight.left(1500));
            QVERIFY2(cli.trail.contains("korvel-cli: [The line to the instrument went away (hang-up, or the device "
                                        "was removed). The chunks received so far are kept in the capture file. Check "
                                        "the cable and the adapter, then start the capture again.]\n"),
                     qPrintable(cli.trail));
            QVERIFY(!cli.trail.contains(SystemText(ENOENT)) && !cli.trail.contains(SystemText(ENOTTY)));
            QCOMPARE(cli.trail.count("NOT Connected "), 1);
        }
        Instrument instrument;
        Front front;
        QTemporaryDir dir;
        const QString file = dir.filePath("window.txt");
        auto window = std::make_unique<FrmCapture>(front.context());
        front.files.answers = {file};
        window->mnuFileSaveAs_Click();
        CaptureScript script{flight, QByteArray(), false};
        script.hangUpAfter = 2500;
        QSignalSpy lost(&window->capture(), &CaptureLine::lineLost);
        instrument.engine.sendCapture(script);
        QVERIFY(Await([&] { return lost.count() == 1; }));
        const QString shown = window->findChild<QPlainTextEdit *>("SaxComm")->toPlainText();
        QVERIFY(shown.contains("[The line to the instrument went away (hang-up, or the device was removed)."));
        QVERIFY(front.ui.messages.isEmpty());
        window.reset();
        QCOMPARE(front.ui.statuses.last(), QStringLiteral("NOT Connected "));
        QCOMPARE(ReadAll(file), flight.left(2500));
    }

    // The disk fills up during a capture: the bytes it took are kept, the reason is the system's,
    // and the capture ends at once.
    void diskFullDuringACapture()
    {
        SmallDisk disk(16384);
        if (!disk.mounted())
            QSKIP("may not mount a small tmpfs here (the capture session's test covers the short write)");
        const QByteArray flight = GenerateFlight(400); // far more than the disk holds
        const QString full = QStringLiteral("Capture stopped: the capture file could not be written (%1). What was "
                                            "received before stays in the file. Free some space or choose another "
                                            "disk, then start the capture again.")
                                 .arg(SystemText(ENOSPC));
        {
            Instrument instrument;
            const QString file = disk.filePath("cli.txt");
            const CliRun cli = instrument.captureWithCli({"--max-seconds", "20", file}, {flight, QByteArray(), false});
            QVERIFY(cli.finished);
            QCOMPARE(cli.exitCode, 1);
            QVERIFY2(cli.trail.contains("korvel-cli: [" + full + "]\n"), qPrintable(cli.trail));
            const QByteArray kept = ReadAll(file);
            QVERIFY(kept.size() >= 8192);
            QCOMPARE(kept, flight.left(kept.size()));
            QVERIFY(cli.out.startsWith(kept));
            QFile::remove(file);
        }
        Instrument instrument;
        Front front;
        const QString file = disk.filePath("window.txt");
        FrmCapture window(front.context());
        front.files.answers = {file};
        window.mnuFileSaveAs_Click();
        QSignalSpy notes(&window.capture(), &CaptureLine::note);
        instrument.engine.sendCapture({flight, QByteArray(), false});
        QVERIFY(Await([&] { return notes.count() == 1; }));
        QVERIFY(window.findChild<QPlainTextEdit *>("SaxComm")->toPlainText().contains(full));
        const QByteArray kept = ReadAll(file);
        QVERIFY(kept.size() >= 8192);
        QCOMPARE(kept, flight.left(kept.size()));
        QCOMPARE(window.CaptureState(), 0);
    }

    // A capture file that cannot be created: in a folder that does not exist, a folder itself, a
    // read-only place. korvel-cli says why and exits 1; the window says it in its terminal area.
    void captureFileCannotBeCreated()
    {
        Instrument instrument;
        QTemporaryDir dir;
        struct Case {
            QString file;
            QString reason;
        };
        QList<Case> cases{{dir.filePath("no/such/folder/out.txt"), SystemText(ENOENT)}};
        cases.append({dir.path(), QString()}); // the system's words for a folder vary: any reason
        SmallDisk readOnly(4096, true);
        if (readOnly.mounted())
            cases.append({readOnly.filePath("out.txt"), SystemText(EROFS)});
        for (const Case &c : cases) {
            const CliRun cli = RunCli({"capture", "--port", instrument.engine.slavePath(), c.file});
            QCOMPARE(cli.exitCode, 1);
            const QString note = QStringLiteral("korvel-cli: [The capture file %1 could not be created: ").arg(c.file);
            QVERIFY2(cli.trail.contains(note + c.reason), qPrintable(cli.trail));
            QVERIFY(cli.trail.contains(". Choose another file or folder.]\n"));
            QVERIFY(cli.trail.startsWith("status: Connected \nstatus: Capture Data To:" + c.file + "\n"));
            QVERIFY(cli.trail.endsWith("status: NOT Connected \n"));
            QCOMPARE(cli.trail.count("NOT Connected "), 1);

            Front front;
            FrmCapture window(front.context());
            front.files.answers = {c.file};
            window.mnuFileSaveAs_Click();
            QCOMPARE(window.CaptureState(), 0);
            QVERIFY(window.findChild<QPlainTextEdit *>("SaxComm")->toPlainText().contains(
                note.mid(QStringLiteral("korvel-cli: ").size()) + c.reason));
        }
    }

    // --max-seconds takes a positive number; one too large for a timer waits as long as one can.
    void captureDeadlineIsChecked()
    {
        Instrument instrument;
        QTemporaryDir dir;
        const QString file = dir.filePath("out.txt");
        for (const QString bad : {"nan", "-nan", "0", "-1", "soon", ""}) {
            const CliRun cli = RunCli({"capture", "--port", instrument.engine.slavePath(), "--max-seconds", bad, file});
            QCOMPARE(cli.exitCode, 2);
            QVERIFY(cli.trail.startsWith("korvel-cli: --max-seconds takes a positive number of seconds\n"));
        }
        const QByteArray flight = GenerateFlight(5);
        for (const QString huge : {"1e300", "inf", "3000000"}) {
            const CliRun cli = instrument.captureWithCli({"--max-seconds", huge, file}, {flight, QByteArray(), false});
            QCOMPARE(cli.exitCode, 0);
            QCOMPARE(ReadAll(file), flight);
        }
    }

    // Flight files that cannot be a flight: unreadable, a device, a pipe, too large for the table,
    // binary. korvel-cli dump says why at once and exits 1; the window abandons the load without a
    // message (the status line names the file), keeping the table it had.
    void flightFilesThatCannotBeLoaded()
    {
        IsolatedSettings settings;
        QTemporaryDir dir;
        const QString good = WriteFile(dir, "good.txt", GenerateFlight(3));
        struct Case {
            QString file;
            QString reason; // empty: the file loads (binary bytes hold no record)
        };
        const QString notRegular =
            QStringLiteral("not a regular file (a device, a pipe or a folder); choose the flight file itself");
        QList<Case> cases{{"/dev/zero", notRegular}};
        const QString pipe = dir.filePath("pipe.txt");
        QCOMPARE(QProcess::execute("mkfifo", {pipe}), 0);
        cases.append({pipe, notRegular});
        const QString huge = dir.filePath("huge.txt");
        {
            QFile file(huge);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (file.resize(qint64(5) << 30)) // sparse
                cases.append({huge, "the file is too large for the record table (5368709120 bytes; at most "
                                    "4294967293)"});
        }
        QByteArray noise(100000, '\0');
        for (qsizetype i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 7919 + (i >> 5) * 31) & 0xFF);
        cases.append({WriteFile(dir, "binary.txt", noise), QString()});

        for (const Case &c : cases) {
            QElapsedTimer clock;
            clock.start();
            const CliRun cli = RunCli({"dump", "--count", c.file});
            QVERIFY(cli.finished);
            QVERIFY2(clock.elapsed() < 10000, qPrintable(c.file));
            if (c.reason.isEmpty()) {
                QCOMPARE(cli.exitCode, 0);
                QCOMPARE(cli.out, QByteArray("{\"count\":0}\n"));
                continue;
            }
            QCOMPARE(cli.exitCode, 1);
            QCOMPARE(cli.trail, QStringLiteral("status: Data File: %1  Loaded for Edit\nkorvel-cli: cannot load %1: %2\n")
                                    .arg(c.file, c.reason));
            QVERIFY(cli.out.isEmpty());

            Front front;
            MainOstrel main(front.state, front.ui, front.files);
            front.files.answers = {good, c.file};
            main.findChild<QAction *>("mnuDisk")->trigger();
            QCOMPARE(front.state.flightData.FlightRecordCount, std::optional<int>(3));
            main.findChild<QAction *>("mnuDisk")->trigger();
            QVERIFY(front.ui.messages.isEmpty());
            QCOMPARE(main.statusText(), "Data File: " + c.file + "  Loaded for Edit");
            QCOMPARE(front.state.flightData.FlightRecordCount, std::optional<int>(3));
        }

        // A file the user may not read.
        const std::optional<QStringList> asUser = UnprivilegedPrefix();
        if (!asUser)
            QSKIP("running as root without setpriv: cannot try a file the user may not read");
        const QString closed = WriteFile(dir, "closed.txt", GenerateFlight(2));
        QVERIFY(QFile::setPermissions(closed, QFileDevice::Permissions()));
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7755)));
        const CliRun cli = RunCli({"dump", "--count", closed}, *asUser);
        QCOMPARE(cli.exitCode, 1);
        QVERIFY2(cli.trail.endsWith(QStringLiteral("korvel-cli: cannot load %1: %2\n").arg(closed, SystemText(EACCES))),
                 qPrintable(cli.trail));
    }

    // The line drops in the middle of the program: the user is told the line went away and the
    // upload failed; the records sent before are in the instrument.
    void hangUpDuringABurn()
    {
        LoaderOptions options;
        options.hangUpAt = 5; // the third record of the program
        {
            BurnRig rig(options);
            const auto window = rig.burnInWindow();
            QCOMPARE(rig.texts(window->front.ui), (QStringList{kLineGone, "Uploading of Program to Flash Failed"}));
            QCOMPARE(window->done, QStringLiteral("Error"));
            QVERIFY(window->ms < 10000);
            QVERIFY(rig.instrument.engine.records().size() >= 5);
        }
        BurnRig rig(options);
        const CliRun cli = rig.burnWithCli();
        QVERIFY(cli.finished);
        QCOMPARE(cli.exitCode, 1);
        QVERIFY2(cli.trail.endsWith(TrailMessage(kLineGone) + "status: Disconnected\ndone: Error\n" +
                                    TrailMessage("Uploading of Program to Flash Failed")),
                 qPrintable(cli.trail));
        QVERIFY(rig.instrument.engine.records().size() >= 5);
    }

    // The line drops right after a speed switch, after the last program record, and after the start
    // record: each named; after the start record no reset is advised (the instrument may be burning
    // its flash) and the status says the line is gone.
    void hangUpsAroundTheSwitchAndTheStartRecord()
    {
        {
            LoaderOptions options;
            options.hangUpAt = 1; // the switch to 38400
            BurnRig rig(options);
            const CliRun cli = RunCli({"flash", "--port", rig.instrument.engine.slavePath(), "--speed", "1", "--init",
                                       rig.init, rig.program});
            QCOMPARE(cli.exitCode, 1);
            QVERIFY2(cli.trail.contains(TrailMessage(kLineGone)), qPrintable(cli.trail));
            QVERIFY(cli.trail.endsWith("status: Connection Error\ndone: Error\n" + TrailMessage("Could Not Connect")));
        }
        {
            LoaderOptions options;
            options.hangUpAt = 8; // two register records, then the sixth and last of the program
            BurnRig rig(options);
            const CliRun cli = rig.burnWithCli();
            QCOMPARE(cli.exitCode, 1);
            QVERIFY2(cli.trail.endsWith(TrailMessage(kLineGone) + "status: Disconnected\ndone: Error\n" +
                                        TrailMessage("Uploading of Program to Flash Failed")),
                     qPrintable(cli.trail));
        }
        LoaderOptions options;
        options.hangUpAfterExecute = true;
        {
            BurnRig rig(options);
            const auto window = rig.burnInWindow();
            const QStringList texts = rig.texts(window->front.ui);
            QCOMPARE(texts.size(), 1);
            QVERIFY(texts[0].startsWith("The line to the instrument went away after the start record was sent"));
            QVERIFY(!texts[0].contains("reset the instrument"));
            QCOMPARE(window->front.ui.statuses.last(), QStringLiteral("Disconnected"));
            QCOMPARE(window->done, QStringLiteral("Error"));
        }
        BurnRig rig(options);
        const CliRun cli = rig.burnWithCli();
        QCOMPARE(cli.exitCode, 1);
        QVERIFY2(cli.trail.endsWith(
                     TrailMessage("The line to the instrument went away after the start record was sent: the "
                                  "instrument may still be burning its flash.\r\nLeave it powered for 30 seconds, "
                                  "without resetting it or pulling its cable; then check that it starts with the new "
                                  "program, and burn again only if it does not.") +
                     "status: Disconnected\ndone: Error\n"),
                 qPrintable(cli.trail));
        QCOMPARE(rig.instrument.engine.memory().size(), 6 * 16);
    }

    // A garbled answer to the handshake asks for a reset (OK goes on); a garbled final check is no
    // contact.
    void garbledHandshakeOrCheck()
    {
        LoaderOptions handshake;
        handshake.garbleHandshake = 1;
        {
            BurnRig rig(handshake);
            const auto window = rig.burnInWindow({MessageAnswer::Ok});
            QCOMPARE(rig.texts(window->front.ui), QStringList{kResetPrompt});
            QCOMPARE(window->done, QStringLiteral("Finished"));
        }
        LoaderOptions check;
        check.garbleEchoTest = 1;
        BurnRig rig(check);
        const CliRun cli = rig.burnWithCli();
        QCOMPARE(cli.exitCode, 1);
        QCOMPARE(cli.trail, "status: Disconnected\nstep: Waiting...\ndone: Waiting...\nstatus: Connection Error\n"
                            "done: Error\n" + TrailMessage("Could Not Connect"));
        QVERIFY(rig.instrument.engine.records().isEmpty());
    }

    // An echo that comes back wrong: the upload stops at that record, without a time-out.
    void garbledEcho()
    {
        LoaderOptions options;
        options.garbleAt = 4;
        {
            BurnRig rig(options);
            const auto window = rig.burnInWindow();
            QCOMPARE(rig.texts(window->front.ui), QStringList{"Uploading of Program to Flash Failed"});
            QCOMPARE(window->done, QStringLiteral("Error"));
        }
        BurnRig rig(options);
        const CliRun cli = rig.burnWithCli();
        QCOMPARE(cli.exitCode, 1);
        QVERIFY(cli.trail.endsWith("done: Error\n" + TrailMessage("Uploading of Program to Flash Failed")));
        QCOMPARE(cli.trail.count("message: "), 1);
    }

    // A silent target: at the handshake the reset prompt is the way on (OK after a reset burns);
    // in the middle of the program the time-out ends the upload. Window only: korvel-cli waits
    // the real 25 s.
    void silentTarget()
    {
        LoaderOptions notReset;
        notReset.notReset = 1;
        {
            BurnRig rig(notReset);
            const auto window = rig.burnInWindow({MessageAnswer::Ok});
            QCOMPARE(rig.texts(window->front.ui), (QStringList{kTimeout, kResetPrompt}));
            QCOMPARE(window->done, QStringLiteral("Finished"));
        }
        LoaderOptions silent;
        silent.silentFrom = 4;
        BurnRig rig(silent);
        const auto window = rig.burnInWindow();
        QCOMPARE(rig.texts(window->front.ui), (QStringList{kTimeout, "Uploading of Program to Flash Failed"}));
        QCOMPARE(window->front.ui.statuses.last(), QStringLiteral("Disconnected"));
        QCOMPARE(window->done, QStringLiteral("Error"));
        QVERIFY(window->ms < 10000);
    }

    // A long wait in the window shows what it waits for and a countdown in the rate line, and the
    // line is cleared when the wait is over.
    void longWaitsCountDownInTheWindow()
    {
        LoaderOptions silent;
        silent.silentFrom = 4;
        BurnRig rig(silent);
        QStringList shown;
        const auto window = rig.burnInWindow({}, [&shown](frmFlash &w) {
            w.link().timing.replyTimeoutMs = 2600;
            auto *rate = w.findChild<QLabel *>("lblRate");
            QObject::connect(&w.link(), &TargetLink::countdown, &w,
                             [&shown, rate] { shown << (rate->isHidden() ? QStringLiteral("hidden") : rate->text()); });
        });
        QCOMPARE(shown, (QStringList{"Waiting for the instrument's echo: 2 s", "Waiting for the instrument's echo: 1 s",
                                     "hidden"}));
        QCOMPARE(window->done, QStringLiteral("Error"));
    }

    // A target whose loader talks at another speed: its answers are garbage, the user is asked to
    // reset it, and Cancel ends with "Could Not Connect"; nothing is sent.
    void targetAtTheWrongSpeed()
    {
        LoaderOptions options;
        options.bootBaud = 38400;
        {
            BurnRig rig(options);
            const auto window = rig.burnInWindow();
            QCOMPARE(rig.texts(window->front.ui), (QStringList{kResetPrompt, "Could Not Connect"}));
            QCOMPARE(window->front.ui.statuses.last(), QStringLiteral("Connection Error"));
            QCOMPARE(window->done, QStringLiteral("Error"));
            QVERIFY(rig.instrument.engine.records().isEmpty());
        }
        BurnRig rig(options);
        const CliRun cli = rig.burnWithCli();
        QCOMPARE(cli.exitCode, 1);
        QCOMPARE(cli.trail, "status: Disconnected\nstep: Waiting...\ndone: Waiting...\n"
                            "message: Target not reset: " + QString(kResetPrompt).replace("\r\n", "\\r\\n") +
                                " -> Cancel\nstatus: Connection Error\ndone: Error\n" +
                                TrailMessage("Could Not Connect"));
        QVERIFY(rig.instrument.engine.records().isEmpty());
    }

    // Line errors during a burn are each shown, and change nothing: the burn finishes and the
    // instrument holds the whole program. (A pseudo-terminal reports no errors of its own: the
    // line's notifications are raised as its driver would.)
    void lineErrorsDuringABurn()
    {
        BurnRig rig(LoaderOptions{});
        const auto window = rig.burnInWindow({}, [](frmFlash &w) {
            QObject::connect(&w.link(), &TargetLink::recordEchoed, &w, [&w](int sent, int total) {
                if (total == 6 && sent == 2) {
                    emit w.commMain().lineError(LineFraming);
                    emit w.commMain().lineError(LineOverrun);
                    emit w.commMain().lineError(LineReceiveOverflow);
                }
            });
        });
        QCOMPARE(rig.texts(window->front.ui), (QStringList{"Framing Error", "Overrun, Data lost"}));
        QCOMPARE(window->done, QStringLiteral("Finished"));
        QCOMPARE(rig.instrument.engine.memory().size(), 6 * 16);
    }

    // An S-record program with garbage among its records: lines that are not records are passed
    // over and the rest burns whole; a broken data record stops the upload with the reader's reason.
    void sRecordFileWithGarbageLines()
    {
        const QByteArray program = Program(4);
        QByteArray noisy;
        for (const QByteArray &line : program.split('\n'))
            noisy += line + "\n" + "garbage \x01\x02\xff text\r\n\r\n; comment\r\ns1 lower case\r\n";
        {
            BurnRig rig(LoaderOptions{}, noisy);
            const auto window = rig.burnInWindow();
            QVERIFY(window->front.ui.messages.isEmpty());
            QCOMPARE(window->done, QStringLiteral("Finished"));
            QCOMPARE(rig.instrument.engine.memory().size(), 4 * 16);
            const CliRun srec = RunCli({"srec", rig.program});
            QCOMPARE(srec.exitCode, 0);
            QCOMPARE(srec.out.count('\n'), 4);
        }
        const QByteArray broken = program + "S1zz0000\r\n";
        BurnRig rig(LoaderOptions{}, broken);
        const QString reason = QStringLiteral("There was an error: byte count too small at line 7 Opening ") + rig.program;
        // The burn first offers to stop at the damaged line; burnt anyway, the reader refuses it.
        const auto window = rig.burnInWindow({MessageAnswer::Ok});
        const QStringList texts = rig.texts(window->front.ui);
        QCOMPARE(texts.size(), 3);
        QVERIFY(texts[0].startsWith("The program file " + rig.program + " has a wrong checksum in line 7"));
        QCOMPARE(texts.mid(1), (QStringList{reason, "Uploading of Program to Flash Failed"}));
        QCOMPARE(window->done, QStringLiteral("Error"));
        const CliRun srec = RunCli({"srec", rig.program});
        QCOMPARE(srec.exitCode, 1);
        QCOMPARE(srec.trail, "message: Error opening file!: " + reason + " -> OK\n");
        QVERIFY(srec.out.isEmpty());
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "test_fault_matrix.moc"
