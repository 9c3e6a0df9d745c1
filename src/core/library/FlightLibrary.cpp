#include "core/library/FlightLibrary.h"

#include "core/flight/Findings.h"
#include "core/flight/FlightData.h"
#include "core/flight/FlightSummary.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLatin1StringView>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <deque>
#include <future>
#include <functional>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace korvel {

namespace {

const QString kCatalogue = QStringLiteral("library.sqlite");
const QString kFlights = QStringLiteral("flights");

// The list's numeric keys, in the list's order; each is a column of the flights table.
const QStringList kListMeasures = {
    QStringLiteral("records"),        QStringLiteral("duration_s"),     QStringLiteral("egt_max"),
    QStringLiteral("cht_max"),        QStringLiteral("egt_spread_max"), QStringLiteral("cht_spread_max"),
    QStringLiteral("findings"),
};

QString MomentText(QDate date, QTime time)
{
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d", date.year(), date.month(), date.day(), time.hour(),
                             time.minute(), time.second());
}

QVariant Nullable(const std::optional<double> &v)
{
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<double>());
}

QVariant Nullable(const std::optional<qint64> &v)
{
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<qint64>());
}

QVariant Nullable(const std::optional<int> &v)
{
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<int>());
}

template <class T> std::optional<T> Optional(const QVariant &v)
{
    if (v.isNull())
        return std::nullopt;
    return v.value<T>();
}

// The first start marker, ignoring case: a calibration record begins with CAL before any FLIGHT.
bool IsCalibration(const QByteArray &bytes)
{
    const QLatin1StringView text(bytes.constData(), bytes.size());
    const qsizetype flight = text.indexOf(QLatin1StringView("FLIGHT"), 0, Qt::CaseInsensitive);
    const QLatin1StringView before = flight < 0 ? text : text.first(flight);
    return before.contains(QLatin1StringView("CAL"), Qt::CaseInsensitive);
}

} // namespace

namespace library_detail {

// What import stores of a flight.
struct FlightFigures {
    LibraryFlight flight;
    std::vector<FieldFigures> fields;
};

} // namespace library_detail

using library_detail::FlightFigures;

namespace {

FlightFigures Figure(const FlightData &data)
{
    const FlightSummary summary = SummarizeFlight(data);
    FlightFigures out;
    LibraryFlight &f = out.flight;
    f.records = summary.records;
    f.first = MomentText(summary.first->date, summary.first->time);
    f.last = MomentText(summary.last->date, summary.last->time);
    f.durationSeconds = summary.durationSeconds;
    // The hottest of any cylinder; on a tie the lowest cylinder number.
    for (int c = 0; c < kCylinders; ++c) {
        const CylinderPeaks &peaks = summary.cylinders[size_t(c)];
        if (peaks.egt && (!f.egtMax || peaks.egt->value > *f.egtMax)) {
            f.egtMax = peaks.egt->value;
            f.egtCylinder = c + 1;
        }
        if (peaks.cht && (!f.chtMax || peaks.cht->value > *f.chtMax)) {
            f.chtMax = peaks.cht->value;
            f.chtCylinder = c + 1;
        }
    }
    if (summary.egtSpread)
        f.egtSpreadMax = summary.egtSpread->value;
    if (summary.chtSpread)
        f.chtSpreadMax = summary.chtSpread->value;
    f.findings = int(FindFlightFindings(data).size());
    out.fields = summary.fields;
    return out;
}

QString Sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace

// The connection, and the one place that knows it talks to SQLite: the pragmas and how a write
// transaction takes its lock. Every query elsewhere is plain SQL that PostgreSQL runs too.
class FlightLibrary::Database {
public:
    explicit Database(const QString &file)
    {
        static QAtomicInteger<quint64> serial;
        m_name = QStringLiteral("korvel-library-%1").arg(serial.fetchAndAddRelaxed(1));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        if (!db.isValid())
            throw LibraryError(QStringLiteral("the SQLite driver of Qt is not installed (on Debian: the package "
                                              "libqt6sql6-sqlite), so the flight library cannot be opened"));
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyWaitMs));
        if (!db.open())
            throw LibraryError(QStringLiteral("cannot open %1: %2").arg(file, db.lastError().text()));
    }
    ~Database()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }

    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    // Reads the catalogue's header: a file that is no database fails here, before anything is written.
    void checkIsDatabase()
    {
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master")))
            throw LibraryError(q.lastError().databaseText());
    }

    // Write-ahead log: readers never wait for a writer, and a killed writer leaves the last commit.
    void prepareForWriting()
    {
        exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }

    // Takes the write lock at once (waiting for another writer up to the busy time), so that what the
    // transaction reads is still true when it writes.
    void beginWrite() { exec(QStringLiteral("BEGIN IMMEDIATE")); }
    void commit() { exec(QStringLiteral("COMMIT")); }
    void rollback()
    {
        QSqlQuery q(db());
        q.exec(QStringLiteral("ROLLBACK"));
    }

    QSqlQuery exec(const QString &sql, const QVariantList &values = {})
    {
        QSqlQuery q(db());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            fail(q.lastError());
        for (const QVariant &v : values)
            q.addBindValue(v);
        if (!q.exec())
            fail(q.lastError());
        return q;
    }

    [[noreturn]] void fail(const QSqlError &error) const
    {
        const QString code = error.nativeErrorCode();
        if (code == QLatin1String("5") || code == QLatin1String("6"))
            throw LibraryError(QStringLiteral("the flight library is busy: another program has been writing to it "
                                              "for more than %1 s; try again when it has finished")
                                   .arg(kBusyWaitMs / 1000));
        throw LibraryError(error.text());
    }

