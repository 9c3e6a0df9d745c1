// The flight library's speed as an owner meets it, whole processes each:
//   import: 60 one-hour flights at one record a second into a new library, against
//           awk -F, '{n+=NF}' over the same files (target: at most twice awk's time);
//   list and trend: a library of a thousand flights (target: under 100 ms each);
//   migration: that library as version 1 brought to version 2, figures worked out again from its
//           copies (target: under 10 s);
//   the write-ahead log: its peak while 100,000 small files are imported (target: under 64 MiB);
//   on a PostgreSQL server the benchmark starts itself: the same import (target: at most 3 times
//           awk's time), and list and trend of one aircraft among 100,000 flights of 20 aircraft
//           (target: under 100 ms each).
// Usage: bench_library [--server] [KORVEL_CLI [FOLDER]]  (default: korvel-cli beside the benchmarks' folder;
// FOLDER keeps the generated flights and libraries there for a closer look; --server: the server's figures only)

#include "support/FlightPlans.h"
#include "support/PgServer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

// A process's peak memory so far (VmHWM), in bytes; 0 once it is gone.
qint64 PeakMemory(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

// Runs a command to its end, watching its peak memory; -1 when it failed.
qint64 RunWatchingMemory(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    if (!p.waitForStarted())
        return -1;
    const qint64 pid = p.processId();
    qint64 peak = 0;
    while (!p.waitForFinished(5))
        peak = std::max(peak, PeakMemory(pid));
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        return -1;
    }
    return peak;
}

