// The folder library's catalogue: a SQLite file through Qt SQL, in write-ahead-log mode, and what is
// SQLite's own (its pragmas, its busy and locked answers).

#include "core/library/CatalogueBackend.h"

#include <QAtomicInteger>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QThread>
#include <QUrl>

#include <algorithm>

namespace korvel::library_detail {

Busy::Busy()
    : LibraryError(QStringLiteral(
          "the flight library is busy: another program is writing to it; try again when it has finished"))
{
}

void WriteRetrying(CatalogueBackend &backend, const std::function<void(WriteTransaction &)> &body)
{
    QElapsedTimer clock;
    clock.start();
    while (true) {
        try {
            WriteTransaction transaction(backend);
            body(transaction);
            return;
        } catch (const Conflict &) {
            if (clock.elapsed() >= FlightLibrary::kBusyWaitMs)
                throw;
        }
        QThread::msleep(20);
    }
}

namespace {

struct DriverRows final : Rows::Source {
    explicit DriverRows(QSqlQuery query) : q(std::move(query)) {}
    ~DriverRows() override { q.finish(); }
    bool next() override { return q.next(); }
    QVariant value(int column) const override { return q.value(column); }
    int numRowsAffected() const override { return q.numRowsAffected(); }
    QSqlQuery q;
};

} // namespace

Rows CatalogueBackend::exec(const QString &sql, const QVariantList &values)
{
    return execByDriver(sql, values);
}

Rows CatalogueBackend::execByDriver(const QString &sql, const QVariantList &values)
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (values.isEmpty()) {
        if (!q.exec(sql))
            fail(q.lastError());
    } else {
        if (!q.prepare(sql))
            fail(q.lastError());
        for (const QVariant &v : values)
            q.addBindValue(v);
        if (!q.exec())
            fail(q.lastError());
    }
    return Rows(std::make_unique<DriverRows>(std::move(q)));
}

QVariant CatalogueBackend::value(const QString &sql, const QVariantList &values)
{
    Rows q = exec(sql, values);
    QVariant v = q.next() ? q.value(0) : QVariant();
    // A statement left open keeps the log from being checkpointed.
    q.finish();
    return v;
}

void CatalogueBackend::fail(const QSqlError &error)
{
    raise(error);
    throw LibraryError(error.text()); // raise() always throws; this says so to the compiler
}

namespace {

constexpr int kBusy = 5, kLocked = 6, kReadOnly = 8, kIoError = 10, kCorrupt = 11, kFull = 13, kCantOpen = 14,
              kNotADatabase = 26;

int PrimaryCode(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : -1;
}

// The write-ahead log is checkpointed by SQLite every 1,000 pages; beyond this size after a commit it
// is checkpointed at once and cut back, so a long import never lets it grow.
constexpr qint64 kLogLimit = 16 << 20;

class SqliteCatalogue final : public CatalogueBackend {
public:
    int valuesPerStatement() const override { return 200; }

    SqliteCatalogue(const QString &file, bool readOnly) : m_file(file), m_readOnly(readOnly)
    {
        static QAtomicInteger<quint64> serial;
        m_connection = QStringLiteral("korvel-library-%1").arg(serial.fetchAndAddRelaxed(1));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        if (!db.isValid())
            throw LibraryError(QStringLiteral("the SQLite driver of Qt is not installed (on Debian: the package "
                                              "libqt6sql6-sqlite), so the flight library cannot be opened"));
        QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(FlightLibrary::kBusyWaitMs);
        if (readOnly) {
            // A folder that cannot be written holds no other writer: read as it stands, without the
            // shared-memory file a reader would otherwise have to create beside it.
            QUrl url = QUrl::fromLocalFile(file);
            url.setQuery(QStringLiteral("immutable=1"));
            db.setDatabaseName(url.toString(QUrl::FullyEncoded));
            options += QStringLiteral(";QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI");
        } else {
            db.setDatabaseName(file);
        }
        db.setConnectOptions(options);
        if (!db.open())
            throw LibraryError(QStringLiteral("cannot open %1: %2").arg(file, db.lastError().text()));
    }
    ~SqliteCatalogue() override
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }

    void checkReadable() override
    {
        untilNotBusy([&] { value(QStringLiteral("SELECT COUNT(*) FROM sqlite_master")); });
    }

