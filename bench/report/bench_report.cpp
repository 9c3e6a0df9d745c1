// The flight report against the summary on the same generated flight (a million records unless
// told), as whole processes: `korvel-cli report` should take at most 3 times `korvel-cli summary`,
// and its peak memory stay at or under 96 MiB whatever the flight's length (the report reads the
// flight as it goes). Two flights: the loader benchmarks' (every reading random, so findings by
// the hundred thousand: the findings rules' worst case) and a real-looking one of the same length
// (climb, cruise, descent, a few findings).
//   bench_report [RECORDS] [--keep PDF]   prints both commands' median wall and processor times,
//                                         their ratio, and the report's peak memory

#include "BenchFlight.h"
#include "support/FlightPlans.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace korvel::bench;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString keep;
    if (const qsizetype k = args.indexOf(QStringLiteral("--keep")); k >= 0 && k + 1 < args.size()) {
        keep = args[k + 1];
        args.remove(k, 2);
    }
    const int records = args.isEmpty() ? 1000000 : args.front().toInt();
    QTemporaryDir dir;
    const QString noisy = dir.filePath(QStringLiteral("noisy.txt"));
    const qint64 bytes = writeFlight(noisy, records);
    // The same number of records, one a second, of a flight as an engine flies it.
    korvel::test::FlightPlan plan;
    plan.scale = records / 4100.0;
    plan.anomalies = {{korvel::test::Anomaly::EgtDrop, 2, records / 3, records / 3 + 300},
                      {korvel::test::Anomaly::EgtSpike, 5, records / 2, records / 2}};
    const QString real = dir.filePath(QStringLiteral("real.txt"));
    {
        QFile f(real);
        if (bytes < 0 || !f.open(QIODevice::WriteOnly) || f.write(korvel::test::MakeFlight(plan)) < 0)
            return 1;
    }
    const QString pdf = keep.isEmpty() ? dir.filePath(QStringLiteral("report.pdf")) : keep;
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/korvel-cli");
    const int runs = 5;
    std::printf("whole processes, median of %d (wall, processor), on flights of about %d records:\n", runs, records);
    for (const auto &[name, path] : {std::pair{"random readings", noisy}, std::pair{"real-looking", real}}) {
        const ProcessTimes summary = medianRun(cli, {QStringLiteral("summary"), path}, runs);
        const ProcessTimes report = medianRun(cli, {QStringLiteral("report"), path, pdf}, runs);
        if (summary.wall < 0 || report.wall < 0)
            return 1;
        std::printf("%s (%.0f MB):\n", name, QFileInfo(path).size() / 1e6);
        std::printf("  korvel-cli summary  %8.1f ms  %8.1f ms  peak %ld KiB\n", summary.wall, summary.cpu,
                    summary.peakKiB);
        std::printf("  korvel-cli report   %8.1f ms  %8.1f ms  peak %ld KiB (target at most %d KiB)\n", report.wall,
                    report.cpu, report.peakKiB, 96 * 1024);
        std::printf("  report / summary    %8.2f x     %8.2f x  (target at most 3)\n", report.wall / summary.wall,
                    report.cpu / summary.cpu);
    }
    return 0;
}
