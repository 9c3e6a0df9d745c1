#include "flightdata/FlightData.h"

#include "app/UiInterfaces.h"

#include <QFile>

#include <cstring>
#include <string_view>

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
    const QLatin1StringView text = withoutTrailingBlanks(raw);
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

class FlightDataLoader {
public:
    static FlightData parse(QByteArray bytes);

private:
    static void addLine(FlightRecordTable &table, const char *base, std::uint32_t begin, std::uint32_t end, int lineNo);
};

void FlightDataLoader::addLine(FlightRecordTable &table, const char *base, std::uint32_t begin, std::uint32_t end,
                               int lineNo)
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
    std::uint32_t p = 0;
    for (std::uint32_t i = 16; i < len; ++i) {
        if (line[i] == ',') {
            p = i + 1;
            break;
        }
    }
    std::array<std::uint32_t, kFlightFields> fieldBegin, fieldLength;
    for (int k = 0; k < kFlightFields; ++k) {
        if (p >= len) {
            fieldBegin[size_t(k)] = std::min(p, len);
            fieldLength[size_t(k)] = 0;
            p = len + 1;
            continue;
        }
        std::uint32_t q = p;
        while (q < len && line[q] != ',')
            ++q;
        fieldBegin[size_t(k)] = p;
        fieldLength[size_t(k)] = q - p;
        p = q + 1;
    }

    FlightRecordIndex &rec = table.m_index.emplace_back();
    rec.date = *date;
    rec.time = *time;
    rec.lineBegin = begin;
    if (len <= 0xFFFF) {
        for (size_t k = 0; k < size_t(kFlightFields); ++k) {
            rec.begin[k] = std::uint16_t(fieldBegin[k]);
            rec.length[k] = std::uint16_t(fieldLength[k]);
        }
    } else {
        rec.wide = std::int32_t(table.m_wide.size());
        FlightRecordWideSpans &wide = table.m_wide.emplace_back();
        for (size_t k = 0; k < size_t(kFlightFields); ++k) {
            wide.begin[k] = begin + fieldBegin[k];
            wide.length[k] = fieldLength[k];
        }
    }
}

FlightData FlightDataLoader::parse(QByteArray bytes)
{
    if (bytes.size() > qsizetype(UINT32_MAX) - 2)
        throw FlightDataError("the file is too large for a flight record");

    FlightData result;
    FlightRecordTable &table = result.FlightRecords;
    table.m_bytes = std::move(bytes);
    const char *base = table.m_bytes.constData();
    const std::uint32_t size = std::uint32_t(table.m_bytes.size());
    if (size == 0) {
        result.FlightRecordCount = 0;
        return result;
    }

    // Lines end in CR LF; a text without any CR LF is split at LF instead.
    const bool crlf = std::string_view(base, size).find("\r\n") != std::string_view::npos;
    table.m_index.reserve(size / 128 + 1);

    int piece = 0;
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

FlightData ParseFlightData(QByteArray bytes)
{
    return FlightDataLoader::parse(std::move(bytes));
}

void LoadFlightDataFile(const QString &FileName, FlightData &data, StatusLine &status)
{
    status.setStatus(QStringLiteral("Data File: ") + FileName + QStringLiteral("  Loaded for Edit"));
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        throw FlightDataError(file.errorString().toStdString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw FlightDataError(file.errorString().toStdString());
    file.close();
    // Build the new table aside; the old one stays until the new one is complete.
    data = FlightDataLoader::parse(std::move(bytes));
}

} // namespace korvel
