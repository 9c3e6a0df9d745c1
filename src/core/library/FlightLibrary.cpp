// The flight library's face: opening a folder's library (making or migrating its catalogue), the
// queries, and the changes an owner makes. The catalogue's database is the backend's, the flights'
// bytes the copy store's, the import its own unit's.

#include "core/library/FlightLibrary.h"
#include "core/library/LibraryPlace.h"

#include "core/flight/CountText.h"
#include "core/flight/FlightFields.h"
#include "core/library/CatalogueBackend.h"
#include "core/library/CopyStore.h"
#include "core/library/LibraryFigures.h"
#include "core/library/LibraryImport.h"
#include "core/library/ServerLocation.h"
#include "core/platform/Files.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>


namespace korvel {

using library_detail::CatalogueBackend;
using library_detail::CopyStore;
using library_detail::FlightFigures;
using library_detail::FlightStore;
using library_detail::Rows;
using library_detail::WriteTransaction;

namespace {

const QString kCatalogue = QStringLiteral("library.sqlite");
const QString kFlights = QStringLiteral("flights");

template <class T> std::optional<T> Optional(const QVariant &v)
{
    if (v.isNull())
        return std::nullopt;
    return v.value<T>();
}

const QString kFlightColumns =
    QStringLiteral("id, first_at, last_at, records, duration_s, egt_max, egt_cyl, cht_max, cht_cyl, egt_spread_max, "
                   "cht_spread_max, findings, sha256, source, aircraft");

LibraryFlight FlightFromRow(const Rows &q)
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
    f.aircraft = Optional<QString>(q.value(14));
    return f;
}

} // namespace

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
        platform::ListFolderTree(path, found);
        std::sort(found.begin(), found.end());
        files << found;
    }
    return files;
}

QStringList FlightLibrary::Measures()
{
    QStringList measures = library_detail::ListMeasures();
    for (int k = 0; k < kFlightFields; ++k)
        for (const char *stat : {"min", "max", "mean"})
            measures << QStringLiteral("field%1.%2").arg(k).arg(QLatin1String(stat));
    return measures;
}

bool FlightLibrary::IsMeasure(const QString &measure)
{
    return Measures().contains(measure);
}

QString FlightLibrary::Echoed(const QString &text)
{
    constexpr qsizetype kLongest = 40;
    QString out;
    for (const QChar c : text.left(kLongest)) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    if (text.size() > kLongest)
        out += QStringLiteral("...");
    return out;
}

