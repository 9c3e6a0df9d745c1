#include "core/library/LibraryImport.h"

#include "core/flight/FlightStream.h"
#include "core/flight/StartMarker.h"
#include "core/library/CatalogueBackend.h"
#include "core/library/CopyStore.h"
#include "core/library/Sha256.h"
#include "core/platform/Files.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>


namespace korvel::library_detail {

int &ImportThreadsAllowedForTest()
{
    static int allowed = -1;
    return allowed;
}

namespace {

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

QVariant Nullable(const std::optional<QString> &v)
{
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<QString>());
}

// A flight read and figured, waiting for its batch to be committed.
struct PendingFlight {
    ImportResult result;
    QString sha;
    QString source; // the path first imported, or where a capture came from
    QString origin; // the file read, to copy again should its copy go meanwhile; empty for bytes
    qint64 bytes = 0;
    QByteArray content;       // a flight held in memory, kept until its row is in
    QList<QByteArray> packed; // its bytes as the store keeps them, made as it was read
    FlightFigures figures;
    bool copied = false;  // a copy written now: on the disk only once synced
    bool checked = false; // its kept bytes found sound, or written again, as it was read
    bool repair = false;  // a flight kept already whose bytes are to be written again
    QString failure;      // the library could not be written
};

struct Batch {
    std::vector<PendingFlight> flights;
    qint64 bytes = 0;
    QStringList copied; // the names of flights whose bytes were kept ahead
};

// Sorts a read file out: skipped with its reason, or a flight with its figures.
void Classify(PendingFlight &pending, bool calibration, FiguresBuilder &figures)
{
    ImportResult &result = pending.result;
    if (pending.bytes == 0)
        result.reason = QStringLiteral("empty file");
    else if (figures.records() == 0)
        result.reason = QStringLiteral("no flight records in it");
    else if (calibration)
        result.reason = QStringLiteral("a calibration record, not a flight");
    else {
        pending.figures = figures.finish();
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
        FiguresBuilder figures;
        const int records =
            data.FlightRecordCount ? std::clamp(*data.FlightRecordCount, 0, data.FlightRecords.records()) : 0;
        for (int k = 0; k < records; ++k)
            figures.add(data.FlightRecords[k]);
        Classify(pending, marker.calibration(), figures);
    } catch (const FlightDataError &error) {
        pending.result.reason = QStringLiteral("not a flight file: ") + error.message();
    }
    return pending;
}

// Why a path named for import cannot be read, in the system's words; empty when it can.
QString Unreadable(const QString &path, const QFileInfo &info)
{
    if (path.contains(QChar::ReplacementCharacter) && !info.exists())
        return QStringLiteral("its name is not valid UTF-8, so it cannot be opened by name; rename it, then import it");
    if (info.isDir()) {
        if (!QDir(path).isReadable())
            return QStringLiteral("a folder that cannot be read (check its permissions)");
        return QStringLiteral("a folder that cannot be read");
    }
    if (const QString problem = platform::OpenProblem(path); !problem.isEmpty())
        return problem;
    if (!info.exists())
        return QStringLiteral("no such file");
    if (!info.isFile())
        return QStringLiteral("not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read: ") + file.errorString();
    return {};
}

// A file read once, as it goes: hashed, figured and, when it is a flight, copied into the library in
// the same pass. Runs on several threads at once.
// fromCopies: the file is the library's own copy (a rebuild), named by the hash its bytes must have.
PendingFlight AnalyseFile(const QString &path, const QSet<qint64> &keptSizes, const FlightStore &store, bool fromCopies,
                          const ReadSink &onRead)
{
    PendingFlight pending;
    ImportResult &result = pending.result;
    result.file = path;
    const QFileInfo info(path);
    if (const QString why = Unreadable(path, info); !why.isEmpty()) {
        result.reason = why;
        return pending;
    }
    if (info.size() == 0) {
        result.reason = QStringLiteral("empty file");
        return pending;
    }
    pending.source = info.absoluteFilePath();
    pending.origin = path;
    try {
        // A file of the size of a flight already kept is most likely that flight again.
        const std::unique_ptr<KeptAsRead> kept =
            store.keepAsRead(info.size(), keptSizes.contains(info.size()), fromCopies);
        Sha256 hash;
        StartMarker marker;
        FiguresBuilder figures;
        try {
            StreamFlightDataFile(
                path,
                [&](const FlightRecordBlock &block) { figures.add(block); },
                [&](const char *bytes, std::size_t size) {
                    // A file with no record in its first buffer's worth, or a calibration record, is
                    // most likely no flight.
                    if (pending.bytes > 0 && (figures.records() == 0 || marker.calibration()))
                        kept->drop();
                    hash.add(bytes, size);
                    marker.add(bytes, size);
                    kept->add(bytes, size);
                    pending.bytes += qint64(size);
                    if (onRead)
                        onRead(qint64(size));
                });
        } catch (const FlightDataError &error) {
            result.reason = QStringLiteral("not a flight file: ") + error.message();
            return pending;
        }
        pending.sha = hash.hex();
        if (fromCopies && info.completeBaseName() != pending.sha) {
            result.outcome = ImportResult::Damaged;
            return pending;
        }
        Classify(pending, marker.calibration(), figures);
        if (result.outcome != ImportResult::Added)
            return pending;
        KeptAsRead::Outcome outcome = kept->finish(path, pending.sha, pending.bytes);
        if (outcome.changed) {
            result = {path, ImportResult::Skipped, 0, QStringLiteral("it changed while it was read; import it again")};
            return pending;
        }
        pending.copied = outcome.copied;
        pending.checked = outcome.checked;
        pending.packed = std::move(outcome.packed);
    } catch (const LibraryError &error) {
        pending.failure = error.message();
    }
    return pending;
}

// Reads and figures the files of an import on every core, a few ahead of the one taken, handing
// them over in the files' order.
class ImportWorkers {
public:
    // ahead: how many files may be read beyond the one taken (at least a few per thread); heldBytes:
    // how much of their packed bytes may wait in memory meanwhile.
    ImportWorkers(const QStringList &files, std::function<PendingFlight(const QString &)> work, int ahead = 0,
                  qint64 heldBytes = 0)
        : m_files(files), m_work(std::move(work)), m_heldLimit(heldBytes)
    {
        int threads = int(std::clamp<qsizetype>(QThread::idealThreadCount(), 1, files.size()));
        if (ImportThreadsAllowedForTest() >= 0) // one more than the system will give
            threads = std::max(threads, ImportThreadsAllowedForTest() + 1);
        m_ahead = std::max({4, threads * 2, ahead});
        try {
            for (int k = 0; k < threads; ++k) {
                if (ImportThreadsAllowedForTest() >= 0 && k >= ImportThreadsAllowedForTest())
                    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
                m_threads.emplace_back([this] { run(); });
            }
        } catch (const std::system_error &error) {
            // Those started are joined before the import says why it cannot go on.
            stop();
            throw LibraryError(QStringLiteral("cannot start the import (%1); close some programs, then import again")
                                   .arg(QString::fromLocal8Bit(error.what())));
        }
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
        m_held -= PackedSize(pending);
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
                // The next file to be taken is always read, whatever is held.
                m_room.wait(lock, [&] {
                    return m_stopped || m_next >= m_files.size() ||
                           (m_next < m_taken + m_ahead && (m_heldLimit <= 0 || m_held < m_heldLimit)) ||
                           m_next == m_taken;
                });
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
                m_held += PackedSize(pending);
                m_done[index] = std::move(pending);
            }
            m_ready.notify_all();
        }
    }

    static qint64 PackedSize(const PendingFlight &pending)
    {
        qint64 size = 0;
        for (const QByteArray &part : pending.packed)
            size += part.size();
        return size;
    }

    const QStringList m_files;
    const std::function<PendingFlight(const QString &)> m_work;
    qsizetype m_ahead = 4;
    const qint64 m_heldLimit;
    qint64 m_held = 0;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_room;
    std::map<qsizetype, PendingFlight> m_done;
    qsizetype m_next = 0;
    qsizetype m_taken = 0;
    bool m_stopped = false;
    std::vector<std::thread> m_threads;
};

