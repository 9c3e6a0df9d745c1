// korvel-cli library on a PostgreSQL server as whole processes: the same lines as a folder's,
// init, importers at once and killed, roles, a server that goes away, and what no text may hold.

#include "support/LibraryRuns.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>

#include <csignal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace korvel;
using test::CheckWholeOnServer;
using test::kLibrary;
using test::Library;
using test::MakeFlights;
using test::WithoutSource;

class TestCliLibraryServer : public QObject, protected test::LibraryServer {
    Q_OBJECT
private slots:
    // The same imports into a folder and into a server print the same, "source" aside; init makes
    // the catalogue once, and before it every command says to run it.
    void serverContract()
    {
        QVERIFY2(server(), m_serverError.constData());
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 5);
        const QString database = newDatabase();
        const QString keeper = m_server->uri(database, QStringLiteral("keeper"), test::PgServer::PasswordOf("keeper"));
        const QString pilot = m_server->uri(database, QStringLiteral("pilot"), test::PgServer::PasswordOf("pilot"));
        const QString shown = m_server->uri(database, QStringLiteral("keeper"));

        test::CliRun run = Library(pilot, {QStringLiteral("import"), files[0]});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.trail.contains(QStringLiteral("holds no flight library yet; make it once with: korvel-cli "
                                                   "library --library %1 init")
                                        .arg(m_server->uri(database, QStringLiteral("pilot")))),
                 run.err.constData());
        run = Library(keeper, {QStringLiteral("init")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.trail, QStringLiteral("korvel-cli: made the flight library in %1 (version 3)\n").arg(shown));
        run = Library(keeper, {QStringLiteral("init")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.trail,
                 QStringLiteral("korvel-cli: the flight library in %1 is already there (version 3)\n").arg(shown));

        const QString folder = dir.filePath(QStringLiteral("lib"));
        const QString out = dir.filePath(QStringLiteral("out.txt"));
        const QList<QStringList> steps = {
            {QStringLiteral("import"), QStringLiteral("--aircraft"), QStringLiteral("n1"), files[0], files[1]},
            {QStringLiteral("import"), dir.filePath(QStringLiteral("flights"))},
            {QStringLiteral("assign"), QStringLiteral("3"), QStringLiteral("G-ABCD")},
            {QStringLiteral("remove"), QStringLiteral("2")},
            {QStringLiteral("list")},
            {QStringLiteral("list"), QStringLiteral("--aircraft"), QStringLiteral("N1")},
            {QStringLiteral("trend"), QStringLiteral("egt_max")},
            {QStringLiteral("trend"), QStringLiteral("field17.mean"), QStringLiteral("--aircraft"), QStringLiteral("G-ABCD")},
            {QStringLiteral("aircraft")},
            {QStringLiteral("export"), QStringLiteral("4"), out},
            {QStringLiteral("export"), QStringLiteral("2"), out},
        };
        for (const QStringList &step : steps) {
            const test::CliRun onFolder = Library(folder, step);
            const QByteArray exported = test::ReadAll(out);
            QFile::remove(out);
            const test::CliRun onServer = Library(pilot, step);
            QVERIFY2(onServer.exitCode == onFolder.exitCode, qPrintable(step.join(' ') + onServer.trail));
            QCOMPARE(WithoutSource(onServer.out), WithoutSource(onFolder.out));
            QCOMPARE(test::ReadAll(out), exported);
            QFile::remove(out);
            QVERIFY(!onServer.err.contains(test::PgServer::PasswordOf("pilot").toUtf8()));
        }

        // A catalogue of a newer version is refused, and left as it is.
        QVERIFY(!m_server->sql(database, QStringLiteral("UPDATE library_info SET schema_version = 4")).isNull());
        run = Library(pilot, {QStringLiteral("list")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.trail.contains(QStringLiteral("newer version")), run.err.constData());
        QCOMPARE(m_server->sql(database, QStringLiteral("SELECT schema_version FROM library_info")).trimmed(),
                 QStringLiteral("4"));
    }

    // Four importers of the same flights at once: each flight once, every importer naming it by
    // the winner's id; and an importer killed part-way leaves what it committed, whole.
    void serverImporters()
    {
        QVERIFY2(server(), m_serverError.constData());
        QTemporaryDir dir;
        const int count = 24;
        MakeFlights(dir, count);
        const QString uri = initialised(newDatabase());
        const QStringList args = {QStringLiteral("library"), kLibrary, uri, QStringLiteral("import"),
                                  dir.filePath(QStringLiteral("flights"))};
        QProcess importers[4];
        for (QProcess &p : importers)
            p.start(test::BinDir() + QStringLiteral("/korvel-cli"), args);
        int added = 0;
        QMap<QString, QString> idOf;
        static const QRegularExpression line(QStringLiteral("\"file\":\"([^\"]+)\",\"result\":\"(added|known)\",\"id\":(\\d+)"));
        for (QProcess &p : importers) {
            QVERIFY(p.waitForFinished(60000));
            QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
            const QString out = QString::fromUtf8(p.readAllStandardOutput());
            for (auto it = line.globalMatch(out); it.hasNext();) {
                const auto m = it.next();
                added += m.captured(2) == QLatin1String("added") ? 1 : 0;
                QVERIFY(idOf.value(m.captured(1), m.captured(3)) == m.captured(3));
                idOf[m.captured(1)] = m.captured(3);
            }
        }
        QCOMPARE(added, count);
        QCOMPARE(idOf.size(), count);
        int flights = 0;
        CheckWholeOnServer(uri, &flights);
        QCOMPARE(flights, count);

        // Killed at so many milliseconds: signing in, reading, committing.
        const QString killed = initialised(newDatabase());
        int before = 0;
        for (const int ms : {0, 60, 150, 300}) {
            QProcess process;
            process.start(test::BinDir() + QStringLiteral("/korvel-cli"),
                          {QStringLiteral("library"), kLibrary, killed, QStringLiteral("import"),
                           dir.filePath(QStringLiteral("flights"))});
            QVERIFY(process.waitForStarted());
            QTest::qWait(ms);
            const qint64 pid = process.processId();
            if (pid > 0 && process.state() == QProcess::Running)
                ::kill(pid_t(pid), SIGKILL);
            process.waitForFinished();
            CheckWholeOnServer(killed, &flights);
            QVERIFY(flights >= before);
            before = flights;
        }
        const test::CliRun run = Library(killed, {QStringLiteral("import"), dir.filePath(QStringLiteral("flights"))});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.endsWith(
            QStringLiteral("{\"added\":%1,\"known\":%2,\"skipped\":0}\n").arg(count - before).arg(before).toUtf8()));
        CheckWholeOnServer(killed, &flights);
        QCOMPARE(flights, count);
    }

    // A role that may only read lists and exports but changes nothing, told so exactly; a wrong
    // password names the server, the database and the user, never the password.
    void serverRoles()
    {
        QVERIFY2(server(), m_serverError.constData());
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 2);
        const QString database = newDatabase();
        const QString pilot = initialised(database);
        QCOMPARE(Library(pilot, {QStringLiteral("import"), files[0]}).exitCode, 0);
        const QString student =
            m_server->uri(database, QStringLiteral("student"), test::PgServer::PasswordOf("student"));
        const QString refused = QStringLiteral("korvel-cli: flight library %1: you may read the flight library at "
                                               "127.0.0.1/%2 but not change it; ask its administrator to grant "
                                               "korvel_writer to student\n")
                                    .arg(m_server->uri(database, QStringLiteral("student")), database);
        const QByteArray listed = Library(pilot, {QStringLiteral("list")}).out;
        for (const QStringList &change :
             {QStringList{QStringLiteral("import"), files[1]}, QStringList{QStringLiteral("import"), files[0]},
              QStringList{QStringLiteral("assign"), QStringLiteral("1"), QStringLiteral("N1")},
              QStringList{QStringLiteral("remove"), QStringLiteral("1")}}) {
            const test::CliRun run = Library(student, change);
            QCOMPARE(run.exitCode, 1);
            QCOMPARE(run.trail, refused);
        }
        QCOMPARE(Library(student, {QStringLiteral("list")}).out, listed);
        // One granted nothing is told so, not that they may read.
        QVERIFY(!m_server->sql(QStringLiteral("postgres"), QStringLiteral("REVOKE korvel_reader FROM student")).isNull());
        const test::CliRun outsider = Library(student, {QStringLiteral("list")});
        QCOMPARE(outsider.exitCode, 1);
        QCOMPARE(outsider.trail, QStringLiteral("korvel-cli: flight library %1: you may not read the flight library at "
                                                "127.0.0.1/%2; ask its administrator to grant korvel_reader or "
                                                "korvel_writer to student\n")
                                     .arg(m_server->uri(database, QStringLiteral("student")), database));
        QVERIFY(!m_server->sql(QStringLiteral("postgres"), QStringLiteral("GRANT korvel_reader TO student")).isNull());
        const QString out = dir.filePath(QStringLiteral("out.txt"));
        QCOMPARE(Library(student, {QStringLiteral("export"), QStringLiteral("1"), out}).exitCode, 0);
        QCOMPARE(test::ReadAll(out), test::ReadAll(files[0]));

        const QString wrong = QStringLiteral("Wrong-Pass-4x");
        const test::CliRun run = Library(m_server->uri(database, QStringLiteral("pilot"), wrong), {QStringLiteral("list")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(!run.trail.contains(wrong) && run.trail.contains(QStringLiteral("pilot")) &&
                     run.trail.contains(database) &&
                     run.trail.contains(QStringLiteral("127.0.0.1:%1").arg(m_server->port())) &&
                     run.trail.contains(QStringLiteral("refused the sign-in")),
                 run.err.constData());
        // The password from where libpq's users keep it.
        qputenv("PGPASSWORD", test::PgServer::PasswordOf("pilot").toUtf8());
        const test::CliRun fromEnvironment = Library(m_server->uri(database, QStringLiteral("pilot")), {QStringLiteral("list")});
        qunsetenv("PGPASSWORD");
        QCOMPARE(fromEnvironment.out, listed);
    }

    // A server stopped during an import: "went away", what was committed stays; started again, the
    // same import completes.
    void serverGoneAndBack()
    {
        QVERIFY2(server(), m_serverError.constData());
        QTemporaryDir dir;
        const int count = 20;
        const QStringList files = MakeFlights(dir, count);
        const QString database = newDatabase();
        const QString uri = initialised(database);
        QCOMPARE(Library(uri, QStringList{QStringLiteral("import")} + files.mid(0, count / 2)).exitCode, 0);
        {
            // The import is caught waiting for another writer when the server stops.
            QSqlDatabase db = holdLock(QStringLiteral("writer"), database);
            QVERIFY(db.isOpen());
            QProcess process;
            process.start(test::BinDir() + QStringLiteral("/korvel-cli"),
                          {QStringLiteral("library"), kLibrary, uri, QStringLiteral("import"),
                           dir.filePath(QStringLiteral("flights"))});
            QVERIFY(process.waitForStarted());
            QTest::qWait(1500);
            QCOMPARE(process.state(), QProcess::Running);
            QVERIFY(m_server->stop());
            QVERIFY(process.waitForFinished(30000));
            const QString err = QString::fromUtf8(process.readAllStandardError());
            QCOMPARE(process.exitCode(), 1);
            QVERIFY2(err.contains(
                         QStringLiteral("the flight library server 127.0.0.1:%1 went away: ").arg(m_server->port())),
                     qPrintable(err));
            // The owner's message alone: what the driver says of it only with --verbose.
            QVERIFY2(!err.contains(QLatin1String("QSql")) && !err.contains(QLatin1String("went away: \n")),
                     qPrintable(err));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("writer"));
        QVERIFY(m_server->start());
        int flights = 0;
        CheckWholeOnServer(uri, &flights);
        QCOMPARE(flights, count / 2);
        const test::CliRun run = Library(uri, {QStringLiteral("import"), dir.filePath(QStringLiteral("flights"))});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.endsWith(
            QStringLiteral("{\"added\":%1,\"known\":%2,\"skipped\":0}\n").arg(count / 2).arg(count / 2).toUtf8()));
        CheckWholeOnServer(uri, &flights);
        QCOMPARE(flights, count);

        // A writer that keeps the library longer than 5 s: busy, as for a folder.
        {
            QSqlDatabase db = holdLock(QStringLiteral("holder"), database);
            QVERIFY(db.isOpen());
            QSqlQuery q(db);
            QElapsedTimer clock;
            clock.start();
            const test::CliRun busy = Library(uri, {QStringLiteral("remove"), QStringLiteral("1")});
            QCOMPARE(busy.exitCode, 1);
            QVERIFY(clock.elapsed() >= 4900);
            QVERIFY2(busy.trail.contains(QStringLiteral("busy")), busy.err.constData());
            QCOMPARE(Library(uri, {QStringLiteral("list")}).exitCode, 0);
            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        CheckWholeOnServer(uri, &flights);
        QCOMPARE(flights, count);
    }

    // A server whose processes stop while an import waits on its statement answers nothing, while
    // its system still acknowledges every packet: the import ends once the statement time-out (the
    // connection's own here, 6 s) and its margin have passed, as a server gone (exit 1); what was
    // committed stays whole, and importing again completes it.
    void serverFrozen()
    {
        QVERIFY2(server(), m_serverError.constData());
        QTemporaryDir dir;
        const int count = 6;
        const QStringList files = MakeFlights(dir, count);
        const QString database = newDatabase();
        const QString uri = initialised(database);
        QCOMPARE(Library(uri, QStringList{QStringLiteral("import")} + files.mid(0, count / 2)).exitCode, 0);
        {
            // Caught waiting for another writer's lock when the server stops.
            QSqlDatabase db = holdLock(QStringLiteral("frozen"), database);
            QVERIFY(db.isOpen());
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("PGOPTIONS"), QStringLiteral("-c statement_timeout=6000"));
            process.setProcessEnvironment(environment);
            process.start(test::BinDir() + QStringLiteral("/korvel-cli"),
                          {QStringLiteral("library"), kLibrary, uri, QStringLiteral("import"),
                           dir.filePath(QStringLiteral("flights"))});
            QVERIFY(process.waitForStarted());
            QTest::qWait(1500);
            QCOMPARE(process.state(), QProcess::Running);
            const auto thaw = qScopeGuard([&] { m_server->thaw(); });
            QVERIFY(m_server->freeze());
            QElapsedTimer clock;
            clock.start();
            QVERIFY(process.waitForFinished(20000));
            QVERIFY2(clock.elapsed() < 12000, QByteArray::number(clock.elapsed()).constData());
            QVERIFY(m_server->thaw());
            QCOMPARE(process.exitCode(), 1);
            const QString err = QString::fromUtf8(process.readAllStandardError());
            QVERIFY2(err.contains(QStringLiteral("the flight library server 127.0.0.1:%1 went away: it did not answer "
                                                 "for 8 s\n")
                                      .arg(m_server->port())),
                     qPrintable(err));
            db.rollback();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("frozen"));
        int flights = 0;
        CheckWholeOnServer(uri, &flights);
        QCOMPARE(flights, count / 2);
        const test::CliRun run = Library(uri, {QStringLiteral("import"), dir.filePath(QStringLiteral("flights"))});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.endsWith(
            QStringLiteral("{\"added\":%1,\"known\":%2,\"skipped\":0}\n").arg(count / 2).arg(count / 2).toUtf8()));
    }

    // Every text names a library by its shown form: the report's, the report card's and the
    // library's own, whatever secret the URI carries.
    void secretsNeverShown()
    {
        QVERIFY2(server(), m_serverError.constData());
        QTemporaryDir dir;
        const QString database = newDatabase();
        const QString password = test::PgServer::PasswordOf("pilot");
        const QString pilot = initialised(database) + QStringLiteral("?sslpassword=Key-Pass-88");
        const QString shown = m_server->uri(database, QStringLiteral("pilot"));
        const QString out = dir.filePath(QStringLiteral("out.pdf"));
        const QList<QStringList> runs = {
            {QStringLiteral("report"), kLibrary, pilot, QStringLiteral("--id"), QStringLiteral("999"), out},
            {QStringLiteral("report-card"), kLibrary, pilot, QStringLiteral("--aircraft"), QStringLiteral("N9"), out},
            {QStringLiteral("library"), kLibrary, pilot, QStringLiteral("export"), QStringLiteral("999"), out},
        };
        for (const QStringList &args : runs) {
            const test::CliRun run = test::RunCli(args);
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(run.trail.contains(shown) && !run.trail.contains(password) && !run.trail.contains("Key-Pass"),
                     qPrintable(run.trail));
        }
    }

    // A flight whose parts were damaged is written again by importing its file: same id, its
    // aircraft kept.
    void serverRepair()
    {
        QVERIFY2(server(), m_serverError.constData());
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 2);
        const QString database = newDatabase();
        const QString pilot = initialised(database);
        QCOMPARE(Library(pilot, {QStringLiteral("import"), QStringLiteral("--aircraft"), QStringLiteral("N1"), files[0],
                                 files[1]})
                     .exitCode,
                 0);
        QVERIFY(!m_server->sql(database, QStringLiteral("UPDATE flight_parts SET bytes = (SELECT p.bytes FROM flight_parts "
                                                        "p JOIN flights f ON f.sha256 = p.sha256 WHERE f.id = 2) WHERE "
                                                        "sha256 = (SELECT sha256 FROM flights WHERE id = 1)"))
                     .isNull());
        const QString out = dir.filePath(QStringLiteral("out.txt"));
        QCOMPARE(Library(pilot, {QStringLiteral("export"), QStringLiteral("1"), out}).exitCode, 1);
        const test::CliRun run = Library(pilot, {QStringLiteral("import"), files[0], files[1]});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("\"result\":\"repaired\",\"id\":1}\n") &&
                     run.out.contains("\"result\":\"known\",\"id\":2}\n"),
                 run.out.constData());
        QCOMPARE(Library(pilot, {QStringLiteral("export"), QStringLiteral("1"), out}).exitCode, 0);
        QCOMPARE(test::ReadAll(out), test::ReadAll(files[0]));
        QCOMPARE(Library(pilot, {QStringLiteral("list"), QStringLiteral("--aircraft"), QStringLiteral("N1")}).out.count('\n'),
                 2);
    }

    // A server that takes the connection and never answers: the sign-in is given up after 10 s,
    // or after what the environment says.
    void serverNeverAnswers()
    {
        // Listening is enough: the system takes the connection in, and nothing reads it.
        const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QVERIFY(::bind(silent, reinterpret_cast<sockaddr *>(&address), length) == 0 && ::listen(silent, 4) == 0 &&
                ::getsockname(silent, reinterpret_cast<sockaddr *>(&address), &length) == 0);
        const int port = ntohs(address.sin_port);
        const auto closeSilent = qScopeGuard([&] { ::close(silent); });
        const QString uri = QStringLiteral("postgresql://pilot@127.0.0.1:%1/fleet").arg(port);
        for (const int seconds : {2, 10}) {
            if (seconds != 10)
                qputenv("PGCONNECT_TIMEOUT", QByteArray::number(seconds));
            QElapsedTimer clock;
            clock.start();
            const test::CliRun run = Library(uri, {QStringLiteral("list")});
            qunsetenv("PGCONNECT_TIMEOUT");
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(clock.elapsed() >= seconds * 1000 - 500 && clock.elapsed() < seconds * 1000 + 5000,
                     QByteArray::number(clock.elapsed()).constData());
            QVERIFY2(run.trail.contains(QStringLiteral("cannot reach the flight library server 127.0.0.1:%1")
                                            .arg(port)),
                     qPrintable(run.trail));
        }
    }

    // A report of a flight kept on a server, with its aircraft.
    void reportFromServer()
    {
        QVERIFY2(server(), m_serverError.constData());
        QTemporaryDir dir;
        const QStringList files = MakeFlights(dir, 1);
        const QString pilot = initialised(newDatabase());
        QCOMPARE(Library(pilot, {QStringLiteral("import"), QStringLiteral("--aircraft"), QStringLiteral("N1"), files[0]})
                     .exitCode,
                 0);
        const QString out = dir.filePath(QStringLiteral("out.pdf"));
        const test::CliRun run = test::RunCli({QStringLiteral("report"), kLibrary, pilot, QStringLiteral("--id"),
                                               QStringLiteral("1"), out});
        QVERIFY2(run.exitCode == 0, qPrintable(run.trail));
        QVERIFY(test::ReadAll(out).startsWith("%PDF"));
    }

    void cleanupTestCase() { m_server.reset(); }
};

QTEST_GUILESS_MAIN(TestCliLibraryServer)
#include "test_cli_library_server.moc"
