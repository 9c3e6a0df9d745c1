#include "core/flight/FlightColumns.h"

#include "core/flight/FlightFields.h"
#include "core/flight/FlightSummary.h"
#include "core/flight/TimeText.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

namespace korvel {

namespace {

constexpr float kEmpty = std::numeric_limits<float>::quiet_NaN();

struct SeriesSource {
    const char *name;
    int field;
    double scale;
};

static_assert(kRpmSeries + kNamedFields == kEgtSpreadSeries, "a series for every named field");

// The cylinders' fields, the named fields from the catalogue, then the spreads (worked out from the
// cylinders, no field of their own).
const std::array<SeriesSource, kSeriesCount> &Sources()
{
    static const std::array<SeriesSource, kSeriesCount> sources = [] {
        std::array<SeriesSource, kSeriesCount> list{};
        for (int c = 0; c < 2 * kCylinders; ++c) {
            const FieldInfo info = FieldInfoOf(kFirstEgtField + c);
            list[size_t(c)] = {info.legend, info.field, info.scale};
        }
        for (int n = 0; n < kNamedFields; ++n) {
            const FieldInfo &info = NamedFields()[size_t(n)];
            list[size_t(kRpmSeries + n)] = {info.legend, info.field, info.scale};
        }
        list[kEgtSpreadSeries] = {"EGT spread", -1, 1};
        list[kChtSpreadSeries] = {"CHT spread", -1, 1};
        return list;
    }();
    return sources;
}

// The named field an engine quantity shows, null for any other quantity.
const FieldInfo *NamedFieldOf(Quantity quantity)
{
    const int n = int(quantity) - int(Quantity::Rpm);
    return n >= 0 && n < kNamedFields ? &NamedFields()[size_t(n)] : nullptr;
}

} // namespace

const std::array<QuantityInfo, kQuantityCount> &Quantities()
{
    static const std::array<QuantityInfo, kQuantityCount> list = {{
        {Quantity::None, "none", "(none)"},
        {Quantity::Egt, "egt", "EGT 1-6"},
        {Quantity::Cht, "cht", "CHT 1-6"},
        {Quantity::Rpm, "rpm", NamedFields()[0].name},
        {Quantity::OilTemp, "oil_temp", NamedFields()[1].name},
        {Quantity::OilPress, "oil_press", NamedFields()[2].name},
        {Quantity::Oat, "oat", NamedFields()[3].name},
        {Quantity::Manifold, "manifold", NamedFields()[4].name},
        {Quantity::EgtSpread, "egt_spread", "EGT spread"},
        {Quantity::ChtSpread, "cht_spread", "CHT spread"},
        {Quantity::Cylinder1, "cyl1", "Cylinder 1"},
        {Quantity::Cylinder2, "cyl2", "Cylinder 2"},
        {Quantity::Cylinder3, "cyl3", "Cylinder 3"},
        {Quantity::Cylinder4, "cyl4", "Cylinder 4"},
        {Quantity::Cylinder5, "cyl5", "Cylinder 5"},
        {Quantity::Cylinder6, "cyl6", "Cylinder 6"},
    }};
    return list;
}

const QuantityInfo &InfoOf(Quantity quantity)
{
    return Quantities()[size_t(quantity)];
}

Quantity QuantityFromKey(const QString &key)
{
    for (const QuantityInfo &info : Quantities())
        if (key == QLatin1String(info.key))
            return info.quantity;
    return Quantity::None;
}

QString QuantityUnit(Quantity quantity)
{
    if (quantity == Quantity::None)
        return QString();
    if (const FieldInfo *named = NamedFieldOf(quantity))
        return QString::fromUtf8(named->unit);
    return QString::fromUtf8(FieldInfoOf(kFirstEgtField).unit); // the cylinders and their spreads
}

QString AxisTitle(Quantity quantity)
{
    switch (quantity) {
    case Quantity::None:
        return QString();
    case Quantity::Egt:
        return QStringLiteral("EGT (\u00b0F)");
    case Quantity::Cht:
        return QStringLiteral("CHT (\u00b0F)");
    case Quantity::Rpm:
        return QStringLiteral("RPM");
    default:
        if (const int cylinder = QuantityCylinder(quantity))
            return QStringLiteral("EGT %1 (\u00b0F)").arg(cylinder);
        return QStringLiteral("%1 (%2)").arg(QString::fromUtf8(InfoOf(quantity).caption), QuantityUnit(quantity));
    }
}

bool QuantityShowsCht(Quantity quantity)
{
    return quantity == Quantity::Cht;
}

int QuantityCylinder(Quantity quantity)
{
    const int n = int(quantity) - int(Quantity::Cylinder1) + 1;
    return n >= 1 && n <= kCylinders ? n : 0;
}

QString SeriesUnit(int series)
{
    if (series >= kRpmSeries && series < kEgtSpreadSeries)
        return QuantityUnit(Quantity(int(Quantity::Rpm) + series - kRpmSeries));
    return QStringLiteral("\u00b0F");
}

QString ReadingWithUnit(int series, double value)
{
    const QString unit = SeriesUnit(series);
    return ReadingText(value) + (unit.startsWith(QChar(0xb0)) ? unit : QLatin1Char(' ') + unit);
}

std::vector<int> SeriesOf(Quantity quantity)
{
    switch (quantity) {
    case Quantity::None:
        return {};
    case Quantity::Egt:
        return {0, 1, 2, 3, 4, 5};
    case Quantity::Cht:
        return {6, 7, 8, 9, 10, 11};
    case Quantity::EgtSpread:
        return {kEgtSpreadSeries};
    case Quantity::ChtSpread:
        return {kChtSpreadSeries};
    default:
        if (const int cylinder = QuantityCylinder(quantity))
            return {cylinder - 1, kCylinders + cylinder - 1};
        return {kRpmSeries + int(quantity) - int(Quantity::Rpm)};
    }
}

QString SeriesName(int series)
{
    return QString::fromUtf8(Sources()[size_t(series)].name);
}

int SeriesCylinder(int series)
{
    return series < 2 * kCylinders ? series % kCylinders + 1 : 0;
}

int SeriesField(int series)
{
    return Sources()[size_t(series)].field;
}

double SeriesScale(int series)
{
    return Sources()[size_t(series)].scale;
}

void SeriesColumn::prepareBlocks()
{
    const size_t blocks = (values.size() + kBlock - 1) / kBlock;
    blockLow.assign(blocks, std::numeric_limits<float>::infinity());
    blockHigh.assign(blocks, -std::numeric_limits<float>::infinity());
}

void SeriesColumn::buildBlocks(int from, int to)
{
    const size_t blocks = (size_t(to) + kBlock - 1) / kBlock;
    for (size_t b = size_t(from) / kBlock; b < blocks; ++b) {
        float lo = std::numeric_limits<float>::infinity(), hi = -lo;
        const size_t stop = std::min(values.size(), (b + 1) * kBlock);
        for (size_t i = b * kBlock; i < stop; ++i) {
            const float v = values[i];
            if (v == v) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        blockLow[b] = lo;
        blockHigh[b] = hi;
    }
}

void SeriesColumn::finishBlocks()
{
    const size_t blocks = blockLow.size();
    anyReading = false;
    low = std::numeric_limits<float>::infinity();
    high = -low;
    for (size_t b = 0; b < blocks; ++b) {
        if (blockLow[b] <= blockHigh[b]) {
            anyReading = true;
            low = std::min(low, blockLow[b]);
            high = std::max(high, blockHigh[b]);
        }
    }
}

ColumnSpan SeriesColumn::span(int begin, int end) const
{
    ColumnSpan s;
    begin = std::max(begin, 0);
    end = std::min(end, int(values.size()));
    if (begin >= end)
        return s;
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    auto raw = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            const float v = values[size_t(i)];
            if (v == v) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
    };
    const int firstBlock = (begin + kBlock - 1) / kBlock;
    const int lastBlock = end / kBlock;
    if (firstBlock < lastBlock) {
        raw(begin, firstBlock * kBlock);
        for (int b = firstBlock; b < lastBlock; ++b) {
            lo = std::min(lo, blockLow[size_t(b)]);
            hi = std::max(hi, blockHigh[size_t(b)]);
        }
        raw(lastBlock * kBlock, end);
    } else {
        raw(begin, end);
    }
    if (!(lo <= hi))
        return s;
    s.any = true;
    s.low = lo;
    s.high = hi;
    for (int i = begin; i < end; ++i)
        if (values[size_t(i)] == values[size_t(i)]) {
            s.first = values[size_t(i)];
            break;
        }
    for (int i = end - 1; i >= begin; --i)
        if (values[size_t(i)] == values[size_t(i)]) {
            s.last = values[size_t(i)];
            break;
        }
    return s;
}

FlightColumns::FlightColumns(const FlightData &data, const std::vector<Quantity> &first) : m_data(data)
{
    m_records = data.FlightRecordCount ? std::clamp(*data.FlightRecordCount, 0, data.FlightRecords.records()) : 0;
    m_x.resize(size_t(m_records));
    m_timeOfDay.resize(size_t(m_records));
    m_axis.setFirstDay(m_records > 0 ? data.FlightRecords[0].LogDate() : QDate());
    // The times come with the first series, in the same pass over the table.
    m_timesPending = true;
    readQuantities(first);
    if (m_timesPending)
        readSeries({});
    placeRecords();
}

// The axis from the times read (the stamps stand in m_x until the records are placed).
void FlightColumns::placeRecords()
{
    for (int k = 0; k < m_records; ++k)
        m_x[size_t(k)] = m_axis.place(m_timeOfDay[size_t(k)], m_x[size_t(k)]);
    if (m_data.FlightRecordCount && m_records == 0)
        m_problems << QStringLiteral("The flight holds no records: there is nothing to draw.");
    m_problems << m_axis.problems();
}

const SeriesColumn &FlightColumns::column(int series) const
{
    if (!m_columns[size_t(series)])
        readSeries({series});
    return *m_columns[size_t(series)];
}

void FlightColumns::readQuantities(const std::vector<Quantity> &quantities) const
{
    std::vector<int> wanted;
    for (Quantity q : quantities)
        for (int s : SeriesOf(q))
            if (!m_columns[size_t(s)] && std::find(wanted.begin(), wanted.end(), s) == wanted.end())
                wanted.push_back(s);
    if (!wanted.empty())
        readSeries(wanted);
}

namespace {

// Fields first to last of a record read left to right in one go, when all are plain whole
// numbers (as nearly every record has them); false sends the caller to the field-by-field reading.
bool ReadRun(const FlightRecord &r, int first, int last, double *out)
{
    const QLatin1StringView a = r.Values(first);
    const QLatin1StringView b = r.Values(last);
    if (a.isEmpty() || b.isEmpty())
        return false;
    const char *p = a.data();
    const char *end = b.data() + b.size();
    for (int f = first; f <= last; ++f) {
        bool negative = false;
        if (p < end && *p == '-') {
            negative = true;
            ++p;
        }
        const char *digits = p;
        int v = 0;
        while (p < end && unsigned(*p - '0') < 10)
            v = v * 10 + (*p++ - '0');
        if (p == digits || p - digits > 9)
            return false;
        out[f - first] = negative ? -v : v;
        if (f < last) {
            if (p >= end || *p != ',')
                return false;
            ++p;
        }
    }
    return p == end;
}

} // namespace

// One pass over the records for every series asked for (the table is far larger than the
// columns, so each pass over it costs), in two halves side by side.
// The spreads are worked out from the cylinders' columns, read first (in the same pass as the rest).
void FlightColumns::readSeries(const std::vector<int> &series) const
{
    std::vector<int> fields;
    const auto want = [&](int s) {
        if (!m_columns[size_t(s)] && std::find(fields.begin(), fields.end(), s) == fields.end())
            fields.push_back(s);
    };
    for (int s : series) {
        if (s == kEgtSpreadSeries || s == kChtSpreadSeries) {
            for (int c = 0; c < kCylinders; ++c)
                want((s == kEgtSpreadSeries ? 0 : kCylinders) + c);
        } else {
            want(s);
        }
    }
    if (!fields.empty() || m_timesPending)
        readFields(fields);
    for (int s : series)
        if (s == kEgtSpreadSeries || s == kChtSpreadSeries)
            buildSpread(s, s == kEgtSpreadSeries ? 0 : kCylinders);
}

// The cylinders' spread at each record (CylinderSpread); empty where it has none.
void FlightColumns::buildSpread(int series, int firstCylinderSeries) const
{
    auto column = std::make_unique<SeriesColumn>();
    column->values.resize(size_t(m_records));
    std::array<const float *, kCylinders> cylinders{};
    for (int c = 0; c < kCylinders; ++c)
        cylinders[size_t(c)] = m_columns[size_t(firstCylinderSeries + c)]->values.data();
    std::array<float, kCylinders> record{};
    for (size_t k = 0; k < size_t(m_records); ++k) {
        for (int c = 0; c < kCylinders; ++c)
            record[size_t(c)] = cylinders[size_t(c)][k];
        const std::optional<double> spread = CylinderSpread(record.data());
        column->values[k] = spread ? float(*spread) : kEmpty;
    }
    column->prepareBlocks();
    column->buildBlocks(0, m_records);
    column->finishBlocks();
    m_columns[size_t(series)] = std::move(column);
}

void FlightColumns::readFields(const std::vector<int> &series) const
{
    std::vector<SeriesColumn *> columns;
    std::vector<SeriesSource> sources;
    for (int s : series) {
        m_columns[size_t(s)] = std::make_unique<SeriesColumn>();
        m_columns[size_t(s)]->values.resize(size_t(m_records));
        columns.push_back(m_columns[size_t(s)].get());
        sources.push_back(Sources()[size_t(s)]);
    }
    // The fields to read, as runs of neighbours: the cylinders' twelve sit side by side.
    std::array<bool, kFlightFields> wanted{};
    for (const SeriesSource &source : sources)
        wanted[size_t(source.field)] = true;
    std::vector<std::pair<int, int>> runs;
    for (int f = 0; f < kFlightFields; ++f)
        if (wanted[size_t(f)]) {
            if (!runs.empty() && runs.back().second == f - 1)
                runs.back().second = f;
            else
                runs.push_back({f, f});
        }

    const bool times = m_timesPending;
    m_timesPending = false;
    const FlightRecordTable &table = m_data.FlightRecords;
    // A table replaced under us reads as empty past its end rather than outside it.
    const int readable = std::min(m_records, table.records());
    for (int k = readable; k < m_records; ++k) {
        for (SeriesColumn *c : columns)
            c->values[size_t(k)] = kEmpty;
        if (times) {
            m_timeOfDay[size_t(k)] = -1;
            m_x[size_t(k)] = std::nan("");
        }
    }
    const size_t count = columns.size();
    const auto read = [&](int from, int to) {
        std::array<double, kFlightFields> number{};
        std::array<bool, kFlightFields> empty{};
        for (int k = from; k < to; ++k) {
            const FlightRecord r = table[k];
            if (times) {
                const QTime t = r.LogTime();
                const QDate d = r.LogDate();
                m_timeOfDay[size_t(k)] = t.isValid() ? t.msecsSinceStartOfDay() / 1000 : -1;
                m_x[size_t(k)] = m_axis.stampOf(d, m_timeOfDay[size_t(k)]);
            }
            for (const auto &[a, b] : runs) {
                if (ReadRun(r, a, b, &number[size_t(a)])) {
                    std::fill(empty.begin() + a, empty.begin() + b + 1, false);
                    continue;
                }
                for (int f = a; f <= b; ++f) {
                    const QLatin1StringView text = r.Values(f);
                    empty[size_t(f)] = text.isEmpty();
                    number[size_t(f)] = empty[size_t(f)] ? 0 : FieldReading(text);
                }
            }
            for (size_t i = 0; i < count; ++i) {
                const int f = sources[i].field;
                columns[i]->values[size_t(k)] = empty[size_t(f)] ? kEmpty : float(number[size_t(f)] * sources[i].scale);
            }
        }
        for (SeriesColumn *c : columns)
            c->buildBlocks(from, to);
    };
    for (SeriesColumn *c : columns)
        c->prepareBlocks();
    // Halves on a block boundary, so each half builds its own blocks.
    const int half = readable > 100000 ? (readable / 2) / SeriesColumn::kBlock * SeriesColumn::kBlock : readable;
    if (half < readable) {
        std::thread second(read, half, readable);
        read(0, half);
        second.join();
    } else {
        read(0, readable);
    }
    for (SeriesColumn *c : columns) {
        if (readable < m_records)
            c->buildBlocks(readable / SeriesColumn::kBlock * SeriesColumn::kBlock, m_records);
        c->finishBlocks();
    }
}

int FlightColumns::lowerRecord(double x) const
{
    return int(std::lower_bound(m_x.begin(), m_x.end(), x) - m_x.begin());
}

int FlightColumns::upperRecord(double x) const
{
    return int(std::upper_bound(m_x.begin(), m_x.end(), x) - m_x.begin());
}

int FlightColumns::nearestRecord(double x) const
{
    if (m_x.empty())
        return -1;
    const int after = lowerRecord(x);
    if (after >= m_records)
        return m_records - 1;
    if (after == 0)
        return 0;
    // On a tie the earlier record; among records of one second, the first of them.
    const int before = after - 1;
    if (x - m_x[size_t(before)] <= m_x[size_t(after)] - x)
        return lowerRecord(m_x[size_t(before)]);
    return after;
}

std::optional<double> FlightColumns::placeOfRecord(qint64 record) const
{
    if (record < 0 || record >= m_records)
        return std::nullopt;
    return m_x[size_t(record)];
}

std::vector<int> FlightColumns::columnBounds(double x0, double x1, int width) const
{
    std::vector<int> bounds(size_t(std::max(0, width)) + 1);
    const double perColumn = (x1 - x0) / std::max(1, width);
    for (int c = 0; c <= width; ++c)
        bounds[size_t(c)] = lowerRecord(x0 + c * perColumn);
    return bounds;
}

void FlightColumns::columnSpans(int series, double x0, double x1, int width, std::vector<ColumnSpan> &spans,
                                std::vector<char> &filled) const
{
    const std::vector<int> bounds = columnBounds(x0, x1, width);
    const SeriesColumn &values = column(series);
    spans.assign(size_t(std::max(0, width)), ColumnSpan{});
    filled.assign(size_t(std::max(0, width)), 0);
    for (int c = 0; c < width; ++c) {
        filled[size_t(c)] = bounds[size_t(c)] != bounds[size_t(c) + 1];
        spans[size_t(c)] = values.span(bounds[size_t(c)], bounds[size_t(c) + 1]);
    }
}

bool FlightColumns::recordPoints(int series, double x0, double x1, int most, std::vector<double> &places,
                                 std::vector<float> &values) const
{
    const int begin = std::max(0, lowerRecord(x0) - 1);
    const int end = std::min(m_records, lowerRecord(x1) + 1);
    if (end - begin > most)
        return false;
    const SeriesColumn &readings = column(series);
    places.assign(m_x.begin() + begin, m_x.begin() + std::max(begin, end));
    values.assign(readings.values.begin() + begin, readings.values.begin() + std::max(begin, end));
    return true;
}

QString FlightColumns::timeText(int record, bool withDay) const
{
    if (record < 0 || record >= m_records || m_timeOfDay[size_t(record)] < 0)
        return QString();
    const QString time = LocalTimeText(m_timeOfDay[size_t(record)]);
    return withDay ? dayTextAt(m_x[size_t(record)]) + QLatin1Char(' ') + time : time;
}

QString ReadingText(double v)
{
    return QString::number(v, 'f', std::abs(v - std::round(v)) < 1e-6 ? 0 : 1);
}

} // namespace korvel
