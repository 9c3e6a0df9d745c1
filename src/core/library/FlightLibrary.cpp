#include "core/library/FlightLibrary.h"

#include "core/flight/Findings.h"
#include "core/flight/FlightData.h"
#include "core/flight/FlightSummary.h"

#include <QAtomicInteger>
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

// What import stores of a flight.
struct FlightFigures {
    LibraryFlight flight;
    std::vector<FieldFigures> fields;
};

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

void SyncFolder(const QString &folder)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
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

void FlightLibrary::writeCopy(const QString &sha, const QByteArray &bytes)
{
    const QString name = copyFile(sha);
    if (QFileInfo(name).size() == bytes.size() && QFileInfo::exists(name))
        return; // written whole by an earlier import (renamed into place only once complete)
    QSaveFile copy(name);
    errno = 0;
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.commit()) {
        const int error = errno;
        QString reason = copy.errorString();
        // A full disk is often only "Unknown error" to the file layer; the system knows better.
        if ((reason.isEmpty() || reason == QLatin1String("Unknown error")) && error != 0)
            reason = QString::fromLocal8Bit(std::strerror(error));
        throw LibraryError(QStringLiteral("cannot write the flight's copy in %1: %2. Nothing of this flight was "
                                          "added; free some space or make the folder writable, then import again")
                               .arg(QFileInfo(name).absolutePath(), reason));
    }
    SyncFolder(QFileInfo(name).absolutePath());
}

ImportResult FlightLibrary::importFile(const QString &path)
{
    ImportResult result;
    result.file = path;
    const QFileInfo info(path);
    if (!info.exists()) {
        result.reason = QStringLiteral("no such file");
        return result;
    }
    if (!info.isFile()) {
        result.reason = QStringLiteral("not a regular file");
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.reason = QStringLiteral("cannot be read: ") + file.errorString();
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.reason = QStringLiteral("cannot be read: ") + file.errorString();
        return result;
    }
    return importChecked(bytes, path, info.absoluteFilePath());
}

ImportResult FlightLibrary::importBytes(const QByteArray &bytes, const QString &source)
{
    return importChecked(bytes, source, source);
}

ImportResult FlightLibrary::importChecked(const QByteArray &bytes, const QString &file, const QString &source)
{
    ImportResult result;
    result.file = file;
    if (bytes.isEmpty()) {
        result.reason = QStringLiteral("empty file");
        return result;
    }
    const QString sha = Sha256(bytes);
    const auto known = [&]() -> std::optional<qint64> {
        QSqlQuery q = m_db->exec(QStringLiteral("SELECT id FROM flights WHERE sha256 = ?"), {sha});
        if (q.next())
            return q.value(0).toLongLong();
        return std::nullopt;
    };
    if (const auto id = known()) {
        writeCopy(sha, bytes); // a copy lost since is put back
        result.outcome = ImportResult::Known;
        result.id = *id;
        return result;
    }

    FlightFigures figures;
    try {
        const FlightData data = ParseFlightData(bytes);
        if (data.FlightRecordCount.value_or(0) == 0) {
            result.reason = QStringLiteral("no flight records in it");
            return result;
        }
        if (IsCalibration(bytes)) {
            result.reason = QStringLiteral("a calibration record, not a flight");
            return result;
        }
        figures = Figure(data);
    } catch (const FlightDataError &error) {
        result.reason = QStringLiteral("not a flight file: ") + error.message();
        return result;
    }

    writeCopy(sha, bytes);
    m_db->beginWrite();
    try {
        if (const auto id = known()) { // another program added it meanwhile
            m_db->rollback();
            result.outcome = ImportResult::Known;
            result.id = *id;
            return result;
        }
        writeCopy(sha, bytes); // a removal meanwhile may have taken the copy
        QSqlQuery next = m_db->exec(QStringLiteral("SELECT next_id FROM library_info"));
        next.next();
        const qint64 id = next.value(0).toLongLong();
        m_db->exec(QStringLiteral("UPDATE library_info SET next_id = ?"), {id + 1});
        const LibraryFlight &f = figures.flight;
        m_db->exec(QStringLiteral("INSERT INTO flights (id, sha256, source, imported_at, bytes, first_at, last_at, "
                                  "records, duration_s, egt_max, egt_cyl, cht_max, cht_cyl, egt_spread_max, "
                                  "cht_spread_max, findings) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                   {id, sha, source, QDateTime::currentDateTimeUtc().toString(Qt::ISODate), qint64(bytes.size()),
                    f.first, f.last, f.records, Nullable(f.durationSeconds), Nullable(f.egtMax),
                    Nullable(f.egtCylinder), Nullable(f.chtMax), Nullable(f.chtCylinder), Nullable(f.egtSpreadMax),
                    Nullable(f.chtSpreadMax), f.findings});
        QSqlQuery field(m_db->db());
        field.prepare(QStringLiteral("INSERT INTO flight_fields (flight_id, field, readings, min_value, max_value, "
                                     "mean_value) VALUES (?, ?, ?, ?, ?, ?)"));
        for (const FieldFigures &ff : figures.fields) {
            field.addBindValue(id);
            field.addBindValue(ff.field);
            field.addBindValue(ff.count);
            field.addBindValue(ff.minimum);
            field.addBindValue(ff.maximum);
            field.addBindValue(ff.mean);
            if (!field.exec())
                m_db->fail(field.lastError());
        }
        m_db->commit();
        result.outcome = ImportResult::Added;
        result.id = id;
        return result;
    } catch (...) {
        m_db->rollback();
        throw;
    }
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
