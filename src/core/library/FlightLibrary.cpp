#include "core/library/FlightLibrary.h"

#include "core/flight/Findings.h"
#include "core/flight/FlightData.h"
#include "core/flight/FlightStream.h"
#include "core/flight/StartMarker.h"
#include "core/flight/FlightSummary.h"
#include "core/library/Sha256.h"

#include <QAtomicInteger>
#include <QCoreApplication>
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
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <io.h>
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

// A flight's copy in the library's flights/ folder, named by the SHA-256 of its bytes.
QString CopyName(const QString &flightsFolder, const QString &sha)
{
    return flightsFolder + QLatin1Char('/') + sha + QStringLiteral(".txt");
}

template <class T> std::optional<T> Optional(const QVariant &v)
{
    if (v.isNull())
        return std::nullopt;
    return v.value<T>();
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

FlightFigures Figure(const FlightSummary &summary, std::size_t findings)
{
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
    f.findings = int(findings);
    out.fields = summary.fields;
    return out;
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
        untilNotBusy([&] {
            QSqlQuery q(db());
            if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master"))) {
                if (IsBusy(q.lastError()))
                    throw Busy();
                throw LibraryError(q.lastError().databaseText());
            }
        });
    }

    // Write-ahead log: readers never wait for a writer, and a killed writer leaves the last commit.
    void prepareForWriting()
    {
        untilNotBusy([&] { exec(QStringLiteral("PRAGMA journal_mode=WAL")); });
        exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    }

    // Takes the write lock at once (waiting for another writer up to the busy time), so that what the
    // transaction reads is still true when it writes.
    void beginWrite()
    {
        untilNotBusy([&] { exec(QStringLiteral("BEGIN IMMEDIATE")); });
    }
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
        if (IsBusy(error))
            throw Busy();
        throw LibraryError(error.text());
    }

private:
    // Another connection holds the lock this statement needs (said as it is where the step is not
    // tried again).
    struct Busy : LibraryError {
        Busy()
            : LibraryError(QStringLiteral("the flight library is busy: another program is writing to it; try again "
                                          "when it has finished"))
        {
        }
    };

    // SQLITE_BUSY or SQLITE_LOCKED, extended codes included.
    static bool IsBusy(const QSqlError &error)
    {
        bool ok = false;
        const int code = error.nativeErrorCode().toInt(&ok);
        return ok && ((code & 0xff) == 5 || (code & 0xff) == 6);
    }

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
                if (clock.elapsed() >= kBusyWaitMs)
                    break;
            }
            QThread::msleep(ulong(std::min<qint64>(pause, kBusyWaitMs - clock.elapsed() + 1)));
            pause = std::min(pause * 2, 50);
        }
        throw LibraryError(QStringLiteral("the flight library is busy: another program has been writing to it "
                                          "for more than %1 s; try again when it has finished")
                               .arg(kBusyWaitMs / 1000));
    }

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
    return CopyName(flightsFolder(), sha);
}

namespace {

// The reason a copy could not be written, in the system's words where the file layer has none.
QString WriteFailure(const QFile &file, int error)
{
    QString reason = file.errorString();
    // A full disk is often only "Unknown error" to the file layer; the system knows better.
    if ((reason.isEmpty() || reason == QLatin1String("Unknown error") || reason == QLatin1String("No error")) &&
        error != 0)
        reason = QString::fromLocal8Bit(std::strerror(error));
    return reason;
}

[[noreturn]] void CopyFailed(const QString &folder, const QString &reason)
{
    throw LibraryError(QStringLiteral("cannot write the flight's copy in %1: %2. Nothing of this flight was "
                                      "added; free some space or make the folder writable, then import again")
                           .arg(folder, reason));
}

bool CopyWhole(const QString &name, qint64 size)
{
    const QFileInfo info(name);
    return info.exists() && info.size() == size;
}

// A flight's copy on its way: written aside under a name of its own and renamed into place only
// once complete, so that a copy under its final name is always whole. Gone if never placed.
class CopyAside {
public:
    explicit CopyAside(const QString &folder) : m_folder(folder)
    {
        static QAtomicInteger<quint64> serial;
        m_file.setFileName(folder + QStringLiteral("/import-%1-%2.part")
                                        .arg(QCoreApplication::applicationPid())
                                        .arg(serial.fetchAndAddRelaxed(1)));
        errno = 0;
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            fail(errno);
    }
    ~CopyAside()
    {
        if (!m_placed) {
            m_file.close();
            m_file.remove();
        }
    }
    CopyAside(const CopyAside &) = delete;
    CopyAside &operator=(const CopyAside &) = delete;

    void write(const char *bytes, std::size_t size)
    {
        errno = 0;
        if (m_file.write(bytes, qint64(size)) != qint64(size))
            fail(errno);
    }