private:
    QString m_name;
};

QString FlightLibrary::DefaultFolder()
{
    const QString fromEnvironment = qEnvironmentVariable("KORVEL_LIBRARY");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/korvel/library");
}

QStringList FlightLibrary::CollectFiles(const QStringList &paths)
{
    QStringList files;
    for (const QString &path : paths) {
        if (!QFileInfo(path).isDir()) {
            files << path;
            continue;
        }
        QStringList found;
        QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        std::sort(found.begin(), found.end());
        files << found;
    }
    return files;
}

QStringList FlightLibrary::Measures()
{
    QStringList measures = kListMeasures;
    for (int k = 0; k < kFlightFields; ++k)
        for (const char *stat : {"min", "max", "mean"})
            measures << QStringLiteral("field%1.%2").arg(k).arg(QLatin1String(stat));
    return measures;
}

bool FlightLibrary::IsMeasure(const QString &measure)
{
    return Measures().contains(measure);
}

FlightLibrary::FlightLibrary(const QString &folder) : m_folder(QDir(folder).absolutePath())
{
    if (!QDir().mkpath(m_folder + QLatin1Char('/') + kFlights))
        throw LibraryError(QStringLiteral("cannot create the library folder %1 (check that it can be written, or "
                                          "choose another folder)")
                               .arg(m_folder));
    const QString file = m_folder + QLatin1Char('/') + kCatalogue;
    m_db = std::make_unique<Database>(file);
    const auto notALibrary = [&](const QString &why) {
        return LibraryError(QStringLiteral("%1 is not a flight library (%2); it was left as it is. Move it away or "
                                           "choose another library folder")
                                .arg(file, why));
    };
    // Nothing is written before the file is known to be ours (or empty): another program's database,
    // or a text file of that name, stays exactly as it was.
    try {
        m_db->checkIsDatabase();
    } catch (const LibraryError &error) {
        throw notALibrary(error.message());
    }
    const QStringList tables = m_db->db().tables();
    const auto checkVersion = [&] {
        QSqlQuery q = m_db->exec(QStringLiteral("SELECT schema_version FROM library_info"));
        if (!q.next())
            throw notALibrary(QStringLiteral("its version record is missing"));
        const int version = q.value(0).toInt();
        if (version > kSchemaVersion)
            throw LibraryError(QStringLiteral("%1 was written by a newer version of this program (library version %2; "
                                              "this one reads up to %3). Nothing was changed; use the newer program")
                                   .arg(file)
                                   .arg(version)
                                   .arg(kSchemaVersion));
        return version;
    };
    if (!tables.isEmpty() && !tables.contains(QStringLiteral("library_info")))
        throw notALibrary(QStringLiteral("it holds other tables"));
    if (!tables.isEmpty() && checkVersion() == kSchemaVersion) {
        m_db->prepareForWriting();
        return;
    }
    try {
        m_db->prepareForWriting();
    } catch (const LibraryError &error) {
        throw LibraryError(QStringLiteral("cannot write %1: %2").arg(file, error.message()));
    }
    m_db->beginWrite();
    try {
        // Another program may have created it meanwhile.
        if (!m_db->db().tables().contains(QStringLiteral("library_info"))) {
            m_db->exec(QStringLiteral("CREATE TABLE library_info (schema_version INTEGER NOT NULL, "
                                      "next_id BIGINT NOT NULL)"));
            m_db->exec(QStringLiteral(
                "CREATE TABLE flights (id BIGINT PRIMARY KEY, sha256 CHAR(64) NOT NULL UNIQUE, source TEXT NOT NULL, "
                "imported_at CHAR(20) NOT NULL, bytes BIGINT NOT NULL, first_at CHAR(19) NOT NULL, "
                "last_at CHAR(19) NOT NULL, records INTEGER NOT NULL, duration_s BIGINT, egt_max DOUBLE PRECISION, "
                "egt_cyl INTEGER, cht_max DOUBLE PRECISION, cht_cyl INTEGER, egt_spread_max DOUBLE PRECISION, "
                "cht_spread_max DOUBLE PRECISION, findings INTEGER NOT NULL)"));
            m_db->exec(QStringLiteral("CREATE INDEX flights_by_first ON flights (first_at, id)"));
            m_db->exec(QStringLiteral(
                "CREATE TABLE flight_fields (flight_id BIGINT NOT NULL REFERENCES flights (id), field INTEGER NOT NULL, "
                "readings INTEGER NOT NULL, min_value DOUBLE PRECISION NOT NULL, max_value DOUBLE PRECISION NOT NULL, "
                "mean_value DOUBLE PRECISION NOT NULL, PRIMARY KEY (flight_id, field))"));
            m_db->exec(QStringLiteral("INSERT INTO library_info (schema_version, next_id) VALUES (?, 1)"),
                       {kSchemaVersion});
        }
        // Each step takes a library from one version to the next, in the transaction that records
        // the new number. Version 1 is the first; later versions add their steps here.
        const int version = checkVersion();
        for (int from = version; from < kSchemaVersion; ++from) {
            switch (from) {
            default:
                throw LibraryError(QStringLiteral("no way known from library version %1").arg(from));
            }
        }
        m_db->commit();
    } catch (...) {
        m_db->rollback();
        throw;
    }
}