    // Write-ahead log: readers never wait for a writer, and a killed writer leaves the last commit.
    void prepareForWriting() override
    {
        untilNotBusy([&] { value(QStringLiteral("PRAGMA journal_mode=WAL")); });
        value(QStringLiteral("PRAGMA synchronous=NORMAL"));
        value(QStringLiteral("PRAGMA journal_size_limit=%1").arg(kLogLimit));
    }

    void beginWrite() override
    {
        untilNotBusy([&] { exec(QStringLiteral("BEGIN IMMEDIATE")); });
    }
    void beginWriteAtOnce() override
    {
        value(QStringLiteral("PRAGMA busy_timeout=0"));
        const auto restore = qScopeGuard(
            [&] { value(QStringLiteral("PRAGMA busy_timeout=%1").arg(FlightLibrary::kBusyWaitMs)); });
        exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    void commit() override { exec(QStringLiteral("COMMIT")); }
    void rollback() override
    {
        QSqlQuery q(db());
        q.exec(QStringLiteral("ROLLBACK"));
    }

    void afterCommit() override
    {
        // SQLite's own checkpoints may have been kept from the end by a reader of an old snapshot;
        // this one waits for nobody either. Once a checkpoint has reached the end, the next commit
        // starts the log again from its beginning, cut back to the limit.
        if (QFileInfo(m_file + QStringLiteral("-wal")).size() < kLogLimit)
            return;
        QSqlQuery q(db());
        q.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
        q.finish();
    }

    bool readOnly() const override { return m_readOnly; }

protected:
    [[noreturn]] void raise(const QSqlError &error) override
    {
        const int code = PrimaryCode(error);
        if (code == kBusy || code == kLocked)
            throw Busy();
        const QString folder = QFileInfo(m_file).absolutePath();
        // SQLite says a full disk as such only now and then: often as an I/O error where its
        // shared-memory file or its log could not grow.
        if (code == kFull || (code == kIoError && QStorageInfo(folder).bytesAvailable() < (256 << 10)))
            throw DiskFull(QStringLiteral("the disk holding the flight library is full (%1); free some space, then "
                                          "try again (what was added before stays)")
                               .arg(folder));
        switch (code) {
        case kReadOnly:
            throw LibraryError(QStringLiteral("the flight library in %1 can only be read (the folder or its "
                                              "library.sqlite is read-only); make them writable to change it")
                                   .arg(folder));
        case kIoError:
            throw LibraryError(QStringLiteral("the disk holding %1 could not be read or written (%2); check the "
                                              "disk, then try again")
                                   .arg(folder, error.databaseText()));
        case kNotADatabase:
            throw LibraryError(error.databaseText()); // said as what the file is not, by the caller
        case kCorrupt:
            throw LibraryError(QStringLiteral("%1 is damaged (%2); keep a copy of the library folder, then rebuild "
                                              "the catalogue from its copies (korvel-cli library rebuild after moving "
                                              "library.sqlite away)")
                                   .arg(m_file, error.databaseText()));
        case kCantOpen:
            throw LibraryError(QStringLiteral("%1 cannot be opened (%2); check that the folder can be read and "
                                              "written")
                                   .arg(m_file, error.databaseText()));
        default:
            throw LibraryError(error.text());
        }
    }

private:
    // SQLite answers some lock conflicts at once instead of through its busy wait: the switch to the
    // write-ahead log while another program opens the same new catalogue, a reader that would have to
    // become a writer. Such a step is tried again until the busy time is spent; only then is the
    // library said to be busy.
    template <class Step> void untilNotBusy(Step step)
    {
        QElapsedTimer clock;
        clock.start();
        int pause = 1;
        while (true) {
            try {
                step();
                return;
            } catch (const Busy &) {
                if (clock.elapsed() >= FlightLibrary::kBusyWaitMs)
                    break;
            }
            QThread::msleep(ulong(std::min<qint64>(pause, FlightLibrary::kBusyWaitMs - clock.elapsed() + 1)));
            pause = std::min(pause * 2, 50);
        }
        throw LibraryError(QStringLiteral("the flight library is busy: another program has been writing to it "
                                          "for more than %1 s; try again when it has finished")
                               .arg(FlightLibrary::kBusyWaitMs / 1000));
    }

    QString m_file;
    bool m_readOnly;
};

} // namespace

std::unique_ptr<CatalogueBackend> OpenSqliteCatalogue(const QString &file, bool readOnly)
{
    return std::make_unique<SqliteCatalogue>(file, readOnly);
}

} // namespace korvel::library_detail
