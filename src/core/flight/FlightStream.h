#pragma once
// A flight file read as it goes: the records of each buffer's worth of the file are handed on as a
// block, so a command's memory stays the same whatever the file's size. The lines, fields, dates
// and times are the whole-file loader's.

#include "core/flight/FlightData.h"

#include <QString>

#include <functional>
#include <vector>

namespace korvel {

// The records read since the last hand-over, in file order; valid only during the call.
class FlightRecordBlock {
public:
    int records() const { return int(m_index.size()); }
    FlightRecord operator[](int k) const { return RecordAt(m_bytes, m_index, m_wide, k); }
    // The file's record number of the block's first record (0 for the file's first).
    qint64 firstRecord() const { return m_first; }

private:
    friend class FlightStreamReader;
    const char *m_bytes = nullptr;
    qint64 m_first = 0;
    std::vector<FlightRecordIndex> m_index;
    std::vector<FlightRecordWideSpans> m_wide;
};

// Reads FileName as it goes and hands on its records in blocks; memory stays fixed whatever the file's size
// and however long its lines. Returns the record count. Throws FlightDataError where the whole-file
// loader does, with its message (a dated line without a time or longer than a record can be), and
// when a read fails in the middle of the file; the blocks before the failing line are handed on.
qint64 StreamFlightDataFile(const QString &FileName, const std::function<void(const FlightRecordBlock &)> &onBlock);

// Every byte of the file in order, as it is read and before the records in it are handed on: for a
// caller that hashes or copies the file in the same pass.
using FlightBytesTap = std::function<void(const char *bytes, std::size_t size)>;

qint64 StreamFlightDataFile(const QString &FileName, const std::function<void(const FlightRecordBlock &)> &onBlock,
                            const FlightBytesTap &onBytes);

// The same with a read buffer of the given size (a record line longer than it still reads), for tests
// that cross buffer boundaries with small files.
qint64 StreamFlightDataFile(const QString &FileName, const std::function<void(const FlightRecordBlock &)> &onBlock,
                            std::size_t bufferBytes, const FlightBytesTap &onBytes = {});

} // namespace korvel