FlightLibrary::~FlightLibrary() = default;

QString FlightLibrary::copyFile(const QString &sha) const
{
    return m_folder + QLatin1Char('/') + kFlights + QLatin1Char('/') + sha + QStringLiteral(".txt");
}

bool FlightLibrary::writeCopy(const QString &sha, const QByteArray &bytes)
{
    const QString name = copyFile(sha);
    const QFileInfo info(name);
    if (info.exists() && info.size() == bytes.size())
        return false; // written whole by an earlier import (renamed into place only once complete)
    // Written aside and renamed into place: a copy under its final name is always whole. It is
    // flushed to the disk with the rest of its batch, before the batch's rows are committed.
    const QString aside = name + QStringLiteral(".%1.part").arg(QCoreApplication::applicationPid());
    QFile copy(aside);
    errno = 0;
    bool written = copy.open(QIODevice::WriteOnly | QIODevice::Truncate) && copy.write(bytes) == bytes.size() &&
                   copy.flush();
    const int error = errno;
    QString reason = copy.errorString();
    copy.close();
    if (written && !QFile::rename(aside, name)) {
        QFile::remove(name); // a stale partial of an older program; ours is whole
        written = QFile::rename(aside, name);
    }
    if (!written) {
        QFile::remove(aside);
        // A full disk is often only "Unknown error" to the file layer; the system knows better.
        if ((reason.isEmpty() || reason == QLatin1String("Unknown error") || reason == QLatin1String("No error")) &&
            error != 0)
            reason = QString::fromLocal8Bit(std::strerror(error));
        throw LibraryError(QStringLiteral("cannot write the flight's copy in %1: %2. Nothing of this flight was "
                                          "added; free some space or make the folder writable, then import again")
                               .arg(info.absolutePath(), reason));
    }
    return true;
}

