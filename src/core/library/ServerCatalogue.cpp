// The catalogue of a library on a PostgreSQL server, through Qt SQL's PostgreSQL driver, and the
// flights' bytes kept in its database. What is PostgreSQL's own is kept here: how a write takes its
// lock, which of the server's answers mean busy, try again, not allowed or gone.

#include "core/library/CatalogueBackend.h"
#include "core/library/CopyStore.h"
#include "core/library/ServerLocation.h"
#include "core/library/Sha256.h"
#include "core/library/StatementWatch.h"
#include "core/platform/Processes.h"

#include <QAtomicInteger>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QSqlDriver>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <utility>
#include <vector>

#ifdef KORVEL_HAVE_LIBDEFLATE
#include <libdeflate.h>
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

// A few of libpq's own calls, from the copy Qt's driver loaded: through them a statement's values go
// to the server as parameters, apart from its text (a flight's bytes as they are, where the driver
// would write them as text twice their size). Absent (another driver build, another system), the
// driver binds the values itself.
struct Libpq {
    using ExecParams = void *(*)(void *, const char *, int, const unsigned *, const char *const *, const int *,
                                 const int *, int);
    using ResultStatus = int (*)(const void *);
    using ResultErrorField = char *(*)(const void *, int);
    using ErrorMessage = char *(*)(const void *);
    using Clear = void (*)(void *);
    using Count = int (*)(const void *);
    using GetValue = char *(*)(const void *, int, int);
    using GetInt = int (*)(const void *, int, int);
    using FieldType = unsigned (*)(const void *, int);
    using CommandRows = char *(*)(void *);
    using Socket = int (*)(const void *);
    static constexpr int kCommandOk = 1; // PGRES_COMMAND_OK
    static constexpr int kTuplesOk = 2;  // PGRES_TUPLES_OK
    static constexpr int kSqlState = 'C';
    static constexpr int kMessage = 'M';

    ExecParams execParams = nullptr;
    ResultStatus resultStatus = nullptr;
    ResultErrorField resultErrorField = nullptr;
    ErrorMessage errorMessage = nullptr;
    Clear clear = nullptr;
    Count ntuples = nullptr;
    Count nfields = nullptr;
    GetValue getvalue = nullptr;
    GetInt getisnull = nullptr;
    GetInt getlength = nullptr;
    FieldType ftype = nullptr;
    CommandRows cmdTuples = nullptr;
    Socket socket = nullptr; // optional: without it no statement is watched

    bool ready() const
    {
        return execParams && resultStatus && resultErrorField && errorMessage && clear && ntuples && nfields &&
               getvalue && getisnull && getlength && ftype && cmdTuples;
    }

    // Looked up once the driver has signed in (so its libpq is loaded); never loads one of its own.
    static const Libpq &Get()
    {
        static const Libpq found = [] {
            Libpq pq;
            const auto symbol = [](const char *name) { return platform::LoadedLibrarySymbol("pq", 5, name); };
            pq.execParams = reinterpret_cast<ExecParams>(symbol("PQexecParams"));
            pq.resultStatus = reinterpret_cast<ResultStatus>(symbol("PQresultStatus"));
            pq.resultErrorField = reinterpret_cast<ResultErrorField>(symbol("PQresultErrorField"));
            pq.errorMessage = reinterpret_cast<ErrorMessage>(symbol("PQerrorMessage"));
            pq.clear = reinterpret_cast<Clear>(symbol("PQclear"));
            pq.ntuples = reinterpret_cast<Count>(symbol("PQntuples"));
            pq.nfields = reinterpret_cast<Count>(symbol("PQnfields"));
            pq.getvalue = reinterpret_cast<GetValue>(symbol("PQgetvalue"));
            pq.getisnull = reinterpret_cast<GetInt>(symbol("PQgetisnull"));
            pq.getlength = reinterpret_cast<GetInt>(symbol("PQgetlength"));
            pq.ftype = reinterpret_cast<FieldType>(symbol("PQftype"));
            pq.cmdTuples = reinterpret_cast<CommandRows>(symbol("PQcmdTuples"));
            pq.socket = reinterpret_cast<Socket>(symbol("PQsocket"));
            return pq;
        }();
        return found;
    }
};

