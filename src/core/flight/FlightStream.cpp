#include "core/flight/FlightStream.h"

#include "core/flight/FlightLines.h"
#include "core/flight/LargeBlock.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

namespace {

// A few MiB: large enough that a read costs little per record, small enough to stay in the cache's
// reach and to keep a command's memory flat.
constexpr std::size_t kReadBuffer = std::size_t(4) << 20;
// A block hands on at most this many records, so a file of very short lines keeps a small index.
constexpr std::size_t kBlockRecords = 8192;
// A buffer this large holds the longest record line with its CR LF: a dated line that fills it is
// longer than any record.
constexpr std::size_t kLongestRecordBuffer = flightlines::kLongestRecordLine + 2;

// Whether a CR LF stands anywhere from `offset` on. A file whose first buffer has none is looked
// through once more (a file of LF lines, at worst): the first CR LF decides how every line splits.
bool CrLfFrom(flightlines::FlightFile &file, std::uint64_t offset)
{
    constexpr std::size_t kChunk = std::size_t(1) << 20;
    const std::unique_ptr<char[]> chunk(new char[kChunk]);
    while (true) {
        const std::size_t n = file.readAt(offset, chunk.get(), kChunk);
        if (flightlines::HasCrLf(std::string_view(chunk.get(), n)))
            return true;
        if (n < kChunk)
            return false;
        offset += n - 1; // a CR at the end of one chunk meets its LF at the start of the next
    }
}

// The read buffers of the last files read, kept for the next: a thread that reads many files in a
// row (an import) takes its fresh memory, and its page faults, once. Shared rather than one per
// thread: a thread-local object with a destructor hangs a MinGW program's exit once a thread that
// made one has ended.
class ReadBuffer {
public:
    explicit ReadBuffer(std::size_t capacity)
    {
        {
            const std::lock_guard<std::mutex> lock(SpareMutex());
            std::vector<LargeBytes> &spares = Spares();
            if (!spares.empty() && spares.back().size() == capacity) {
                m_bytes = std::move(spares.back());
                spares.pop_back();
            }
        }
        if (m_bytes.size() != capacity)
            m_bytes = LargeBytes(capacity);
    }
    ~ReadBuffer()
    {
        if (m_bytes.size() != kReadBuffer)
            return;
        const std::lock_guard<std::mutex> lock(SpareMutex());
        if (Spares().size() < kSpareBuffers)
            Spares().push_back(std::move(m_bytes));
    }
    ReadBuffer(const ReadBuffer &) = delete;
    ReadBuffer &operator=(const ReadBuffer &) = delete;
    LargeBytes &bytes() { return m_bytes; }

private:
    // As many as an import's reading threads on a common PC.
    static constexpr std::size_t kSpareBuffers = 4;
    // Never destroyed: a thread may still be reading while the program ends.
    static std::mutex &SpareMutex()
    {
        static auto *mutex = new std::mutex;
        return *mutex;
    }
    static std::vector<LargeBytes> &Spares()
    {
        static auto *spares = new std::vector<LargeBytes>;
        return *spares;
    }
    LargeBytes m_bytes;
};

} // namespace

class FlightStreamReader {
public:
    static qint64 run(const QString &fileName, const std::function<void(const FlightRecordBlock &)> &onBlock,
                      std::size_t bufferBytes, const FlightBytesTap &onBytes);
};