void FlightLibrary::syncCopies()
{
    const QString folder = m_folder + QLatin1Char('/') + kFlights;
#ifdef Q_OS_LINUX
    // One flush of the file system for the whole batch rather than one per flight.
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        const int result = ::syncfs(fd);
        const int error = errno;
        ::close(fd);
        if (result != 0)
            throw LibraryError(QStringLiteral("cannot put the flights' copies on the disk in %1: %2")
                                   .arg(folder, QString::fromLocal8Bit(std::strerror(error))));
    }
#else
    for (const QString &name : QDir(folder).entryList(QDir::Files)) {
        QFile f(folder + QLatin1Char('/') + name);
        if (f.open(QIODevice::ReadWrite))
            f.flush(), ::fsync(f.handle());
    }
#endif
}

namespace library_detail {

// A flight read and figured, waiting for its batch to be committed.
struct PendingFlight {
    ImportResult result;
    QString sha;
    QString source;
    qint64 bytes = 0;
    QByteArray content;
    FlightFigures figures;
};

} // namespace library_detail

using library_detail::PendingFlight;

struct FlightLibrary::Batch {
    std::vector<PendingFlight> flights;
    qint64 bytes = 0;
    bool wroteCopies = false;
};

namespace {

// What can be known of a file without the library: read, hashed, parsed and figured. Runs on
// several threads at once.
PendingFlight Analyse(const QByteArray &bytes, const QString &file, const QString &source)
{
    PendingFlight pending;
    ImportResult &result = pending.result;
    result.file = file;
    pending.source = source;
    if (bytes.isEmpty()) {
        result.reason = QStringLiteral("empty file");
        return pending;
    }
    pending.sha = Sha256(bytes);
    pending.bytes = bytes.size();
    pending.content = bytes;
    try {
        const FlightData data = ParseFlightData(bytes);
        if (data.FlightRecordCount.value_or(0) == 0)
            result.reason = QStringLiteral("no flight records in it");
        else if (IsCalibration(bytes))
            result.reason = QStringLiteral("a calibration record, not a flight");
        else
            pending.figures = Figure(data);
    } catch (const FlightDataError &error) {
        result.reason = QStringLiteral("not a flight file: ") + error.message();
    }
    if (result.reason.isEmpty())
        result.outcome = ImportResult::Added; // once committed
    return pending;
}

PendingFlight AnalyseFile(const QString &path)
{
    ImportResult skipped;
    skipped.file = path;
    const QFileInfo info(path);
    if (!info.exists()) {
        skipped.reason = QStringLiteral("no such file");
    } else if (!info.isFile()) {
        skipped.reason = QStringLiteral("not a regular file");
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            skipped.reason = QStringLiteral("cannot be read: ") + file.errorString();
        else {
            const QByteArray bytes = file.readAll();
            if (file.error() == QFileDevice::NoError)
                return Analyse(bytes, path, info.absoluteFilePath());
            skipped.reason = QStringLiteral("cannot be read: ") + file.errorString();
        }
    }
    PendingFlight pending;
    pending.result = skipped;
    return pending;
}

} // namespace