Registration FlightLibrary::CheckRegistration(const QString &text)
{
    const QString given = text.trimmed();
    const QString shown = QLatin1Char('"') + Echoed(given) + QLatin1Char('"');
    if (given.isEmpty())
        return {std::nullopt, QStringLiteral("a registration needs 1 to 16 letters, digits or \"-\"")};
    if (given.size() > 16)
        return {std::nullopt,
                QStringLiteral("%1 is longer than a registration (1 to 16 letters, digits or \"-\")").arg(shown)};
    // Only a to z are upper-cased: a letter of another alphabet is no registration's, however a
    // rule of case would write it.
    QString reg;
    for (const QChar c : given) {
        const char16_t u = c.unicode();
        if (u >= u'a' && u <= u'z')
            reg += QChar(char16_t(u - u'a' + u'A'));
        else if ((u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'-')
            reg += c;
        else
            return {std::nullopt, QStringLiteral("%1 is no registration: it may hold only the letters A to Z, the "
                                                 "digits and \"-\" (such as N123AB or G-ABCD)")
                                      .arg(shown)};
    }
    return {reg, {}};
}

namespace {

// A catalogue with something in it: in its file, or still only in its write-ahead log (a first
// import killed before any checkpoint).
bool HoldsCatalogue(const QString &file)
{
    const QFileInfo catalogue(file);
    return catalogue.isFile() && (catalogue.size() > 0 || QFileInfo(file + QStringLiteral("-wal")).size() > 0);
}

} // namespace

bool FlightLibrary::Exists(const QString &folder)
{
    return HoldsCatalogue(QDir(folder).filePath(kCatalogue));
}

FlightLibrary::FlightLibrary(const QString &folder) : FlightLibrary(folder, Opening::Create) {}

bool FlightLibrary::IsServer(const QString &location)
{
    return library_detail::IsServerUri(location);
}

QString FlightLibrary::Shown(const QString &location)
{
    return LibraryPlace(location).shown();
}

QString FlightLibrary::Describe(const QString &location)
{
    try {
        FlightLibrary library(location, Opening::Existing);
        const qint64 flights = library.m_db->value(QStringLiteral("SELECT COUNT(*) FROM flights")).toLongLong();
        // Read in the library's place dialog: counted as the windows count.
        return QStringLiteral("a flight library (version %1) with %2%3")
            .arg(library.version())
            .arg(CountText(flights, QStringLiteral("flight"), QStringLiteral("flights")),
                 library.readOnly() ? QStringLiteral(", which you may only read") : QString());
    } catch (const LibraryError &error) {
        return error.message();
    }
}

FlightLibrary::FlightLibrary(const QString &folder, Opening opening)
{
    if (IsServer(folder)) {
        openServer(folder, opening);
        return;
    }
    m_folder = QDir(folder).absolutePath();
    open(opening);
}

void FlightLibrary::openServer(const QString &location, Opening opening)
{
    QString why;
    const auto parsed = library_detail::ParseServerUri(location, &why);
    m_folder = Shown(location);
    if (!parsed)
        throw LibraryError(QStringLiteral("%1 is no PostgreSQL URI libpq would take (%2); write it as "
                                          "postgresql://USER@HOST:PORT/DBNAME")
                               .arg(m_folder, why));
    m_store = library_detail::MakeDatabaseStore();
    m_db = library_detail::OpenServerCatalogue(*parsed);
    const QString name = parsed->hostShown() + QLatin1Char('/') + parsed->databaseShown();
    if (!m_db->hasCatalogue()) {
        if (opening != Opening::Init)
            throw LibraryError(QStringLiteral("the database %1 holds no flight library yet; make it once with: "
                                              "korvel-cli library --library %2 init")
                                   .arg(name, m_folder));
        if (!m_db->tables().isEmpty())
            throw LibraryError(QStringLiteral("the database %1 holds other tables, so no flight library was made "
                                              "in it; make one in an empty database")
                                   .arg(name));
        WriteTransaction transaction(*m_db);
        // Another program may have made it meanwhile.
        m_created = !m_db->hasCatalogue();
        if (m_created)
            createCatalogue();
        m_version = checkVersion(name, {});
        transaction.commit();
        return;
    }
    m_version = checkVersion(name, {});
    if (m_version < kSchemaVersion) {
        if (m_db->readOnly())
            throw LibraryError(QStringLiteral("the flight library at %1 was written by an older version and must be "
                                              "brought up to date once by a role that may change it; ask its "
                                              "administrator to run this program on it once")
                                   .arg(name));
        bringUpToDate(name, {});
    }
    if (opening == Opening::Init) {
        // Init run again by the catalogue's owner brings an older catalogue's indexes up to date;
        // anyone else is told it is there, as before.
        try {
            m_db->addIndexes();
        } catch (const LibraryError &) {
        }
    }
}

FlightLibrary::~FlightLibrary() = default;

bool FlightLibrary::readOnly() const
{
    return m_db->readOnly();
}

QString FlightLibrary::flightsFolder() const
{
    return m_folder + QLatin1Char('/') + kFlights;
}

void FlightLibrary::open(Opening opening)
{
    const QString file = m_folder + QLatin1Char('/') + kCatalogue;
    const QFileInfo folderInfo(m_folder);
    if (folderInfo.exists() && !folderInfo.isDir())
        throw LibraryError(
            QStringLiteral("%1 is a file, not a folder; choose a folder for the flight library").arg(m_folder));
    auto folderCopies = std::make_unique<CopyStore>(m_folder, flightsFolder());
    CopyStore *copiesHere = folderCopies.get();
    m_store = std::move(folderCopies);
    const QFileInfo catalogue(file);
    const bool hasCatalogue = HoldsCatalogue(file);
    if (!hasCatalogue) {
        const qsizetype copies = folderInfo.isDir() ? copiesHere->copies().size() : 0;
        if (copies > 0 && opening != Opening::Rebuild)
            throw LibraryError(QStringLiteral("%1 holds the copies of %2 flights in flights/, but its catalogue "
                                              "library.sqlite is %3, so they cannot be listed. Nothing was changed; "
                                              "rebuild the catalogue from the copies: korvel-cli library --library "
                                              "%1 rebuild")
                                   .arg(m_folder)
                                   .arg(copies)
                                   .arg(catalogue.exists() ? QStringLiteral("empty") : QStringLiteral("missing")));
        if (opening == Opening::Rebuild && copies == 0)
            throw LibraryError(QStringLiteral("there is no flight library in %1 to rebuild (no catalogue, and no "
                                              "flight's copy in its flights/ folder); nothing was created. Name the "
                                              "folder that holds library.sqlite and flights/")
                                   .arg(m_folder));
        if (opening == Opening::Existing)
            throw LibraryError(QStringLiteral("there is no flight library in %1 yet; nothing was created. Import "
                                              "flights to start one (korvel-cli library import PATH), or name "
                                              "another library")
                                   .arg(m_folder));
    }
    // A library the user may not change is read as it stands.
    const bool writable = folderInfo.isWritable() && catalogue.isWritable();
    bool readOnly = opening == Opening::Existing && hasCatalogue && !writable;
    if (hasCatalogue && !writable && opening != Opening::Existing)
        throw LibraryError(QStringLiteral("the flight library in %1 can only be read here (its folder or "
                                          "library.sqlite is read-only), so nothing can be added to it; make them "
                                          "writable, or choose another library folder")
                               .arg(m_folder));
    if (!readOnly && !QDir().mkpath(flightsFolder())) {
        QString blocked = m_folder;
        while (!blocked.isEmpty() && !QFileInfo::exists(blocked))
            blocked = QFileInfo(blocked).absolutePath();
        if (QFileInfo(blocked).isFile())
            throw LibraryError(QStringLiteral("cannot make the library folder %1: %2 is a file, not a folder; "
                                              "choose another folder for the flight library")
                                   .arg(m_folder, blocked));
        throw LibraryError(QStringLiteral("cannot make the library folder %1: %2 cannot be written (check its "
                                          "permissions, or choose another folder)")
                               .arg(m_folder, blocked));
    }
    m_created = !hasCatalogue;
    m_db = library_detail::OpenSqliteCatalogue(file, readOnly);
    const auto notALibrary = [&](const QString &why) {
        return LibraryError(QStringLiteral("%1 is not a flight library (%2); it was left as it is. Move it away or "
                                           "choose another library folder")
                                .arg(file, why));
    };
    // Nothing is written before the file is known to be ours (or empty): another program's database,
    // or a text file of that name, stays exactly as it was.
    try {
        m_db->checkReadable();
    } catch (const library_detail::DiskFull &) {
        // A full disk leaves no room for the reader's shared-memory file: a catalogue whose log is
        // empty is read as it stands, so that the owner may still list and export to make room.
        if (opening != Opening::Existing || readOnly || QFileInfo(file + QStringLiteral("-wal")).size() > 0)
            throw;
        readOnly = true;
        m_db = library_detail::OpenSqliteCatalogue(file, true);
        m_db->checkReadable();
    } catch (const LibraryError &error) {
        if (readOnly || QFileInfo(file).isReadable() == false)
            throw LibraryError(
                QStringLiteral("cannot read the flight library in %1: %2").arg(m_folder, error.message()));
        throw notALibrary(error.message());
    }
    const QStringList tables = m_db->tables();
    const QString advice = QStringLiteral(". Move it away or choose another library folder");
    if (!tables.isEmpty() && !tables.contains(QStringLiteral("library_info")))
        throw notALibrary(QStringLiteral("it holds other tables"));
    if (!tables.isEmpty() && (m_version = checkVersion(file, advice)) == kSchemaVersion) {
        if (!readOnly)
            m_db->prepareForWriting();
        return;
    }
    if (readOnly)
        throw LibraryError(QStringLiteral("the flight library in %1 was written by an older version and must be "
                                          "brought up to date once, but it can only be read here; make the folder "
                                          "writable, then try again")
                               .arg(m_folder));
    try {
        m_db->prepareForWriting();
    } catch (const LibraryError &error) {
        throw LibraryError(QStringLiteral("cannot write %1: %2").arg(file, error.message()));
    }
    {
        WriteTransaction transaction(*m_db);
        // Another program may have created it meanwhile.
        if (!m_db->hasCatalogue())
            createCatalogue();
        transaction.commit();
    }
    bringUpToDate(file, advice);
}

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
    return importBytes(bytes, source, std::nullopt);
}

