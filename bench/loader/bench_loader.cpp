// Loader throughput on a generated 100,000-record flight (about 15 MB), in process, and the whole
// `korvel-cli dump --count` run against awk counting the same file's fields.
//   bench_loader [RECORDS]   prints MB/s in process and the two commands' best wall times

#include "flightdata/FlightData.h"
#include "app/UiInterfaces.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>

using namespace korvel;

namespace {

class NoStatus : public StatusLine {
public:
    void setStatus(const QString &) override {}
};

QByteArray makeFlight(int records)
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

double bestRun(const QString &program, const QStringList &args, int runs)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer t;
        t.start();
        p.start(program, args);
        if (!p.waitForFinished(120000) || p.exitCode() != 0)
            return -1;
        best = std::min(best, t.nsecsElapsed() / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("flight.txt"));
    const QByteArray bytes = makeFlight(records);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return 1;
    }
    const double mb = bytes.size() / 1e6;

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
    const double cliMs = bestRun(cli, {QStringLiteral("dump"), QStringLiteral("--count"), path}, 5);
    const double awkMs = bestRun(QStringLiteral("awk"), {QStringLiteral("-F,"), QStringLiteral("{n+=NF} END{print n}"), path}, 5);
    std::printf("korvel-cli dump --count: %.1f ms; awk -F, field count: %.1f ms (%s)\n", cliMs, awkMs,
                cliMs > 0 && cliMs < awkMs ? "faster" : "NOT faster");
    return 0;
}
