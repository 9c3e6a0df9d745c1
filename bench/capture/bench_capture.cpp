// The download road under load: korvel-cli capture receives a long flight from the simulated
// instrument over a pseudo-terminal, first paced as the line carries it (19200 baud, 1920
// characters a second), then as fast as the pseudo-terminal takes it. Prints whether the file
// equals the record and, paced, the capturing process's CPU time against the elapsed time
// (target: below 2%).
//
//   bench_capture [--lines N] [--skip-paced]
// The full record is 10,000 lines; paced, that takes about 11 minutes.
#include "sim/SimEngine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

using namespace korvel::sim;

namespace {

double ChildrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
    bool identical = false;
    qint64 bytes = 0;
    double elapsed = 0;
    double cpu = 0;
    int exitCode = -1;
};

Run Capture(const QByteArray &record, bool paced, const QString &file)
{
    SimEngine engine;
    if (!engine.open())
        qFatal("no pseudo-terminal");
    const double cpuBefore = ChildrenCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QProcess cli;
    cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/korvel-cli"),
              {QStringLiteral("capture"), QStringLiteral("--port"), engine.slavePath(), file});
    if (!cli.waitForStarted())
        qFatal("korvel-cli did not start");
    while (engine.lineBaud() != 19200 && cli.state() == QProcess::Running)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    CaptureScript script{record, QByteArray(), paced};
    engine.sendCapture(script);
    QEventLoop wait;
    QObject::connect(&cli, &QProcess::finished, &wait, &QEventLoop::quit);
    if (cli.state() == QProcess::Running)
        wait.exec();
    Run run;
    run.elapsed = clock.nsecsElapsed() / 1e9;
    run.cpu = ChildrenCpuSeconds() - cpuBefore;
    run.exitCode = cli.exitCode();
    QFile written(file);
    if (written.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = written.readAll();
        run.bytes = bytes.size();
        run.identical = bytes == record;
    }
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    options.addOption({QStringLiteral("lines"), QStringLiteral("Data lines in the record."), QStringLiteral("n"),
                       QStringLiteral("10000")});
    options.addOption({QStringLiteral("skip-paced"), QStringLiteral("Only the unpaced run.")});
    options.addHelpOption();
    options.process(app);

    const QByteArray record = GenerateFlight(std::max(1, options.value(QStringLiteral("lines")).toInt()));
    QTemporaryDir dir;
    if (!options.isSet(QStringLiteral("skip-paced"))) {
        const Run paced = Capture(record, true, dir.filePath(QStringLiteral("paced.txt")));
        std::printf("paced at 1920 chars/s: %lld of %lld bytes, file %s, exit %d; elapsed %.1f s, "
                    "korvel-cli CPU %.2f s = %.2f%% (target below 2%%)\n",
                    paced.bytes, qlonglong(record.size()), paced.identical ? "identical" : "DIFFERENT",
                    paced.exitCode, paced.elapsed, paced.cpu, 100 * paced.cpu / paced.elapsed);
    }
    const Run fast = Capture(record, false, dir.filePath(QStringLiteral("unpaced.txt")));
    std::printf("unpaced: %lld of %lld bytes, file %s, exit %d; elapsed %.2f s, %.1f MB/s\n", fast.bytes,
                qlonglong(record.size()), fast.identical ? "identical" : "DIFFERENT", fast.exitCode, fast.elapsed,
                record.size() / fast.elapsed / 1e6);
    return 0;
}