ImportResult FlightLibrary::importBytes(const QByteArray &bytes, const QString &source,
                                        const std::optional<QString> &aircraft)
{
    m_db->checkWritable();
    return library_detail::ImportBytes(*m_db, *m_store, bytes, source, aircraft);
}

bool FlightLibrary::importFiles(const QStringList &files, const std::function<bool(const ImportResult &)> &onResult,
                                const std::function<bool()> &stop)
{
    return importFiles(files, std::nullopt, onResult, stop);
}

bool FlightLibrary::importFiles(const QStringList &files, const std::optional<QString> &aircraft,
                                const std::function<bool(const ImportResult &)> &onResult,
                                const std::function<bool()> &stop)
{
    m_db->checkWritable();
    return library_detail::ImportFiles(*m_db, *m_store, files, aircraft, onResult, stop, false, m_readProgress);
}

bool FlightLibrary::rebuild(const std::function<bool(const ImportResult &)> &onResult)
{
    // The copies are what is being rebuilt from: none goes for want of a row.
    const std::optional<QStringList> sources = m_store->rebuildSources();
    if (!sources)
        throw LibraryError(QStringLiteral("the flight library at %1 keeps every flight's bytes with its row in the "
                                          "database, so there is nothing to rebuild it from")
                               .arg(m_folder));
    if (!library_detail::ImportFiles(*m_db, *m_store, *sources, std::nullopt, onResult, {}, true))
        return false;
    // A listed flight without its copy can no longer be exported: each is named.
    std::vector<std::pair<qint64, QString>> listed;
    {
        Rows q = m_db->exec(QStringLiteral("SELECT id, sha256 FROM flights ORDER BY id"));
        while (q.next())
            listed.emplace_back(q.value(0).toLongLong(), q.value(1).toString());
    }
    for (const auto &[id, sha] : listed)
        if (m_store->copyMissing(sha))
            if (!onResult({QString(), ImportResult::Missing, id, {}}))
                return false;
    return true;
}

