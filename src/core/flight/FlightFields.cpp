#include "core/flight/FlightFields.h"

#include "core/flight/RecordReadings.h"

#include <QByteArray>

#include <algorithm>
#include <charconv>
#include <limits>

#include <cmath>

namespace korvel {

const std::array<FieldInfo, kNamedFields> &NamedFields()
{
    // Oil pressure, oil temperature, outside air and manifold are recorded in tenths.
    static const std::array<FieldInfo, kNamedFields> fields = {{
        {kRpmField, "RPM", "RPM", "rpm", 1},
        {kOilTemperatureField, "Oil temperature", "Oil temp", "\u00b0F", 0.1},
        {kOilPressureField, "Oil pressure", "Oil press", "psi", 0.1},
        {kOutsideAirField, "Outside air", "Outside air", "\u00b0F", 0.1},
        {kManifoldField, "Manifold", "Manifold", "inHg", 0.1},
    }};
    return fields;
}

FieldInfo FieldInfoOf(int field)
{
    static const std::array<FieldInfo, kFlightFields> all = [] {
        static const char *const numbers[] = {"0",  "1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",
                                              "10", "11", "12", "13", "14", "15", "16", "17", "18", "19",
                                              "20", "21", "22", "23", "24", "25", "26", "27"};
        static const char *const cylinders[2][kCylinders] = {{"EGT 1", "EGT 2", "EGT 3", "EGT 4", "EGT 5", "EGT 6"},
                                                             {"CHT 1", "CHT 2", "CHT 3", "CHT 4", "CHT 5", "CHT 6"}};
        static std::array<QByteArray, kFlightFields> names;
        std::array<FieldInfo, kFlightFields> list{};
        for (int f = 0; f < kFlightFields; ++f) {
            names[size_t(f)] = QByteArray("Field ") + numbers[f];
            list[size_t(f)] = {f, names[size_t(f)].constData(), names[size_t(f)].constData(), "", 1};
        }
        for (int c = 0; c < kCylinders; ++c) {
            list[size_t(kFirstEgtField + c)] = {kFirstEgtField + c, cylinders[0][c], cylinders[0][c], "\u00b0F", 1};
            list[size_t(kFirstChtField + c)] = {kFirstChtField + c, cylinders[1][c], cylinders[1][c], "\u00b0F", 1};
        }
        for (const FieldInfo &named : NamedFields())
            list[size_t(named.field)] = named;
        return list;
    }();
    return all[size_t(std::clamp(field, 0, kFlightFields - 1))];
}

const char *FieldMeasureKey(int field, FieldStatistic statistic)
{
    static const std::array<std::array<QByteArray, 3>, kFlightFields> keys = [] {
        std::array<std::array<QByteArray, 3>, kFlightFields> list;
        for (int f = 0; f < kFlightFields; ++f) {
            const QByteArray base = "field" + QByteArray::number(f) + '.';
            list[size_t(f)] = {base + "min", base + "max", base + "mean"};
        }
        return list;
    }();
    return keys[size_t(std::clamp(field, 0, kFlightFields - 1))][size_t(statistic)].constData();
}

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
