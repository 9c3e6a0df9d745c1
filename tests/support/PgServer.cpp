#include "support/PgServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace korvel::test {

namespace {

// The newest server installed: Debian keeps each major version's programs in a folder of its own.
QString ServerBin()
{
    QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &v : versions) {
        const QString bin = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(v);
        if (QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

// A port nobody listens on now (the kernel's choice).
int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

} // namespace

PgServer::PgServer()
    // Under root, in /tmp itself: a TMPDIR inside root's home would keep the postgres user out.
    : m_dir(::geteuid() == 0 ? QStringLiteral("/tmp/korvel-pg-XXXXXX")
                             : QDir::tempPath() + QStringLiteral("/korvel-pg-XXXXXX"))
{
    m_bin = ServerBin();
    if (m_bin.isEmpty()) {
        m_error = QStringLiteral("no PostgreSQL server installed (the Debian package postgresql)");
        return;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    // The server refuses to run as root: the folder becomes the postgres user's.
    if (::geteuid() == 0) {
        const passwd *pw = ::getpwnam("postgres");
        if (!pw) {
            m_error = QStringLiteral("no postgres user to run the server as");
            return;
        }
        if (::chown(QFile::encodeName(m_dir.path()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
            m_error = QStringLiteral("cannot give the temporary folder to the postgres user");
            return;
        }
    }
    QDir(m_dir.path()).mkdir(QStringLiteral("socket"));
    if (::geteuid() == 0) {
        const passwd *pw = ::getpwnam("postgres");
        (void)::chown(QFile::encodeName(m_dir.filePath(QStringLiteral("socket"))).constData(), pw->pw_uid, pw->pw_gid);
    }
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!run(m_bin + QStringLiteral("/initdb"),
             {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("--no-sync"),
              QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("-A"),
              QStringLiteral("trust")}))
        return;
    // The superuser only over the private socket; everybody else signs in with a password.
    QFile hba(data + QStringLiteral("/pg_hba.conf"));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        hba.write("local all all trust\nhost all all 127.0.0.1/32 scram-sha-256\n") < 0) {
        m_error = QStringLiteral("cannot write pg_hba.conf");
        return;
    }
    hba.close();
    QFile conf(data + QStringLiteral("/postgresql.conf"));
    m_port = FreePort();
    if (!conf.open(QIODevice::Append) ||
        conf.write(QStringLiteral("\nlisten_addresses = '127.0.0.1'\nport = %1\nunix_socket_directories = '%2'\n"
                                  "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n"
                                  "max_connections = 40\nshared_buffers = 16MB\n")
                       .arg(m_port)
                       .arg(m_dir.filePath(QStringLiteral("socket")))
                       .toUtf8()) < 0) {
        m_error = QStringLiteral("cannot write postgresql.conf");
        return;
    }
    conf.close();
    // Another program may take the port meanwhile: a later line in the file wins.
    for (int attempt = 0; !start(); ++attempt) {
        if (attempt == 2 || !conf.open(QIODevice::Append))
            return;
        m_port = FreePort();
        conf.write(QStringLiteral("port = %1\n").arg(m_port).toUtf8());
        conf.close();
    }
    // Should this test process die without stopping it, a watcher stops the server and takes its
    // folder away, so that a crashed run leaves nothing running.
    const QString watcher = QStringLiteral("while [ -e /proc/%1 ]; do sleep 1; done; "
                                           "'%2/pg_ctl' stop -D '%3' -m immediate >/dev/null 2>&1; rm -rf '%4'")
                                .arg(::getpid())
                                .arg(m_bin, data, m_dir.path());
    if (::geteuid() == 0)
        QProcess::startDetached(QStringLiteral("runuser"),
                                {QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"),
                                 QStringLiteral("sh"), QStringLiteral("-c"), watcher});
    else
        QProcess::startDetached(QStringLiteral("sh"), {QStringLiteral("-c"), watcher});
    const QString roles = QStringLiteral("CREATE ROLE korvel_reader NOLOGIN; CREATE ROLE korvel_writer NOLOGIN; "
                                         "CREATE ROLE keeper LOGIN PASSWORD '%1'; "
                                         "CREATE ROLE pilot LOGIN PASSWORD '%2' IN ROLE korvel_writer; "
                                         "CREATE ROLE student LOGIN PASSWORD '%3' IN ROLE korvel_reader;")
                              .arg(PasswordOf(QStringLiteral("keeper")), PasswordOf(QStringLiteral("pilot")),
                                   PasswordOf(QStringLiteral("student")));
    if (sql(QStringLiteral("postgres"), roles).isNull()) {
        m_running = false;
        m_error = QStringLiteral("cannot make the roles: ") + m_error;
    }
}

PgServer::~PgServer()
{
    thaw();
    if (!m_bin.isEmpty() && QFile::exists(m_dir.filePath(QStringLiteral("data/postmaster.pid"))))
        run(m_bin + QStringLiteral("/pg_ctl"),
            {QStringLiteral("stop"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-m"),
             QStringLiteral("immediate"), QStringLiteral("-w")});
}

QString PgServer::PasswordOf(const QString &user)
{
    return user + QStringLiteral("-Secret-7q");
}

bool PgServer::run(const QString &program, const QStringList &args, QString *out, int timeoutMs)
{
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setWorkingDirectory(m_dir.path());
    if (::geteuid() == 0) {
        p.setProgram(QStringLiteral("runuser"));
        p.setArguments(QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), program} +
                       args);
    } else {
        p.setProgram(program);
        p.setArguments(args);
    }
    // The server's log goes to a file, so that pg_ctl's own output ends when it does.
    p.start();
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
        }
        m_error = QStringLiteral("%1 failed: %2%3")
                      .arg(QFileInfo(program).fileName(), QString::fromLocal8Bit(p.readAllStandardError()),
                           QString::fromLocal8Bit(p.readAllStandardOutput()));
        return false;
    }
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput());
    return true;
}