std::vector<LibraryFlight> FlightLibrary::flights(const QString &where, const QVariantList &values)
{
    std::vector<LibraryFlight> flights;
    Rows q = m_db->exec(QStringLiteral("SELECT ") + kFlightColumns + QStringLiteral(" FROM flights ") + where +
                                 QStringLiteral(" ORDER BY first_at, id"),
                             values);
    while (q.next())
        flights.push_back(FlightFromRow(q));
    return flights;
}

std::vector<LibraryFlight> FlightLibrary::list()
{
    return flights({}, {});
}

std::vector<LibraryFlight> FlightLibrary::list(const QString &aircraft)
{
    return flights(QStringLiteral("WHERE aircraft = ?"), {aircraft});
}

std::optional<LibraryFlight> FlightLibrary::latest()
{
    Rows q = m_db->exec(QStringLiteral("SELECT ") + kFlightColumns +
                             QStringLiteral(" FROM flights ORDER BY first_at DESC, id DESC LIMIT 1"));
    if (!q.next())
        return std::nullopt;
    LibraryFlight f = FlightFromRow(q);
    q.finish();
    return f;
}

std::optional<LibraryFlight> FlightLibrary::flight(qint64 id)
{
    const auto found = flights(QStringLiteral("WHERE id = ?"), {id});
    if (found.empty())
        return std::nullopt;
    return found.front();
}

