// korvel-sim: the instrument on a pseudo-terminal, for trying the program without an instrument.
// The first line on stdout is the device to open; it can register itself as "Com n" meanwhile.

#include "settings/Settings.h"
#include "app/UiInterfaces.h"
#include "sim/SimEngine.h"

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
        "seconds while the line stays open; Enter on this terminal sends it at once."));
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
                                        QStringLiteral("Send as fast as the pseudo-terminal takes it."));
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
    cli.addOptions({registerOpt, fileOpt, recordsOpt, calOpt, preambleOpt, unpacedOpt, delayOpt, repeatOpt, onceOpt,
                    hangUpOpt});
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

    SimEngine engine;
    QString error;
    if (!engine.open(&error)) {
        std::fprintf(stderr, "korvel-sim: cannot make a pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(engine.slavePath()));
    std::fflush(stdout);

    QString registeredKey;
    if (cli.isSet(registerOpt)) {
        const int n = cli.value(registerOpt).toInt();
        registeredKey = QStringLiteral("COM%1").arg(n);
        SaveSetting(AppTitle(), QStringLiteral("Ports"), registeredKey, engine.slavePath());
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
    const auto send = [&] {
        if (engine.sending())
            return;
        std::fprintf(stderr, "korvel-sim: sending the record (%lld bytes)\n", qlonglong(script.record.size()));
        engine.sendCapture(script);
    };
    QObject::connect(&nextRecord, &QTimer::timeout, &app, send);
    QObject::connect(&engine, &SimEngine::lineConfigured, &app, [&](int baud) {
        lineOpen = baud == 19200;
        std::fprintf(stderr, "korvel-sim: line at %d baud\n", baud);
        if (lineOpen)
            nextRecord.start(delayMs);
        else
            nextRecord.stop();
    });
    QObject::connect(&engine, &SimEngine::recordSent, &app, [&] {
        std::fprintf(stderr, "korvel-sim: record sent\n");
        // The reader takes the last chunk before the line goes.
        if (once)
            QTimer::singleShot(1000, &app, &QCoreApplication::quit);
        else if (lineOpen && repeatMs > 0)
            nextRecord.start(repeatMs);
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
    if (!registeredKey.isEmpty())
        DeleteSetting(AppTitle(), QStringLiteral("Ports"), registeredKey);
    return status;
}
