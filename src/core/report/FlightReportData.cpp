#include "core/report/FlightReportData.h"

#include "core/flight/FlightStream.h"
#include "core/flight/StartMarker.h"
#include "core/library/LibraryFigures.h"
#include "core/library/Sha256.h"

#include <QFileInfo>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace korvel {

namespace {

// Hands chunks of work from the thread that reads the file to one that works on them: a few chunks go
// back and forth, so the two overlap while memory stays a few chunks' worth whatever the flight's length.
template <class Chunk> class Relay {
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

std::optional<FlightReportData> ReadFlightReportData(const QString &path, const FindingRules &rules,
                                                     const std::function<void(const RecordReadings &)> &onRecord,
                                                     QString *error)
{
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
                    onRecord(record);
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
    FlightReportData r;
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
    return r;
}

} // namespace korvel
