#include "paint/ReportWriter.h"

#include "core/flight/FlightStream.h"
#include "core/flight/StartMarker.h"
#include "core/library/FlightLibrary.h"
#include "core/library/LibraryFigures.h"
#include "core/library/Sha256.h"
#include "paint/ReportCard.h"

#include <QFileInfo>
#include <QHash>
#include <QPainter>
#include <QSet>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace korvel {

namespace {

// Hands chunks of work from the thread that reads the file to one that works on them: a few chunks go
// back and forth, so the two overlap while memory stays a few chunks' worth whatever the flight's length.
template <class Chunk>
class Relay {
public:
    explicit Relay(std::size_t chunkSize) : m_free(4)
    {
        for (Chunk &chunk : m_free)
            chunk.reserve(chunkSize);
    }

    // An empty chunk to fill, once the worker has given one back.
    Chunk emptyChunk()
    {
        Chunk chunk = *take(m_free, false);
        chunk.clear();
        return chunk;
    }
    void send(Chunk chunk) { put(m_full, std::move(chunk)); }
    // The next full chunk, or nothing once the reader is done and every chunk is worked.
    std::optional<Chunk> receive() { return take(m_full, true); }
    void giveBack(Chunk chunk) { put(m_free, std::move(chunk)); }
    // Runs work on each chunk sent, on a thread of its own, until close.
    void start(std::function<void(const Chunk &)> work)
    {
        m_worker = std::thread([this, work = std::move(work)] {
            while (std::optional<Chunk> chunk = receive()) {
                work(*chunk);
                giveBack(std::move(*chunk));
            }
        });
    }
    // Waits until every chunk sent is worked.
    void close()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
        if (m_worker.joinable())
            m_worker.join();
    }
    ~Relay() { close(); }

private:
    void put(std::deque<Chunk> &queue, Chunk chunk)
    {
        {
            const std::lock_guard lock(m_mutex);
            queue.push_back(std::move(chunk));
        }
        m_changed.notify_all();
    }
    std::optional<Chunk> take(std::deque<Chunk> &queue, bool untilDone)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !queue.empty() || (untilDone && m_done); });
        if (queue.empty())
            return std::nullopt;
        Chunk chunk = std::move(queue.front());
        queue.pop_front();
        return chunk;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Chunk> m_free, m_full;
    bool m_done = false;
    std::thread m_worker;
};

constexpr std::size_t kChunkRecords = 4096;
constexpr std::size_t kChunkBytes = std::size_t(1) << 20;

} // namespace

std::optional<FlightReportInput> ReadFlightForReport(const QString &path, const FindingRules &rules, int columns,
                                                     QString *error)
{
    FlightReportInput in;
    in.sketch = std::make_unique<FlightSketch>(columns);
    library_detail::FiguresBuilder figures;
    // The figures find by the default rules already; only other limits need a scan of their own.
    const bool ownRules = rules.chtLimit != FindingRules{}.chtLimit;
    FindingsScanner scanner(rules);
    StartMarker marker;
    Sha256 sha;
    // Three threads: this one reads the file and gathers the charts, one works out the figures and
    // findings, one hashes the bytes.
    Relay<std::vector<RecordReadings>> records(kChunkRecords);
    records.start([&](const std::vector<RecordReadings> &chunk) {
        for (const RecordReadings &record : chunk) {
            figures.add(record);
            if (ownRules)
                scanner.add(record);
        }
    });
    Relay<std::vector<char>> bytes(kChunkBytes);
    bytes.start([&](const std::vector<char> &chunk) {
        marker.add(chunk.data(), chunk.size());
        sha.add(chunk.data(), chunk.size());
    });
    std::vector<RecordReadings> recordChunk = records.emptyChunk();
    try {
        StreamFlightDataFile(
            path,
            [&](const FlightRecordBlock &block) {
                for (int k = 0; k < block.records(); ++k) {
                    RecordReadings &record = recordChunk.emplace_back();
                    ReadRecord(block[k], record);
                    in.sketch->add(record);
                    if (recordChunk.size() == kChunkRecords) {
                        records.send(std::move(recordChunk));
                        recordChunk = records.emptyChunk();
                    }
                }
            },
            [&](const char *data, std::size_t size) {
                while (size > 0) {
                    std::vector<char> piece = bytes.emptyChunk();
                    const std::size_t n = std::min(size, kChunkBytes);
                    piece.assign(data, data + n);
                    bytes.send(std::move(piece));
                    data += n;
                    size -= n;
                }
            });
    } catch (const FlightDataError &e) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, e.message());
        return std::nullopt;
    }
    records.send(std::move(recordChunk));
    records.close();
    bytes.close();
    if (marker.calibration()) {
        *error = QStringLiteral("%1 holds a calibration record, not a flight: there is nothing to report").arg(path);
        return std::nullopt;
    }
    if (figures.records() == 0) {
        *error = QStringLiteral("%1 holds no flight record: there is nothing to report").arg(path);
        return std::nullopt;
    }
    library_detail::FlightFigures f = figures.finish();
    FlightReport &r = in.report;
    r.fileName = QFileInfo(path).fileName();
    r.sha256 = sha.hex();
    r.records = f.flight.records;
    r.first = FlightMoment{QDate::fromString(f.flight.first.left(10), Qt::ISODate),
                           QTime::fromString(f.flight.first.mid(11), QStringLiteral("HH:mm:ss"))};
    r.last = FlightMoment{QDate::fromString(f.flight.last.left(10), Qt::ISODate),
                          QTime::fromString(f.flight.last.mid(11), QStringLiteral("HH:mm:ss"))};
    r.durationSeconds = f.flight.durationSeconds;
    r.cylinders = f.cylinders;
    r.egtSpread = f.egtSpread;
    r.chtSpread = f.chtSpread;
    r.findings = ownRules ? scanner.finish() : std::move(f.findingList);
    r.rules = rules;
    r.sketch = in.sketch.get();
    return in;
}