std::optional<qint64> KnownId(CatalogueBackend &db, const QString &sha)
{
    const QVariant id = db.value(QStringLiteral("SELECT id FROM flights WHERE sha256 = ?"), {sha});
    if (!id.isValid() || id.isNull())
        return std::nullopt;
    return id.toLongLong();
}

// The sizes of the flights kept: a file of another size is no flight already in the library.
QSet<qint64> KeptSizes(CatalogueBackend &db)
{
    QSet<qint64> sizes;
    Rows q = db.exec(QStringLiteral("SELECT DISTINCT bytes FROM flights"));
    while (q.next())
        sizes.insert(q.value(0).toLongLong());
    return sizes;
}

// The ids of those of shas the catalogue holds, in as few statements as it takes.
QHash<QString, qint64> KnownIds(CatalogueBackend &db, const QStringList &shas)
{
    QHash<QString, qint64> known;
    const qsizetype perStatement = db.valuesPerStatement();
    for (qsizetype at = 0; at < shas.size(); at += perStatement) {
        const QStringList some = shas.mid(at, perStatement);
        QString sql = QStringLiteral("SELECT sha256, id FROM flights WHERE sha256 IN (");
        QVariantList values;
        for (const QString &sha : some) {
            sql += values.isEmpty() ? QStringLiteral("?") : QStringLiteral(", ?");
            values << sha;
        }
        Rows q = db.exec(sql + QLatin1Char(')'), values);
        while (q.next())
            known.insert(q.value(0).toString(), q.value(1).toLongLong());
        q.finish();
    }
    return known;
}