bool PgServer::start()
{
    m_running = run(m_bin + QStringLiteral("/pg_ctl"),
                    {QStringLiteral("start"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                     QStringLiteral("-l"), m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                     QStringLiteral("-t"), QStringLiteral("30")});
    return m_running;
}

bool PgServer::stop()
{
    const bool stopped = run(m_bin + QStringLiteral("/pg_ctl"),
                             {QStringLiteral("stop"), QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                              QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("-w")});
    m_running = !stopped;
    return stopped;
}

QString PgServer::sql(const QString &database, const QString &statements)
{
    QString out;
    if (!run(m_bin + QStringLiteral("/psql"),
             {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
              QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"),
              m_dir.filePath(QStringLiteral("socket")), QStringLiteral("-p"), QString::number(m_port),
              QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-d"), database, QStringLiteral("-c"),
              statements},
             &out))
        return {};
    return out.isNull() ? QStringLiteral("") : out;
}

bool PgServer::createDatabase(const QString &name)
{
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

namespace korvel::test {

bool PgServer::freeze()
{
    QFile pidFile(m_dir.filePath(QStringLiteral("data/postmaster.pid")));
    if (!pidFile.open(QIODevice::ReadOnly))
        return false;
    const qint64 postmaster = pidFile.readLine().trimmed().toLongLong();
    if (postmaster <= 0)
        return false;
    // The postmaster and every process it started (the sessions among them).
    QList<qint64> processes{postmaster};
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == postmaster)
            processes << entry.toLongLong();
    }
    for (const qint64 pid : processes)
        if (::kill(pid_t(pid), SIGSTOP) == 0)
            m_frozen << pid;
    return !m_frozen.isEmpty();
}

bool PgServer::thaw()
{
    bool all = true;
    for (const qint64 pid : std::as_const(m_frozen))
        all &= ::kill(pid_t(pid), SIGCONT) == 0;
    m_frozen.clear();
    return all;
}

} // namespace korvel::test