std::vector<TrendPoint> FlightLibrary::trend(const QString &measure)
{
    return trendOf(measure, std::nullopt);
}

std::vector<TrendPoint> FlightLibrary::trend(const QString &measure, const QString &aircraft)
{
    return trendOf(measure, aircraft);
}

std::vector<TrendPoint> FlightLibrary::trendOf(const QString &measure, const std::optional<QString> &aircraft)
{
    if (!IsMeasure(measure))
        throw LibraryError(QStringLiteral("unknown measure %1").arg(Echoed(measure)));
    // The column comes from these fixed names, never from the measure's text.
    static const std::pair<const char *, const char *> kListColumns[] = {
        {"records", "records"},  {"duration_s", "duration_s"},         {"egt_max", "egt_max"},
        {"cht_max", "cht_max"},  {"egt_spread_max", "egt_spread_max"}, {"cht_spread_max", "cht_spread_max"},
        {"findings", "findings"}};
    static const std::pair<const char *, const char *> kFieldColumns[] = {
        {"min", "min_value"}, {"max", "max_value"}, {"mean", "mean_value"}};
    const auto columnOf = [&](const auto &table, const QString &name) {
        for (const auto &[key, column] : table)
            if (name == QLatin1String(key))
                return QLatin1String(column);
        throw LibraryError(QStringLiteral("unknown measure %1").arg(Echoed(measure)));
    };
    Rows q;
    QVariantList values;
    if (library_detail::ListMeasures().contains(measure)) {
        QString sql = QStringLiteral("SELECT id, first_at, %1 FROM flights").arg(columnOf(kListColumns, measure));
        if (aircraft) {
            sql += QStringLiteral(" WHERE aircraft = ?");
            values << *aircraft;
        }
        q = m_db->exec(sql + QStringLiteral(" ORDER BY first_at, id"), values);
    } else {
        const qsizetype dot = measure.indexOf(QLatin1Char('.'));
        values << measure.mid(5, dot - 5).toInt();
        QString sql = QStringLiteral("SELECT f.id, f.first_at, v.%1 FROM flights f LEFT JOIN flight_fields v "
                                     "ON v.flight_id = f.id AND v.field = ?")
                          .arg(columnOf(kFieldColumns, measure.mid(dot + 1)));
        if (aircraft) {
            sql += QStringLiteral(" WHERE f.aircraft = ?");
            values << *aircraft;
        }
        q = m_db->exec(sql + QStringLiteral(" ORDER BY f.first_at, f.id"), values);
    }
    std::vector<TrendPoint> points;
    while (q.next())
        points.push_back({q.value(0).toLongLong(), q.value(1).toString(), Optional<double>(q.value(2))});
    return points;
}

std::vector<AircraftSummary> FlightLibrary::aircraft()
{
    std::vector<AircraftSummary> out;
    Rows q = m_db->exec(
        QStringLiteral("SELECT aircraft, COUNT(*), MIN(first_at), MAX(last_at) FROM flights GROUP BY aircraft "
                       "ORDER BY CASE WHEN aircraft IS NULL THEN 1 ELSE 0 END, aircraft"));
    while (q.next())
        out.push_back(
            {Optional<QString>(q.value(0)), q.value(1).toInt(), q.value(2).toString(), q.value(3).toString()});
    return out;
}

QStringList FlightLibrary::registrations()
{
    QStringList regs;
    for (const AircraftSummary &a : aircraft())
        if (a.aircraft)
            regs << *a.aircraft;
    return regs;
}

int FlightLibrary::assign(const QList<qint64> &ids, const std::optional<QString> &aircraft)
{
    m_db->checkWritable();
    int changed = 0;
    library_detail::WriteRetrying(*m_db, [&](WriteTransaction &transaction) {
        changed = 0;
        for (const qint64 id : ids) {
            Rows q = m_db->exec(QStringLiteral("UPDATE flights SET aircraft = ? WHERE id = ?"),
                                     {aircraft ? QVariant(*aircraft) : QVariant(QMetaType::fromType<QString>()), id});
            changed += q.numRowsAffected() > 0 ? 1 : 0;
        }
        transaction.commit();
    });
    return changed;
}