ImportResult FlightLibrary::importFile(const QString &path)
{
    ImportResult last;
    importFiles({path}, [&](const ImportResult &r) {
        last = r;
        return true;
    });
    return last;
}

ImportResult FlightLibrary::importBytes(const QByteArray &bytes, const QString &source)
{
    Batch batch;
    accept(batch, Analyse(bytes, source, source));
    ImportResult last;
    commitBatch(batch, [&](const ImportResult &r) {
        last = r;
        return true;
    });
    return last;
}

bool FlightLibrary::importFiles(const QStringList &files, const std::function<bool(const ImportResult &)> &onResult,
                                const std::function<bool()> &stop)
{
    // Files are read and figured a few at a time on every core; the flights then go in by batches,
    // in the files' order: the copies of a batch are written, flushed to the disk together, then its
    // rows committed in one transaction.
    constexpr int kBatchFlights = 64;
    constexpr qint64 kBatchBytes = 32 << 20;
    constexpr qint64 kBatchMs = 250; // so that a large import shows its progress
    const int window = std::max(2, QThread::idealThreadCount()) * 2;
    std::deque<std::future<PendingFlight>> ahead;
    qsizetype next = 0;
    Batch batch;
    QElapsedTimer clock;
    clock.start();
    while (next < files.size() || !ahead.empty()) {
        if (stop && stop()) {
            for (auto &f : ahead)
                f.wait();
            commitBatch(batch, onResult);
            return false;
        }
        while (next < files.size() && qsizetype(ahead.size()) < window)
            ahead.push_back(std::async(std::launch::async, AnalyseFile, files[next++]));
        PendingFlight pending = ahead.front().get();
        ahead.pop_front();
        accept(batch, std::move(pending));
        if (int(batch.flights.size()) >= kBatchFlights || batch.bytes >= kBatchBytes || clock.elapsed() >= kBatchMs) {
            if (!commitBatch(batch, onResult)) {
                for (auto &f : ahead)
                    f.wait();
                return false;
            }
            batch = Batch();
            clock.restart();
        }
    }
    return commitBatch(batch, onResult);
}

void FlightLibrary::accept(Batch &batch, PendingFlight pending)
{
    ImportResult &result = pending.result;
    if (pending.sha.isEmpty()) { // unreadable or empty
        batch.flights.push_back(std::move(pending));
        return;
    }
    // Seen already (in the library, or earlier in this batch): known, and its copy made sure of.
    if (const auto id = knownId(pending.sha)) {
        batch.wroteCopies |= writeCopy(pending.sha, pending.content);
        result = {result.file, ImportResult::Known, *id, {}};
        pending.content.clear();
        batch.flights.push_back(std::move(pending));
        return;
    }
    if (result.outcome != ImportResult::Added) {
        pending.content.clear();
        batch.flights.push_back(std::move(pending));
        return;
    }
    for (const PendingFlight &earlier : batch.flights)
        if (earlier.result.outcome == ImportResult::Added && earlier.sha == pending.sha) {
            result.outcome = ImportResult::Known;
            pending.content.clear();
            batch.flights.push_back(std::move(pending));
            return;
        }
    batch.wroteCopies |= writeCopy(pending.sha, pending.content);
    batch.bytes += pending.bytes;
    batch.flights.push_back(std::move(pending));
}

std::optional<qint64> FlightLibrary::knownId(const QString &sha)
{
    QSqlQuery q = m_db->exec(QStringLiteral("SELECT id FROM flights WHERE sha256 = ?"), {sha});
    if (q.next())
        return q.value(0).toLongLong();
    return std::nullopt;
}

