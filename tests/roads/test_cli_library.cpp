// korvel-cli library as whole processes: the exact lines of every command, an import killed at
// several points and completed by importing again, two imports at once, a busy library, a full disk.

#include "support/LibraryRuns.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <csignal>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace korvel;
using test::CheckWhole;
using test::kLibrary;
using test::Library;
using test::MakeFlights;


class TestCliLibrary : public QObject, protected test::LibraryServer {
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

    // The aircraft as the contract has them: given at import, kept by a flight already there, set
    // and cleared with assign (which prints the flight's line), filtered, counted; a registration
    // that is none refused with exit 2.
    void aircraft_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("folder") << QStringLiteral("folder");
        QTest::newRow("server") << QStringLiteral("server");
    }
    void aircraft()
    {
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 3);
        QFETCH(QString, backend);
        if (backend == QLatin1String("server"))
            QVERIFY2(server(), m_serverError.constData());
        const QString folder =
            backend == QLatin1String("server") ? initialised(newDatabase()) : dir.filePath(QStringLiteral("lib"));
        test::CliRun run = Library(folder, {QStringLiteral("import"), QStringLiteral("--aircraft"), QStringLiteral(" g-abcd"),
                                            files[0], files[1]});
        QCOMPARE(run.exitCode, 0);
        run = Library(folder, {QStringLiteral("import"), QStringLiteral("--aircraft"), QStringLiteral("N123AB"), files[1],
                               files[2]});
        QCOMPARE(run.exitCode, 0);
        run = Library(folder, {QStringLiteral("list"), QStringLiteral("--aircraft"), QStringLiteral("G-ABCD")});
        QCOMPARE(run.out.count('\n'), 2);
        QVERIFY(run.out.endsWith(",\"aircraft\":\"G-ABCD\"}\n"));
        run = Library(folder, {QStringLiteral("trend"), QStringLiteral("records"), QStringLiteral("--aircraft"),
                               QStringLiteral("n123ab")});
        QCOMPARE(run.out.count('\n'), 1);
        QVERIFY(run.out.startsWith("{\"id\":3,"));
        run = Library(folder, {QStringLiteral("assign"), QStringLiteral("1")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith("{\"id\":1,") && run.out.endsWith(",\"aircraft\":null}\n"));
        QCOMPARE(Library(folder, {QStringLiteral("list")}).out.count("\"aircraft\":null}"), 1);
        run = Library(folder, {QStringLiteral("aircraft")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("{\"aircraft\":\"G-ABCD\",\"flights\":1,\"first\":\"2026-01-02T10:00:00\",\"last\":\"2026-01-02T10:19:30\"}\n"
                                     "{\"aircraft\":\"N123AB\",\"flights\":1,\"first\":\"2026-01-03T10:00:00\",\"last\":\"2026-01-03T10:19:30\"}\n"
                                     "{\"aircraft\":null,\"flights\":1,\"first\":\"2026-01-01T10:00:00\",\"last\":\"2026-01-01T10:19:30\"}\n"));
        for (const QStringList &bad : {QStringList{QStringLiteral("assign"), QStringLiteral("1"), QStringLiteral("N 1")},
                                       QStringList{QStringLiteral("assign"), QStringLiteral("1"), QStringLiteral("ABCDEFGHIJKLMNOPQ")},
                                       QStringList{QStringLiteral("list"), QStringLiteral("--aircraft"), QStringLiteral("")},
                                       QStringList{QStringLiteral("import"), QStringLiteral("--aircraft"), QStringLiteral("g_abcd"), files[0]}}) {
            run = Library(folder, bad);
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.err.contains("registration") || run.err.contains("letters"), run.err.constData());
        }
        QCOMPARE(Library(folder, {QStringLiteral("assign"), QStringLiteral("9"), QStringLiteral("N1")}).exitCode, 1);
    }

    // Export writes nothing of the library over, reads no file outside it by a crafted name, checks
    // a copy's bytes against their hash; import mends a damaged copy.
    void exportAndCopies()
    {
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 2);
        const QString folder = dir.filePath(QStringLiteral("lib"));
        QCOMPARE(Library(folder, {QStringLiteral("import"), dir.filePath(QStringLiteral("flights"))}).exitCode, 0);
        const QString catalogue = folder + QStringLiteral("/library.sqlite");
        const QByteArray before = test::ReadAll(catalogue);
        FlightLibrary library(folder);
        const QString copy1 = *library.copyPath(1), copy2 = *library.copyPath(2);
        const QByteArray flight2 = test::ReadAll(copy2);
        for (const QString &inside : {catalogue, copy2, folder + QStringLiteral("/flights/new.txt"), folder}) {
            const test::CliRun run = Library(folder, {QStringLiteral("export"), QStringLiteral("1"), inside});
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains("inside the flight library"), run.err.constData());
        }
        QCOMPARE(test::ReadAll(copy2), flight2);
        QVERIFY(!QFile::exists(folder + QStringLiteral("/flights/new.txt")));
        // A sibling whose name only begins with the library folder's is outside it.
        QDir(dir.path()).mkpath(QStringLiteral("lib-out"));
        QCOMPARE(Library(folder, {QStringLiteral("export"), QStringLiteral("1"), folder + QStringLiteral("-out/1.txt")})
                     .exitCode,
                 0);
        QCOMPARE(test::ReadAll(folder + QStringLiteral("-out/1.txt")), test::ReadAll(copy1));
        QCOMPARE(library.list().size(), size_t(2));
        QCOMPARE(test::ReadAll(catalogue), before);

        // A pipe is written into, and stays a pipe (a flight that fits in its buffer).
        const QByteArray small = "FLIGHT\r\n01/05/26 10:00:00,0,2400\r\n01/05/26 10:00:06,1,2400\r\n";
        QVERIFY(Library(folder, {QStringLiteral("import"), test::WriteFile(dir, QStringLiteral("small.txt"), small)})
                    .out.contains("\"id\":3"));
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        QCOMPARE(Library(folder, {QStringLiteral("export"), QStringLiteral("3"), fifo}).exitCode, 0);
        QByteArray piped(small.size() + 10, 0);
        QCOMPARE(qint64(::read(reader, piped.data(), size_t(piped.size()))), qint64(small.size()));
        ::close(reader);
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
        if (QFileInfo(QStringLiteral("/dev/full")).isWritable()) {
            QCOMPARE(Library(folder, {QStringLiteral("export"), QStringLiteral("2"), QStringLiteral("/dev/full")}).exitCode, 1);
            QVERIFY(!QFileInfo(QStringLiteral("/dev/full")).isFile());
        }

        // One flipped byte: export refuses and leaves nothing; importing the original mends it.
        QByteArray damaged = test::ReadAll(copy1);
        damaged[damaged.size() / 2] = char(damaged[damaged.size() / 2] ^ 1);
        QFile(copy1).remove();
        test::WriteFile(dir, QDir(dir.path()).relativeFilePath(copy1), damaged);
        const QString out = dir.filePath(QStringLiteral("out.txt"));
        test::CliRun run = Library(folder, {QStringLiteral("export"), QStringLiteral("1"), out});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("damaged"), run.err.constData());
        QVERIFY(!QFile::exists(out));
        run = Library(folder, {QStringLiteral("import"), files[0]});
        QVERIFY2(run.out.contains("\"result\":\"repaired\",\"id\":1}"), run.out.constData());
        QCOMPARE(Library(folder, {QStringLiteral("export"), QStringLiteral("1"), out}).exitCode, 0);
        QCOMPARE(test::ReadAll(out), test::ReadAll(files[0]));
        // A missing copy the same; once whole, the same bytes are known.
        QVERIFY(QFile::remove(copy1));
        QVERIFY(Library(folder, {QStringLiteral("import"), files[0]}).out.contains("\"result\":\"repaired\",\"id\":1}"));
        QVERIFY(Library(folder, {QStringLiteral("import"), files[0]}).out.contains("\"result\":\"known\",\"id\":1}"));

        // A catalogue whose hash names a path: no file outside the library is read or deleted.
        const QString victim = test::WriteFile(dir, QStringLiteral("victim.txt"), "the owner's own file");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("craft"));
            db.setDatabaseName(catalogue);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("UPDATE flights SET sha256 = '../../victim' WHERE id = 2")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("craft"));
        QCOMPARE(Library(folder, {QStringLiteral("export"), QStringLiteral("2"), dir.filePath(QStringLiteral("v.txt"))}).exitCode, 1);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("v.txt"))));
        Library(folder, {QStringLiteral("remove"), QStringLiteral("2")});
        QCOMPARE(test::ReadAll(victim), QByteArray("the owner's own file"));
    }

    // A lost catalogue beside its copies is said so and rebuilt; the read commands create no
    // library; leftovers of killed programs go at the next import; every file and folder that
    // cannot be read has its skipped line.
    void lostAndLeft()
    {
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 3);
        const QString folder = dir.filePath(QStringLiteral("lib"));
        QCOMPARE(Library(folder, {QStringLiteral("import"), files[0], files[1]}).exitCode, 0);
        QFile catalogue(folder + QStringLiteral("/library.sqlite"));
        QVERIFY(catalogue.resize(0));
        QFile::remove(folder + QStringLiteral("/library.sqlite-wal"));
        QFile::remove(folder + QStringLiteral("/library.sqlite-shm"));
        for (const QString &command : {QStringLiteral("list"), QStringLiteral("import")}) {
            const test::CliRun run = Library(folder, command == QLatin1String("list") ? QStringList{command}
                                                                                     : QStringList{command, files[2]});
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains("holds the copies of 2 flights") && run.err.contains("rebuild"), run.err.constData());
        }
        test::CliRun run = Library(folder, {QStringLiteral("rebuild")});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.endsWith("{\"added\":2,\"known\":0,\"skipped\":0}\n"), run.out.constData());
        run = Library(folder, {QStringLiteral("list")});
        QCOMPARE(run.out.count(("\"source\":\"" + folder + QStringLiteral("/flights/")).toUtf8()), 2);

        const QString none = dir.filePath(QStringLiteral("none"));
        for (const QStringList &read : {QStringList{QStringLiteral("list")}, QStringList{QStringLiteral("aircraft")},
                                        QStringList{QStringLiteral("trend"), QStringLiteral("records")},
                                        QStringList{QStringLiteral("export"), QStringLiteral("1"), dir.filePath(QStringLiteral("o"))}}) {
            run = Library(none, read);
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains("no flight library in"), run.err.constData());
            QVERIFY(!QFileInfo::exists(none));
        }

        // A killed import's copy without a row, a part of a program that is gone: both go.
        const QString orphan = folder + QStringLiteral("/flights/") + QString(64, QLatin1Char('a')) + QStringLiteral(".txt");
        const QString part = folder + QStringLiteral("/flights/import-999999999-1.part");
        for (const QString &left : {orphan, part}) {
            QFile f(left);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("left");
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
        }
        // A name that is not UTF-8, a symlink loop, a folder that cannot be read: each said.
        const QString odd = dir.filePath(QStringLiteral("odd"));
        QDir().mkpath(odd + QStringLiteral("/closed"));
        QFile raw(QFile::decodeName(QFile::encodeName(odd) + "/caf\xe9.txt"));
        QVERIFY(::close(::open((QFile::encodeName(odd) + "/caf\xe9.txt").constData(), O_WRONLY | O_CREAT, 0600)) == 0);
        QVERIFY(QFile::link(odd + QStringLiteral("/loop"), odd + QStringLiteral("/loop")));
        ::chmod(QFile::encodeName(odd + QStringLiteral("/closed")).constData(), 0);
        run = Library(folder, {QStringLiteral("import"), files[2], odd});
        ::chmod(QFile::encodeName(odd + QStringLiteral("/closed")).constData(), 0700);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("not valid UTF-8"), run.out.constData());
        QVERIFY2(run.out.contains("symbolic links"), run.out.constData());
        if (::geteuid() != 0)
            QVERIFY2(run.out.contains("closed\",\"result\":\"skipped\""), run.out.constData());
        QVERIFY(!QFile::exists(orphan));
        QVERIFY(!QFile::exists(part));
        int flights = 0;
        CheckWhole(folder, &flights);
        QCOMPARE(flights, 3);
    }

    // A registration is ASCII: only a to z are upper-cased, any other letter refused; what a
    // refusal echoes of the user's text is cut and its control characters escaped.
    void registrationsAndEchoes()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("lib"));
        for (const QString &bad : {QStringLiteral("stra\u00dfe"), QStringLiteral("\ufb001"), QStringLiteral("\u0131n1")}) {
            const test::CliRun run = Library(folder, {QStringLiteral("list"), QStringLiteral("--aircraft"), bad});
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.err.contains("is no registration"), run.err.constData());
        }
        const QString huge = QStringLiteral("bad\x01\x1b[2J") + QString(100000, QLatin1Char('x'));
        for (const QStringList &args : {QStringList{QStringLiteral("trend"), huge},
                                        QStringList{QStringLiteral("list"), QStringLiteral("--aircraft"), huge},
                                        QStringList{huge}}) {
            const test::CliRun run = Library(folder, args);
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.err.size() < 2000 && !run.err.contains('\x01') && !run.err.contains('\x1b') &&
                         run.err.contains("bad\\x01\\x1b[2Jxxx"),
                     run.err.left(300).constData());
        }
        QVERIFY(!QFileInfo::exists(folder));
    }

    // Rebuild adds no damaged copy as a flight, names every listed flight whose copy is gone, and
    // makes no library where there is none to rebuild.
    void rebuildSaysWhatIsLost()
    {
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 3);
        const QString folder = dir.filePath(QStringLiteral("lib"));
        QCOMPARE(Library(folder, {QStringLiteral("import"), dir.filePath(QStringLiteral("flights"))}).exitCode, 0);
        QString copy1, copy2;
        {
            FlightLibrary library(folder);
            copy1 = *library.copyPath(1);
            copy2 = *library.copyPath(2);
        }
        QByteArray damaged = test::ReadAll(copy1);
        damaged[10] = char(damaged[10] ^ 1);
        QFile(copy1).remove();
        test::WriteFile(dir, QDir(dir.path()).relativeFilePath(copy1), damaged);
        QVERIFY(QFile::remove(copy2));
        const QByteArray damagedLine = "{\"file\":\"" + copy1.toUtf8() + "\",\"result\":\"damaged\"}\n";
        test::CliRun run = Library(folder, {QStringLiteral("rebuild")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.startsWith(damagedLine) && run.out.contains("\"result\":\"known\",\"id\":3}\n") &&
                     run.out.endsWith("{\"id\":2,\"result\":\"missing\"}\n{\"added\":0,\"known\":1,\"skipped\":1}\n"),
                 run.out.constData());
        // The catalogue lost: the damaged copy is still no flight.
        for (const char *file : {"library.sqlite", "library.sqlite-wal", "library.sqlite-shm"})
            QFile::remove(folder + QLatin1Char('/') + QLatin1String(file));
        run = Library(folder, {QStringLiteral("rebuild")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.startsWith(damagedLine) && run.out.endsWith("{\"added\":1,\"known\":0,\"skipped\":1}\n"),
                 run.out.constData());
        QCOMPARE(Library(folder, {QStringLiteral("list")}).out.count('\n'), 1);
        QCOMPARE(test::ReadAll(copy1), damaged);

        // A folder that does not exist, and one of the owner's own files: nothing made.
        for (const QString &none : {dir.filePath(QStringLiteral("none")), dir.filePath(QStringLiteral("flights"))}) {
            run = Library(none, {QStringLiteral("rebuild")});
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains("no flight library in"), run.err.constData());
            QVERIFY(!QFileInfo::exists(none + QStringLiteral("/library.sqlite")));
            QVERIFY(!QFileInfo::exists(none + QStringLiteral("/flights")));
        }
    }

    // A version-1 library killed while it is migrated opens as version 1 or as the present one, never
    // between: the figures and the version change together.
    void killedMigration()
    {
        QTemporaryDir dir;
        MakeFlights(dir, 40);
        const QString folder = dir.filePath(QStringLiteral("lib"));
        QCOMPARE(Library(folder, {QStringLiteral("import"), dir.filePath(QStringLiteral("flights"))}).exitCode, 0);
        const QString file = folder + QStringLiteral("/library.sqlite");
        const auto sql = [&](const QStringList &statements, QVariant *first = nullptr) {
            bool ok = true;
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
                db.setDatabaseName(file);
                ok = db.open();
                for (const QString &s : statements) {
                    QSqlQuery q(db);
                    ok = ok && q.exec(s);
                    if (first && q.next())
                        *first = q.value(0);
                }
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("v1"));
            return ok;
        };
        // Back to version 1 as that program wrote it, with figures it could not have had.
        const QStringList downgrade = {QStringLiteral("DROP INDEX flights_by_aircraft"),
                                       QStringLiteral("ALTER TABLE flights DROP COLUMN aircraft"),
                                       QStringLiteral("UPDATE flights SET egt_max = 9999"),
                                       QStringLiteral("UPDATE library_info SET schema_version = 1")};
        for (const int ms : {5, 15, 30, 60, 120, 250}) {
            QVERIFY(sql(downgrade));
            QProcess process;
            process.start(test::BinDir() + QStringLiteral("/korvel-cli"),
                          {QStringLiteral("library"), kLibrary, folder, QStringLiteral("list")});
            QVERIFY(process.waitForStarted());
            QTest::qWait(ms);
            const qint64 pid = process.processId();
            if (pid > 0 && process.state() == QProcess::Running)
                ::kill(pid_t(pid), SIGKILL);
            process.waitForFinished();
            QVariant version, stale, column;
            QVERIFY(sql({QStringLiteral("SELECT schema_version FROM library_info")}, &version));
            QVERIFY(sql({QStringLiteral("SELECT COUNT(*) FROM flights WHERE egt_max = 9999")}, &stale));
            QVERIFY(sql({QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('flights') WHERE name = 'aircraft'")}, &column));
            if (version.toInt() == 1) {
                QCOMPARE(stale.toInt(), 40);
                QCOMPARE(column.toInt(), 0);
            } else {
                QCOMPARE(version.toInt(), 3);
                QCOMPARE(stale.toInt(), 0);
                QCOMPARE(column.toInt(), 1);
            }
            int flights = 0;
            CheckWhole(folder, &flights);
            QCOMPARE(flights, 40);
        }
        // Left as version 1 or not, the next opening completes it.
        QCOMPARE(Library(folder, {QStringLiteral("list")}).out.count("\"egt_max\":9999"), 0);
    }

    // A library its user may only read: the read commands work, the others say it is read-only,
    // and nothing changes.
    void readOnlyLibrary()
    {
        const auto prefix = test::UnprivilegedPrefix();
        if (!prefix)
            QSKIP("cannot run korvel-cli as an ordinary user here");
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 2);
        const QString folder = dir.filePath(QStringLiteral("lib"));
        QCOMPARE(Library(folder, {QStringLiteral("import"), files[0]}).exitCode, 0);
        for (const QString &path : {dir.path(), folder, folder + QStringLiteral("/flights"), files[1],
                                    dir.filePath(QStringLiteral("flights"))})
            QFile::setPermissions(path, QFile::permissions(path) | QFile::ReadOther | QFile::ExeOther);
        QFile::setPermissions(folder + QStringLiteral("/library.sqlite"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::WriteOther);
        const auto asUser = [&](const QStringList &args) {
            return test::RunCli(QStringList{QStringLiteral("library"), kLibrary, folder} + args, *prefix);
        };
        const QByteArray before = test::ReadAll(folder + QStringLiteral("/library.sqlite"));
        test::CliRun run = asUser({QStringLiteral("list")});
        QVERIFY2(run.exitCode == 0 && run.out.count('\n') == 1, run.err.constData());
        QCOMPARE(asUser({QStringLiteral("trend"), QStringLiteral("records")}).exitCode, 0);
        QCOMPARE(asUser({QStringLiteral("export"), QStringLiteral("1"), dir.filePath(QStringLiteral("out.txt"))}).exitCode, 0);
        for (const QStringList &change : {QStringList{QStringLiteral("import"), files[1]},
                                          QStringList{QStringLiteral("remove"), QStringLiteral("1")},
                                          QStringList{QStringLiteral("assign"), QStringLiteral("1"), QStringLiteral("N1")}}) {
            run = asUser(change);
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.err.contains("read-only") && !run.err.contains("not a flight library"), run.err.constData());
        }
        QCOMPARE(test::ReadAll(folder + QStringLiteral("/library.sqlite")), before);
        QCOMPARE(Library(folder, {QStringLiteral("list")}).out.count('\n'), 1);
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
            // Waited for 5 s, then said: not waited for again while tidying up.
            QVERIFY(clock.elapsed() >= 4900);
            QVERIFY2(clock.elapsed() < 8000, QByteArray::number(clock.elapsed()).constData());
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
        QVERIFY2(!run.err.contains("Nothing of this flight"), run.err.constData());
        int flights = 0;
        CheckWhole(folder, &flights);
        // The batch that did not go in leaves none of its copies, nor a part, to keep the disk full.
        QCOMPARE(QDir(folder + QStringLiteral("/flights")).entryList(QDir::Files).size(), flights);
    }

    // A disk full to the last byte: said as such, never as a library that is none; the library
    // still lists and exports, so that the owner can make room.
    void fullDiskStillReads()
    {
        test::SmallDisk disk(1 << 20);
        if (!disk.mounted())
            QSKIP("cannot mount a small disk here");
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 2);
        const QString folder = disk.filePath(QStringLiteral("lib"));
        QCOMPARE(Library(folder, {QStringLiteral("import"), files[0]}).exitCode, 0);
        {
            QFile fill(disk.filePath(QStringLiteral("fill")));
            QVERIFY(fill.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'x');
            while (fill.write(block) == block.size() && fill.flush()) {
            }
        }
        const test::CliRun listed = Library(folder, {QStringLiteral("list")});
        QVERIFY2(listed.exitCode == 0 && listed.out.count('\n') == 1, listed.err.constData());
        const QString out = dir.filePath(QStringLiteral("out.txt"));
        QCOMPARE(Library(folder, {QStringLiteral("export"), QStringLiteral("1"), out}).exitCode, 0);
        QCOMPARE(test::ReadAll(out), test::ReadAll(files[0]));
        const test::CliRun run = Library(folder, {QStringLiteral("import"), files[1]});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("the disk holding the flight library is full") &&
                     !run.err.contains("not a flight library"),
                 run.err.constData());
    }

    void cleanupTestCase() { m_server.reset(); }
};

QTEST_GUILESS_MAIN(TestCliLibrary)
#include "test_cli_library.moc"