std::optional<QString> FlightLibrary::copyPath(qint64 id)
{
    const QVariant sha = m_db->value(QStringLiteral("SELECT sha256 FROM flights WHERE id = ?"), {id});
    if (!sha.isValid())
        return std::nullopt;
    return m_store->localFile(*m_db, sha.toString());
}

bool FlightLibrary::exportFlight(qint64 id, const QString &fileName)
{
    const QVariant sha = m_db->value(QStringLiteral("SELECT sha256 FROM flights WHERE id = ?"), {id});
    if (!sha.isValid())
        return false;
    // Nothing of the library is ever overwritten by a flight: not its catalogue, nor a copy.
    const QFileInfo target(fileName);
    const QString resolved =
        target.exists() ? target.canonicalFilePath()
                        : QFileInfo(target.absolutePath()).canonicalFilePath() + QLatin1Char('/') + target.fileName();
    if (m_store->containsPath(resolved))
        throw LibraryError(QStringLiteral("%1 lies inside the flight library's folder %2, which only the library "
                                          "itself may change; nothing was written. Choose a file outside it")
                               .arg(fileName, m_folder));
    if (target.exists() && !target.isFile()) {
        const QByteArray bytes = m_store->read(*m_db, sha.toString());
        if (target.isDir())
            throw LibraryError(QStringLiteral("%1 is a folder; name a file to write the flight into").arg(fileName));
        // A pipe or a device is written into as it is, never replaced by a file.
        QFile out(fileName);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || out.write(bytes) != bytes.size())
            throw LibraryError(QStringLiteral("cannot write %1: %2").arg(fileName, out.errorString()));
        return true;
    }
    // Written as it comes, put in place only once whole and checked: a damaged flight leaves nothing.
    QSaveFile out(fileName);
    bool written = out.open(QIODevice::WriteOnly);
    if (written)
        m_store->writeTo(*m_db, sha.toString(),
                         [&](const QByteArray &bytes) { return written = out.write(bytes) == bytes.size(); });
    if (!written || !out.commit())
        throw LibraryError(
            QStringLiteral("cannot write %1: %2; nothing was left there").arg(fileName, out.errorString()));
    return true;
}

bool FlightLibrary::remove(qint64 id)
{
    m_db->checkWritable();
    const qint64 started = QDateTime::currentMSecsSinceEpoch();
    QString sha;
    bool found = false;
    library_detail::WriteRetrying(*m_db, [&](WriteTransaction &transaction) {
        const QVariant kept = m_db->value(QStringLiteral("SELECT sha256 FROM flights WHERE id = ?"), {id});
        found = kept.isValid();
        if (!found)
            return;
        sha = kept.toString();
        // A copy that could not be deleted would stay for ever: the flight stays too.
        if (const QString folder = m_store->readOnlyFolder(); !folder.isEmpty())
            throw LibraryError(QStringLiteral("cannot remove flight %1: the folder %2 is read-only, so its copy "
                                              "could not be deleted. Nothing was changed; make the folder writable, "
                                              "then remove it again")
                                   .arg(id)
                                   .arg(folder));
        m_store->forget(*m_db, sha);
        m_db->exec(QStringLiteral("DELETE FROM flight_fields WHERE flight_id = ?"), {id});
        m_db->exec(QStringLiteral("DELETE FROM flights WHERE id = ?"), {id});
        transaction.commit();
    });
    if (!found)
        return false;
    // An import makes sure of its copy under the same lock as the copy goes.
    const QString left = m_store->dropCopy(*m_db, sha, started);
    if (!left.isEmpty())
        throw LibraryError(QStringLiteral("flight %1 was removed from the list, but its copy could not be deleted "
                                          "(%2); the next import or removal deletes it")
                               .arg(id)
                               .arg(left));
    return true;
}

} // namespace korvel
