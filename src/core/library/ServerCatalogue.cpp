// The catalogue of a library on a PostgreSQL server, through Qt SQL's PostgreSQL driver, and the
// flights' bytes kept in its database. What is PostgreSQL's own is kept here: how a write takes its
// lock, which of the server's answers mean busy, try again, not allowed or gone.

#include "core/library/CatalogueBackend.h"
#include "core/library/CopyStore.h"
#include "core/library/ServerLocation.h"
#include "core/library/Sha256.h"

#include <QAtomicInteger>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QSqlDriver>
#include <QSqlField>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>

#ifdef KORVEL_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef Q_OS_UNIX
#include <dlfcn.h>
#endif

namespace korvel::library_detail {

namespace {

// A part packed as qUncompress reads it: its length (4 bytes, most significant first), then a zlib
// stream at the fastest level (the text of a flight shrinks to about a fifth even so).
QByteArray PackPart(const char *bytes, qsizetype size)
{
#ifdef KORVEL_HAVE_LIBDEFLATE
    struct Compressor {
        libdeflate_compressor *c = libdeflate_alloc_compressor(1);
        ~Compressor() { libdeflate_free_compressor(c); }
    };
    // One for each reading thread, made once.
    thread_local Compressor compressor;
    if (compressor.c) {
        const std::size_t bound = libdeflate_zlib_compress_bound(compressor.c, std::size_t(size));
        QByteArray packed(qsizetype(4 + bound), Qt::Uninitialized);
        const auto n = quint32(size);
        packed[0] = char(n >> 24);
        packed[1] = char(n >> 16);
        packed[2] = char(n >> 8);
        packed[3] = char(n);
        const std::size_t written =
            libdeflate_zlib_compress(compressor.c, bytes, std::size_t(size), packed.data() + 4, bound);
        if (written > 0) {
            packed.truncate(qsizetype(4 + written));
            return packed;
        }
    }
#endif
    return qCompress(reinterpret_cast<const uchar *>(bytes), qsizetype(size), 1);
}

// Writers of one catalogue wait for each other on its header row; making the catalogue, before
// there is one, on this lock of the database's own.
constexpr qint64 kMakeLock = 0x6b6f7276656cLL;

QString FirstLine(QString text)
{
    text = text.trimmed();
    if (const qsizetype end = text.indexOf(QLatin1Char('\n')); end >= 0)
        text.truncate(end);
    return text.trimmed();
}

// A few of libpq's own calls, from the copy Qt's driver loaded: through them a part's bytes go to the
// server as they are, where the driver would write them as text twice their size for the server to
// parse. Absent (another driver build, another system), the driver's way serves.
struct Libpq {
    using ExecParams = void *(*)(void *, const char *, int, const unsigned *, const char *const *, const int *,
                                 const int *, int);
    using ResultStatus = int (*)(const void *);
    using ResultErrorField = char *(*)(const void *, int);
    using ErrorMessage = char *(*)(const void *);
    using Clear = void (*)(void *);
    static constexpr int kCommandOk = 1; // PGRES_COMMAND_OK
    static constexpr int kSqlState = 'C';
    static constexpr int kMessage = 'M';

    ExecParams execParams = nullptr;
    ResultStatus resultStatus = nullptr;
    ResultErrorField resultErrorField = nullptr;
    ErrorMessage errorMessage = nullptr;
    Clear clear = nullptr;

    bool ready() const { return execParams && resultStatus && resultErrorField && errorMessage && clear; }

