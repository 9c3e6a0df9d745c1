#pragma once
// How a flight file falls into lines and a line into a date, a time and fields: the one rule set
// of the whole-file loader and the streaming reader. Both read from buffers with at least 16
// readable bytes past their data (the comma scan looks at 16 bytes at a time).

#include "core/flight/FlightData.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

class QString;

namespace korvel::platform {
class ReadOnlyFile;
}

namespace korvel::flightlines {

// The longest line that can be a record, without its line end. An instrument writes some 150 bytes
// a line; a dated line longer than this is damage, not a record, and fails the read as a dated line
// without a time does. So no reader ever holds more of one line than this.
constexpr std::size_t kLongestRecordLine = std::size_t(64) << 10;

// Fills index for a line of len bytes (lineBegin is the caller's) when it is a data line; a line too
// long for byte offsets gets its offsets in wide and index.wide() true (the caller stores them and
// sets their index). False for any other line. Throws FlightDataError for a dated line without a
// time of day, then for one longer than kLongestRecordLine. Keeps the last date it read: a flight's
// lines share one or two.
class LineReader {
public:
    bool read(const char *line, std::size_t len, qint64 lineNo, FlightRecordIndex &index,
              FlightRecordWideSpans &wide)
    {
        return readDateAndTime(line, len, lineNo, index) && (readFields(line, len, index, wide), true);
    }

    // Whether the data ends inside the next line read (no line end follows it): a dated line without
    // its time is then a capture cut off, and said so.
    void setUnended(bool unended) { m_unended = unended; }

    // The two halves of read, apart so that a benchmark can weigh each.
    bool readDateAndTime(const char *line, std::size_t len, qint64 lineNo, FlightRecordIndex &index);
    void readFields(const char *line, std::size_t len, FlightRecordIndex &index, FlightRecordWideSpans &wide);

    // Whether a line beginning with these bytes (at least 8 of them) is dated, for a line too long to
    // hold: one that is not can be passed over unread.
    bool isDated(const char *line);
    // For a dated line known to be longer than kLongestRecordLine from its first 17 bytes: throws what
    // read throws for the whole line.
    [[noreturn]] void refuseLongLine(const char *line, qint64 lineNo);

private:
    bool date(const char *line, std::size_t len, std::int32_t &day);

    std::uint64_t m_dateKey = 0;
    std::size_t m_dateLength = 0; // 0: nothing kept (a date is never empty)
    bool m_dateValid = false;
    std::int32_t m_day = 0;
    bool m_unended = false;
};

// Whether the text's lines end in CR LF: a text without a single CR LF is split at LF instead.
inline bool HasCrLf(std::string_view text)
{
    return text.find("\r\n") != std::string_view::npos;
}

// Cuts text into lines as it comes, buffer by buffer. The caller keeps the unfinished last line
// at the front of its buffer and hands it in again with the bytes that follow it. Line 1 (the
// first piece) is never a record, so it is not handed on.
class LineSplitter {
public:
    explicit LineSplitter(bool crlf) : m_crlf(crlf) {}

    // Calls onLine(begin, end, lineNo) for each finished line of base[0, size) after the first, in
    // order; at the end of the text the rest is the last line. Returns where the unfinished line
    // begins (size at the end).
    template <class OnLine> std::size_t split(const char *base, std::size_t size, bool atEnd, OnLine &&onLine)
    {
        std::size_t begin = 0;
        std::size_t from = m_scanned;
        while (true) {
            const void *lf = from < size ? std::memchr(base + from, '\n', size - from) : nullptr;
            if (!lf) {
                if (!atEnd) {
                    m_scanned = size - begin;
                    return begin;
                }
                if (m_pieces > 0 && !m_skip)
                    onLine(begin, size, m_pieces + 1);
                ++m_pieces;
                m_skip = false;
                m_scanned = 0;
                return size;
            }
            const std::size_t at = std::size_t(static_cast<const char *>(lf) - base);
            if (m_crlf && (at == begin || base[at - 1] != '\r')) {
                from = at + 1; // a lone LF stays inside its line
                continue;
            }
            if (m_pieces > 0 && !m_skip)
                onLine(begin, m_crlf ? at - 1 : at, m_pieces + 1);
            ++m_pieces;
            m_skip = false;
            begin = from = at + 1;
        }
    }

    // Lines begun so far (the unfinished one not included); the number of the unfinished line is one more.
    qint64 pieces() const { return m_pieces; }

    // The unfinished line will not be handed on: its caller keeps only its last byte (a CR that a
    // LF may follow), which then stands at the front of the buffer.
    void skipUnfinished()
    {
        m_skip = true;
        m_scanned = 1;
    }
    bool skipping() const { return m_skip; }

private:
    bool m_crlf;
    bool m_skip = false;
    qint64 m_pieces = 0;
    std::size_t m_scanned = 0; // bytes of the unfinished line already searched for its end
};

// Throws when a file of this size is larger than the record table can place (4 GiB): no flight is
// near that, and the commands that stream a file accept what the window loads, no more.
void RefuseLargerThanTable(std::uint64_t size);

// A flight file opened for reading. Only a regular file is read: a pipe would block for ever and a
// device need never end; either is refused before anything is read. Failures throw FlightDataError.
class FlightFile {
public:
    explicit FlightFile(const QString &fileName);
    ~FlightFile();
    FlightFile(const FlightFile &) = delete;
    FlightFile &operator=(const FlightFile &) = delete;

    // The size when opened.
    std::uint64_t size() const { return m_size; }
    // Reads on from where the last read ended; fewer bytes than asked only at the end (0 there).
    std::size_t read(char *into, std::size_t bytes);
    // Reads at an offset without moving the reading position.
    std::size_t readAt(std::uint64_t offset, char *into, std::size_t bytes);

private:
    std::uint64_t m_size = 0;
    std::unique_ptr<platform::ReadOnlyFile> m_file;
};

} // namespace korvel::flightlines
