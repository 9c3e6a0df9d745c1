// korvel-cli library as whole processes: the exact lines of every command, an import killed at
// several points and completed by importing again, two imports at once, a busy library, a full disk.

#include "core/library/FlightLibrary.h"
#include "support/FlightPlans.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <csignal>

using namespace korvel;

namespace {

const QString kLibrary = QStringLiteral("--library");

test::CliRun Library(const QString &folder, const QStringList &args)
{
    return test::RunCli(QStringList{QStringLiteral("library"), kLibrary, folder} + args);
}

// A folder of flights a few minutes long, each different.
QStringList MakeFlights(const QTemporaryDir &dir, int count)
{
    QDir(dir.path()).mkpath(QStringLiteral("flights"));
    QStringList files;
    for (int i = 0; i < count; ++i) {
        test::FlightPlan plan;
        plan.seed = unsigned(i + 1);
        plan.scale = 0.25;
        plan.start = QDateTime(QDate(2026, 1, 1).addDays(i), QTime(10, 0));
        files << test::WriteFile(dir, QStringLiteral("flights/%1.txt").arg(i, 3, 10, QLatin1Char('0')),
                                 test::MakeFlight(plan));
    }
    return files;
}

// The library opens, SQLite finds it sound, and every flight in it has its whole copy.
void CheckWhole(const QString &folder, int *flights = nullptr)
{
    FlightLibrary library(folder);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(folder + QStringLiteral("/library.sqlite"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("ok"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    const auto list = library.list();
    for (const LibraryFlight &f : list) {
        const QByteArray bytes = test::ReadAll(*library.copyPath(f.id));
        QCOMPARE(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()), f.sha256);
    }
    if (flights)
        *flights = int(list.size());
}

} // namespace

class TestCliLibrary : public QObject {
    Q_OBJECT
private slots:
    void contract()
    {
        QTemporaryDir dir;
        const QByteArray flight =
            "FLIGHT\r\n"
            "12/31/25 23:59:00,0,2400,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1400,1410,1400,1400,1400,1400,350,350,350,350,350,350\r\n"
            "12/31/25 23:59:59,0,2400,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1400,1400,1400,1400,1400,1400,350,350,350,350,350,350\r\n"
            "01/01/26 00:00:00,0,2500,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1400,1400,1400,1400,1400,1410,290,350,350,350,350,410\r\n";
        const QString path = test::WriteFile(dir, QStringLiteral("a \"b\".txt"), flight);
        const QString cal = test::WriteFile(dir, QStringLiteral("cal.txt"), "CAL\r\n12/31/25 23:59:00,1\r\nEND\r\n");
        const QString folder = dir.filePath(QStringLiteral("lib"));
        test::CliRun run = Library(folder, {QStringLiteral("import"), path, cal, path});
        QCOMPARE(run.exitCode, 0);
        const QByteArray file = QByteArray(path.toUtf8()).replace("\"", "\\\"");
        QCOMPARE(run.out, "{\"file\":\"" + file + "\",\"result\":\"added\",\"id\":1}\n"
                          "{\"file\":\"" + cal.toUtf8() + "\",\"result\":\"skipped\",\"reason\":\"a calibration "
                          "record, not a flight\"}\n"
                          "{\"file\":\"" + file + "\",\"result\":\"known\",\"id\":1}\n"
                          "{\"added\":1,\"known\":1,\"skipped\":1}\n");

        const QByteArray sha = QCryptographicHash::hash(flight, QCryptographicHash::Sha256).toHex();
        run = Library(folder, {QStringLiteral("list")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, "{\"id\":1,\"first\":\"2025-12-31T23:59:00\",\"last\":\"2026-01-01T00:00:00\",\"records\":3,"
                          "\"duration_s\":60,\"egt_max\":1410,\"egt_cyl\":2,\"cht_max\":410,\"cht_cyl\":6,"
                          "\"egt_spread_max\":10,\"cht_spread_max\":120,\"findings\":2,\"sha256\":\"" + sha +
                              "\",\"source\":\"" + file + "\",\"aircraft\":null}\n");
        run = Library(folder, {QStringLiteral("trend"), QStringLiteral("field1.mean")});
        QCOMPARE(run.out, QByteArray("{\"id\":1,\"first\":\"2025-12-31T23:59:00\",\"value\":2433.3333333333335}\n"));
        run = Library(folder, {QStringLiteral("trend"), QStringLiteral("field4.max")});
        QCOMPARE(run.out, QByteArray("{\"id\":1,\"first\":\"2025-12-31T23:59:00\",\"value\":0}\n"));
        QCOMPARE(Library(folder, {QStringLiteral("trend"), QStringLiteral("field28.max")}).exitCode, 2);
        QCOMPARE(Library(folder, {QStringLiteral("trend"), QStringLiteral("egt_cyl")}).exitCode, 2);

        const QString out = dir.filePath(QStringLiteral("out.txt"));
        QCOMPARE(Library(folder, {QStringLiteral("export"), QStringLiteral("1"), out}).exitCode, 0);
        QCOMPARE(test::ReadAll(out), flight);
        QCOMPARE(Library(folder, {QStringLiteral("export"), QStringLiteral("2"), out}).exitCode, 1);
        QCOMPARE(Library(folder, {QStringLiteral("remove"), QStringLiteral("2")}).exitCode, 1);
        QCOMPARE(Library(folder, {QStringLiteral("remove"), QStringLiteral("x")}).exitCode, 2);
        QCOMPARE(Library(folder, {QStringLiteral("remove"), QStringLiteral("1")}).exitCode, 0);
        QCOMPARE(Library(folder, {QStringLiteral("list")}).out, QByteArray());

        // Without --library: KORVEL_LIBRARY.
        const QString fromEnv = dir.filePath(QStringLiteral("env"));
        run = test::RunCli({QStringLiteral("library"), QStringLiteral("import"), path},
                           {QStringLiteral("env"), QStringLiteral("KORVEL_LIBRARY=") + fromEnv});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(QFileInfo::exists(fromEnv + QStringLiteral("/flights/") + sha + QStringLiteral(".txt")));

        // A library that is no library: exit 1, the reason, the file untouched.
        QDir().mkpath(dir.filePath(QStringLiteral("text")));
        test::WriteFile(dir, QStringLiteral("text/library.sqlite"), "notes");
        run = Library(dir.filePath(QStringLiteral("text")), {QStringLiteral("import"), path});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains("is not a flight library"));
        QCOMPARE(test::ReadAll(dir.filePath(QStringLiteral("text/library.sqlite"))), QByteArray("notes"));
    }

    // An import killed at several points leaves a library that opens, is sound, and holds whole
    // flights only; importing again completes it.
    void killedImport()
    {
        QTemporaryDir dir;
        const int count = 40;
        MakeFlights(dir, count);
        const QString folder = dir.filePath(QStringLiteral("lib"));
        const QString source = dir.filePath(QStringLiteral("flights"));
        int before = 0;
        for (const int ms : {0, 40, 90, 160, 260, 400}) {
            QProcess process;
            process.start(test::BinDir() + QStringLiteral("/korvel-cli"),
                          {QStringLiteral("library"), kLibrary, folder, QStringLiteral("import"), source});
            QVERIFY(process.waitForStarted());
            // Killed at so many milliseconds: opening, reading, writing copies, committing.
            QTest::qWait(ms);
            // An import already over has no process left to kill (and pid 0 would be our own group).
            const qint64 pid = process.processId();
            if (pid > 0 && process.state() == QProcess::Running)
                ::kill(pid_t(pid), SIGKILL);
            process.waitForFinished();
            int flights = 0;
            CheckWhole(folder, &flights);
            QVERIFY(flights >= before);
            before = flights;
        }
        const test::CliRun run = Library(folder, {QStringLiteral("import"), source});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.endsWith(QStringLiteral("{\"added\":%1,\"known\":%2,\"skipped\":0}\n")
                                      .arg(count - before)
                                      .arg(before)
                                      .toUtf8()),
                 run.out.right(80).constData());
        int flights = 0;
        CheckWhole(folder, &flights);
        QCOMPARE(flights, count);
    }

    // Two imports of one folder at once: every flight once.
    void concurrentImports()
    {
        QTemporaryDir dir;
        const int count = 16;
        MakeFlights(dir, count);
        const QString folder = dir.filePath(QStringLiteral("lib"));
        const QStringList args = {QStringLiteral("library"), kLibrary, folder, QStringLiteral("import"),
                                  dir.filePath(QStringLiteral("flights"))};
        QProcess a, b;
        a.start(test::BinDir() + QStringLiteral("/korvel-cli"), args);
        b.start(test::BinDir() + QStringLiteral("/korvel-cli"), args);
        QVERIFY(a.waitForFinished(60000) && b.waitForFinished(60000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        const auto added = [](QProcess &p) {
            const QByteArray out = p.readAllStandardOutput();
            return int(out.count("\"result\":\"added\""));
        };
        QCOMPARE(added(a) + added(b), count);
        int flights = 0;
        CheckWhole(folder, &flights);
        QCOMPARE(flights, count);

        // Two first imports race to create the catalogue: SQLite refuses one of them at once (the
        // switch to the write-ahead log), which must be waited out, not said busy.
        for (int round = 0; round < 12; ++round) {
            const QString fresh = dir.filePath(QStringLiteral("fresh%1").arg(round));
            const QStringList two = {QStringLiteral("library"), kLibrary, fresh, QStringLiteral("import"),
                                     dir.filePath(QStringLiteral("flights/000.txt"))};
            QProcess c, d;
            c.start(test::BinDir() + QStringLiteral("/korvel-cli"), two);
            d.start(test::BinDir() + QStringLiteral("/korvel-cli"), two);
            QVERIFY(c.waitForFinished(60000) && d.waitForFinished(60000));
            QVERIFY2(c.exitCode() == 0, c.readAllStandardError().constData());
            QVERIFY2(d.exitCode() == 0, d.readAllStandardError().constData());
            QCOMPARE(added(c) + added(d), 1);
        }
    }

    // A library another program keeps writing is waited for 5 s, then said busy; nothing lost.
    void busyLibrary()
    {
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 1);
        const QString folder = dir.filePath(QStringLiteral("lib"));
        QCOMPARE(Library(folder, {QStringLiteral("init")}).exitCode, 0);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            db.setDatabaseName(folder + QStringLiteral("/library.sqlite"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
            QElapsedTimer clock;
            clock.start();
            const test::CliRun run = Library(folder, {QStringLiteral("import"), files[0]});
            QCOMPARE(run.exitCode, 1);
            QVERIFY(clock.elapsed() >= 4900);
            QVERIFY2(run.err.contains("busy"), run.err.constData());
            // While busy for writing, the library still lists.
            QCOMPARE(Library(folder, {QStringLiteral("list")}).exitCode, 0);
            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        QCOMPARE(Library(folder, {QStringLiteral("import"), files[0]}).exitCode, 0);
    }

    // A disk that fills during an import: exit 1 with the reason, and what was added stays whole.
    void fullDisk()
    {
        test::SmallDisk disk(1 << 20);
        if (!disk.mounted())
            QSKIP("cannot mount a small disk here");
        QTemporaryDir dir;
        MakeFlights(dir, 12); // about 0.15 MB each
        const QString folder = disk.filePath(QStringLiteral("lib"));
        const test::CliRun run = Library(folder, {QStringLiteral("import"), dir.filePath(QStringLiteral("flights"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("No space left") || run.err.contains("full"), run.err.constData());
        CheckWhole(folder);
    }
};

QTEST_GUILESS_MAIN(TestCliLibrary)
#include "test_cli_library.moc"
