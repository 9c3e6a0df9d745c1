#include "core/flight/FlightFields.h"

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

} // namespace korvel
