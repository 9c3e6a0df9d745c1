// The flight summary on a generated 100,000-record flight (the loader benchmark's file), in process,
// and `korvel-cli summary` and `korvel-cli csv` as whole processes beside `korvel-cli dump --count`.
//   bench_summary [RECORDS]   prints the in-process summary time (target well under 50 ms) and the
//                             three commands' median wall times

#include "BenchFlight.h"
#include "core/flight/FlightData.h"
#include "core/flight/FlightSummary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace korvel;
using namespace korvel::bench;

namespace {

// This thread's processor time in ms: on a shared machine it says what the wall clock cannot.
double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("flight.txt"));
    if (writeFlight(path, records) < 0)
        return 1;

    NoStatus status;
    FlightData data;
    LoadFlightDataFile(path, data, status);
    if (data.FlightRecordCount != records)
        return 1;
    for (const std::optional<double> limit : {std::optional<double>(), std::optional<double>(400)}) {
        std::vector<double> times, cpu;
        std::size_t spans = 0;
        for (int i = 0; i < 15; ++i) {
            QElapsedTimer t;
            const double cpuStart = cpuMs();
            t.start();
            const FlightSummary s = SummarizeFlight(data, limit);
            times.push_back(t.nsecsElapsed() / 1e6);
            cpu.push_back(cpuMs() - cpuStart);
            spans = s.chtOver.size();
        }
        std::printf("summary of %d records%s: median %.1f ms wall, %.1f ms processor (target well under 50 ms)\n",
                    records, limit ? qPrintable(QStringLiteral(" with a CHT limit (%1 spans)").arg(spans)) : "",
                    median(times), median(cpu));
    }

    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/korvel-cli");
    const int runs = 7;
    const struct {
        const char *name;
        QStringList args;
    } commands[] = {{"dump --count", {QStringLiteral("dump"), QStringLiteral("--count"), path}},
                    {"summary --cht-limit 400",
                     {QStringLiteral("summary"), QStringLiteral("--cht-limit"), QStringLiteral("400"), path}},
                    {"csv", {QStringLiteral("csv"), path}}};
    std::printf("whole processes, median of %d (wall, processor):\n", runs);
    for (const auto &command : commands) {
        const ProcessTimes t = medianRun(cli, command.args, runs);
        std::printf("  korvel-cli %-24s %6.1f ms  %6.1f ms\n", command.name, t.wall, t.cpu);
    }
    return 0;
}