// The fields' figures of many flights, in as few statements as it takes.
void InsertFields(CatalogueBackend &db, const std::vector<std::pair<qint64, const FlightFigures *>> &flights)
{
    const qsizetype perStatement = std::max(6, db.valuesPerStatement());
    const QString head = QStringLiteral("INSERT INTO flight_fields (flight_id, field, readings, min_value, max_value, "
                                        "mean_value) VALUES ");
    QString sql = head;
    QVariantList values;
    const auto flush = [&] {
        if (values.isEmpty())
            return;
        db.exec(sql, values);
        sql = head;
        values.clear();
    };
    for (const auto &[id, figures] : flights)
        for (const FieldFigures &ff : figures->fields) {
            sql += values.isEmpty() ? QStringLiteral("(?, ?, ?, ?, ?, ?)") : QStringLiteral(", (?, ?, ?, ?, ?, ?)");
            values << id << ff.field << ff.count << ff.minimum << ff.maximum << ff.mean;
            if (values.size() + 6 > perStatement)
                flush();
        }
    flush();
}

// The rows of one batch, in one transaction, once its copies are on the disk.
class Committer {
public:
    Committer(CatalogueBackend &db, FlightStore &store, const std::optional<QString> &aircraft)
        : m_db(db), m_store(store), m_aircraft(aircraft)
    {
    }

    void accept(Batch &batch, PendingFlight pending)
    {
        if (pending.copied)
            batch.copied << pending.sha;
        if (pending.result.outcome == ImportResult::Added)
            batch.bytes += pending.bytes;
        batch.flights.push_back(std::move(pending));
    }

