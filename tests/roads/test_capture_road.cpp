// The download road end to end over a pseudo-terminal against the simulated instrument: the
// capture line as the window and korvel-cli drive it, the capture window itself, and korvel-cli
// capture as a process.
#include "core/capture/CaptureLine.h"
#include "core/library/FlightLibrary.h"
#include "core/settings/Settings.h"
#include "gui/capture/FrmCapture.h"
#include "support/Instrument.h"

#include <QAction>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <unistd.h>

using namespace korvel;
using namespace korvel::sim;
using namespace korvel::test;

class TestCaptureRoad : public QObject {
    Q_OBJECT

private slots:
    void flightAndCalibrationRecordsAreSavedByteForByte()
    {
        Instrument instrument;
        RecordingUi ui;
        SerialPortLine line;
        CaptureLine capture(line, ui, ui);
        QTemporaryDir libraryDir;
        capture.setLibraryFolder(libraryDir.path());
        QSignalSpy filed(&capture, &CaptureLine::flightKept);
        SetThisPcsAircraft(QStringLiteral("g-abcd"));
        QVERIFY(capture.load());
        QCOMPARE(ui.statuses, QStringList{"Connected "});
        QTRY_COMPARE(instrument.engine.lineBaud(), 19200);

        // A record that comes before the file is chosen is shown, never written.
        QSignalSpy shown(&capture, &CaptureLine::shown);
        const QByteArray early = GenerateFlight(3);
        QVERIFY(instrument.play({early, QByteArray(), false}, [&] { return shown.count() >= 2; }));
        QTest::qWait(300);
        QCOMPARE(capture.session().CaptureState(), 0);

        QTemporaryDir dir;
        const QString flightFile = dir.filePath("flight.txt");
        capture.arm(flightFile);
        QCOMPARE(ui.statuses.last(), "Capture Data To:" + flightFile);
        QCOMPARE(capture.session().CaptureState(), 1);
        const QByteArray flight = GenerateFlight(40);
        QSignalSpy done(&capture, &CaptureLine::recordDone);
        // Paced as the line carries it, with talk before the record.
        CaptureScript paced{flight, "MENU\r\nSEND? \r\n", true};
        paced.charactersPerSecond = 19200;
        QVERIFY(instrument.play(paced, [&] { return done.count() == 1; }));
        QCOMPARE(ui.statuses.last(), QStringLiteral("Done"));
        QCOMPARE(ReadAll(flightFile), flight);

        const QString calFile = dir.filePath("cal.txt");
        capture.arm(calFile);
        const QByteArray cal = GenerateCalibration();
        QVERIFY(instrument.play({cal, QByteArray(), false}, [&] { return done.count() == 2; }));
        QCOMPARE(ReadAll(calFile), cal);
        QCOMPARE(capture.session().CalEndCount(), 5);

        // After "Done" a further record is only shown.
        const qint64 before = QFileInfo(calFile).size();
        shown.clear();
        QVERIFY(instrument.play({early, QByteArray(), false}, [&] { return shown.count() >= 2; }));
        QCOMPARE(QFileInfo(calFile).size(), before);

        capture.unload();
        QCOMPARE(ui.statuses.last(), QStringLiteral("NOT Connected "));
        QVERIFY(ui.messages.isEmpty());

        // Every flight the line carried is in the library, the one before any file was chosen
        // too; the calibration record is not, and the statuses said nothing of it.
        QTRY_COMPARE(filed.count(), 3); // the early flight twice: kept, then known
        FlightLibrary library(libraryDir.path());
        const auto flights = library.list();
        QCOMPARE(flights.size(), size_t(2));
        QStringList sources;
        for (const LibraryFlight &f : flights) {
            sources << f.source;
            QCOMPARE(f.aircraft, std::optional<QString>(QStringLiteral("G-ABCD"))); // this PC's aircraft
        }
        SetThisPcsAircraft(std::nullopt);
        QVERIFY2(sources.contains(flightFile), qPrintable(sources.join(u' ')));
        QVERIFY(sources.filter(QRegularExpression(QStringLiteral("^capture \\d{4}-"))).size() == 1);
        QCOMPARE(ReadAll(*library.copyPath(flights[0].id)) + ReadAll(*library.copyPath(flights[1].id)),
                 flights[0].source == flightFile ? flight + early : early + flight);
    }