    // Puts the copy in place under name, unless a whole one is there already (an earlier import's,
    // or another file's with the same bytes). True when this copy went in.
    bool place(const QString &name, qint64 size)
    {
        m_file.close();
        if (m_file.error() != QFileDevice::NoError)
            fail(errno);
        if (CopyWhole(name, size))
            return false;
        if (!m_file.rename(name)) {
            if (CopyWhole(name, size)) // another file of the same bytes went in meanwhile
                return false;
            QFile::remove(name); // a partial left by an older program; ours is whole
            if (!m_file.rename(name))
                fail(0);
        }
        m_placed = true;
        return true;
    }

private:
    [[noreturn]] void fail(int error)
    {
        const QString reason = WriteFailure(m_file, error);
        m_file.close();
        m_file.remove();
        CopyFailed(m_folder, reason);
    }

    QString m_folder;
    QFile m_file;
    bool m_placed = false;
};

// Copies a file to its place in the library when its bytes still hash to sha. False when the file
// changed since it was read.
bool CopyChecked(const QString &path, const QString &sha, const QString &name, qint64 size, const QString &folder)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    CopyAside aside(folder);
    Sha256 hash;
    std::vector<char> buffer(std::size_t(1) << 20);
    qint64 total = 0;
    while (true) {
        const qint64 n = file.read(buffer.data(), qint64(buffer.size()));
        if (n < 0)
            return false;
        if (n == 0)
            break;
        hash.add(buffer.data(), std::size_t(n));
        aside.write(buffer.data(), std::size_t(n));
        total += n;
    }
    if (total != size || hash.hex() != sha)
        return false;
    aside.place(name, size);
    return true;
}

// Parts left by an import that was killed: no import leaves its part untouched for minutes.
void RemoveStaleParts(const QString &folder)
{
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-600);
    const QFileInfoList parts =
        QDir(folder).entryInfoList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &part : parts)
        if (part.lastModified().toUTC() < before)
            QFile::remove(part.filePath());
}

// Puts the named files' bytes on the disk. On Linux one flush of the file system serves them all.
void SyncFiles(const QString &folder, const QStringList &names)
{
#ifdef Q_OS_LINUX
    Q_UNUSED(names);
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
    for (const QString &name : names) {
        QFile f(name);
        if (!f.open(QIODevice::ReadWrite))
            continue;
#ifdef Q_OS_WIN
        ::_commit(f.handle());
#else
        ::fsync(f.handle());
#endif
    }
#ifdef Q_OS_UNIX
    // The renames too: the folder's own entries.
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
#endif
}

} // namespace

QString FlightLibrary::flightsFolder() const
{
    return m_folder + QLatin1Char('/') + kFlights;
}

bool FlightLibrary::writeCopy(const QString &sha, const QByteArray &bytes)
{
    const QString name = copyFile(sha);
    if (CopyWhole(name, bytes.size()))
        return false;
    CopyAside aside(flightsFolder());
    aside.write(bytes.constData(), std::size_t(bytes.size()));
    return aside.place(name, bytes.size());
}

namespace library_detail {

// A flight read and figured, waiting for its batch to be committed.
struct PendingFlight {
    ImportResult result;
    QString sha;
    QString source; // the path first imported, or where a capture came from
    QString origin; // the file read, to copy again should its copy go meanwhile; empty for bytes
    qint64 bytes = 0;
    QByteArray content; // a flight held in memory, kept until its row is in
    FlightFigures figures;
    QString copied;  // the copy written now: on the disk only once synced
    QString failure; // the library could not be written
};

} // namespace library_detail

using library_detail::PendingFlight;

struct FlightLibrary::Batch {
    std::vector<PendingFlight> flights;
    qint64 bytes = 0;
    QStringList copies;
};

