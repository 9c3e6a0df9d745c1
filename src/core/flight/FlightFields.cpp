#include "core/flight/FlightFields.h"

#include "core/flight/RecordReadings.h"

#include <limits>

#include <charconv>
#include <cmath>

namespace korvel {

QString FlightFieldName(int field)
{
    if (field >= kFirstChtField && field < kFirstChtField + kCylinders)
        return QStringLiteral("CHT%1").arg(field - kFirstChtField + 1);
    if (field >= kFirstEgtField && field < kFirstEgtField + kCylinders)
        return QStringLiteral("EGT%1").arg(field - kFirstEgtField + 1);
    return QStringLiteral("field%1").arg(field);
}

std::optional<double> FieldNumber(QLatin1StringView text)
{
    const char *begin = text.data();
    const char *end = begin + text.size();
    while (begin < end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t'))
        --end;
    if (begin == end)
        return std::nullopt;
    if (*begin == '+')
        ++begin;
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::general);
    if (error != std::errc() || stop != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

double FieldReading(QLatin1StringView text)
{
    // Both roads give the same answer for every text.
    const char *p = text.data();
    const qsizetype n = text.size();
    if (n > 0 && n <= 9) {
        unsigned whole = 0;
        qsizetype i = 0;
        for (; i < n; ++i) {
            const unsigned digit = unsigned(static_cast<unsigned char>(p[i])) - unsigned('0');
            if (digit > 9)
                break;
            whole = whole * 10 + digit;
        }
        if (i == n)
            return double(whole);
    }
    return FieldNumber(text).value_or(std::numeric_limits<double>::quiet_NaN());
}

// Beside FieldReading so that its short road is taken without a call for each field.
void ReadRecord(const FlightRecord &record, RecordReadings &out)
{
    out.date = record.LogDate();
    out.time = record.LogTime();
    for (int f = 0; f < kFlightFields; ++f)
        out.value[size_t(f)] = FieldReading(record.Values(f));
}

} // namespace korvel