bool WriteFlightReports(const std::vector<ReportFlight> &flights, const QString &outFile, const FindingRules &rules,
                        QString *error, const std::function<bool(int done)> &progress)
{
    for (const ReportFlight &flight : flights)
        if (QFileInfo(outFile).exists() && QFileInfo(outFile).canonicalFilePath() == QFileInfo(flight.path).canonicalFilePath()) {
            *error = QStringLiteral("%1 is the flight itself; name another file for its report").arg(outFile);
            return false;
        }
    // The file is made first, so one that cannot be written is said before a long read.
    ReportPdf pdf;
    if (!pdf.open(outFile, flights.size() == 1 ? QStringLiteral("Flight report") : QStringLiteral("Flight reports"),
                  error)) {
        *error += QStringLiteral("; choose another file");
        return false;
    }
    const int columns = SketchColumns(ReportChartArea(pdf.page()));
    int done = 0;
    for (const ReportFlight &flight : flights) {
        auto in = ReadFlightForReport(flight.path, rules, columns, error);
        if (!in) {
            pdf.cancel();
            return false;
        }
        if (!flight.expectedSha256.isEmpty() && in->report.sha256 != flight.expectedSha256) {
            pdf.cancel();
            *error = QStringLiteral("the library's copy of flight %1 is damaged (its SHA-256 no longer matches); "
                                    "import the flight's file again")
                         .arg(flight.libraryId);
            return false;
        }
        in->report.aircraft = flight.aircraft;
        if (!flight.shownName.isEmpty())
            in->report.fileName = flight.shownName;
        PaintFlightReport(pdf.nextPage(), pdf.page(), in->report);
        if (progress && !progress(++done)) {
            pdf.cancel();
            error->clear();
            return false;
        }
    }
    return pdf.commit(error);
}

bool WriteReportCard(const QString &folder, const QString &aircraft, int flights, const QString &outFile,
                     QString *error)
{
    ReportCardPage card;
    card.aircraft = aircraft;
    try {
        FlightLibrary library(folder, FlightLibrary::Opening::Existing);
        std::vector<LibraryFlight> own = library.list(aircraft);
        if (own.empty()) {
            *error = QStringLiteral("no flight of aircraft %1 in the flight library %2; its aircraft are: %3")
                         .arg(aircraft, library.folder(),
                              library.registrations().isEmpty() ? QStringLiteral("none")
                                                                : library.registrations().join(QStringLiteral(", ")));
            return false;
        }
        if (int(own.size()) > flights)
            own.erase(own.begin(), own.end() - flights);
        card.flights = int(own.size());
        card.first = own.front().first.left(10);
        card.last = own.back().last.left(10);
        QHash<qint64, QString> month; // of the flights drawn
        for (const LibraryFlight &f : own)
            month.insert(f.id, f.first.left(7));
        // The fleet: every flight of another aircraft (those without one belong to none).
        QSet<qint64> fleet;
        QSet<QString> others;
        for (const LibraryFlight &f : library.list())
            if (f.aircraft && *f.aircraft != aircraft) {
                fleet.insert(f.id);
                others.insert(*f.aircraft);
            }
        card.fleetAircraft = int(others.size());
        card.fleetFlights = int(fleet.size());

        for (const CardMeasure &measure : CardMeasures()) {
            CardRow row{measure, {}, {}, {}};
            std::vector<double> mine, theirs;
            std::map<QString, std::vector<double>> byMonth;
            for (const TrendPoint &p : library.trend(QString::fromLatin1(measure.key))) {
                if (!p.value)
                    continue;
                const double v = *p.value * measure.scale;
                if (month.contains(p.id)) {
                    mine.push_back(v);
                    byMonth[month.value(p.id)].push_back(v);
                } else if (fleet.contains(p.id)) {
                    theirs.push_back(v);
                }
            }
            row.own = Summarize(mine);
            row.fleet = Summarize(theirs);
            if (card.fleetAircraft == 0) {
                // Every month from the first flight drawn to the last, an empty one kept in its place.
                QDate m = QDate::fromString(card.first.left(7) + QStringLiteral("-01"), Qt::ISODate);
                const QDate end = QDate::fromString(card.last.left(7) + QStringLiteral("-01"), Qt::ISODate);
                for (; m.isValid() && m <= end; m = m.addMonths(1)) {
                    const QString key = m.toString(QStringLiteral("yyyy-MM"));
                    row.months.push_back({key, Summarize(byMonth[key])});
                }
            }
            card.rows.push_back(row);
        }
    } catch (const LibraryError &e) {
        *error = QStringLiteral("flight library %1: %2").arg(FlightLibrary::Shown(folder), e.message());
        return false;
    }

    ReportPdf pdf;
    if (!pdf.open(outFile, QStringLiteral("Report card %1").arg(aircraft), error)) {
        *error += QStringLiteral("; choose another file");
        return false;
    }
    PaintReportCard(pdf.nextPage(), pdf.page(), card);
    return pdf.commit(error);
}

} // namespace korvel