bool FlightLibrary::commitBatch(Batch &batch, const std::function<bool(const ImportResult &)> &onResult)
{
    if (batch.wroteCopies)
        syncCopies();
    const bool adds = std::any_of(batch.flights.begin(), batch.flights.end(), [](const PendingFlight &p) {
        return p.result.outcome == ImportResult::Added;
    });
    if (adds) {
        m_db->beginWrite();
        try {
            QSqlQuery next = m_db->exec(QStringLiteral("SELECT next_id FROM library_info"));
            next.next();
            qint64 id = next.value(0).toLongLong();
            QSqlQuery field(m_db->db());
            field.prepare(QStringLiteral("INSERT INTO flight_fields (flight_id, field, readings, min_value, "
                                         "max_value, mean_value) VALUES (?, ?, ?, ?, ?, ?)"));
            for (PendingFlight &p : batch.flights) {
                if (p.result.outcome != ImportResult::Added)
                    continue;
                if (const auto known = knownId(p.sha)) { // another program added it meanwhile
                    p.result.outcome = ImportResult::Known;
                    p.result.id = *known;
                    continue;
                }
                // A removal by another program meanwhile may have taken the copy: put back, under
                // the lock, before the row.
                if (writeCopy(p.sha, p.content))
                    syncCopies();
                const LibraryFlight &f = p.figures.flight;
                p.result.id = id++;
                m_db->exec(QStringLiteral("INSERT INTO flights (id, sha256, source, imported_at, bytes, first_at, "
                                          "last_at, records, duration_s, egt_max, egt_cyl, cht_max, cht_cyl, "
                                          "egt_spread_max, cht_spread_max, findings) "
                                          "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                           {p.result.id, p.sha, p.source, QDateTime::currentDateTimeUtc().toString(Qt::ISODate),
                            p.bytes, f.first, f.last, f.records, Nullable(f.durationSeconds), Nullable(f.egtMax),
                            Nullable(f.egtCylinder), Nullable(f.chtMax), Nullable(f.chtCylinder),
                            Nullable(f.egtSpreadMax), Nullable(f.chtSpreadMax), f.findings});
                for (const FieldFigures &ff : p.figures.fields) {
                    field.addBindValue(p.result.id);
                    field.addBindValue(ff.field);
                    field.addBindValue(ff.count);
                    field.addBindValue(ff.minimum);
                    field.addBindValue(ff.maximum);
                    field.addBindValue(ff.mean);
                    if (!field.exec())
                        m_db->fail(field.lastError());
                }
            }
            m_db->exec(QStringLiteral("UPDATE library_info SET next_id = ?"), {id});
            m_db->commit();
        } catch (...) {
            m_db->rollback();
            throw;
        }
    }
    // Known flights found earlier in the same batch take the id their first file got.
    for (PendingFlight &p : batch.flights)
        if (p.result.outcome == ImportResult::Known && p.result.id == 0)
            for (const PendingFlight &earlier : batch.flights)
                if (earlier.result.outcome == ImportResult::Added && earlier.sha == p.sha) {
                    p.result.id = earlier.result.id;
                    break;
                }
    for (const PendingFlight &p : batch.flights)
        if (!onResult(p.result))
            return false;
    return true;
}

namespace {

const QString kFlightColumns = QStringLiteral(
    "id, first_at, last_at, records, duration_s, egt_max, egt_cyl, cht_max, cht_cyl, egt_spread_max, "
    "cht_spread_max, findings, sha256, source");

LibraryFlight FlightFromRow(const QSqlQuery &q)
{
    LibraryFlight f;
    f.id = q.value(0).toLongLong();
    f.first = q.value(1).toString();
    f.last = q.value(2).toString();
    f.records = q.value(3).toInt();
    f.durationSeconds = Optional<qint64>(q.value(4));
    f.egtMax = Optional<double>(q.value(5));
    f.egtCylinder = Optional<int>(q.value(6));
    f.chtMax = Optional<double>(q.value(7));
    f.chtCylinder = Optional<int>(q.value(8));
    f.egtSpreadMax = Optional<double>(q.value(9));
    f.chtSpreadMax = Optional<double>(q.value(10));
    f.findings = q.value(11).toInt();
    f.sha256 = q.value(12).toString();
    f.source = q.value(13).toString();
    return f;
}

} // namespace

