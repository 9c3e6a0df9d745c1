#pragma once
// The generated flight the loader, summary and report benchmarks share, so their figures are for the
// same file: records every 6 s from 08:00, 28 values each in the ranges of a running engine. And how
// they time korvel-cli as a whole process.

#include "core/ui/UiInterfaces.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace korvel::bench {

class NoStatus : public StatusLine {
public:
    void setStatus(const QString &) override {}
};

inline QByteArray makeFlight(int records)
{
    QByteArray text = "FLIGHT 000123 KORVEL\r\n";
    text.reserve(qsizetype(records) * 160);
    QRandomGenerator rng(7);
    int seconds = 8 * 3600;
    for (int i = 0; i < records; ++i, seconds += 6) {
        const int s = seconds % 86400;
        char head[32];
        std::snprintf(head, sizeof head, "12/04/26 %02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
        text += head;
        for (int k = 0; k < 28; ++k) {
            int v;
            if (k >= 16 && k <= 21)
                v = 1200 + int(rng.bounded(300));
            else if (k >= 22)
                v = 300 + int(rng.bounded(120));
            else
                v = 2300 + int(rng.bounded(200));
            text += ',';
            text += QByteArray::number(v);
        }
        text += "\r\n";
    }
    text += "END\r\n";
    return text;
}

// Writes the generated flight to path; its size in bytes, or -1 when it could not be written.
inline qint64 writeFlight(const QString &path, int records)
{
    const QByteArray bytes = makeFlight(records);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? bytes.size() : -1;
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// Processor time (user and system) of the children that have ended so far, in ms.
inline double childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct ProcessTimes {
    double wall = -1; // median ms
    double cpu = -1;  // median ms of user and system time
    long peakKiB = -1; // the largest high-water mark of resident memory korvel-cli reported
};

// Whole runs with the output thrown away; all -1 when a run fails (its errors are printed).
inline ProcessTimes medianRun(const QString &program, const QStringList &args, int runs)
{
    std::vector<double> wall, cpu;
    long peak = -1;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KORVEL_REPORT_PEAK"), QStringLiteral("1"));
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(QProcess::nullDevice());
        const double cpuStart = childrenCpuMs();
        QElapsedTimer t;
        t.start();
        p.start(program, args);
        if (!p.waitForFinished(300000) || p.exitCode() != 0) {
            std::fprintf(stderr, "%s", p.readAllStandardError().constData());
            return {};
        }
        wall.push_back(t.nsecsElapsed() / 1e6);
        cpu.push_back(childrenCpuMs() - cpuStart);
        const QByteArray err = p.readAllStandardError();
        const qsizetype at = err.lastIndexOf("peak-memory: ");
        if (at >= 0)
            peak = std::max(peak, err.mid(at + 13).split(' ').front().toLong());
    }
    return {median(wall), median(cpu), peak};
}

} // namespace korvel::bench