namespace {

// Sorts a read file out: skipped with its reason, or a flight with its figures.
void Classify(PendingFlight &pending, qint64 records, bool calibration, const FlightSummary &summary,
              std::size_t findings)
{
    ImportResult &result = pending.result;
    if (pending.bytes == 0)
        result.reason = QStringLiteral("empty file");
    else if (records == 0)
        result.reason = QStringLiteral("no flight records in it");
    else if (calibration)
        result.reason = QStringLiteral("a calibration record, not a flight");
    else {
        pending.figures = Figure(summary, findings);
        result.outcome = ImportResult::Added; // once committed
    }
}

// A flight held in memory (a capture just received).
PendingFlight Analyse(const QByteArray &bytes, const QString &source)
{
    PendingFlight pending;
    pending.result.file = source;
    pending.source = source;
    pending.bytes = bytes.size();
    Sha256 hash;
    hash.add(bytes.constData(), std::size_t(bytes.size()));
    pending.sha = hash.hex();
    pending.content = bytes;
    StartMarker marker;
    marker.add(bytes.constData(), std::size_t(bytes.size()));
    try {
        const FlightData data = ParseFlightData(bytes);
        const FlightSummary summary = SummarizeFlight(data);
        Classify(pending, summary.records, marker.calibration(), summary, FindFlightFindings(data).size());
    } catch (const FlightDataError &error) {
        pending.result.reason = QStringLiteral("not a flight file: ") + error.message();
    }
    return pending;
}

// A file read once, as it goes: hashed, figured and, when it is a flight, copied into the library
// (folder: its flights/) in the same pass. Runs on several threads at once.
PendingFlight AnalyseFile(const QString &path, const QSet<qint64> &keptSizes, const QString &folder)
{
    PendingFlight pending;
    ImportResult &result = pending.result;
    result.file = path;
    const QFileInfo info(path);
    if (!info.exists()) {
        result.reason = QStringLiteral("no such file");
        return pending;
    }
    if (!info.isFile()) {
        result.reason = QStringLiteral("not a regular file");
        return pending;
    }
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            result.reason = QStringLiteral("cannot be read: ") + file.errorString();
            return pending;
        }
    }
    if (info.size() == 0) {
        result.reason = QStringLiteral("empty file");
        return pending;
    }
    pending.source = info.absoluteFilePath();
    pending.origin = path;
    try {
        // Most files are new flights, copied as they are read. A file of the size of a flight already
        // kept is most likely that flight again: it is copied only should its copy prove missing.
        std::optional<CopyAside> aside;
        if (!keptSizes.contains(info.size()))
            aside.emplace(folder);
        Sha256 hash;
        StartMarker marker;
        FlightSummaryBuilder summary;
        FindingsScanner findings;
        qint64 records = 0;
        try {
            StreamFlightDataFile(
                path,
                [&](const FlightRecordBlock &block) {
                    for (int k = 0; k < block.records(); ++k) {
                        const FlightRecord record = block[k];
                        summary.add(record);
                        findings.add(record);
                    }
                    records += block.records();
                },
                [&](const char *bytes, std::size_t size) {
                    // A file with no record in its first buffer's worth, or a calibration record, is
                    // most likely no flight: not copied as it goes (a large one could fill the disk),
                    // only afterwards should it prove one.
                    if (aside && pending.bytes > 0 && (records == 0 || marker.calibration()))
                        aside.reset();
                    hash.add(bytes, size);
                    marker.add(bytes, size);
                    if (aside)
                        aside->write(bytes, size);
                    pending.bytes += qint64(size);
                });
        } catch (const FlightDataError &error) {
            result.reason = QStringLiteral("not a flight file: ") + error.message();
            return pending;
        }
        pending.sha = hash.hex();
        Classify(pending, records, marker.calibration(), summary.finish(), findings.finish().size());
        if (result.outcome != ImportResult::Added)
            return pending;
        const QString name = CopyName(folder, pending.sha);
        if (aside) {
            if (aside->place(name, pending.bytes))
                pending.copied = name;
        } else if (!CopyWhole(name, pending.bytes)) {
            if (!CopyChecked(path, pending.sha, name, pending.bytes, folder)) {
                result = {path, ImportResult::Skipped, 0, QStringLiteral("it changed while it was read; import it again")};
                return pending;
            }
            pending.copied = name;
        }
    } catch (const LibraryError &error) {
        pending.failure = error.message();
    }
    return pending;
}

// Reads and figures the files of an import on every core, a few ahead of the one taken, handing
// them over in the files' order.
class ImportWorkers {
public:
    ImportWorkers(const QStringList &files, std::function<PendingFlight(const QString &)> work)
        : m_files(files), m_work(std::move(work))
    {
        const int threads = int(std::clamp<qsizetype>(QThread::idealThreadCount(), 1, files.size()));
        m_ahead = std::max(4, threads * 2);
        for (int k = 0; k < threads; ++k)
            m_threads.emplace_back([this] { run(); });
    }
    ~ImportWorkers() { stop(); }
    ImportWorkers(const ImportWorkers &) = delete;
    ImportWorkers &operator=(const ImportWorkers &) = delete;

    PendingFlight take(qsizetype index)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [&] { return m_done.count(index) > 0; });
        PendingFlight pending = std::move(m_done[index]);
        m_done.erase(index);
        m_taken = index + 1;
        m_room.notify_all();
        return pending;
    }

    // Lets the files in hand finish and takes no more; hands back those finished but not taken.
    std::vector<PendingFlight> stop()
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stopped = true;
        }
        m_room.notify_all();
        for (std::thread &t : m_threads)
            if (t.joinable())
                t.join();
        std::vector<PendingFlight> left;
        for (auto &[index, pending] : m_done)
            left.push_back(std::move(pending));
        m_done.clear();
        return left;
    }