// The server's figures: the import of the hours against awk, and one aircraft's list and trend
// among 100,000 flights of 20 aircraft (their rows written straight into the catalogue).
int ServerFigures(const QString &cli, const QString &hours, double awk)
{
    korvel::test::PgServer server;
    if (!server.running()) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(server.error()));
        return 1;
    }
    const auto library = [&](const QString &database) {
        if (!server.createDatabase(database) ||
            TimeProcess(cli, {QStringLiteral("library"), QStringLiteral("--library"),
                              server.uri(database, QStringLiteral("keeper"),
                                         korvel::test::PgServer::PasswordOf(QStringLiteral("keeper"))),
                              QStringLiteral("init")},
                        1) < 0)
            return QString();
        return server.uri(database, QStringLiteral("pilot"), korvel::test::PgServer::PasswordOf(QStringLiteral("pilot")));
    };
    // One flight of 200 MB in and out: the parts stream, the flight is never held whole.
    {
        const QString big = QFileInfo(hours).absolutePath() + QStringLiteral("/flight-200mb.txt");
        QFile f(big);
        // A record every 6 s, as a long flight's are (one time again and again is no flight).
        if (!f.open(QIODevice::WriteOnly) || f.write("FLIGHT\r\n") < 0)
            return 1;
        QDateTime at(QDate(2024, 1, 1), QTime(10, 0));
        QByteArray block;
        for (qint64 written = 0, n = 0; written < qint64(200) << 20; ++n) {
            block += at.toString(QStringLiteral("MM/dd/yy HH:mm:ss")).toLatin1() + ',' + QByteArray::number(n % 1000) +
                     ",2400,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1300,1310,1320,1330,1340,1350,350,355,360,365,370,375\r\n";
            at = at.addSecs(6);
            if (block.size() >= (1 << 20)) {
                if (f.write(block) != block.size())
                    return 1;
                written += block.size();
                block.clear();
            }
        }
        f.close();
        const QString uri = library(QStringLiteral("big"));
        const qint64 in = RunWatchingMemory(cli, {QStringLiteral("library"), QStringLiteral("--library"), uri,
                                                  QStringLiteral("import"), big});
        const qint64 out = RunWatchingMemory(cli, {QStringLiteral("library"), QStringLiteral("--library"), uri,
                                                   QStringLiteral("export"), QStringLiteral("1"),
                                                   big + QStringLiteral(".out")});
        QFile::remove(big + QStringLiteral(".out"));
        if (in < 0 || out < 0)
            return 1;
        std::printf("server import of one 200 MB flight: peak memory %.1f MiB; its export %.1f MiB (target at most "
                    "64 MiB)\n",
                    double(in) / (1 << 20), double(out) / (1 << 20));
    }
    double import = -1;
    for (int run = 0; run < 3; ++run) {
        const QString uri = library(QStringLiteral("hours%1").arg(run));
        const double ms = TimeProcess(cli, {QStringLiteral("library"), QStringLiteral("--library"), uri,
                                            QStringLiteral("import"), hours},
                                      1);
        if (ms < 0)
            return 1;
        import = import < 0 ? ms : std::min(import, ms);
    }
    std::printf("server import: 60 one-hour flights: %.0f ms; awk: %.0f ms; ratio %.2f (target at most 3)\n", import,
                awk, import / awk);

    const QString fleet = library(QStringLiteral("fleet"));
    if (fleet.isEmpty() ||
        server
            .sql(QStringLiteral("fleet"),
                 QStringLiteral(
                     "INSERT INTO flights (id, sha256, source, imported_at, bytes, first_at, last_at, records, "
                     "duration_s, egt_max, egt_cyl, cht_max, cht_cyl, egt_spread_max, cht_spread_max, findings, "
                     "aircraft) SELECT i, lpad(to_hex(i), 64, '0'), 'bench', '2024-01-01T00:00:00Z', 1000, "
                     "to_char(timestamp '2020-01-01' + i * interval '37 minutes', 'YYYY-MM-DD\"T\"HH24:MI:SS'), "
                     "to_char(timestamp '2020-01-01' + i * interval '37 minutes' + interval '1 hour', "
                     "'YYYY-MM-DD\"T\"HH24:MI:SS'), 3600, 3600, 1400 + i % 97, 1 + i % 6, 380 + i % 31, 1 + i % 5, "
                     "90, 30, i % 4, 'R-' || lpad((i % 20)::text, 2, '0') FROM generate_series(1, 100000) i; "
                     "INSERT INTO flight_fields (flight_id, field, readings, min_value, max_value, mean_value) "
                     "SELECT i, k, 3600, k, k + i % 50, k + 0.5 FROM generate_series(1, 100000) i, "
                     "generate_series(0, 27) k; "
                     "UPDATE library_info SET next_id = 100001"))
            .isNull() ||
        // A library grown to 100,000 flights by imports has been vacuumed by the server's autovacuum
        // (which marks the pages whose rows all may see, so an index answers alone); rows written
        // at once here have not yet.
        server.sql(QStringLiteral("fleet"), QStringLiteral("VACUUM ANALYZE")).isNull()) {
        std::fprintf(stderr, "cannot fill the fleet's library: %s\n", qPrintable(server.error()));
        return 1;
    }
    QByteArray out;
    const double list = TimeProcess(cli, {QStringLiteral("library"), QStringLiteral("--library"), fleet,
                                          QStringLiteral("list"), QStringLiteral("--aircraft"), QStringLiteral("R-07")},
                                    5, &out);
    const int lines = int(out.count('\n'));
    const double trend = TimeProcess(cli, {QStringLiteral("library"), QStringLiteral("--library"), fleet,
                                           QStringLiteral("trend"), QStringLiteral("field8.mean"),
                                           QStringLiteral("--aircraft"), QStringLiteral("R-07")},
                                     5);
    std::printf("server list of one aircraft (%d of 100,000 flights): %.1f ms; its trend field8.mean: %.1f ms "
                "(target under 100 ms each)\n",
                lines, list, trend);
    return list < 0 || trend < 0 ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool serverOnly = !args.isEmpty() && args.first() == QLatin1String("--server");
    if (serverOnly)
        args.removeFirst();
    const QString cli = !args.isEmpty() ? args[0]
                                        : QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/korvel-cli");
    QTemporaryDir temporary;
    QDir dir(args.size() > 1 ? args[1] : temporary.path());
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
    if (serverOnly)
        return ServerFigures(cli, dir.filePath(QStringLiteral("hours")), awk);
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
    return ServerFigures(cli, dir.filePath(QStringLiteral("hours")), awk);
}
