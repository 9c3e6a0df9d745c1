// Loader throughput on a generated 100,000-record flight (about 15 MB), in process, and the whole
// `korvel-cli dump --count` process against mawk counting the same file's fields
// (`awk -F, '{n+=NF} END{print n}'`): process start, reading, the record table and the exit.
//   bench_loader [RECORDS] [--runs N]   prints MB/s in process, each command's median wall time
//                                        over N runs (default 11) and their ratio (target below 1)

#include "BenchFlight.h"
#include "core/flight/FlightData.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace korvel;
using namespace korvel::bench;

namespace {

// One whole run of a command, start to exit, in milliseconds; negative when it failed.
double timedRun(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return -1;
    return t.nsecsElapsed() / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int records = 100000;
    int runs = 11;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            records = std::atoi(argv[i]);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("flight.txt"));
    const qint64 size = writeFlight(path, records);
    if (size < 0)
        return 1;
    const double mb = size / 1e6;

    NoStatus status;
    FlightData data;
    double best = 1e9;
    for (int i = 0; i < 10; ++i) {
        QElapsedTimer t;
        t.start();
        LoadFlightDataFile(path, data, status);
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    if (data.FlightRecordCount != records)
        return 1;
    std::printf("loader: %d records, %.1f MB in %.1f ms: %.0f MB/s (target 300 MB/s)\n", records, mb, best,
                mb / (best / 1000));

    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/korvel-cli");
    QString awk = QStandardPaths::findExecutable(QStringLiteral("mawk"));
    if (awk.isEmpty())
        awk = QStringLiteral("awk");
    const QStringList cliArgs{QStringLiteral("dump"), QStringLiteral("--count"), path};
    const QStringList awkArgs{QStringLiteral("-F,"), QStringLiteral("{n+=NF} END{print n}"), path};
    // Taken in turns, so a busy moment of the machine falls on both alike.
    std::vector<double> cliMs, awkMs;
    for (int i = 0; i < runs; ++i) {
        cliMs.push_back(timedRun(cli, cliArgs));
        awkMs.push_back(timedRun(awk, awkArgs));
        if (cliMs.back() < 0 || awkMs.back() < 0) {
            std::fprintf(stderr, "bench_loader: a run failed\n");
            return 1;
        }
    }
    const double cliMedian = median(cliMs);
    const double awkMedian = median(awkMs);
    const double ratio = cliMedian / awkMedian;
    std::printf("korvel-cli dump --count: %.1f ms; %s -F, field count: %.1f ms (median of %d runs)\n", cliMedian,
                qPrintable(QFileInfo(awk).fileName()), awkMedian, runs);
    std::printf("whole-process ratio korvel-cli / awk: %.2f (target below 1: %s)\n", ratio,
                ratio < 1 ? "met" : "NOT met");
    return 0;
}