    bool commit(Batch &batch, const ImportSink &onResult)
    {
        if (!batch.copied.isEmpty())
            m_store.settle(batch.copied);
        // Those in the library already need no lock: found in one look before it is taken.
        if (markKnown(batch, true) ||
            std::any_of(batch.flights.begin(), batch.flights.end(), [](const PendingFlight &p) { return p.repair; })) {
            // Should the server undo the transaction, it is run again from the outcomes found so far.
            std::vector<ImportResult> found;
            for (const PendingFlight &p : batch.flights)
                found.push_back(p.result);
            WriteRetrying(m_db, [&](WriteTransaction &transaction) {
                for (std::size_t k = 0; k < found.size(); ++k)
                    batch.flights[k].result = found[k];
                write(batch, transaction);
            });
        }
        batch.copied.clear();
        for (const PendingFlight &p : batch.flights)
            if (!onResult(p.result))
                return false;
        return true;
    }

private:
    // The batch's rows in the transaction, and its commit.
    void write(Batch &batch, WriteTransaction &transaction)
    {
        qint64 id = m_db.value(QStringLiteral("SELECT next_id FROM library_info")).toLongLong();
        // Another program may have added some meanwhile.
        markKnown(batch, false);
        QHash<QString, qint64> added; // an identical file earlier in this batch
        std::vector<std::pair<qint64, const FlightFigures *>> fields;
        for (PendingFlight &p : batch.flights) {
            if (p.repair && p.result.outcome == ImportResult::Known) {
                // Its row stays as it is (its id, its aircraft); only its bytes go in again.
                m_store.forget(m_db, p.sha);
                if (m_store.keep(m_db, p.sha, p.bytes, p.origin, p.content, p.packed))
                    p.result.outcome = ImportResult::Repaired;
                else
                    p.result = {p.result.file, ImportResult::Skipped, 0,
                                QStringLiteral("it changed while it was read; import it again")};
                continue;
            }
            if (p.result.outcome != ImportResult::Added)
                continue;
            if (const auto same = added.constFind(p.sha); same != added.cend()) {
                p.result.outcome = ImportResult::Known;
                p.result.id = *same;
                continue;
            }
            if (!m_store.keep(m_db, p.sha, p.bytes, p.origin, p.content, p.packed)) {
                p.result = {p.result.file, ImportResult::Skipped, 0,
                            QStringLiteral("it changed while it was read; import it again")};
                continue;
            }
            // Insert-if-absent: should another program's import of the same bytes have won
            // after all, its id is the flight's.
            const LibraryFlight &f = p.figures.flight;
            const Rows inserted = m_db.exec(
                QStringLiteral("INSERT INTO flights (id, sha256, source, imported_at, bytes, first_at, last_at, "
                               "records, duration_s, egt_max, egt_cyl, cht_max, cht_cyl, egt_spread_max, "
                               "cht_spread_max, findings, aircraft) "
                               "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                               "ON CONFLICT (sha256) DO NOTHING"),
                {id, p.sha, p.source, QDateTime::currentDateTimeUtc().toString(Qt::ISODate), p.bytes, f.first,
                 f.last, f.records, Nullable(f.durationSeconds), Nullable(f.egtMax), Nullable(f.egtCylinder),
                 Nullable(f.chtMax), Nullable(f.chtCylinder), Nullable(f.egtSpreadMax), Nullable(f.chtSpreadMax),
                 f.findings, Nullable(m_aircraft)});
            if (inserted.numRowsAffected() == 0) {
                if (const auto known = KnownId(m_db, p.sha)) {
                    p.result.outcome = ImportResult::Known;
                    p.result.id = *known;
                    continue;
                }
            }
            p.result.id = id++;
            added.insert(p.sha, p.result.id);
            fields.emplace_back(p.result.id, &p.figures);
        }
        InsertFields(m_db, fields);
        m_db.exec(QStringLiteral("UPDATE library_info SET next_id = ?"), {id});
        transaction.commit();
    }

    // Marks the batch's flights the catalogue holds already as known; true when any is left to add.
    // release: their bytes are let go (not in a transaction that may be run again).
    bool markKnown(Batch &batch, bool release)
    {
        QStringList shas;
        for (const PendingFlight &p : batch.flights)
            if (p.result.outcome == ImportResult::Added)
                shas << p.sha;
        if (shas.isEmpty())
            return false;
        const QHash<QString, qint64> known = KnownIds(m_db, shas);
        bool adds = false;
        for (PendingFlight &p : batch.flights) {
            if (p.result.outcome != ImportResult::Added)
                continue;
            if (const auto id = known.constFind(p.sha); id != known.cend()) {
                p.result.outcome = ImportResult::Known;
                p.result.id = *id;
                // A copy written again as the file was read mended the flight; bytes not looked at
                // then are looked at now, once, and written again should they be damaged.
                if (p.copied && p.checked)
                    p.result.outcome = ImportResult::Repaired;
                else if (release && !p.checked)
                    p.repair = !m_store.holdsWhole(m_db, p.sha, p.bytes);
                if (release && !p.repair) {
                    p.content.clear();
                    p.packed.clear();
                }
            } else {
                adds = true;
            }
        }
        return adds;
    }

    CatalogueBackend &m_db;
    FlightStore &m_store;
    const std::optional<QString> &m_aircraft;
};

} // namespace

void StoreFigures(CatalogueBackend &db, qint64 id, const FlightFigures &figures, bool replace)
{
    const LibraryFlight &f = figures.flight;
    db.exec(QStringLiteral("UPDATE flights SET first_at = ?, last_at = ?, records = ?, duration_s = ?, egt_max = ?, "
                           "egt_cyl = ?, cht_max = ?, cht_cyl = ?, egt_spread_max = ?, cht_spread_max = ?, "
                           "findings = ? WHERE id = ?"),
            {f.first, f.last, f.records, Nullable(f.durationSeconds), Nullable(f.egtMax), Nullable(f.egtCylinder),
             Nullable(f.chtMax), Nullable(f.chtCylinder), Nullable(f.egtSpreadMax), Nullable(f.chtSpreadMax),
             f.findings, id});
    if (replace)
        db.exec(QStringLiteral("DELETE FROM flight_fields WHERE flight_id = ?"), {id});
    InsertFields(db, {{id, &figures}});
}