    void aHangUpMidRecordKeepsWhatCame()
    {
        Instrument instrument;
        RecordingUi ui;
        SerialPortLine line;
        CaptureLine capture(line, ui, ui);
        QVERIFY(capture.load());
        QTemporaryDir dir;
        const QString file = dir.filePath("cut.txt");
        capture.arm(file);
        QSignalSpy lost(&capture, &CaptureLine::lineLost);
        QSignalSpy notes(&capture, &CaptureLine::note);
        CaptureScript script{GenerateFlight(60), QByteArray(), false};
        script.hangUpAfter = 2000;
        QVERIFY(instrument.play(script, [&] { return lost.count() == 1; }));
        QCOMPARE(ReadAll(file), script.record.left(2000));
        QCOMPARE(capture.session().CaptureState(), 2);
        QCOMPARE(notes.count(), 1);
        // What happened, not whatever the system said last.
        const QString note = notes[0][0].toString();
        QVERIFY2(note.contains("went away (hang-up, or the device was removed)"), qPrintable(note));
        QVERIFY(note.contains("kept in the capture file"));
        QCOMPARE(lost[0][0].toString(), QStringLiteral("hang-up, or the device was removed"));
        QCOMPARE(ui.statuses.last(), QStringLiteral("NOT Connected ")); // as the line goes, not at the unload
        capture.unload();
        QCOMPARE(ui.statuses.last(), QStringLiteral("NOT Connected "));
        QCOMPARE(ReadAll(file), script.record.left(2000));
    }

    // A disk that refuses the bytes: said once, and the capture stops.
    void aFailedWriteIsToldOnceAndStopsTheCapture()
    {
        if (!QFileInfo::exists("/dev/full"))
            QSKIP("needs a device that is always full");
        Instrument instrument;
        RecordingUi ui;
        SerialPortLine line;
        CaptureLine capture(line, ui, ui);
        QVERIFY(capture.load());
        QSignalSpy notes(&capture, &CaptureLine::note);
        QSignalSpy shown(&capture, &CaptureLine::shown);
        capture.arm("/dev/full");
        QCOMPARE(capture.session().CaptureState(), 1);
        QVERIFY(instrument.play({GenerateFlight(30), QByteArray(), false}, [&] { return notes.count() >= 1; }));
        QTest::qWait(400);
        QVERIFY(shown.count() >= 2);
        QCOMPARE(notes.count(), 1);
        QVERIFY(notes[0][0].toString().contains("Capture stopped"));
        QCOMPARE(capture.session().CaptureState(), 0);
        QVERIFY(!capture.session().fileOpen());
    }

    void windowDownloadsIntoTheChosenFile()
    {
        Instrument instrument;
        AppState state;
        RecordingUi ui;
        ScriptedFileChooser files;
        QTemporaryDir dir;
        const QString file = dir.filePath("window.txt");
        auto window = std::make_unique<FrmCapture>(WindowContext{state, ui, ui, files});
        QCOMPARE(window->windowTitle(), QStringLiteral("Korvel Data Capture"));
        QCOMPARE(ui.statuses, QStringList{"Connected "});
        QCOMPARE(window->CaptureState(), 0);

        auto *menu = window->findChild<QMenu *>("mnuFile");
        QCOMPARE(window->windowMenus(), QList<QMenu *>{menu});
        QStringList items;
        for (QAction *a : menu->actions())
            items << a->objectName() + "=" + (a->isSeparator() ? "-" : a->text());
        QCOMPARE(items, (QStringList{"mnuFileSaveAs=Save &As...", "mnuFile00=-", "mnuFile01=-", "mnuFileExit=E&xit"}));
        QCOMPARE(menu->title(), QStringLiteral("&File"));

        // A cancelled Save As changes nothing.
        files.answers = {std::nullopt};
        window->findChild<QAction *>("mnuFileSaveAs")->trigger();
        QCOMPARE(window->CaptureState(), 0);
        QCOMPARE(ui.statuses.size(), 1);
        const FileDialogRequest &request = files.requests[0];
        QCOMPARE(request.title, QStringLiteral("Data Log File Name"));
        QCOMPARE(request.filter, QStringLiteral("*.txt"));
        QCOMPARE(request.defaultExtension, QStringLiteral("txt"));
        QCOMPARE(request.initialFileName, "Ostrel " + QDate::currentDate().toString("MM-dd-yyyy") + ".txt");
        QCOMPARE(request.folder, QCoreApplication::applicationDirPath());
        QCOMPARE(CaptureLine::SuggestedFileName(QDate(2026, 12, 4)), QStringLiteral("Ostrel 12-04-2026.txt"));

        files.answers = {file};
        window->findChild<QAction *>("mnuFileSaveAs")->trigger();
        QCOMPARE(window->CaptureState(), 1);

        // Closing in the middle of a record keeps the chunks received so far.
        const QByteArray flight = GenerateFlight(200);
        CaptureScript script{flight, QByteArray(), true};
        script.charactersPerSecond = 19200;
        auto *terminal = window->findChild<QPlainTextEdit *>("SaxComm");
        QVERIFY(terminal && terminal->isReadOnly());
        QVERIFY(instrument.play(script, [&] { return QFileInfo(file).size() > 3000; }));
        QCOMPARE(window->CaptureState(), 2);
        QVERIFY(terminal->toPlainText().startsWith("FLIGHT"));
        window.reset();
        QCOMPARE(ui.statuses.last(), QStringLiteral("NOT Connected "));
        const QByteArray kept = ReadAll(file);
        QVERIFY(kept.size() > 3000 && kept.size() < flight.size());
        QVERIFY(flight.startsWith(kept));
        QTest::qWait(200);
        QCOMPARE(ReadAll(file), kept);
    }