std::vector<LibraryFlight> FlightLibrary::list()
{
    std::vector<LibraryFlight> flights;
    QSqlQuery q = m_db->exec(QStringLiteral("SELECT ") + kFlightColumns +
                             QStringLiteral(" FROM flights ORDER BY first_at, id"));
    while (q.next())
        flights.push_back(FlightFromRow(q));
    return flights;
}

std::optional<LibraryFlight> FlightLibrary::flight(qint64 id)
{
    QSqlQuery q = m_db->exec(QStringLiteral("SELECT ") + kFlightColumns + QStringLiteral(" FROM flights WHERE id = ?"),
                             {id});
    if (!q.next())
        return std::nullopt;
    return FlightFromRow(q);
}

std::vector<TrendPoint> FlightLibrary::trend(const QString &measure)
{
    if (!IsMeasure(measure))
        throw LibraryError(QStringLiteral("unknown measure %1").arg(measure));
    QSqlQuery q;
    if (kListMeasures.contains(measure)) {
        // The name is one of the list's columns, checked above.
        q = m_db->exec(QStringLiteral("SELECT id, first_at, %1 FROM flights ORDER BY first_at, id").arg(measure));
    } else {
        const qsizetype dot = measure.indexOf(QLatin1Char('.'));
        const int field = measure.mid(5, dot - 5).toInt();
        const QString column = measure.mid(dot + 1) + QStringLiteral("_value");
        q = m_db->exec(QStringLiteral("SELECT f.id, f.first_at, v.%1 FROM flights f LEFT JOIN flight_fields v "
                                      "ON v.flight_id = f.id AND v.field = ? ORDER BY f.first_at, f.id")
                           .arg(column),
                       {field});
    }
    std::vector<TrendPoint> points;
    while (q.next())
        points.push_back({q.value(0).toLongLong(), q.value(1).toString(), Optional<double>(q.value(2))});
    return points;
}

std::optional<QString> FlightLibrary::copyPath(qint64 id)
{
    QSqlQuery q = m_db->exec(QStringLiteral("SELECT sha256 FROM flights WHERE id = ?"), {id});
    if (!q.next())
        return std::nullopt;
    return copyFile(q.value(0).toString());
}

bool FlightLibrary::exportFlight(qint64 id, const QString &fileName)
{
    const auto path = copyPath(id);
    if (!path)
        return false;
    QFile copy(*path);
    if (!copy.open(QIODevice::ReadOnly))
        throw LibraryError(QStringLiteral("cannot read the flight's copy %1: %2").arg(*path, copy.errorString()));
    const QByteArray bytes = copy.readAll();
    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        throw LibraryError(QStringLiteral("cannot write %1: %2").arg(fileName, out.errorString()));
    return true;
}

bool FlightLibrary::remove(qint64 id)
{
    m_db->beginWrite();
    QString sha;
    try {
        QSqlQuery q = m_db->exec(QStringLiteral("SELECT sha256 FROM flights WHERE id = ?"), {id});
        if (!q.next()) {
            m_db->rollback();
            return false;
        }
        sha = q.value(0).toString();
        m_db->exec(QStringLiteral("DELETE FROM flight_fields WHERE flight_id = ?"), {id});
        m_db->exec(QStringLiteral("DELETE FROM flights WHERE id = ?"), {id});
        m_db->commit();
    } catch (...) {
        m_db->rollback();
        throw;
    }
    // The copy goes once the row has gone, under the lock, unless an import of the same bytes has
    // added it again meanwhile (an import makes sure of its copy under the same lock).
    m_db->beginWrite();
    try {
        if (!m_db->exec(QStringLiteral("SELECT id FROM flights WHERE sha256 = ?"), {sha}).next())
            QFile::remove(copyFile(sha));
        m_db->commit();
    } catch (...) {
        m_db->rollback();
        throw;
    }
    return true;
}

} // namespace korvel