// The server's type numbers of the values the library reads and sends.
enum TypeOid : unsigned { kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701,
                          kNumeric = 1700 };

// The rows of one answer, held by libpq (it reads an answer whole), as the driver would give them.
class ResultRows final : public Rows::Source {
public:
    ResultRows(const Libpq &pq, void *result) : m_pq(pq), m_result(result), m_count(pq.ntuples(result)) {}
    ~ResultRows() override { m_pq.clear(m_result); }
    ResultRows(const ResultRows &) = delete;
    ResultRows &operator=(const ResultRows &) = delete;

    bool next() override { return ++m_row < m_count; }
    QVariant value(int column) const override
    {
        if (m_row < 0 || m_row >= m_count || column < 0 || column >= m_pq.nfields(m_result))
            return {};
        const unsigned type = m_pq.ftype(m_result, column);
        const bool null = m_pq.getisnull(m_result, m_row, column);
        const QByteArray text = QByteArray::fromRawData(m_pq.getvalue(m_result, m_row, column),
                                                        m_pq.getlength(m_result, m_row, column));
        switch (type) {
        case kBool:
            return null ? QVariant(QMetaType::fromType<bool>()) : QVariant(text == "t");
        case kBytea:
            // Asked for as hex when signing in.
            return null ? QVariant(QMetaType::fromType<QByteArray>()) : QVariant(QByteArray::fromHex(text.mid(2)));
        case kInt2:
        case kInt4:
        case kInt8:
            return null ? QVariant(QMetaType::fromType<qlonglong>()) : QVariant(text.toLongLong());
        case kFloat4:
        case kFloat8:
        case kNumeric:
            return null ? QVariant(QMetaType::fromType<double>()) : QVariant(text.toDouble());
        default:
            return null ? QVariant(QMetaType::fromType<QString>()) : QVariant(QString::fromUtf8(text));
        }
    }
    int numRowsAffected() const override
    {
        const char *rows = m_pq.cmdTuples(m_result);
        return rows && *rows ? QByteArray(rows).toInt() : -1;
    }

private:
    const Libpq &m_pq;
    void *m_result;
    int m_count;
    int m_row = -1;
};

// The longest an honest statement of the library runs, well above a whole batch of an import,
// unless the connection's own options (the URI's options=-c statement_timeout=..., or PGOPTIONS)
// give another.
constexpr qint64 kStatementMs = 60000;

