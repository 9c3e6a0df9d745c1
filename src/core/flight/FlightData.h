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
#include <optional>
#include <stdexcept>
#include <vector>

namespace korvel {

class StatusLine;

constexpr int kFlightFields = 28; // value fields 0 to 27 of a data line
constexpr int kFlightSlots = 29;  // Values(0) to Values(28); slot 28 is never written

// Where one data line's fields sit in the file's buffer. Field k runs from offset k to the comma
// before offset k + 1, both from the line's start; a field whose offset lies at or past the line's
// end is empty. 16 bits each; a line longer than that keeps its offsets in the wide list instead.
struct FlightRecordIndex {
    QDate date;
    QTime time;
    std::uint32_t lineBegin = 0;
    std::uint32_t lineLength = 0;
    std::int32_t wide = -1; // index into the wide list, or -1
    std::array<std::uint16_t, kFlightFields + 1> offset{};
};

struct FlightRecordWideSpans {
    std::array<std::uint32_t, kFlightFields + 1> offset{};
};

// A view of one record; valid while the table it came from is alive and unchanged.
class FlightRecord {
public:
    FlightRecord() = default;
    FlightRecord(const char *bytes, const FlightRecordIndex *index, const FlightRecordWideSpans *wide)
        : m_bytes(bytes), m_index(index), m_wide(wide)
    {
    }

    QDate LogDate() const { return m_index ? m_index->date : QDate(); }
    QTime LogTime() const { return m_index ? m_index->time : QTime(); }
    // Field n's text exactly as it stands in the file; empty for missing fields, slot 28 and blank slots.
    QLatin1StringView Values(int n) const
    {
        if (!m_index || n < 0 || n >= kFlightFields)
            return {};
        const size_t k = size_t(n);
        const std::uint32_t begin = m_wide ? m_wide->offset[k] : m_index->offset[k];
        const std::uint32_t next = m_wide ? m_wide->offset[k + 1] : m_index->offset[k + 1];
        if (begin >= m_index->lineLength)
            return {};
        return QLatin1StringView(m_bytes + m_index->lineBegin + begin, qsizetype(next - 1 - begin));
    }

private:
    const char *m_bytes = nullptr;
    const FlightRecordIndex *m_index = nullptr;
    const FlightRecordWideSpans *m_wide = nullptr;
};

// The table: one slot per line of the file (so always more slots than records); the records
// fill slots 0 to count - 1 in file order, the rest are blank.
class FlightRecordTable {
public:
    qint64 slotCount() const { return m_slots; }
    int records() const { return int(m_index.size()); }
    FlightRecord operator[](int k) const
    {
        if (k < 0 || k >= records())
            return {};
        const FlightRecordIndex &index = m_index[size_t(k)];
        return FlightRecord(m_bytes.data(), &index, index.wide >= 0 ? &m_wide[size_t(index.wide)] : nullptr);
    }

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

// The same parse on bytes already in memory (the file's whole content).
FlightData ParseFlightData(const QByteArray &bytes);

// The instrument's US date in the first 8 characters of a line, and its time of day in characters 10-17.
std::optional<QDate> ParseFlightDate(QLatin1StringView text);
std::optional<QTime> ParseFlightTime(QLatin1StringView text);

} // namespace korvel