qint64 FlightStreamReader::run(const QString &fileName, const std::function<void(const FlightRecordBlock &)> &onBlock,
                               std::size_t bufferBytes, const FlightBytesTap &onBytes)
{
    flightlines::FlightFile file(fileName);
    flightlines::RefuseLargerThanTable(file.size());
    std::size_t capacity = std::max<std::size_t>(bufferBytes, 16);
    ReadBuffer kept(capacity);
    LargeBytes &buffer = kept.bytes();
    const auto read = [&](char *into, std::size_t bytes) {
        const std::size_t n = file.read(into, bytes);
        if (onBytes && n > 0)
            onBytes(into, n);
        return n;
    };
    std::size_t filled = read(buffer.data(), capacity);
    std::uint64_t total = filled;
    bool atEnd = filled < capacity;
    auto checkWhole = [&] {
        if (atEnd && total < file.size())
            throw FlightDataError("the file shrank while it was read (" + std::to_string(total) + " of " +
                                  std::to_string(file.size()) + " bytes)");
    };
    checkWhole();

    bool crlf = flightlines::HasCrLf(std::string_view(buffer.data(), filled));
    if (!crlf && !atEnd)
        crlf = CrLfFrom(file, filled - 1);
    flightlines::LineSplitter lines(crlf);
    flightlines::LineReader reader;

    FlightRecordBlock block;
    block.m_index.reserve(kBlockRecords);
    qint64 count = 0;
    auto handOver = [&] {
        if (block.m_index.empty())
            return;
        onBlock(block);
        count += qint64(block.m_index.size());
        block.m_first = count;
        block.m_index.clear();
        block.m_wide.clear();
    };

    FlightRecordWideSpans wide;
    while (true) {
        const char *base = buffer.data();
        block.m_bytes = base;
        const std::size_t keep = lines.split(base, filled, atEnd, [&](std::size_t begin, std::size_t end, qint64 lineNo) {
            FlightRecordIndex &index = block.m_index.emplace_back();
            reader.setUnended(atEnd && end == filled);
            if (!reader.read(base + begin, end - begin, lineNo, index, wide)) {
                block.m_index.pop_back();
                return;
            }
            index.lineBegin = std::uint32_t(begin);
            if (index.wide()) {
                index.setWideIndex(std::uint32_t(block.m_wide.size()));
                block.m_wide.push_back(wide);
            }
            if (block.m_index.size() == kBlockRecords)
                handOver();
        });
        handOver();
        if (atEnd)
            break;

        if (keep == 0 && filled == capacity) {
            // One line fills the buffer. A line that cannot be a record is passed over as it is read;
            // a dated one is kept whole in a larger buffer, up to the longest a record can be: a
            // longer one fails the read, at its first bytes, as the whole-file loader fails it.
            if (lines.skipping() || lines.pieces() == 0 || !reader.isDated(base)) {
                buffer.data()[0] = buffer.data()[filled - 1];
                filled = 1;
                lines.skipUnfinished();
            } else {
                if (capacity >= kLongestRecordBuffer)
                    reader.refuseLongLine(base, lines.pieces() + 1);
                capacity = std::min(capacity * 2, kLongestRecordBuffer);
                LargeBytes larger(capacity);
                std::memcpy(larger.data(), buffer.data(), filled);
                buffer = std::move(larger);
            }
        } else if (keep > 0) {
            std::memmove(buffer.data(), buffer.data() + keep, filled - keep);
            filled -= keep;
        }
        const std::size_t n = read(buffer.data() + filled, capacity - filled);
        filled += n;
        total += n;
        atEnd = filled < capacity;
        checkWhole();
    }
    return count;
}

qint64 StreamFlightDataFile(const QString &FileName, const std::function<void(const FlightRecordBlock &)> &onBlock,
                            std::size_t bufferBytes, const FlightBytesTap &onBytes)
{
    try {
        return FlightStreamReader::run(FileName, onBlock, bufferBytes, onBytes);
    } catch (const std::bad_alloc &) {
        throw FlightDataError("there is not enough memory to read the file; close other programs and try again");
    }
}

qint64 StreamFlightDataFile(const QString &FileName, const std::function<void(const FlightRecordBlock &)> &onBlock)
{
    return StreamFlightDataFile(FileName, onBlock, kReadBuffer);
}

qint64 StreamFlightDataFile(const QString &FileName, const std::function<void(const FlightRecordBlock &)> &onBlock,
                            const FlightBytesTap &onBytes)
{
    return StreamFlightDataFile(FileName, onBlock, kReadBuffer, onBytes);
}

} // namespace korvel
