#include "core/flight/FlightData.h"

#include "core/flight/FlightLines.h"
#include "core/platform/Files.h"
#include "core/ui/UiInterfaces.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korvel {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads 1 to maxDigits digits at text[pos]; returns the count read (0 when none).
int readNumber(QLatin1StringView text, qsizetype &pos, int maxDigits, int &value)
{
    int n = 0;
    value = 0;
    while (pos < text.size() && n < maxDigits && isDigit(text[pos].toLatin1())) {
        value = value * 10 + (text[pos].toLatin1() - '0');
        ++pos;
        ++n;
    }
    return n;
}

QLatin1StringView withoutTrailingBlanks(QLatin1StringView text)
{
    qsizetype n = text.size();
    while (n > 0 && text[n - 1] == QLatin1Char(' '))
        --n;
    return text.first(n);
}

} // namespace

std::optional<QDate> ParseFlightDate(QLatin1StringView raw)
{
    const QLatin1StringView text = withoutTrailingBlanks(raw);
    qsizetype pos = 0;
    int month = 0, day = 0, year = 0;
    if (readNumber(text, pos, 2, month) == 0 || pos >= text.size())
        return std::nullopt;
    const char sep = text[pos].toLatin1();
    if (sep != '/' && sep != '-' && sep != '.')
        return std::nullopt;
    ++pos;
    if (readNumber(text, pos, 2, day) == 0 || pos >= text.size() || text[pos].toLatin1() != sep)
        return std::nullopt;
    ++pos;
    const int yearDigits = readNumber(text, pos, 4, year);
    if ((yearDigits != 2 && yearDigits != 4) || pos != text.size())
        return std::nullopt;
    if (yearDigits == 2)
        year += year < 30 ? 2000 : 1900;
    if (!QDate::isValid(year, month, day))
        return std::nullopt;
    return QDate(year, month, day);
}

std::optional<QTime> ParseFlightTime(QLatin1StringView raw)
{
    // An instrument that writes a one-digit hour (or pads it with a blank) leaves the first comma
    // inside these eight characters.
    QLatin1StringView text = withoutTrailingBlanks(raw);
    while (!text.isEmpty() && text.front() == QLatin1Char(' '))
        text = text.sliced(1);
    if (text.endsWith(QLatin1Char(',')))
        text.chop(1);
    qsizetype pos = 0;
    int hour = 0, minute = 0, second = 0;
    if (readNumber(text, pos, 2, hour) == 0 || pos >= text.size() || text[pos] != QLatin1Char(':'))
        return std::nullopt;
    ++pos;
    if (readNumber(text, pos, 2, minute) != 2)
        return std::nullopt;
    if (pos < text.size()) {
        if (text[pos] != QLatin1Char(':'))
            return std::nullopt;
        ++pos;
        if (readNumber(text, pos, 2, second) != 2 || pos != text.size())
            return std::nullopt;
    }
    if (!QTime::isValid(hour, minute, second))
        return std::nullopt;
    return QTime(hour, minute, second);
}

namespace {

// The commas among the 16 bytes at p, one bit each (bit i: p[i]). The buffer's padding makes the
// read past a line's end safe.
inline std::uint32_t CommaMask(const char *p)
{
#if defined(__SSE2__)
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    return std::uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(','))));
#else
    std::uint32_t mask = 0;
    for (int i = 0; i < 16; ++i)
        mask |= std::uint32_t(p[i] == ',') << i;
    return mask;
#endif
}

