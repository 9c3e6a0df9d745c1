// The flight library's catalogue: made once, its version checked (for a folder and a server alike),
// and brought up to date step by step from an older one.

#include "core/library/FlightLibrary.h"

#include "core/library/CatalogueBackend.h"
#include "core/library/CopyStore.h"
#include "core/library/LibraryFigures.h"
#include "core/library/LibraryImport.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

namespace korvel {

using library_detail::FlightFigures;
using library_detail::Rows;
using library_detail::WriteTransaction;

int FlightLibrary::checkVersion(const QString &name, const QString &advice)
{
    // Exactly one row holding a version this program knows; anything else is no catalogue to
    // write to, nor to bring up to date.
    QVariantList rows;
    {
        Rows q = m_db->exec(QStringLiteral("SELECT schema_version FROM library_info"));
        while (rows.size() < 2 && q.next())
            rows << q.value(0);
    }
    const auto refuse = [&](const QString &why) {
        return LibraryError(
            QStringLiteral("%1 is not a flight library (%2); it was left as it is%3").arg(name, why, advice));
    };
    if (rows.isEmpty())
        throw refuse(QStringLiteral("its version record is missing"));
    bool number = false;
    const int version = rows.size() == 1 ? rows.front().toString().toInt(&number) : 0;
    if (rows.size() > 1)
        throw refuse(QStringLiteral("its version row is damaged: there is more than one"));
    if (!number || version < 1)
        throw refuse(QStringLiteral("its version row is damaged: it holds %1, where versions 1 to %2 are known")
                         .arg(rows.front().isNull() ? QStringLiteral("nothing") : rows.front().toString().left(20))
                         .arg(kSchemaVersion));
    if (version > kSchemaVersion)
        throw LibraryError(QStringLiteral("%1 was written by a newer version of this program (library version %2; "
                                          "this one reads up to %3). Nothing was changed; use the newer program")
                               .arg(name)
                               .arg(version)
                               .arg(kSchemaVersion));
    return version;
}

void FlightLibrary::bringUpToDate(const QString &name, const QString &advice)
{
    WriteTransaction transaction(*m_db);
    // Each step takes a library from one version to the next, all in the transaction that records
    // the new number: a library stopped on the way opens as it was. Another program may have done
    // it meanwhile.
    bool refigure = false;
    for (int from = checkVersion(name, advice); from < kSchemaVersion; ++from)
        refigure = migrate(from) || refigure;
    if (refigure)
        figureAgain();
    m_db->exec(QStringLiteral("UPDATE library_info SET schema_version = ?"), {kSchemaVersion});
    transaction.commit();
    m_version = kSchemaVersion;
}

void FlightLibrary::createCatalogue()
{
    m_db->exec(QStringLiteral("CREATE TABLE library_info (schema_version INTEGER NOT NULL, next_id BIGINT NOT NULL)"));
    m_db->exec(QStringLiteral(
        "CREATE TABLE flights (id BIGINT PRIMARY KEY, sha256 CHAR(64) NOT NULL UNIQUE, source TEXT NOT NULL, "
        "imported_at CHAR(20) NOT NULL, bytes BIGINT NOT NULL, first_at CHAR(19) NOT NULL, "
        "last_at CHAR(19) NOT NULL, records INTEGER NOT NULL, duration_s BIGINT, egt_max DOUBLE PRECISION, "
        "egt_cyl INTEGER, cht_max DOUBLE PRECISION, cht_cyl INTEGER, egt_spread_max DOUBLE PRECISION, "
        "cht_spread_max DOUBLE PRECISION, findings INTEGER NOT NULL, aircraft VARCHAR(16))"));
    m_db->exec(QStringLiteral("CREATE INDEX flights_by_first ON flights (first_at, id)"));
    m_db->exec(QStringLiteral("CREATE INDEX flights_by_aircraft ON flights (aircraft, first_at, id)"));
    m_db->exec(QStringLiteral(
        "CREATE TABLE flight_fields (flight_id BIGINT NOT NULL REFERENCES flights (id), field INTEGER NOT NULL, "
        "readings INTEGER NOT NULL, min_value DOUBLE PRECISION NOT NULL, max_value DOUBLE PRECISION NOT NULL, "
        "mean_value DOUBLE PRECISION NOT NULL, PRIMARY KEY (flight_id, field))"));
    m_db->exec(QStringLiteral("INSERT INTO library_info (schema_version, next_id) VALUES (?, 1)"), {kSchemaVersion});
    m_store->createTables(*m_db);
    m_db->addIndexes();
    m_db->afterCreate();
}

bool FlightLibrary::migrate(int from)
{
    // A step that changes how a flight's figures are worked out asks for them again (true): they
    // are worked out once, after the last step. A new rule of the figures is a version of its own
    // whose step is only that.
    switch (from) {
    case 1:
        // Version 2: the aircraft, and figures without the readings of failing probes.
        m_db->exec(QStringLiteral("ALTER TABLE flights ADD COLUMN aircraft VARCHAR(16)"));
        m_db->exec(QStringLiteral("CREATE INDEX flights_by_aircraft ON flights (aircraft, first_at, id)"));
        return true;
    case 2:
        // Version 3: an intermittent cylinder's dips joined before any is judged a transient.
        return true;
    default:
        throw LibraryError(QStringLiteral("no way known from library version %1").arg(from));
    }
}

void FlightLibrary::figureAgain()
{
    // Every flight's figures from its bytes (read on every core: the lock is held meanwhile).
    std::vector<std::pair<qint64, QString>> rows;
    {
        Rows q = m_db->exec(QStringLiteral("SELECT id, sha256 FROM flights ORDER BY id"));
        while (q.next())
            rows.emplace_back(q.value(0).toLongLong(), q.value(1).toString());
    }
    // A flight whose bytes cannot be had keeps the figures it had.
    std::vector<QString> files(rows.size());
    for (size_t k = 0; k < rows.size(); ++k) {
        try {
            files[k] = m_store->localFile(*m_db, rows[k].second);
        } catch (const LibraryError &) {
        }
    }
    std::vector<std::optional<FlightFigures>> figures(rows.size());
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t k = next++; k < rows.size(); k = next++)
            if (!files[k].isEmpty())
                figures[k] = library_detail::FigureFile(files[k]);
    };
    std::vector<std::thread> threads;
    try {
        for (int t = 1; t < std::max(1, QThread::idealThreadCount()); ++t)
            threads.emplace_back(work);
    } catch (const std::system_error &) {
        // Fewer helpers: this thread does the rest.
    }
    work();
    for (std::thread &t : threads)
        t.join();
    for (size_t k = 0; k < rows.size(); ++k)
        if (figures[k])
            library_detail::StoreFigures(*m_db, rows[k].first, *figures[k], true);
}

} // namespace korvel