// The location's options, with what keeps a command from waiting for ever on a server that stops
// answering: a time-out for the sign-in (unless the URI, the environment or a service names one),
// and keepalives that find a connection gone dead.
QString WithTimeOuts(const ServerLocation &location)
{
    const auto given = [&](const char *key) {
        return std::any_of(location.parameters.cbegin(), location.parameters.cend(),
                           [&](const auto &parameter) { return parameter.first == QLatin1String(key); });
    };
    QStringList options;
    if (const QString own = location.connectOptions(); !own.isEmpty())
        options << own;
    if (!given("connect_timeout") && !given("service") && qEnvironmentVariableIsEmpty("PGCONNECT_TIMEOUT") &&
        qEnvironmentVariableIsEmpty("PGSERVICE"))
        options << QStringLiteral("connect_timeout=10");
    for (const auto &[key, value] : {std::pair{"keepalives_idle", "10"}, std::pair{"keepalives_interval", "5"},
                                     std::pair{"keepalives_count", "3"}})
        if (!given(key))
            options << QLatin1String(key) + QLatin1Char('=') + QLatin1String(value);
    return options.join(QLatin1Char(';'));
}

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
        db.setConnectOptions(WithTimeOuts(location));
        if (!db.open())
            throw LibraryError(signInFailure(db.lastError()));
        // A lock held by another writer is waited for as long as a folder's, then said busy; a
        // statement that runs far longer than any honest one is given up.
        m_statementMs =
            value(QStringLiteral("SELECT ms, set_config('lock_timeout', '%1ms', false), "
                                 "set_config('statement_timeout', ms::text || 'ms', false), "
                                 "set_config('bytea_output', 'hex', false) FROM (SELECT COALESCE((SELECT "
                                 "setting::bigint FROM pg_settings WHERE name = 'statement_timeout' AND source = "
                                 "'client' AND setting <> '0'), %2) AS ms) AS chosen")
                      .arg(FlightLibrary::kBusyWaitMs)
                      .arg(kStatementMs))
                .toLongLong();
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

    // The values go as parameters beside the statement, in one round trip (the driver would prepare,
    // execute and release); a flight's bytes as they are.
    Rows exec(const QString &sql, const QVariantList &values = {}) override
    {
        if (m_gone)
            throw silent();
        const Libpq &pq = Libpq::Get();
        void *connection = pq.ready() ? this->connection() : nullptr;
        if (!connection)
            return execByDriver(sql, values);

        QByteArray text = sql.toUtf8();
        if (!values.isEmpty()) {
            // The library writes its statements with ?; the server numbers its parameters.
            QByteArray numbered;
            numbered.reserve(text.size() + values.size() * 3);
            int next = 0;
            bool quoted = false;
            for (const char c : std::as_const(text)) {
                if (c == '\'')
                    quoted = !quoted;
                if (c == '?' && !quoted)
                    numbered += '$' + QByteArray::number(++next);
                else
                    numbered += c;
            }
            text = numbered;
        }
        const int count = int(values.size());
        const auto n = static_cast<std::size_t>(count);
        std::vector<QByteArray> held(n);
        std::vector<const char *> data(n, nullptr);
        std::vector<unsigned> types(n, 0);
        std::vector<int> lengths(n, 0), formats(n, 0);
        for (int i = 0; i < count; ++i) {
            const QVariant &v = values[i];
            if (v.isNull())
                continue;
            QByteArray &bytes = held[std::size_t(i)];
            switch (v.metaType().id()) {
            case QMetaType::QByteArray:
                bytes = v.toByteArray();
                types[std::size_t(i)] = kBytea;
                formats[std::size_t(i)] = 1;
                break;
            case QMetaType::Bool:
                bytes = v.toBool() ? "t" : "f";
                types[std::size_t(i)] = kBool;
                break;
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::Long:
            case QMetaType::LongLong:
            case QMetaType::Short:
                bytes = QByteArray::number(v.toLongLong());
                types[std::size_t(i)] = kInt8;
                break;
            case QMetaType::Double:
            case QMetaType::Float:
                bytes = QByteArray::number(v.toDouble(), 'g', 17);
                types[std::size_t(i)] = kFloat8;
                break;
            default:
                // Typed by where it stands, as a quoted text would be.
                bytes = v.toString().toUtf8();
                break;
            }
            data[std::size_t(i)] = bytes.constData();
            lengths[std::size_t(i)] = int(bytes.size());
        }
        StatementWatch watch(socket(), watchMs());
        void *result = pq.execParams(connection, text.constData(), count, types.data(), data.data(), lengths.data(),
                                     formats.data(), 0);
        if (watch.end()) {
            if (result)
                pq.clear(result);
            m_gone = true;
            throw silent();
        }
        const int status = result ? pq.resultStatus(result) : -1;
        if (status == Libpq::kCommandOk || status == Libpq::kTuplesOk)
            return Rows(std::make_unique<ResultRows>(pq, result));
        // No state at all: the connection itself failed, which raise() says as the server gone.
        const char *state = result ? pq.resultErrorField(result, Libpq::kSqlState) : nullptr;
        const char *message = result ? pq.resultErrorField(result, Libpq::kMessage) : nullptr;
        const QSqlError error(QString(), QString::fromUtf8(message ? message : pq.errorMessage(connection)),
                              QSqlError::StatementError, QString::fromLatin1(state ? state : ""));
        if (result)
            pq.clear(result);
        fail(error);
    }

    void checkReadable() override { value(QStringLiteral("SELECT 1")); }
    // Asked of the server by name: listing every table took as long as the rest of a short command.
    bool hasCatalogue() override
    {
        return m_hasCatalogue = value(QStringLiteral("SELECT to_regclass('library_info') IS NOT NULL")).toBool();
    }
    void prepareForWriting() override {}

    void beginWrite() override
    {
        QElapsedTimer clock;
        clock.start();
        while (true) {
            try {
                exec(QStringLiteral("BEGIN"));
                // The header row is the writers' lock; before the catalogue is made, the database's.
                if (m_hasCatalogue || hasCatalogue())
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
        // A connection ended here has taken its transaction with it.
        if (m_gone)
            return;
        StatementWatch watch(socket(), watchMs());
        QSqlQuery q(db());
        q.exec(QStringLiteral("ROLLBACK"));
        m_gone = watch.end();
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
            m_readOnly = !(answered(q, QStringLiteral("SELECT has_table_privilege('library_info', 'UPDATE')")) &&
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
            if (answered(q, QStringLiteral("SELECT has_table_privilege('flights', 'SELECT')")) && !q.value(0).toBool())
                throw LibraryError(QStringLiteral("you may not read the flight library at %1; ask its administrator "
                                                  "to grant korvel_reader or korvel_writer to %2")
                                       .arg(library, m_location.userShown()));
            // Before there is a catalogue, the one refused is its making (init by a role that may
            // not create tables), not a change.
            if (!m_hasCatalogue)
                throw LibraryError(QStringLiteral("%1 may not make the flight library's catalogue in the database %2 "
                                                  "(it may not create tables there); the database's owner, or "
                                                  "another role that may, runs init once: korvel-cli library "
                                                  "--library postgresql://OWNER@%3 init")
                                       .arg(m_location.userShown(), library,
                                            QStringLiteral("%1:%2/%3")
                                                .arg(m_location.hostShown())
                                                .arg(m_location.portShown())
                                                .arg(m_location.databaseShown())));
            throw readerOnly();
        }
        if (state == QLatin1String("42P01"))
            throw LibraryError(QStringLiteral("the database %1 holds no flight library yet; make it once with: "
                                              "korvel-cli library --library %2 init")
                                   .arg(library, m_location.shown));
        if (state == QLatin1String("57014"))
            throw LibraryError(QStringLiteral("the flight library server %1 went away: it did not finish a statement "
                                              "within %2 s")
                                   .arg(server)
                                   .arg((m_statementMs + 999) / 1000));
        // Every answer of a server carries its state; none means the connection itself failed.
        if (state.isEmpty() || state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P"))) {
            QString reason = scrub(FirstLine(error.databaseText()));
            if (reason.isEmpty())
                reason = QStringLiteral("the connection closed");
            throw LibraryError(QStringLiteral("the flight library server %1 went away: %2").arg(server, reason));
        }
        if (state == QLatin1String("53100"))
            throw LibraryError(QStringLiteral("the disk of the flight library server %1 is full; ask its "
                                              "administrator (what was added before stays)")
                                   .arg(server));
        throw LibraryError(scrub(error.text()));
    }

private:
    // libpq's connection under the driver, or null where the driver is another one.
    void *connection() const
    {
        const QVariant handle = db().driver()->handle();
        if (!handle.isValid() ||
            (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
            return nullptr;
        return *static_cast<void *const *>(handle.constData());
    }

    // The socket under libpq's connection, or -1 where it cannot be had.
    qint64 socket() const
    {
        const Libpq &pq = Libpq::Get();
        void *connection = pq.socket ? this->connection() : nullptr;
        return connection ? pq.socket(connection) : -1;
    }

    // How long a statement waits for its answer before the connection is ended from this side:
    // the server's own time-out, then a margin for its answer (and a large part's way there).
    qint64 watchMs() const { return m_statementMs + std::max<qint64>(1000, m_statementMs / 4); }

    // A statement through the driver, under the watch: whether it ran and gave a row.
    bool answered(QSqlQuery &q, const QString &sql) const
    {
        if (m_gone)
            throw silent();
        StatementWatch watch(socket(), watchMs());
        const bool ok = q.exec(sql) && q.next();
        if (watch.end()) {
            m_gone = true;
            throw silent();
        }
        return ok;
    }

    // The server stopped answering in the middle of a statement, and its connection was ended here.
    LibraryError silent() const
    {
        return LibraryError(QStringLiteral("the flight library server %1:%2 went away: it did not answer for %3 s")
                                .arg(m_location.hostShown())
                                .arg(m_location.portShown())
                                .arg((watchMs() + 999) / 1000));
    }

    LibraryError readerOnly() const
    {
        return LibraryError(
            QStringLiteral("you may read the flight library at %1 but not change it; ask its "
                           "administrator to grant korvel_writer to %2")
                .arg(m_location.hostShown() + QLatin1Char('/') + m_location.databaseShown(), m_location.userShown()));
    }

    // A driver's text holds no password of its own; only the URI's forms are taken out.
    QString scrub(const QString &text) const { return m_location.scrubbed(text); }

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
    qint64 m_statementMs = kStatementMs;
    // The connection was ended here: every statement after says so at once.
    mutable bool m_gone = false;
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
    QList<QByteArray> pack(const QByteArray &bytes) const
    {
        QList<QByteArray> parts;
        for (qint64 at = 0; at < bytes.size(); at += kRaw)
            parts << PackPart(bytes.constData() + at, std::min<qsizetype>(kRaw, bytes.size() - at));
        return parts;
    }

    // Packed on the reading threads; a flight larger than kPackAhead, or most likely kept already,
    // is read again part by part as it goes in, so that it is never held whole.
    std::unique_ptr<KeptAsRead> keepAsRead(qint64 size, bool likelyKept, bool) const override
    {
        return std::make_unique<PackAsRead>(*this, !likelyKept && size <= kPackAhead);
    }

    // The bytes go with the rows: smaller batches are sent while the next files are read, a batch's
    // worth of them packed ahead.
    ImportPace importPace() const override { return {qint64(4) << 20, qint64(32) << 20}; }

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

    bool holdsWhole(CatalogueBackend &db, const QString &sha, qint64 size) override
    {
        // One part at a time, as writeTo reads them: a flight is never held whole.
        Sha256 hash;
        qint64 total = 0;
        for (int part = 0;; ++part) {
            const QVariant packed =
                db.value(QStringLiteral("SELECT bytes FROM flight_parts WHERE sha256 = ? AND part = ?"), {sha, part});
            if (!packed.isValid())
                break;
            const QByteArray bytes = qUncompress(packed.toByteArray());
            hash.add(bytes.constData(), std::size_t(bytes.size()));
            total += bytes.size();
        }
        return total == size && hash.hex() == sha;
    }

    QByteArray read(CatalogueBackend &db, const QString &sha) override
    {
        QByteArray bytes;
        writeTo(db, sha, [&](const QByteArray &part) {
            bytes += part;
            return true;
        });
        return bytes;
    }

    // One part fetched at a time, so that a flight is never held whole.
    void writeTo(CatalogueBackend &db, const QString &sha, const std::function<bool(const QByteArray &)> &out) override
    {
        Sha256 hash;
        for (int part = 0;; ++part) {
            const QVariant packed =
                db.value(QStringLiteral("SELECT bytes FROM flight_parts WHERE sha256 = ? AND part = ?"), {sha, part});
            if (!packed.isValid())
                break;
            const QByteArray bytes = qUncompress(packed.toByteArray());
            hash.add(bytes.constData(), std::size_t(bytes.size()));
            if (!out(bytes))
                return;
        }
        // Taken once: the hash starts again after it is read.
        if (const QString found = hash.hex(); found != sha)
            throw LibraryError(QStringLiteral("the flight's bytes kept in the library are damaged (their SHA-256 is "
                                              "%1, not %2); nothing was written")
                                   .arg(found, sha));
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
    // The largest flight whose bytes are packed while it is read.
    static constexpr qint64 kPackAhead = qint64(16) << 20;

    class PackAsRead final : public KeptAsRead {
    public:
        PackAsRead(const DatabaseStore &store, bool packAhead) : m_store(store), m_packAhead(packAhead) {}
        void add(const char *bytes, std::size_t size) override
        {
            if (m_packAhead)
                m_read.append(bytes, qsizetype(size));
        }
        Outcome finish(const QString &, const QString &, qint64) override
        {
            Outcome kept;
            if (m_packAhead)
                kept.packed = m_store.pack(m_read);
            return kept;
        }

    private:
        const DatabaseStore &m_store;
        const bool m_packAhead;
        QByteArray m_read;
    };

    static void put(CatalogueBackend &db, const QString &sha, qint64 part, const QByteArray &bytes)
    {
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
