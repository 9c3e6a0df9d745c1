// Reading generated flights of 100,000 and 1,000,000 records (about 15 and 153 MB):
//  - in process: the whole-file loader and the streaming reader in MB/s, and where the streaming
//    reader's time goes, per record: reading the file, cutting lines, the date and time, the field
//    scanner, the hand-over of blocks;
//  - whole processes, start to exit: `korvel-cli dump --count` against `wc -l` and mawk counting
//    fields (`mawk -F, '{n+=NF} END{print n}'`), median wall time of N runs taken in turns;
//  - the peak resident memory of each command as the process itself counts it: its VmHWM read as
//    it exits. korvel-cli writes it when KORVEL_REPORT_PEAK is set; wc and mawk are made to write it
//    by a small library preloaded into them (peak_report.cpp). A forked measurer's getrusage is not
//    used: a spawned child's ru_maxrss includes the memory of the process that spawned it.
//   bench_loader [RECORDS...] [--runs N]     (default 100000 1000000, 11 runs)

#include "BenchFlight.h"
#include "core/flight/FlightData.h"
#include "core/flight/FlightLines.h"
#include "core/flight/FlightStream.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
extern char **environ;
#endif

using namespace korvel;
using namespace korvel::bench;

namespace {

// The best of a few runs of f, in milliseconds.
double bestMs(int runs, const std::function<void()> &f)
{
    double best = 1e12;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

// The streaming reader's road taken up to a given step, buffer by buffer as the reader does.
enum class Step { Read, Lines, DateTime, Fields };

qint64 partialRead(const QString &path, Step step)
{
    flightlines::FlightFile file(path);
    const std::size_t capacity = std::size_t(4) << 20;
    LargeBytes buffer(capacity);
    flightlines::LineSplitter lines(true);
    flightlines::LineReader reader;
    FlightRecordIndex index;
    FlightRecordWideSpans wide;
    qint64 seen = 0;
    std::size_t filled = 0;
    while (true) {
        const std::size_t n = file.read(buffer.data() + filled, capacity - filled);
        filled += n;
        const bool atEnd = filled < capacity;
        if (step == Step::Read) {
            seen += qint64(n);
            filled = 0;
            if (atEnd)
                return seen;
            continue;
        }
        const char *base = buffer.data();
        const std::size_t keep = lines.split(base, filled, atEnd, [&](std::size_t begin, std::size_t end, qint64 no) {
            if (step == Step::Lines) {
                seen += qint64(end - begin);
                return;
            }
            if (!reader.readDateAndTime(base + begin, end - begin, no, index))
                return;
            if (step == Step::Fields)
                reader.readFields(base + begin, end - begin, index, wide);
            seen += index.seconds() + index.offset[5];
        });
        if (atEnd)
            return seen;
        std::memmove(buffer.data(), buffer.data() + keep, filled - keep);
        filled -= keep;
    }
}

struct ProcessRun {
    double ms = -1;       // start to exit
    long ownPeakKiB = -1; // what the process said of itself
};

// Runs program with its stdout on /dev/null and its stderr in errFile; -1 ms when it failed. With
// a preload, that library is loaded into the program.
ProcessRun runProcess(const QString &program, const QStringList &args, const QString &errFile,
                      const QByteArray &preload = {})
{
    ProcessRun run;
#ifdef Q_OS_LINUX
    std::vector<QByteArray> storage{QFile::encodeName(program)};
    for (const QString &a : args)
        storage.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const QByteArray err = QFile::encodeName(errFile);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::vector<QByteArray> envStorage;
    for (char **e = environ; *e; ++e)
        envStorage.emplace_back(*e);
    if (!preload.isEmpty())
        envStorage.push_back("LD_PRELOAD=" + preload);
    std::vector<char *> env;
    for (QByteArray &s : envStorage)
        env.push_back(s.data());
    env.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return run;
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return run;
    run.ms = double(end.tv_sec - start.tv_sec) * 1e3 + double(end.tv_nsec - start.tv_nsec) / 1e6;
    QFile errors(errFile);
    if (errors.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : errors.readAll().split('\n'))
            if (line.startsWith("peak-memory: "))
                run.ownPeakKiB = line.mid(13).split(' ').front().toLong();
    }
#else
    Q_UNUSED(program);
    Q_UNUSED(args);
    Q_UNUSED(errFile);
    Q_UNUSED(preload);
#endif
    return run;
}

double mib(long kib)
{
    return kib / 1024.0;
}

bool benchSize(int records, int runs, const QString &cli, const QString &awk, const QString &wc,
               const QByteArray &preload)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("flight.txt"));
    const QString errFile = dir.filePath(QStringLiteral("stderr.txt"));
    const qint64 size = writeFlight(path, records);
    if (size < 0)
        return false;
    const double mb = size / 1e6;
    std::printf("\n%d records, %.1f MB\n", records, mb);

    const int inProcessRuns = records > 200000 ? 3 : 10;
    NoStatus status;
    {
        FlightData data;
        const double ms = bestMs(inProcessRuns, [&] { LoadFlightDataFile(path, data, status); });
        if (data.FlightRecordCount != records)
            return false;
        std::printf("  whole-file loader: %.1f ms, %.0f MB/s\n", ms, mb / (ms / 1000));
    }
    // The stages are timed in turns, round after round, and each keeps its best: on a busy machine
    // the best is the figure least disturbed by others.
    qint64 streamed = 0;
    const std::function<void()> stages[5] = {
        [&] { partialRead(path, Step::Read); },
        [&] { partialRead(path, Step::Lines); },
        [&] { partialRead(path, Step::DateTime); },
        [&] { partialRead(path, Step::Fields); },
        [&] { streamed = StreamFlightDataFile(path, [](const FlightRecordBlock &) {}); },
    };
    double best[5] = {1e12, 1e12, 1e12, 1e12, 1e12};
    const int rounds = records > 200000 ? 8 : 40;
    for (int round = 0; round < rounds; ++round)
        for (int s = 0; s < 5; ++s)
            best[s] = std::min(best[s], bestMs(1, stages[s]));
    if (streamed != records)
        return false;
    const double streamMs = best[4];
    std::printf("  streaming reader:  %.1f ms, %.0f MB/s\n", streamMs, mb / (streamMs / 1000));
    const double perRecord = 1e6 / records; // ms to ns a record
    std::printf("  per record: read %.1f ns, lines %.1f ns, date and time %.1f ns, fields %.1f ns, "
                "block hand-over %.1f ns (total %.1f ns; each the best of %d rounds)\n",
                best[0] * perRecord, (best[1] - best[0]) * perRecord, (best[2] - best[1]) * perRecord,
                (best[3] - best[2]) * perRecord, (best[4] - best[3]) * perRecord, streamMs * perRecord, rounds);

    // Whole processes, in turns, so a busy moment of the machine falls on each alike.
    const QStringList countArgs{QStringLiteral("dump"), QStringLiteral("--count"), path};
    std::vector<double> cliMs, wcMs, awkMs;
    long cliOwn = 0, wcPeak = 0, awkPeak = 0;
    for (int i = 0; i < runs; ++i) {
        const ProcessRun c = runProcess(cli, countArgs, errFile);
        const ProcessRun w = runProcess(wc, {QStringLiteral("-l"), path}, errFile, preload);
        const ProcessRun a = runProcess(awk, {QStringLiteral("-F,"), QStringLiteral("{n+=NF} END{print n}"), path},
                                        errFile, preload);
        if (c.ms < 0 || w.ms < 0 || a.ms < 0) {
            std::fprintf(stderr, "bench_loader: a run failed\n");
            return false;
        }
        cliMs.push_back(c.ms);
        wcMs.push_back(w.ms);
        awkMs.push_back(a.ms);
        cliOwn = std::max(cliOwn, c.ownPeakKiB);
        wcPeak = std::max(wcPeak, w.ownPeakKiB);
        awkPeak = std::max(awkPeak, a.ownPeakKiB);
    }
    const double cliMedian = median(cliMs), wcMedian = median(wcMs), awkMedian = median(awkMs);
    std::printf("  korvel-cli dump --count %.1f ms, wc -l %.1f ms, %s %.1f ms (median of %d runs each, in turns)\n",
                cliMedian, wcMedian, qPrintable(QFileInfo(awk).fileName()), awkMedian, runs);
    std::printf("  korvel-cli / wc -l: %.2f (target 4 or less: %s); korvel-cli / awk: %.2f\n", cliMedian / wcMedian,
                cliMedian / wcMedian <= 4 ? "met" : "NOT met", cliMedian / awkMedian);

    std::printf("  peak memory (VmHWM at exit): korvel-cli dump --count %.1f MiB", mib(cliOwn));
    for (const char *command : {"dump", "summary", "csv"}) {
        const ProcessRun r = runProcess(cli, {QLatin1String(command), path}, errFile);
        if (r.ms < 0)
            return false;
        std::printf(", %s %.1f MiB", command, mib(r.ownPeakKiB));
        cliOwn = std::max(cliOwn, r.ownPeakKiB);
    }
    std::printf("; wc -l %.1f MiB, %s %.1f MiB\n", mib(wcPeak), qPrintable(QFileInfo(awk).fileName()), mib(awkPeak));
    std::printf("  korvel-cli commands within 32 MiB: %s\n", mib(cliOwn) <= 32 ? "met" : "NOT met");
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<int> sizes;
    int runs = 11;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty())
        sizes = {100000, 1000000};
#ifndef Q_OS_LINUX
    std::fprintf(stderr, "bench_loader: the process figures need Linux (posix_spawn, /proc)\n");
    return 1;
#endif
    qputenv("KORVEL_REPORT_PEAK", "1");
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/korvel-cli");
    QString awk = QStandardPaths::findExecutable(QStringLiteral("mawk"));
    if (awk.isEmpty())
        awk = QStandardPaths::findExecutable(QStringLiteral("awk"));
    const QString wc = QStandardPaths::findExecutable(QStringLiteral("wc"));
    const QByteArray preload = QFile::encodeName(QCoreApplication::applicationDirPath() +
                                                 QStringLiteral("/libkorvel_peak_report.so"));
    for (const int records : sizes)
        if (!benchSize(records, runs, cli, awk, wc, preload))
            return 1;
    return 0;
}