// The commas in a mask. Without a population-count instruction in the baseline x86-64,
// std::popcount is a library call; this stays in registers.
inline std::uint32_t CommaCount(std::uint64_t mask)
{
    mask = mask - ((mask >> 1) & 0x5555555555555555u);
    mask = (mask & 0x3333333333333333u) + ((mask >> 2) & 0x3333333333333333u);
    mask = (mask + (mask >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return std::uint32_t((mask * 0x0101010101010101u) >> 56);
}

inline int LowestBit(std::uint32_t mask)
{
    return std::countr_zero(mask);
}

// The first comma at or after `from` in line[0, len), or len when there is none.
std::uint32_t FirstComma(const char *line, std::uint32_t from, std::uint32_t len)
{
    for (std::uint32_t i = from; i < len; i += 16) {
        std::uint32_t mask = CommaMask(line + i);
        if (len - i < 16)
            mask &= (1u << (len - i)) - 1;
        if (mask)
            return i + std::uint32_t(LowestBit(mask));
    }
    return len;
}

} // namespace

namespace {

// The record table keeps its places in the file as 32-bit offsets.
constexpr std::uint64_t kLargestFlightFile = std::uint64_t(UINT32_MAX) - 2;

const char *const kNotRegular = "not a regular file (a device, a pipe or a folder); choose the flight file itself";

FlightDataError TooLarge(std::uint64_t size)
{
    return FlightDataError("the file is too large for the record table (" + std::to_string(size) +
                           " bytes; at most " + std::to_string(kLargestFlightFile) + ")");
}

} // namespace

namespace flightlines {

void RefuseLargerThanTable(std::uint64_t size)
{
    if (size > kLargestFlightFile)
        throw TooLarge(size);
}

bool LineReader::date(const char *line, std::size_t len, std::int32_t &day)
{
    const std::size_t n = std::min<std::size_t>(len, 8);
    std::uint64_t key = 0;
    std::memcpy(&key, line, 8); // the buffer's padding makes 8 bytes readable
    if (n < 8)
        key &= (std::uint64_t(1) << (8 * n)) - 1;
    if (n != m_dateLength || key != m_dateKey) {
        const auto parsed = ParseFlightDate(QLatin1StringView(line, qsizetype(n)));
        m_dateKey = key;
        m_dateLength = n;
        m_dateValid = parsed.has_value();
        m_day = parsed ? std::int32_t(parsed->toJulianDay()) : 0;
    }
    day = m_day;
    return m_dateValid;
}

bool LineReader::isDated(const char *line)
{
    std::int32_t day;
    return date(line, 8, day);
}

namespace {

bool isDigitAt(const char *p)
{
    return unsigned(static_cast<unsigned char>(*p)) - unsigned('0') <= 9;
}

int twoDigits(const char *p)
{
    return (p[0] - '0') * 10 + (p[1] - '0');
}

// Seconds since midnight of the time in columns 10 to 17, or -1. What nearly every line
// holds, HH:MM:SS, is read directly; anything else takes the general reading.
std::int32_t TimeOfDay(const char *line, std::size_t len)
{
    if (len >= 17) {
        const char *t = line + 9;
        if (isDigitAt(t) && isDigitAt(t + 1) && t[2] == ':' && isDigitAt(t + 3) && isDigitAt(t + 4) &&
            t[5] == ':' && isDigitAt(t + 6) && isDigitAt(t + 7)) {
            const int h = twoDigits(t), m = twoDigits(t + 3), s = twoDigits(t + 6);
            return QTime::isValid(h, m, s) ? std::int32_t((h * 60 + m) * 60 + s) : -1;
        }
    }
    const QLatin1StringView text =
        len > 9 ? QLatin1StringView(line + 9, qsizetype(std::min<std::size_t>(len - 9, 8))) : QLatin1StringView();
    const auto time = ParseFlightTime(text);
    return time ? std::int32_t(time->msecsSinceStartOfDay() / 1000) : -1;
}

FlightDataError NoTimeOfDay(qint64 lineNo)
{
    return FlightDataError("no time of day in columns 10 to 17 of line " + std::to_string(lineNo));
}

FlightDataError CutOff(qint64 lineNo)
{
    return FlightDataError("the file ends inside a record at line " + std::to_string(lineNo) +
                           ": the capture was cut off; download it again");
}

FlightDataError TooLongForARecord(qint64 lineNo)
{
    return FlightDataError("line " + std::to_string(lineNo) + " is dated but longer than a record can be (more than " +
                           std::to_string(kLongestRecordLine) + " bytes); the file is damaged or is not a flight file");
}

} // namespace

bool LineReader::readDateAndTime(const char *line, std::size_t len, qint64 lineNo, FlightRecordIndex &index)
{
    if (!date(line, len, index.day))
        return false;
    const std::int32_t seconds = TimeOfDay(line, len);
    if (seconds < 0)
        throw m_unended && len <= kLongestRecordLine ? CutOff(lineNo) : NoTimeOfDay(lineNo);
    if (len > kLongestRecordLine)
        throw TooLongForARecord(lineNo);
    index.setSeconds(seconds);
    return true;
}

void LineReader::refuseLongLine(const char *line, qint64 lineNo)
{
    // The time of day stands in the first 17 bytes: a longer line reads it as the whole line would.
    if (TimeOfDay(line, kLongestRecordLine + 1) < 0)
        throw NoTimeOfDay(lineNo);
    throw TooLongForARecord(lineNo);
}

void LineReader::readFields(const char *line, std::size_t len, FlightRecordIndex &index, FlightRecordWideSpans &wide)
{
    const std::uint32_t size = std::uint32_t(len);
    constexpr std::uint32_t kFields = kFlightFields;
    // Fields start after the first comma at or after column 17, or at column 1 when there is none.
    const std::uint32_t first = FirstComma(line, 16, size);
    // Room past field 27 for a whole block's commas: they are written, then left.
    std::uint32_t offset[kFields + 1 + 64];
    offset[0] = first < size ? first + 1 : 0;
    // Each comma ends a field; the field after the last comma runs to the line's end, and those
    // after it start past the end (missing). The commas of 64 bytes at a time are taken eight by
    // eight without asking first how many there are: a flight's 64 bytes hold about a dozen, and a
    // branch on each comma would be mispredicted often.
    constexpr std::uint64_t kTopBit = std::uint64_t(1) << 63;
    std::uint32_t k = 0;
    for (std::uint32_t i = offset[0]; i < size && k < kFields; i += 64) {
        std::uint64_t mask = std::uint64_t(CommaMask(line + i)) | std::uint64_t(CommaMask(line + i + 16)) << 16 |
                             std::uint64_t(CommaMask(line + i + 32)) << 32 |
                             std::uint64_t(CommaMask(line + i + 48)) << 48;
        if (size - i < 64)
            mask &= (std::uint64_t(1) << (size - i)) - 1;
        const std::uint32_t count = CommaCount(mask);
        std::uint32_t *out = offset + k + 1;
        for (std::uint32_t j = 0; j < count; j += 8) {
            for (int n = 0; n < 8; ++n) {
                // The top bit keeps the count defined when no comma is left (that slot is left).
                out[j + std::uint32_t(n)] = i + std::uint32_t(std::countr_zero(mask | kTopBit)) + 1;
                mask &= mask - 1;
            }
        }
        k += count;
    }
    for (k = std::min(k, kFields); k < kFields;)
        offset[++k] = size + 1;

    if (size < FlightRecordIndex::kNarrowLine) {
        for (size_t n = 0; n <= size_t(kFlightFields); ++n)
            index.offset[n] = std::uint8_t(offset[n]);
    } else {
        index.offset[0] = FlightRecordIndex::kWide; // the caller sets the index
        std::copy(offset, offset + kFields + 1, wide.offset.begin());
    }
}

} // namespace flightlines

class FlightDataLoader {
public:
    static FlightData parse(LargeBytes bytes);
};

FlightData FlightDataLoader::parse(LargeBytes bytes)
{
    if (bytes.size() > kLargestFlightFile)
        throw TooLarge(bytes.size());

    FlightData result;
    FlightRecordTable &table = result.FlightRecords;
    table.m_bytes = std::move(bytes);
    const char *base = table.m_bytes.data();
    const std::size_t size = table.m_bytes.size();
    if (size == 0) {
        result.FlightRecordCount = 0;
        return result;
    }

    const std::string_view text(base, size);
    // One index entry per line at most: reserved once, so a flight's index is written in place. A
    // flight's lines are longer than 64 bytes; a file of shorter lines (line ends alone, at worst)
    // grows its index as it goes rather than reserving for lines that are no records.
    table.m_index.reserve(std::min(size_t(std::count(text.begin(), text.end(), '\n')), size / 64) + 1);

    flightlines::LineReader reader;
    flightlines::LineSplitter lines(flightlines::HasCrLf(text));
    FlightRecordWideSpans wide;
    lines.split(base, size, true, [&](std::size_t begin, std::size_t end, qint64 lineNo) {
        FlightRecordIndex index;
        reader.setUnended(end == size);
        if (!reader.read(base + begin, end - begin, lineNo, index, wide))
            return;
        index.lineBegin = std::uint32_t(begin);
        if (index.wide()) {
            index.setWideIndex(std::uint32_t(table.m_wide.size()));
            table.m_wide.push_back(wide);
        }
        table.m_index.push_back(index);
    });
    table.m_slots = lines.pieces();
    result.FlightRecordCount = table.records();
    return result;
}

FlightData ParseFlightData(const QByteArray &bytes)
{
    return FlightDataLoader::parse(LargeBytes(bytes.constData(), size_t(bytes.size())));
}

namespace flightlines {

FlightFile::FlightFile(const QString &fileName) : m_file(std::make_unique<platform::ReadOnlyFile>(fileName))
{
    if (!m_file->isOpen())
        throw m_file->notRegular() ? FlightDataError(kNotRegular) : FlightDataError(m_file->error().toStdString());
    m_size = m_file->size();
}

FlightFile::~FlightFile() = default;

namespace {

// Reads until bytes are in, the file ends or a read fails; readSome(into, bytes, done) is one read call.
template <class ReadSome> std::size_t ReadFully(platform::ReadOnlyFile &file, char *into, std::size_t bytes,
                                                ReadSome readSome)
{
    std::size_t done = 0;
    while (done < bytes) {
        const std::int64_t n = readSome(into + done, bytes - done, done);
        if (n < 0)
            throw FlightDataError(file.error().toStdString());
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    return done;
}

} // namespace

std::size_t FlightFile::read(char *into, std::size_t bytes)
{
    return ReadFully(*m_file, into, bytes,
                     [this](char *to, std::size_t n, std::size_t) { return m_file->readSome(to, n); });
}

std::size_t FlightFile::readAt(std::uint64_t offset, char *into, std::size_t bytes)
{
    return ReadFully(*m_file, into, bytes, [this, offset](char *to, std::size_t n, std::size_t done) {
        return m_file->readSomeAt(offset + done, to, n);
    });
}

} // namespace flightlines

namespace {

// The whole file in one buffer. The file is read, not mapped, so nothing of it outlives the load.
LargeBytes ReadWholeFile(const QString &fileName)
{
    flightlines::FlightFile file(fileName);
    // Refused before anything is read or allocated.
    flightlines::RefuseLargerThanTable(file.size());
    LargeBytes bytes(size_t(file.size()));
    // A file that shrank since it was measured: what is there is the file.
    bytes.truncate(file.read(bytes.data(), bytes.size()));
    return bytes;
}

} // namespace

QString FlightFileStatusText(const QString &FileName)
{
    return QStringLiteral("Data File: ") + FileName + QStringLiteral("  Loaded for Edit");
}

void LoadFlightDataFile(const QString &FileName, FlightData &data, StatusLine &status)
{
    status.setStatus(FlightFileStatusText(FileName));
    // Build the new table aside; the old one stays until the new one is complete.
    try {
        data = FlightDataLoader::parse(ReadWholeFile(FileName));
    } catch (const std::bad_alloc &) {
        throw FlightDataError("there is not enough memory to load the file; close other programs and try again");
    }
}

} // namespace korvel