std::optional<FlightFigures> FigureFile(const QString &path)
{
    FiguresBuilder figures;
    StartMarker marker;
    try {
        StreamFlightDataFile(
            path,
            [&](const FlightRecordBlock &block) { figures.add(block); },
            [&](const char *bytes, std::size_t size) { marker.add(bytes, size); });
    } catch (const FlightDataError &) {
        return std::nullopt;
    }
    if (figures.records() == 0 || marker.calibration())
        return std::nullopt;
    return figures.finish();
}

bool ImportFiles(CatalogueBackend &db, FlightStore &store, const QStringList &files,
                 const std::optional<QString> &aircraft, const ImportSink &onResult, const std::function<bool()> &stop,
                 bool fromCopies, const ReadSink &onRead)
{
    // The flights go in by batches, in the files' order: the copies of a batch, written as the files
    // were read, are flushed to the disk together, then its rows committed in one transaction.
    constexpr int kBatchFlights = 64;
    constexpr qint64 kBatchMs = 250; // so that a large import shows its progress
    if (files.isEmpty())
        return true;
    const qint64 started = QDateTime::currentMSecsSinceEpoch();
    const ImportPace pace = store.importPace();
    store.beforeImport(started);
    const QSet<qint64> sizes = KeptSizes(db);
    Committer committer(db, store, aircraft);
    Batch batch;
    // Bytes packed ahead wait while a batch is committed, a batch's worth at most.
    ImportWorkers workers(
        files, [&](const QString &path) { return AnalyseFile(path, sizes, store, fromCopies, onRead); },
        pace.heldBytes > 0 ? kBatchFlights : 0, pace.heldBytes);

    // However the import ends, the copies it made whose rows are not in go (unless their flight is
    // in by now: another program's import), under the lock as a removal; and so do the copies no
    // row names that were there before it began (a killed import's), and its own parts.
    bool clean = false;
    // After a failure (a busy library among them) the lock is not waited for again: what is left
    // stays, whole, for the next import to clear.
    const auto tidy = [&](WriteTransaction::Wait wait = WriteTransaction::WaitForLock) {
        QStringList shas;
        for (const PendingFlight &p : workers.stop())
            if (p.copied)
                shas << p.sha;
        for (const PendingFlight &p : batch.flights)
            if (p.copied)
                shas << p.sha;
        store.tidyAfterImport(db, shas, fromCopies, started, wait == WriteTransaction::AtOnce);
        clean = true;
    };
    struct Tidy {
        std::function<void(WriteTransaction::Wait)> run;
        bool &done;
        ~Tidy()
        {
            if (!done)
                run(std::uncaught_exceptions() > 0 ? WriteTransaction::AtOnce : WriteTransaction::WaitForLock);
        }
    } guard{tidy, clean};

    QElapsedTimer clock;
    clock.start();
    for (qsizetype next = 0; next < files.size(); ++next) {
        if (stop && stop()) {
            committer.commit(batch, onResult);
            batch = Batch();
            tidy();
            return false;
        }
        PendingFlight pending = workers.take(next);
        if (!pending.failure.isEmpty()) {
            // What is whole so far goes in; the flight that could not be copied does not.
            try {
                committer.commit(batch, onResult);
                batch = Batch();
            } catch (const LibraryError &) {
            }
            tidy();
            throw LibraryError(pending.failure);
        }
        committer.accept(batch, std::move(pending));
        if (int(batch.flights.size()) >= kBatchFlights || batch.bytes >= pace.batchBytes ||
            clock.elapsed() >= kBatchMs) {
            const bool goOn = committer.commit(batch, onResult);
            batch = Batch();
            if (!goOn) {
                tidy();
                return false;
            }
            clock.restart();
        }
    }
    const bool done = committer.commit(batch, onResult);
    batch = Batch();
    tidy();
    return done;
}

ImportResult ImportBytes(CatalogueBackend &db, FlightStore &store, const QByteArray &bytes, const QString &source,
                         const std::optional<QString> &aircraft)
{
    Committer committer(db, store, aircraft);
    Batch batch;
    PendingFlight pending = Analyse(bytes, source);
    if (pending.result.outcome == ImportResult::Added)
        pending.checked = store.keepAhead(pending.sha, pending.content, pending.copied);
    const QString sha = pending.sha;
    const bool copied = pending.copied;
    committer.accept(batch, std::move(pending));
    ImportResult last;
    try {
        committer.commit(batch, [&](const ImportResult &r) {
            last = r;
            return true;
        });
    } catch (...) {
        // The copy made for a row that did not go in goes, unless its flight is in by now.
        if (copied)
            store.dropAhead(db, sha);
        throw;
    }
    return last;
}

} // namespace korvel::library_detail
