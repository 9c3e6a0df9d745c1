#pragma once
// korvel-cli library as processes, for the library's road tests: a run of it, a folder of
// flights, the checks that every flight of a library is whole, and the test server with a new
// database for each test.

#include "core/library/FlightLibrary.h"
#include "support/FlightPlans.h"
#include "support/PgServer.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace korvel::test {

inline const QString kLibrary = QStringLiteral("--library");

inline CliRun Library(const QString &folder, const QStringList &args)
{
    return RunCli(QStringList{QStringLiteral("library"), kLibrary, folder} + args);
}

// A folder of flights a few minutes long, each different.
inline QStringList MakeFlights(const QTemporaryDir &dir, int count)
{
    QDir(dir.path()).mkpath(QStringLiteral("flights"));
    QStringList files;
    for (int i = 0; i < count; ++i) {
        FlightPlan plan;
        plan.seed = unsigned(i + 1);
        plan.scale = 0.25;
        plan.start = QDateTime(QDate(2026, 1, 1).addDays(i), QTime(10, 0));
        files << WriteFile(dir, QStringLiteral("flights/%1.txt").arg(i, 3, 10, QLatin1Char('0')),
                                 MakeFlight(plan));
    }
    return files;
}

// The library opens, SQLite finds it sound, and every flight in it has its whole copy.
inline void CheckWhole(const QString &folder, int *flights = nullptr)
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
        const QByteArray bytes = ReadAll(*library.copyPath(f.id));
        QCOMPARE(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()), f.sha256);
    }
    if (flights)
        *flights = int(list.size());
}

// A library on the test server: opens, and every flight in it has its whole bytes.
inline void CheckWholeOnServer(const QString &uri, int *flights = nullptr)
{
    FlightLibrary library(uri, FlightLibrary::Opening::Existing);
    const auto list = library.list();
    for (const LibraryFlight &f : list) {
        const QByteArray bytes = ReadAll(*library.copyPath(f.id));
        QCOMPARE(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()), f.sha256);
    }
    if (flights)
        *flights = int(list.size());
}

// A list line without its "source" (the one key the two kinds of library may differ in).
inline QByteArray WithoutSource(QByteArray lines)
{
    static const QRegularExpression source(QStringLiteral(",\"source\":\"[^\"]*\""));
    return QString::fromUtf8(lines).remove(source).toUtf8();
}

// The test server, started by the first test that needs it, and its libraries.
class LibraryServer {
protected:
    // A connection as pilot holding the catalogue's lock in an open transaction, as another writer
    // does; closed when it could not take it.
    QSqlDatabase holdLock(const QString &connection, const QString &database)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(QStringLiteral("127.0.0.1"));
        db.setPort(m_server->port());
        db.setDatabaseName(database);
        db.setUserName(QStringLiteral("pilot"));
        db.setPassword(PgServer::PasswordOf("pilot"));
        if (db.open()) {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("BEGIN")) || !q.exec(QStringLiteral("SELECT next_id FROM library_info FOR UPDATE")))
                db.close();
        }
        return db;
    }

    // The test server, started by the first test that needs it.
    bool server()
    {
        if (!m_server) {
            m_server = std::make_unique<PgServer>();
            m_serverError = m_server->error().toUtf8();
        }
        return m_server->running();
    }
    QString newDatabase()
    {
        const QString name = QStringLiteral("library%1").arg(++m_databases);
        if (!m_server->createDatabase(name))
            qWarning("%s", qPrintable(m_server->error()));
        return name;
    }
    // The library made by its keeper; the writer's URI (with the password) to use it.
    QString initialised(const QString &database)
    {
        const CliRun run =
            Library(m_server->uri(database, QStringLiteral("keeper"), PgServer::PasswordOf("keeper")),
                    {QStringLiteral("init")});
        if (run.exitCode != 0)
            qWarning("%s", run.err.constData());
        return m_server->uri(database, QStringLiteral("pilot"), PgServer::PasswordOf("pilot"));
    }

    std::unique_ptr<PgServer> m_server;
    QByteArray m_serverError;
    int m_databases = 0;
};

} // namespace korvel::test
