#pragma once
// The flight-data record table: one FlightRecord per data line of a downloaded flight file.
// The records share the file's bytes: a field is a span of the one buffer, read as Latin-1 text,
// so a 100,000-record file costs one allocation for its text and one for its index. The file is
// read, never mapped: the capture window may truncate the very file that was loaded.

#include "core/flight/LargeBlock.h"

#include <QByteArray>
#include <QDate>
#include <QLatin1StringView>
#include <QTime>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

namespace korvel {

class StatusLine;

constexpr int kFlightFields = 28; // value fields 0 to 27 of a data line
constexpr int kFlightSlots = 29;  // Values(0) to Values(28); slot 28 is never written

// Where one data line's fields sit in its buffer, and its date and time. Field k runs from offset k
// to the comma before offset k + 1, both from the line's start; a field whose next offset is not
// past its own is missing (empty). A flight's lines are some 150 bytes long, so the offsets fit a
// byte each and a record takes 40 bytes; a longer line keeps its offsets in the wide list instead.
struct FlightRecordIndex {
    std::uint32_t lineBegin = 0;
    std::int32_t day = 0; // LogDate as a Julian day
    std::array<std::uint8_t, 3> second{}; // LogTime in seconds since midnight (the file has no finer)
    std::array<std::uint8_t, kFlightFields + 1> offset{};

    static constexpr std::uint32_t kNarrowLine = 255; // longest narrow line + 1
    // A narrow line's offset 0 is at most 254; this one marks offsets kept in the wide list, at the
    // index that offsets 1 to 4 hold.
    static constexpr std::uint8_t kWide = 255;

    int seconds() const { return second[0] | second[1] << 8 | second[2] << 16; }
    void setSeconds(int s)
    {
        second = {std::uint8_t(s), std::uint8_t(s >> 8), std::uint8_t(s >> 16)};
    }
    bool wide() const { return offset[0] == kWide; }
    std::uint32_t wideIndex() const
    {
        std::uint32_t i;
        std::memcpy(&i, offset.data() + 1, sizeof i);
        return i;
    }
    void setWideIndex(std::uint32_t i)
    {
        offset[0] = kWide;
        std::memcpy(offset.data() + 1, &i, sizeof i);
    }
};
static_assert(sizeof(FlightRecordIndex) == 40);

struct FlightRecordWideSpans {
    std::array<std::uint32_t, kFlightFields + 1> offset{};
};

// A view of one record; valid while the table or block it came from is alive and unchanged.
class FlightRecord {
public:
    FlightRecord() = default;
    FlightRecord(const char *bytes, const FlightRecordIndex *index, const FlightRecordWideSpans *wide)
        : m_bytes(bytes), m_index(index), m_wide(wide)
    {
    }

    QDate LogDate() const { return m_index ? QDate::fromJulianDay(m_index->day) : QDate(); }
    QTime LogTime() const { return m_index ? QTime::fromMSecsSinceStartOfDay(m_index->seconds() * 1000) : QTime(); }
    // Field n's text exactly as it stands in the file; empty for missing fields, slot 28 and blank slots.
    QLatin1StringView Values(int n) const
    {
        if (!m_index || n < 0 || n >= kFlightFields)
            return {};
        const size_t k = size_t(n);
        const std::uint32_t begin = m_wide ? m_wide->offset[k] : m_index->offset[k];
        const std::uint32_t next = m_wide ? m_wide->offset[k + 1] : m_index->offset[k + 1];
        if (next <= begin)
            return {};
        return QLatin1StringView(m_bytes + m_index->lineBegin + begin, qsizetype(next - 1 - begin));
    }

private:
    const char *m_bytes = nullptr;
    const FlightRecordIndex *m_index = nullptr;
    const FlightRecordWideSpans *m_wide = nullptr;
};

// Record k of an index list over one buffer.
template <class IndexList>
FlightRecord RecordAt(const char *bytes, const IndexList &index, const std::vector<FlightRecordWideSpans> &wide,
                      qsizetype k)
{
    if (k < 0 || size_t(k) >= index.size())
        return {};
    const FlightRecordIndex &at = index[size_t(k)];
    return FlightRecord(bytes, &at, at.wide() ? &wide[at.wideIndex()] : nullptr);
}

// The table: one slot per line of the file (so always more slots than records); the records
// fill slots 0 to count - 1 in file order, the rest are blank.
class FlightRecordTable {
public:
    qint64 slotCount() const { return m_slots; }
    int records() const { return int(m_index.size()); }
    FlightRecord operator[](int k) const { return RecordAt(m_bytes.data(), m_index, m_wide, k); }

private:
    friend class FlightDataLoader;
    LargeBytes m_bytes;
    std::vector<FlightRecordIndex, LargeAllocator<FlightRecordIndex>> m_index;
    std::vector<FlightRecordWideSpans> m_wide;
    qint64 m_slots = 0; // one per line: a large file holds more than an int counts
};

// The table of the last completed load and its count (empty until a load completes).
struct FlightData {
    FlightRecordTable FlightRecords;
    std::optional<int> FlightRecordCount;
};

// Why a load failed; the table and count are then left as they were.
class FlightDataError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    QString message() const { return QString::fromUtf8(what()); }
};

// Reads FileName whole into a new table and, when that succeeds, replaces data's table and count.
// Sets the "connection" panel to the file's name first. Throws FlightDataError when the file cannot
// be read or a dated line carries no time of day.
void LoadFlightDataFile(const QString &FileName, FlightData &data, StatusLine &status);

// "Data File: NAME  Loaded for Edit": what the "connection" panel shows when a flight file is read.
QString FlightFileStatusText(const QString &FileName);

// The same parse on bytes already in memory (the file's whole content).
FlightData ParseFlightData(const QByteArray &bytes);

// The instrument's US date in the first 8 characters of a line, and its time of day in characters 10-17.
std::optional<QDate> ParseFlightDate(QLatin1StringView text);
std::optional<QTime> ParseFlightTime(QLatin1StringView text);

} // namespace korvel