    // The window files a completed capture on the library's own thread and says which flight it
    // became; the library holds it once that is said.
    void windowSaysWhereTheFlightIsKept()
    {
        Instrument instrument; // with a library of its own
        AppState state;
        RecordingUi ui;
        ScriptedFileChooser files;
        FrmCapture window(WindowContext{state, ui, ui, files});
        auto *status = window.findChild<QStatusBar *>("statCapture");
        QTRY_COMPARE(instrument.engine.lineBaud(), 19200);
        const QByteArray flight = GenerateFlight(30);
        QVERIFY(instrument.play({flight, QByteArray(), false},
                                [&] { return status->currentMessage().startsWith("Kept"); }));
        QCOMPARE(status->currentMessage(), QStringLiteral("Kept in the flight library as flight 1"));
        const auto kept = FlightLibrary(qEnvironmentVariable("KORVEL_LIBRARY")).list();
        QCOMPARE(kept.size(), size_t(1));
        QVERIFY(kept[0].source.startsWith("capture "));
    }

    // The capture file is offered where it can be saved: beside the program when that folder can be
    // written (a build), else in the user's documents (an installed copy under /usr).
    void captureFileIsOfferedWhereItCanBeSaved()
    {
        QTemporaryDir dir;
        QCOMPARE(WritableFolder(dir.path()), dir.path());

        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        const QString fallback = QFileInfo(documents).isDir() ? documents : QDir::homePath();
        QCOMPARE(WritableFolder(dir.filePath("gone")), fallback);
        if (::geteuid() != 0) { // root may write anywhere
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
            QCOMPARE(WritableFolder(dir.path()), fallback);
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    void cliCapturesOneRecord()
    {
        Instrument instrument; // with settings, and so a library, of its own
        QTemporaryDir dir;
        const QString file = dir.filePath("cli.txt");
        const QByteArray flight = GenerateFlight(20);
        const CliRun cli = instrument.captureWithCli({"--max-seconds", "20", file}, {flight, "before\r\n", false});
        QCOMPARE(cli.exitCode, 0);
        QCOMPARE(ReadAll(file), flight);
        QCOMPARE(cli.out, "before\r\n" + flight);
        QCOMPARE(cli.trail, "status: Connected \nstatus: Capture Data To:" + file + "\nstatus: Done\n");
        const auto kept = FlightLibrary(qEnvironmentVariable("KORVEL_LIBRARY")).list();
        QCOMPARE(kept.size(), size_t(1));
        QCOMPARE(kept[0].source, file);

        // No record within the time: the unload, exit 1.
        const CliRun idle = RunCli({"capture", "--port", instrument.engine.slavePath(), "--max-seconds", "0.3", file});
        QCOMPARE(idle.exitCode, 1);
        QVERIFY(idle.trail.endsWith("status: NOT Connected \n"));
        QCOMPARE(ReadAll(file), QByteArray());
    }
};

QTEST_MAIN(TestCaptureRoad)
#include "test_capture_road.moc"
