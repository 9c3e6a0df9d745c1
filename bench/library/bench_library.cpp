// The flight library's speed as an owner meets it, whole processes each:
//   import: 60 one-hour flights at one record a second into a new library, against
//           awk -F, '{n+=NF}' over the same files (target: at most twice awk's time);
//   list and trend: a library of a thousand flights (target: under 100 ms each);
//   migration: that library as version 1 brought to version 2, figures worked out again from its
//           copies (target: under 10 s);
//   the write-ahead log: its peak while 100,000 small files are imported (target: under 64 MiB).
// Usage: bench_library [KORVEL_CLI [FOLDER]]  (default: korvel-cli beside the benchmarks' folder; FOLDER keeps
// the generated flights and libraries there for a closer look)

#include "support/FlightPlans.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>

namespace {

// Processor time (user and system) of the ended child processes so far, in milliseconds: on a busy
// machine the wall times wait for a core, this does not.
double ChildrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// The best of `runs` runs of a process, in milliseconds; -1 when it failed.
double TimeProcess(const QString &program, const QStringList &args, int runs = 3, QByteArray *out = nullptr)
{
    double best = -1;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        QElapsedTimer clock;
        clock.start();
        p.start(program, args);
        if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
            return -1;
        }
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (out)
            *out = p.readAllStandardOutput();
        best = best < 0 ? ms : std::min(best, ms);
    }
    return best;
}

QStringList WriteFlights(const QString &folder, int count, double scale)
{
    QDir().mkpath(folder);
    QStringList files;
    for (int i = 0; i < count; ++i) {
        korvel::test::FlightPlan plan;
        plan.seed = unsigned(i + 1);
        plan.scale = scale;
        plan.start = QDateTime(QDate(2024, 1, 1).addDays(i), QTime(9, 0));
        const QString name = folder + QStringLiteral("/flight%1.txt").arg(i, 4, 10, QLatin1Char('0'));
        QFile f(name);
        if (!f.open(QIODevice::WriteOnly) || f.write(korvel::test::MakeFlight(plan)) < 0)
            return {};
        files << name;
    }
    return files;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString cli = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                 : QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/korvel-cli");
    QTemporaryDir temporary;
    QDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path());
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;

    // 3600 s of flight at one record a second.
    const QStringList hours = WriteFlights(dir.filePath(QStringLiteral("hours")), 60, 3600.0 / 4680.0);
    qint64 bytes = 0;
    for (const QString &f : hours)
        bytes += QFileInfo(f).size();
    double cpu = ChildrenCpuMs();
    const double awk = TimeProcess(QStringLiteral("awk"), QStringList{QStringLiteral("-F,"),
                                                                      QStringLiteral("{n+=NF} END {print n}")} + hours);
    const double awkCpu = (ChildrenCpuMs() - cpu) / 3;
    cpu = ChildrenCpuMs();
    double import = -1;
    for (int run = 0; run < 3; ++run) {
        const QString library = dir.filePath(QStringLiteral("lib%1").arg(run));
        QDir(library).removeRecursively();
        const double ms = TimeProcess(cli, {QStringLiteral("library"), QStringLiteral("--library"), library,
                                            QStringLiteral("import"), dir.filePath(QStringLiteral("hours"))},
                                      1);
        import = import < 0 ? ms : std::min(import, ms);
    }
    const double importCpu = (ChildrenCpuMs() - cpu) / 3;
    std::printf("import: 60 one-hour flights (%.1f MB): %.0f ms; awk -F, '{n+=NF}': %.0f ms; ratio %.2f "
                "(target at most 2)\n",
                double(bytes) / 1e6, import, awk, import / awk);
    std::printf("        processor time (user + system, mean of 3): import %.0f ms, awk %.0f ms, ratio %.2f\n",
                importCpu, awkCpu, importCpu / awkCpu);

    // A thousand short flights: list and trend read the catalogue only.
    const QString thousand = dir.filePath(QStringLiteral("thousand"));
    QDir(thousand).removeRecursively();
    WriteFlights(dir.filePath(QStringLiteral("short")), 1000, 0.05);
    if (TimeProcess(cli, {QStringLiteral("library"), QStringLiteral("--library"), thousand, QStringLiteral("import"),
                          dir.filePath(QStringLiteral("short"))},
                    1) < 0)
        return 1;
    QByteArray out;
    const double list = TimeProcess(cli, {QStringLiteral("library"), QStringLiteral("--library"), thousand,
                                          QStringLiteral("list")}, 5, &out);
    const int lines = int(out.count('\n'));
    const double trend = TimeProcess(cli, {QStringLiteral("library"), QStringLiteral("--library"), thousand,
                                           QStringLiteral("trend"), QStringLiteral("cht_max")}, 5);
    const double fieldTrend = TimeProcess(cli, {QStringLiteral("library"), QStringLiteral("--library"), thousand,
                                                QStringLiteral("trend"), QStringLiteral("field8.mean")}, 5);
    std::printf("list of %d flights: %.1f ms; trend cht_max: %.1f ms; trend field8.mean: %.1f ms (target under 100 "
                "ms each)\n",
                lines, list, trend, fieldTrend);

    // The same library as version 1 wrote it: the aircraft gone, the version back.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
        db.setDatabaseName(thousand + QStringLiteral("/library.sqlite"));
        bool ok = db.open();
        for (const char *sql : {"DROP INDEX flights_by_aircraft", "ALTER TABLE flights DROP COLUMN aircraft",
                                "UPDATE library_info SET schema_version = 1"})
            ok = ok && QSqlQuery(db).exec(QLatin1String(sql));
        db.close();
        if (!ok)
            return 1;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v1"));
    const double migration = TimeProcess(cli, {QStringLiteral("library"), QStringLiteral("--library"), thousand,
                                               QStringLiteral("aircraft")}, 1);
    std::printf("migration of %d flights from version 1: %.0f ms (target under 10000 ms)\n", lines, migration);

    // 100,000 small files, each a flight of its own; the log's size polled as they go in.
    const QString tiny = dir.filePath(QStringLiteral("tiny"));
    QDir().mkpath(tiny);
    for (int i = 0; i < 100000; ++i) {
        QFile f(tiny + QStringLiteral("/%1.txt").arg(i, 6, 10, QLatin1Char('0')));
        const QByteArray text = "FLIGHT\r\n01/01/24 10:00:00," + QByteArray::number(i) +
                                ",2400,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1300,1310,1320,1330,1340,1350,350,355,360,365,"
                                "370,375\r\n";
        if (!f.open(QIODevice::WriteOnly) || f.write(text) < 0)
            return 1;
    }
    const QString many = dir.filePath(QStringLiteral("many"));
    QDir(many).removeRecursively();
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    p.start(cli, {QStringLiteral("library"), QStringLiteral("--library"), many, QStringLiteral("import"), tiny});
    qint64 peak = 0;
    while (!p.waitForFinished(5))
        peak = std::max(peak, QFileInfo(many + QStringLiteral("/library.sqlite-wal")).size());
    const double manyMs = double(clock.elapsed());
    if (p.exitCode() != 0)
        return 1;
    std::printf("import of 100,000 small files: %.0f ms; write-ahead log at most %.1f MiB (target under 64 MiB); "
                "catalogue %.1f MiB\n",
                manyMs, double(peak) / (1 << 20),
                double(QFileInfo(many + QStringLiteral("/library.sqlite")).size()) / (1 << 20));
    return 0;
}