    // Looked up once the driver has signed in (so its libpq is loaded); never loads one of its own.
    static const Libpq &Get()
    {
        static const Libpq found = [] {
            Libpq pq;
#ifdef Q_OS_UNIX
            if (void *lib = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD)) {
                pq.execParams = reinterpret_cast<ExecParams>(::dlsym(lib, "PQexecParams"));
                pq.resultStatus = reinterpret_cast<ResultStatus>(::dlsym(lib, "PQresultStatus"));
                pq.resultErrorField = reinterpret_cast<ResultErrorField>(::dlsym(lib, "PQresultErrorField"));
                pq.errorMessage = reinterpret_cast<ErrorMessage>(::dlsym(lib, "PQerrorMessage"));
                pq.clear = reinterpret_cast<Clear>(::dlsym(lib, "PQclear"));
            }
#endif
            return pq;
        }();
        return found;
    }
};

class ServerCatalogue final : public CatalogueBackend {
public:
    explicit ServerCatalogue(const ServerLocation &location) : m_location(location)
    {
        static QAtomicInteger<quint64> serial;
        m_connection = QStringLiteral("korvel-library-server-%1").arg(serial.fetchAndAddRelaxed(1));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connection);
        if (!db.isValid())
            throw LibraryError(QStringLiteral("the PostgreSQL driver of Qt is not installed (on Debian: the package "
                                              "libqt6sql6-psql), so the flight library at %1 cannot be opened")
                                   .arg(location.shown));
        db.setHostName(location.host);
        if (location.port > 0)
            db.setPort(location.port);
        db.setDatabaseName(location.database);
        db.setUserName(location.user);
        db.setPassword(location.password);
        db.setConnectOptions(location.connectOptions());
        if (!db.open())
            throw LibraryError(signInFailure(db.lastError()));
        // A lock held by another writer is waited for as long as a folder's, then said busy.
        exec(QStringLiteral("SET lock_timeout = '%1ms'").arg(FlightLibrary::kBusyWaitMs));
    }
    ~ServerCatalogue() override
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }

    // The values written into the statement as the driver quotes them, so that it takes one round
    // trip to the server rather than a prepare, an execution and a release.
    QSqlQuery exec(const QString &sql, const QVariantList &values = {}) override
    {
        QString text;
        if (values.isEmpty()) {
            text = sql;
        } else {
            QSqlDriver *driver = db().driver();
            text.reserve(sql.size() + values.size() * 8);
            qsizetype next = 0;
            bool quoted = false;
            for (const QChar c : sql) {
                if (c == QLatin1Char('\''))
                    quoted = !quoted;
                if (c != QLatin1Char('?') || quoted) {
                    text += c;
                    continue;
                }
                const QVariant &v = values.value(next++);
                QSqlField field(QString(), v.metaType());
                field.setValue(v);
                text += driver->formatValue(field);
            }
        }
        QSqlQuery q(db());
        q.setForwardOnly(true);
        if (!q.exec(text))
            fail(q.lastError());
        return q;
    }

    // Keeps one part of a flight's bytes, sent as they are; false when libpq's calls are not at hand
    // (nothing was sent: the caller writes it the driver's way).
    bool putPart(const QString &sha, qint64 part, const QByteArray &bytes)
    {
        const Libpq &pq = Libpq::Get();
        const QVariant handle = db().driver()->handle();
        if (!pq.ready() || !handle.isValid() ||
            (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
            return false;
        void *connection = *static_cast<void *const *>(handle.constData());
        if (!connection)
            return false;
        const QByteArray name = sha.toLatin1();
        const QByteArray number = QByteArray::number(part);
        const char *values[] = {name.constData(), number.constData(), bytes.constData()};
        const int lengths[] = {0, 0, int(bytes.size())};
        const int formats[] = {0, 0, 1};
        void *result = pq.execParams(connection,
                                     "INSERT INTO flight_parts (sha256, part, bytes) VALUES ($1, $2, $3) "
                                     "ON CONFLICT (sha256, part) DO NOTHING",
                                     3, nullptr, values, lengths, formats, 0);
        if (result && pq.resultStatus(result) == Libpq::kCommandOk) {
            pq.clear(result);
            return true;
        }
        // No state at all: the connection itself failed, which raise() says as the server gone.
        const char *state = result ? pq.resultErrorField(result, Libpq::kSqlState) : nullptr;
        const char *message = result ? pq.resultErrorField(result, Libpq::kMessage) : nullptr;
        const QSqlError error(QStringLiteral("cannot keep the flight's bytes"),
                              QString::fromUtf8(message ? message : pq.errorMessage(connection)),
                              QSqlError::StatementError, QString::fromLatin1(state ? state : ""));
        if (result)
            pq.clear(result);
        fail(error);
    }

    void checkReadable() override { value(QStringLiteral("SELECT 1")); }
    void prepareForWriting() override {}

    void beginWrite() override
    {
        QElapsedTimer clock;
        clock.start();
        while (true) {
            try {
                exec(QStringLiteral("BEGIN"));
                // The header row is the writers' lock; before the catalogue is made, the database's.
                if (m_hasCatalogue ||
                    (m_hasCatalogue = value(QStringLiteral("SELECT to_regclass('library_info') IS NOT NULL")).toBool()))
                    value(QStringLiteral("SELECT next_id FROM library_info FOR UPDATE"));
                else
                    value(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMakeLock));
                return;
            } catch (const Conflict &) {
                rollback();
                if (clock.elapsed() >= FlightLibrary::kBusyWaitMs)
                    throw;
            } catch (...) {
                rollback();
                throw;
            }
            QThread::msleep(20);
        }
    }
    void commit() override { exec(QStringLiteral("COMMIT")); }
    void rollback() override
    {
        QSqlQuery q(db());
        q.exec(QStringLiteral("ROLLBACK"));
    }
    void afterCommit() override {}

    void afterCreate() override
    {
        // Reading to korvel_reader, changing to korvel_writer, where the administrator made them.
        const QString tables = QStringLiteral("library_info, flights, flight_fields, flight_parts");
        if (value(QStringLiteral("SELECT COUNT(*) FROM pg_roles WHERE rolname = 'korvel_reader'")).toInt() > 0)
            exec(QStringLiteral("GRANT SELECT ON %1 TO korvel_reader").arg(tables));
        if (value(QStringLiteral("SELECT COUNT(*) FROM pg_roles WHERE rolname = 'korvel_writer'")).toInt() > 0)
            exec(QStringLiteral("GRANT SELECT, INSERT, UPDATE, DELETE ON %1 TO korvel_writer").arg(tables));
    }

    void addIndexes() override
    {
        // A field's trend reads that field of every flight of an aircraft: in this index they lie
        // together, and the values with them, so the server reads neither the whole table nor
        // one page a flight.
        // Looked for first: the server's notice that it is there would reach the user's terminal.
        if (value(QStringLiteral("SELECT to_regclass('flight_fields_by_field') IS NULL")).toBool())
            exec(QStringLiteral("CREATE INDEX flight_fields_by_field ON flight_fields (field, flight_id) "
                                "INCLUDE (min_value, max_value, mean_value)"));
    }

    bool readOnly() const override
    {
        if (!m_readOnly) {
            QSqlQuery q(db());
            m_readOnly = !(q.exec(QStringLiteral("SELECT has_table_privilege('library_info', 'UPDATE')")) && q.next() &&
                           q.value(0).toBool());
        }
        return *m_readOnly;
    }

    void checkWritable() override
    {
        if (readOnly())
            throw readerOnly();
    }

protected:
    [[noreturn]] void raise(const QSqlError &error) override
    {
        const QString state = error.nativeErrorCode();
        const QString server = QStringLiteral("%1:%2").arg(m_location.hostShown()).arg(m_location.portShown());
        const QString library = m_location.hostShown() + QLatin1Char('/') + m_location.databaseShown();
        if (state == QLatin1String("55P03"))
            throw LibraryError(QStringLiteral("the flight library is busy: another program has been writing to it "
                                              "for more than %1 s; try again when it has finished")
                                   .arg(FlightLibrary::kBusyWaitMs / 1000));
        if (state == QLatin1String("40001") || state == QLatin1String("40P01"))
            throw Conflict(QStringLiteral("the flight library is busy: other programs kept changing it for more "
                                          "than %1 s; try again")
                               .arg(FlightLibrary::kBusyWaitMs / 1000));
        if (state == QLatin1String("42501")) {
            // Outside a transaction the server still answers: one who may not even read is told so.
            QSqlQuery q(db());
            if (q.exec(QStringLiteral("SELECT has_table_privilege('flights', 'SELECT')")) && q.next() &&
                !q.value(0).toBool())
                throw LibraryError(QStringLiteral("you may not read the flight library at %1; ask its administrator "
                                                  "to grant korvel_reader or korvel_writer to %2")
                                       .arg(library, m_location.userShown()));
            throw readerOnly();
        }
        if (state == QLatin1String("42P01"))
            throw LibraryError(QStringLiteral("the database %1 holds no flight library yet; make it once with: "
                                              "korvel-cli library --library %2 init")
                                   .arg(library, m_location.shown));
        // Every answer of a server carries its state; none means the connection itself failed.
        if (state.isEmpty() || state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P")))
            throw LibraryError(
                QStringLiteral("the flight library server %1 went away: %2")
                    .arg(server,
                         scrub(FirstLine(error.databaseText().isEmpty() ? error.text() : error.databaseText()))));
        if (state == QLatin1String("53100"))
            throw LibraryError(QStringLiteral("the disk of the flight library server %1 is full; ask its "
                                              "administrator (what was added before stays)")
                                   .arg(server));
        throw LibraryError(scrub(error.text()));
    }

private:
    LibraryError readerOnly() const
    {
        return LibraryError(
            QStringLiteral("you may read the flight library at %1 but not change it; ask its "
                           "administrator to grant korvel_writer to %2")
                .arg(m_location.hostShown() + QLatin1Char('/') + m_location.databaseShown(), m_location.userShown()));
    }

    // Whatever a driver says, a password never gets out.
    QString scrub(QString text) const
    {
        if (!m_location.password.isEmpty())
            text.replace(m_location.password, QStringLiteral("***"));
        return text;
    }

    QString signInFailure(const QSqlError &error) const
    {
        const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
        const QString lower = text.toLower();
        const QString server = QStringLiteral("%1:%2").arg(m_location.hostShown()).arg(m_location.portShown());
        if (lower.contains(QLatin1String("authentication failed")) ||
            lower.contains(QLatin1String("no password supplied")) ||
            (lower.contains(QLatin1String("role \"")) && lower.contains(QLatin1String("does not exist"))))
            return QStringLiteral("the flight library server %1 refused the sign-in of %2 to the database %3; check "
                                  "the user and its password (~/.pgpass, the service file, PGPASSWORD or the URI)")
                .arg(server, m_location.userShown(), m_location.databaseShown());
        if (lower.contains(QLatin1String("database \"")) && lower.contains(QLatin1String("does not exist")))
            return QStringLiteral("the flight library server %1 has no database %2; check the URI, or ask its "
                                  "administrator to make it")
                .arg(server, m_location.databaseShown());
        return QStringLiteral("cannot reach the flight library server %1 (database %2, user %3): %4")
            .arg(server, m_location.databaseShown(), m_location.userShown(), scrub(FirstLine(text)));
    }

    ServerLocation m_location;
    bool m_hasCatalogue = false;
    mutable std::optional<bool> m_readOnly;
};

// A flight's bytes in the database, in packed parts, committed with its row.
class DatabaseStore final : public FlightStore {
public:
    // A part holds at most 8 MiB, packed or not (zlib adds a little to bytes it cannot shrink).
    static constexpr qint64 kRaw = (8 << 20) - (64 << 10);

    void createTables(CatalogueBackend &db) override
    {
        db.exec(QStringLiteral("CREATE TABLE flight_parts (sha256 CHAR(64) NOT NULL, part INTEGER NOT NULL, "
                               "bytes BYTEA NOT NULL, PRIMARY KEY (sha256, part))"));
        // Packed already: the server need not try to pack them again.
        db.exec(QStringLiteral("ALTER TABLE flight_parts ALTER COLUMN bytes SET STORAGE EXTERNAL"));
    }

    // Each part packed on its own (zlib, its length first), so that the server stores and sends a
    // fraction of a flight's text.
    QList<QByteArray> pack(const QByteArray &bytes) const override
    {
        QList<QByteArray> parts;
        for (qint64 at = 0; at < bytes.size(); at += kRaw)
            parts << PackPart(bytes.constData() + at, std::min<qsizetype>(kRaw, bytes.size() - at));
        return parts;
    }

    bool keep(CatalogueBackend &db, const QString &sha, qint64 size, const QString &origin, const QByteArray &bytes,
              const QList<QByteArray> &packed) override
    {
        if (!packed.isEmpty() || origin.isEmpty()) {
            const QList<QByteArray> parts = packed.isEmpty() ? pack(bytes) : packed;
            for (qsizetype part = 0; part < parts.size(); ++part)
                put(db, sha, part, parts[part]);
            return true;
        }
        // The file is read again as it goes in: it must still be the flight that was figured.
        QFile file(origin);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        Sha256 hash;
        qint64 total = 0;
        for (int part = 0;; ++part) {
            const QByteArray chunk = file.read(kRaw);
            if (chunk.isEmpty())
                break;
            hash.add(chunk.constData(), std::size_t(chunk.size()));
            total += chunk.size();
            put(db, sha, part, PackPart(chunk.constData(), chunk.size()));
        }
        if (total != size || hash.hex() != sha) {
            db.exec(QStringLiteral("DELETE FROM flight_parts WHERE sha256 = ?"), {sha});
            return false;
        }
        return true;
    }

    QByteArray read(CatalogueBackend &db, const QString &sha) override
    {
        QByteArray bytes;
        QSqlQuery q = db.exec(QStringLiteral("SELECT bytes FROM flight_parts WHERE sha256 = ? ORDER BY part"), {sha});
        while (q.next())
            bytes += qUncompress(q.value(0).toByteArray());
        q.finish();
        Sha256 hash;
        hash.add(bytes.constData(), std::size_t(bytes.size()));
        if (hash.hex() != sha)
            throw LibraryError(QStringLiteral("the flight's bytes kept in the library are damaged (their SHA-256 is "
                                              "%1, not %2); nothing was written")
                                   .arg(hash.hex(), sha));
        return bytes;
    }

    QString localFile(CatalogueBackend &db, const QString &sha) override
    {
        if (!CopyStore::IsCopyName(sha))
            throw LibraryError(QStringLiteral("\"%1\" names no flight").arg(sha));
        if (!m_files.isValid())
            throw LibraryError(QStringLiteral("cannot make a temporary folder to read the flight in"));
        const QString name = m_files.filePath(sha);
        if (QFile::exists(name))
            return name;
        const QByteArray bytes = read(db, sha);
        QSaveFile out(name);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
            throw LibraryError(QStringLiteral("cannot write the flight into %1: %2").arg(name, out.errorString()));
        return name;
    }

    void forget(CatalogueBackend &db, const QString &sha) override
    {
        db.exec(QStringLiteral("DELETE FROM flight_parts WHERE sha256 = ?"), {sha});
    }

private:
    static void put(CatalogueBackend &db, const QString &sha, qint64 part, const QByteArray &bytes)
    {
        if (auto *server = dynamic_cast<ServerCatalogue *>(&db); server && server->putPart(sha, part, bytes))
            return;
        db.exec(QStringLiteral("INSERT INTO flight_parts (sha256, part, bytes) VALUES (?, ?, ?) "
                               "ON CONFLICT (sha256, part) DO NOTHING"),
                {sha, part, bytes});
    }

    // The flights opened from here, for as long as the library is.
    QTemporaryDir m_files;
};

} // namespace

std::unique_ptr<CatalogueBackend> OpenServerCatalogue(const ServerLocation &location)
{
    return std::make_unique<ServerCatalogue>(location);
}

std::unique_ptr<FlightStore> MakeDatabaseStore()
{
    return std::make_unique<DatabaseStore>();
}

} // namespace korvel::library_detail