private:
    void run()
    {
        while (true) {
            qsizetype index = 0;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_room.wait(lock, [&] { return m_stopped || m_next >= m_files.size() || m_next < m_taken + m_ahead; });
                if (m_stopped || m_next >= m_files.size())
                    return;
                index = m_next++;
            }
            PendingFlight pending;
            try {
                pending = m_work(m_files[index]);
            } catch (const std::exception &error) {
                pending.result.file = m_files[index];
                pending.failure = QString::fromLocal8Bit(error.what());
            }
            {
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_done[index] = std::move(pending);
            }
            m_ready.notify_all();
        }
    }

    const QStringList m_files;
    const std::function<PendingFlight(const QString &)> m_work;
    qsizetype m_ahead = 4;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_room;
    std::map<qsizetype, PendingFlight> m_done;
    qsizetype m_next = 0;
    qsizetype m_taken = 0;
    bool m_stopped = false;
    std::vector<std::thread> m_threads;
};

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
    PendingFlight pending = Analyse(bytes, source);
    if (pending.result.outcome == ImportResult::Added) {
        if (writeCopy(pending.sha, pending.content))
            pending.copied = copyFile(pending.sha);
    }
    accept(batch, std::move(pending));
    ImportResult last;
    commitBatch(batch, [&](const ImportResult &r) {
        last = r;
        return true;
    });
    return last;
}

QSet<qint64> FlightLibrary::keptSizes()
{
    QSet<qint64> sizes;
    QSqlQuery q = m_db->exec(QStringLiteral("SELECT DISTINCT bytes FROM flights"));
    while (q.next())
        sizes.insert(q.value(0).toLongLong());
    return sizes;
}

bool FlightLibrary::importFiles(const QStringList &files, const std::function<bool(const ImportResult &)> &onResult,
                                const std::function<bool()> &stop)
{
    // The flights go in by batches, in the files' order: the copies of a batch, written as the files
    // were read, are flushed to the disk together, then its rows committed in one transaction.
    constexpr int kBatchFlights = 64;
    constexpr qint64 kBatchBytes = 32 << 20;
    constexpr qint64 kBatchMs = 250; // so that a large import shows its progress
    if (files.isEmpty())
        return true;
    const QString folder = flightsFolder();
    RemoveStaleParts(folder);
    const QSet<qint64> sizes = keptSizes();
    ImportWorkers workers(files, [&](const QString &path) { return AnalyseFile(path, sizes, folder); });
    // An import ended early: the copies made ahead for files it will not take go, unless their
    // flight is in the library by now (another program's import). Under the lock, as a removal.
    const auto abandon = [&] {
        QStringList shas;
        for (const PendingFlight &p : workers.stop())
            if (!p.copied.isEmpty())
                shas << p.sha;
        if (shas.isEmpty())
            return;
        try {
            m_db->beginWrite();
            for (const QString &sha : shas)
                if (!knownId(sha))
                    QFile::remove(copyFile(sha));
            m_db->commit();
        } catch (const LibraryError &) {
            m_db->rollback(); // they stay, whole, for the next import
        }
    };
    Batch batch;
    QElapsedTimer clock;
    clock.start();
    for (qsizetype next = 0; next < files.size(); ++next) {
        if (stop && stop()) {
            commitBatch(batch, onResult);
            abandon();
            return false;
        }
        PendingFlight pending = workers.take(next);
        if (!pending.failure.isEmpty()) {
            // What is whole so far goes in; the flight that could not be copied does not.
            try {
                commitBatch(batch, onResult);
            } catch (const LibraryError &) {
            }
            abandon();
            throw LibraryError(pending.failure);
        }
        accept(batch, std::move(pending));
        if (int(batch.flights.size()) >= kBatchFlights || batch.bytes >= kBatchBytes || clock.elapsed() >= kBatchMs) {
            if (!commitBatch(batch, onResult)) {
                abandon();
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
    if (!pending.copied.isEmpty())
        batch.copies << pending.copied;
    if (result.outcome != ImportResult::Added) {
        batch.flights.push_back(std::move(pending));
        return;
    }
    // Seen already: in the library, or earlier in this batch.
    if (const auto id = knownId(pending.sha)) {
        result = {result.file, ImportResult::Known, *id, {}};
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
    if (!batch.copies.isEmpty())
        SyncFiles(flightsFolder(), batch.copies);
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
                const QString name = copyFile(p.sha);
                if (!CopyWhole(name, p.bytes)) {
                    const bool copied = p.origin.isEmpty()
                                            ? writeCopy(p.sha, p.content)
                                            : CopyChecked(p.origin, p.sha, name, p.bytes, flightsFolder());
                    if (!copied) {
                        p.result = {p.result.file, ImportResult::Skipped, 0,
                                    QStringLiteral("it changed while it was read; import it again")};
                        continue;
                    }
                    SyncFiles(flightsFolder(), {name});
                }
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
