// The Windows build's PgServer: a test under Wine cannot start a Linux PostgreSQL server, so the
// harness (scripts/windows/wine-tests.sh) starts one before the tests with the same roles and
// passwords, and names its port in KORVEL_TEST_PG_PORT; the superuser "postgres" signs in over TCP
// with KORVEL_TEST_PG_PASSWORD. Stopping it is left to the Linux suite.

#include "support/PgServer.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

namespace korvel::test {

namespace {

QString Superuser(const QString &database, int port, QString *connection)
{
    *connection = QStringLiteral("pgserver-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), *connection);
    db.setHostName(QStringLiteral("127.0.0.1"));
    db.setPort(port);
    db.setDatabaseName(database);
    db.setUserName(QStringLiteral("postgres"));
    db.setPassword(qEnvironmentVariable("KORVEL_TEST_PG_PASSWORD"));
    if (!db.open())
        return db.lastError().text();
    return {};
}

} // namespace

PgServer::PgServer()
{
    m_port = qEnvironmentVariableIntValue("KORVEL_TEST_PG_PORT");
    if (m_port <= 0) {
        m_error = QStringLiteral("no PostgreSQL server: under Wine the harness starts one and names its port in "
                                 "KORVEL_TEST_PG_PORT");
        return;
    }
    m_running = !sql(QStringLiteral("postgres"), QStringLiteral("SELECT 1")).isNull();
}

PgServer::~PgServer() = default;

QString PgServer::PasswordOf(const QString &user)
{
    return user + QStringLiteral("-Secret-7q");
}

bool PgServer::run(const QString &, const QStringList &, QString *, int)
{
    return false;
}

bool PgServer::start()
{
    m_error = QStringLiteral("the server is the harness's: it is stopped and started only in the Linux suite");
    return false;
}

bool PgServer::stop()
{
    return start();
}

bool PgServer::freeze()
{
    return start();
}

bool PgServer::thaw()
{
    return start();
}

// As psql -qAt prints it: a row a line, its columns joined by '|'.
QString PgServer::sql(const QString &database, const QString &statements)
{
    QString connection;
    QString out;
    {
        const QString failed = Superuser(database, m_port, &connection);
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        if (!failed.isEmpty()) {
            m_error = failed;
            out = QString();
        } else {
            QSqlQuery q(db);
            if (!q.exec(statements)) {
                m_error = q.lastError().text();
            } else {
                out = QStringLiteral("");
                while (q.isSelect() && q.next()) {
                    QStringList row;
                    for (int i = 0; i < q.record().count(); ++i)
                        row << q.value(i).toString();
                    out += row.join(QLatin1Char('|')) + QLatin1Char('\n');
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return out;
}

bool PgServer::createDatabase(const QString &name)
{
    // One server serves every test executable in turn: a database left by an earlier one goes first.
    sql(QStringLiteral("postgres"), QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
    return !sql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE %1 OWNER keeper").arg(name)).isNull();
}

QString PgServer::uri(const QString &database, const QString &user, const QString &password) const
{
    return QStringLiteral("postgresql://%1%2@127.0.0.1:%3/%4")
        .arg(user, password.isEmpty() ? QString() : QLatin1Char(':') + password)
        .arg(m_port)
        .arg(database);
}

} // namespace korvel::test
