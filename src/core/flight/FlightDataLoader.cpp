#include "core/flight/FlightData.h"

#include "core/ui/UiInterfaces.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

class FlightDataLoader {
public:
    static FlightData parse(LargeBytes bytes);

private:
    static void addLine(FlightRecordTable &table, const char *base, std::uint32_t begin, std::uint32_t end,
                        qint64 lineNo);
};

void FlightDataLoader::addLine(FlightRecordTable &table, const char *base, std::uint32_t begin, std::uint32_t end,
                               qint64 lineNo)
{
    const char *line = base + begin;
    const std::uint32_t len = end - begin;
    const auto date = ParseFlightDate(QLatin1StringView(line, qsizetype(std::min<std::uint32_t>(len, 8))));
    if (!date)
        return;
    const QLatin1StringView timeText =
        len > 9 ? QLatin1StringView(line + 9, qsizetype(std::min<std::uint32_t>(len - 9, 8))) : QLatin1StringView();
    const auto time = ParseFlightTime(timeText);
    if (!time)
        throw FlightDataError("no time of day in columns 10 to 17 of line " + std::to_string(lineNo));

    // Fields start after the first comma at or after column 17, or at column 1 when there is none.
    const std::uint32_t first = FirstComma(line, 16, len);
    std::array<std::uint32_t, kFlightFields + 1> offset;
    offset[0] = first < len ? first + 1 : 0;
    // Each comma ends a field; the field after the last comma runs to the line's end, and those
    // after it start past the end (empty).
    size_t k = 0;
    for (std::uint32_t i = offset[0]; i < len && k < size_t(kFlightFields); i += 16) {
        std::uint32_t mask = CommaMask(line + i);
        if (len - i < 16)
            mask &= (1u << (len - i)) - 1;
        while (mask && k < size_t(kFlightFields)) {
            offset[++k] = i + std::uint32_t(LowestBit(mask)) + 1;
            mask &= mask - 1;
        }
    }
    while (k < size_t(kFlightFields))
        offset[++k] = len + 1;

    FlightRecordIndex &rec = table.m_index.emplace_back();
    rec.date = *date;
    rec.time = *time;
    rec.lineBegin = begin;
    rec.lineLength = len;
    if (len < 0xFFFF) {
        for (size_t n = 0; n <= size_t(kFlightFields); ++n)
            rec.offset[n] = std::uint16_t(offset[n]);
    } else {
        rec.wide = std::int32_t(table.m_wide.size());
        table.m_wide.emplace_back().offset = offset;
    }
}

FlightData FlightDataLoader::parse(LargeBytes bytes)
{
    if (bytes.size() > kLargestFlightFile)
        throw TooLarge(bytes.size());

    FlightData result;
    FlightRecordTable &table = result.FlightRecords;
    table.m_bytes = std::move(bytes);
    const char *base = table.m_bytes.data();
    const std::uint32_t size = std::uint32_t(table.m_bytes.size());
    if (size == 0) {
        result.FlightRecordCount = 0;
        return result;
    }

    // Lines end in CR LF; a text without any CR LF is split at LF instead.
    const std::string_view text(base, size);
    const bool crlf = text.find("\r\n") != std::string_view::npos;
    // One index entry per line at most: reserved once, so a flight's index is written in place. A
    // flight's lines are longer than 64 bytes; a file of shorter lines (line ends alone, at worst)
    // grows its index as it goes rather than reserving for lines that are no records.
    table.m_index.reserve(std::min(size_t(std::count(text.begin(), text.end(), '\n')), size_t(size) / 64) + 1);

    // A file of up to 4 GiB holds more lines than an int counts.
    qint64 piece = 0;
    std::uint32_t begin = 0;
    std::uint32_t searchFrom = 0;
    while (true) {
        const void *lf = searchFrom < size ? std::memchr(base + searchFrom, '\n', size - searchFrom) : nullptr;
        if (!lf) {
            if (piece > 0)
                addLine(table, base, begin, size, piece + 1);
            ++piece;
            break;
        }
        const std::uint32_t at = std::uint32_t(static_cast<const char *>(lf) - base);
        if (crlf && (at == begin || base[at - 1] != '\r')) {
            searchFrom = at + 1; // a lone LF stays inside its line
            continue;
        }
        const std::uint32_t end = crlf ? at - 1 : at;
        if (piece > 0) // the first line is never a record
            addLine(table, base, begin, end, piece + 1);
        ++piece;
        begin = searchFrom = at + 1;
    }
    table.m_slots = piece;
    result.FlightRecordCount = table.records();
    return result;
}

FlightData ParseFlightData(const QByteArray &bytes)
{
    return FlightDataLoader::parse(LargeBytes(bytes.constData(), size_t(bytes.size())));
}

namespace {

std::string SystemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code)).toStdString();
}

// The whole file in one buffer. Only a regular file is read: a pipe would block for ever and a
// device need never end. The file is read, not mapped, so nothing of it outlives the load.
LargeBytes ReadWholeFile(const QString &fileName)
{
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(fileName);
    // Not blocking: opening a pipe must not wait for a writer before it can be refused.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw FlightDataError(SystemError(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw FlightDataError(SystemError(errno));
    if (!S_ISREG(info.st_mode))
        throw FlightDataError(kNotRegular);
    // Refused before anything is read or allocated.
    if (std::uint64_t(info.st_size) > kLargestFlightFile)
        throw TooLarge(std::uint64_t(info.st_size));
    LargeBytes bytes(size_t(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FlightDataError(SystemError(errno));
        }
        if (n == 0)
            break; // the file shrank since it was measured: what is there is the file
        done += size_t(n);
    }
    bytes.truncate(done);
    return bytes;
#else
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile())
        throw FlightDataError(kNotRegular);
    if (std::uint64_t(info.size()) > kLargestFlightFile)
        throw TooLarge(std::uint64_t(info.size()));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw FlightDataError(file.errorString().toStdString());
    LargeBytes bytes(size_t(file.size()));
    const qint64 n = file.read(bytes.data(), qint64(bytes.size()));
    if (n < 0)
        throw FlightDataError(file.errorString().toStdString());
    bytes.truncate(size_t(n));
    return bytes;
#endif
}

} // namespace

void LoadFlightDataFile(const QString &FileName, FlightData &data, StatusLine &status)
{
    status.setStatus(QStringLiteral("Data File: ") + FileName + QStringLiteral("  Loaded for Edit"));
    // Build the new table aside; the old one stays until the new one is complete.
    try {
        data = FlightDataLoader::parse(ReadWholeFile(FileName));
    } catch (const std::bad_alloc &) {
        throw FlightDataError("there is not enough memory to load the file; close other programs and try again");
    }
}

} // namespace korvel
