// korvel-sim: the instrument on a pseudo-terminal, for trying the program without an instrument.
// The first line on stdout is the device to open; it can register itself as "Com n" meanwhile.

#include "core/settings/Settings.h"
#include "core/ui/UiInterfaces.h"
#include "sim/SimEngine.h"

#include <optional>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include <unistd.h>

using namespace korvel;
using namespace korvel::sim;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvel-sim"));

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral(
        "The Korvel engine monitor on a pseudo-terminal. Prints the device to open on its first line.\n"
        "Capture sender: once the program sets the line to 19200 baud (its capture window opens the\n"
        "line), the instrument sends its record after --delay seconds, then again every --repeat\n"
        "seconds while the line stays open; Enter on this terminal sends it at once.\n"
        "Bootstrap loader: as soon as the program sends a byte on an opening of the line, the capture\n"
        "stops and the instrument is its processor's bootstrap loader (handshake \"x\" at 19200, echo,\n"
        "speed switch, memory image, execute record, burn reply). Closing the line resets it.\n"
        "Faults count records from 1: every complete data record (count 01 or more) received since\n"
        "the start, register records included."));
    cli.addHelpOption();
    const QCommandLineOption registerOpt(QStringLiteral("register"),
                                         QStringLiteral("Register the device as \"Com <n>\" while running."),
                                         QStringLiteral("n"));
    const QCommandLineOption fileOpt(QStringLiteral("file"), QStringLiteral("Send this record file as it is."),
                                     QStringLiteral("path"));
    const QCommandLineOption recordsOpt(QStringLiteral("records"),
                                        QStringLiteral("Generate a flight of <n> records (default 600)."),
                                        QStringLiteral("n"), QStringLiteral("600"));
    const QCommandLineOption calOpt(QStringLiteral("calibration"), QStringLiteral("Send a calibration record."));
    const QCommandLineOption preambleOpt(QStringLiteral("preamble"),
                                         QStringLiteral("Text sent before the record."), QStringLiteral("text"));
    const QCommandLineOption unpacedOpt(QStringLiteral("unpaced"),
                                        QStringLiteral("Send as fast as the pseudo-terminal takes it, and answer the "
                                                       "program at once instead of at the line's pace."));
    const QCommandLineOption delayOpt(QStringLiteral("delay"),
                                      QStringLiteral("Seconds from the line's opening to the record (default 5)."),
                                      QStringLiteral("s"), QStringLiteral("5"));
    const QCommandLineOption repeatOpt(QStringLiteral("repeat"),
                                       QStringLiteral("Seconds between records while the line stays open; 0 sends "
                                                      "once (default 20)."),
                                       QStringLiteral("s"), QStringLiteral("20"));
    const QCommandLineOption onceOpt(QStringLiteral("once"), QStringLiteral("Exit after sending one record."));
    const QCommandLineOption hangUpOpt(QStringLiteral("hang-up-after"),
                                       QStringLiteral("Fault: hang up after <n> bytes of the record."),
                                       QStringLiteral("n"));
    const QCommandLineOption answerAtOpt(QStringLiteral("answer-at"),
                                         QStringLiteral("Loader: answer the handshake \"x\" with \"@\" (the default)."));
    const QCommandLineOption echoHandshakeOpt(QStringLiteral("echo-handshake"),
                                              QStringLiteral("Loader: answer the handshake by echoing \"x\"."));
    const QCommandLineOption burnReplyOpt(QStringLiteral("burn-reply-ms"),
                                          QStringLiteral("Loader: milliseconds from the execute record at 00008000 "
                                                         "to the burn's reply byte (default 2000)."),
                                          QStringLiteral("ms"), QStringLiteral("2000"));
    const QCommandLineOption burnSilentOpt(QStringLiteral("burn-silent"),
                                           QStringLiteral("Loader: the burn never replies."));
    const QCommandLineOption garbleOpt(QStringLiteral("garble-at"),
                                       QStringLiteral("Loader fault: the echo of record <k> ends in a wrong character."),
                                       QStringLiteral("k"));
    const QCommandLineOption silentOpt(QStringLiteral("silent-from"),
                                       QStringLiteral("Loader fault: nothing goes back from record <k> on."),
                                       QStringLiteral("k"));
    const QCommandLineOption hangUpRecordOpt(QStringLiteral("hang-up-at-record"),
                                             QStringLiteral("Loader fault: drop the line on record <k>."),
                                             QStringLiteral("k"));
    const QCommandLineOption notResetOpt(QStringLiteral("not-reset"),
                                         QStringLiteral("Loader fault: the first <m> handshakes meet silence."),
                                         QStringLiteral("m"));
    const QCommandLineOption latencyOpt(QStringLiteral("latency"),
                                        QStringLiteral("Loader: deliver what it sends in packets as a USB-serial "
                                                       "adapter does: a packet leaves <ms> after its first byte, or "
                                                       "once 62 bytes wait (default 0: at once)."),
                                        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption switchAloneOpt(QStringLiteral("switch-echo-alone"),
                                            QStringLiteral("Loader: the speed-switch record's last echo character "
                                                           "travels in a packet of its own (with --latency)."));
    const QCommandLineOption garbleHandshakeOpt(QStringLiteral("garble-handshake"),
                                                QStringLiteral("Loader fault: the answers to the first <m> "
                                                               "handshakes arrive garbled."),
                                                QStringLiteral("m"));
    const QCommandLineOption garbleEchoTestOpt(QStringLiteral("garble-echotest"),
                                               QStringLiteral("Loader fault: the echoes of the first <m> ECHOTEST "
                                                              "lines end in a wrong character."),
                                               QStringLiteral("m"));
    const QCommandLineOption loseSwitchEchoOpt(QStringLiteral("lose-switch-echo"),
                                               QStringLiteral("Loader fault: the last echo character of each "
                                                              "speed-switch record is lost."));
    const QCommandLineOption hangUpExecuteOpt(QStringLiteral("hang-up-after-execute"),
                                              QStringLiteral("Loader fault: drop the line once the execute record "
                                                             "has been echoed (the instrument goes on burning)."));
    const QCommandLineOption imageOpt(QStringLiteral("image"),
                                      QStringLiteral("Loader: save the memory image (binary from its lowest address, "
                                                     "gaps 0xFF) after each execute record and at exit."),
                                      QStringLiteral("file"));
    cli.addOptions({registerOpt, fileOpt, recordsOpt, calOpt, preambleOpt, unpacedOpt, delayOpt, repeatOpt, onceOpt,
                    hangUpOpt, answerAtOpt, echoHandshakeOpt, burnReplyOpt, burnSilentOpt, garbleOpt, silentOpt,
                    hangUpRecordOpt, notResetOpt, latencyOpt, switchAloneOpt, garbleHandshakeOpt, garbleEchoTestOpt,
                    loseSwitchEchoOpt, hangUpExecuteOpt, imageOpt});
    cli.process(app);

    CaptureScript script;
    if (cli.isSet(fileOpt)) {
        QFile file(cli.value(fileOpt));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "korvel-sim: %s: %s\n", qPrintable(file.fileName()), qPrintable(file.errorString()));
            return 2;
        }
        script.record = file.readAll();
    } else if (cli.isSet(calOpt)) {
        script.record = GenerateCalibration();
    } else {
        script.record = GenerateFlight(std::max(1, cli.value(recordsOpt).toInt()));
    }
    script.preamble = cli.value(preambleOpt).toLatin1().replace("\\r", "\r").replace("\\n", "\n");
    script.paced = !cli.isSet(unpacedOpt);
    if (cli.isSet(hangUpOpt))
        script.hangUpAfter = cli.value(hangUpOpt).toLongLong();
    const int delayMs = int(cli.value(delayOpt).toDouble() * 1000);
    const int repeatMs = int(cli.value(repeatOpt).toDouble() * 1000);
    const bool once = cli.isSet(onceOpt);
    if (cli.isSet(answerAtOpt) && cli.isSet(echoHandshakeOpt)) {
        std::fprintf(stderr, "korvel-sim: --answer-at and --echo-handshake exclude each other\n");
        return 2;
    }
    LoaderOptions loader;
    loader.echoHandshake = cli.isSet(echoHandshakeOpt);
    loader.paced = !cli.isSet(unpacedOpt);
    loader.burnReplyMs = cli.isSet(burnSilentOpt) ? -1 : std::max(0, cli.value(burnReplyOpt).toInt());
    loader.garbleAt = cli.value(garbleOpt).toInt();
    loader.silentFrom = cli.value(silentOpt).toInt();
    loader.hangUpAt = cli.value(hangUpRecordOpt).toInt();
    loader.notReset = cli.value(notResetOpt).toInt();
    loader.garbleHandshake = cli.value(garbleHandshakeOpt).toInt();
    loader.garbleEchoTest = cli.value(garbleEchoTestOpt).toInt();
    loader.loseSwitchEcho = cli.isSet(loseSwitchEchoOpt);
    loader.hangUpAfterExecute = cli.isSet(hangUpExecuteOpt);
    bool latencyOk = false;
    loader.latencyMs = cli.value(latencyOpt).toInt(&latencyOk);
    if (!latencyOk || loader.latencyMs < 0 || loader.latencyMs > 1000) {
        std::fprintf(stderr, "korvel-sim: --latency takes milliseconds from 0 to 1000\n");
        return 2;
    }
    loader.switchEchoAlone = cli.isSet(switchAloneOpt);
    const QString imagePath = cli.value(imageOpt);

    SimEngine engine;
    QString error;
    if (!engine.open(&error)) {
        std::fprintf(stderr, "korvel-sim: cannot make a pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    engine.setLoader(loader);
    std::printf("%s\n", qPrintable(engine.slavePath()));
    std::fflush(stdout);

    std::optional<int> registered;
    if (cli.isSet(registerOpt)) {
        const int n = cli.value(registerOpt).toInt();
        registered = n;
        SetRegisteredPort(n, engine.slavePath());
        std::fprintf(stderr, "korvel-sim: registered as Com %d\n", n);
    }

    // SIGINT and SIGTERM end the run cleanly, taking the registration back.
    if (::pipe(signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    }

    QTimer nextRecord;
    nextRecord.setSingleShot(true);
    bool lineOpen = false;
    bool spoke = false; // the program has talked to the loader on this opening of the line
    const auto send = [&] {
        if (engine.sending() || spoke)
            return;
        std::fprintf(stderr, "korvel-sim: sending the record (%lld bytes)\n", qlonglong(script.record.size()));
        engine.sendCapture(script);
    };
    QObject::connect(&nextRecord, &QTimer::timeout, &app, send);
    QObject::connect(&engine, &SimEngine::lineConfigured, &app, [&](int baud) {
        lineOpen = baud == 19200;
        std::fprintf(stderr, "korvel-sim: line at %d baud\n", baud);
        if (lineOpen && !spoke)
            nextRecord.start(delayMs);
        else
            nextRecord.stop();
    });
    QObject::connect(&engine, &SimEngine::recordSent, &app, [&] {
        std::fprintf(stderr, "korvel-sim: record sent\n");
        // The reader takes the last chunk before the line goes.
        if (once)
            QTimer::singleShot(1000, &app, &QCoreApplication::quit);
        else if (lineOpen && repeatMs > 0 && !spoke)
            nextRecord.start(repeatMs);
    });

    // The loader's events, one line each; records are counted, not listed.
    qsizetype recordsReported = 0;
    const auto reportRecords = [&] {
        const qsizetype n = engine.records().size();
        if (n > recordsReported)
            std::fprintf(stderr, "korvel-sim: loader: %lld records received (%lld bytes in memory)\n",
                         qlonglong(n - recordsReported), qlonglong(engine.memory().size()));
        recordsReported = n;
    };
    const auto saveImage = [&] {
        if (imagePath.isEmpty() || engine.memory().isEmpty())
            return;
        QString error;
        quint32 lowest = 0;
        if (engine.saveImage(imagePath, &error, &lowest))
            std::fprintf(stderr, "korvel-sim: loader: image saved to %s (from %08X)\n", qPrintable(imagePath), lowest);
        else
            std::fprintf(stderr, "korvel-sim: loader: cannot save the image to %s: %s\n", qPrintable(imagePath),
                         qPrintable(error));
    };
    QObject::connect(&engine, &SimEngine::programSpoke, &app, [&] {
        std::fprintf(stderr, "korvel-sim: the program speaks: the loader answers on this opening\n");
        spoke = true;
        nextRecord.stop();
    });
    QObject::connect(&engine, &SimEngine::programClosed, &app, [&] { spoke = false; });
    QObject::connect(&engine, &SimEngine::handshakeAnswered, &app, [&] {
        std::fprintf(stderr, "korvel-sim: loader: handshake answered at 19200\n");
    });
    QObject::connect(&engine, &SimEngine::speedSwitched, &app, [&](int baud) {
        std::fprintf(stderr, "korvel-sim: loader: now at %d baud\n", baud);
    });
    QObject::connect(&engine, &SimEngine::executed, &app, [&](quint32 address) {
        reportRecords();
        std::fprintf(stderr, "korvel-sim: loader: execute at %08X\n", address);
        saveImage();
    });
    QObject::connect(&engine, &SimEngine::burnReplied, &app,
                     [] { std::fprintf(stderr, "korvel-sim: loader: burn done, replied\n"); });
    QObject::connect(&engine, &SimEngine::loaderReset, &app, [&] {
        reportRecords();
        std::fprintf(stderr, "korvel-sim: loader: line closed, reset into bootstrap mode at 19200\n");
    });
    QObject::connect(&engine, &SimEngine::faultStruck, &app, [](const QString &what) {
        std::fprintf(stderr, "korvel-sim: loader fault: %s\n", qPrintable(what));
    });
    QObject::connect(&engine, &SimEngine::hungUp, &app, [] {
        std::fprintf(stderr, "korvel-sim: hung up\n");
        QCoreApplication::quit();
    });
    if (::isatty(STDIN_FILENO)) {
        auto *keys = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
        QObject::connect(keys, &QSocketNotifier::activated, &app, [&] {
            char buffer[256];
            if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
                return;
            send();
        });
    }

    const int status = app.exec();
    reportRecords();
    saveImage();
    if (registered)
        ForgetRegisteredPort(*registered);
    return status;
}
