#include "paint/FlightSketch.h"

#include "core/flight/FlightFields.h"
#include "core/flight/FlightSummary.h"


#include <algorithm>
#include <cmath>
#include <limits>

namespace korvel {

namespace {

constexpr int kSlotsPerColumn = 8;
constexpr float kInf = std::numeric_limits<float>::infinity();

void Merge(ColumnSpan &into, const ColumnSpan &next)
{
    if (!next.any)
        return;
    if (!into.any) {
        into = next;
        return;
    }
    into.low = std::min(into.low, next.low);
    into.high = std::max(into.high, next.high);
    into.last = next.last;
}

} // namespace

FlightSketch::FlightSketch(int columns)
    : m_columns(std::max(1, columns)), m_slotCount(m_columns * kSlotsPerColumn),
      m_slots(size_t(kSeriesCount) * size_t(m_slotCount), Slot{kInf, -kInf, 0, 0}),
      m_slotFirstRecord(size_t(m_slotCount), -1), m_low(kSeriesCount, kInf), m_high(kSeriesCount, -kInf)
{
    for (int s = 0; s < kSeriesCount; ++s) {
        m_seriesField[size_t(s)] = SeriesField(s);
        m_seriesScale[size_t(s)] = SeriesScale(s);
    }
}

void FlightSketch::widen()
{
    for (int s = 0; s < kSeriesCount; ++s) {
        Slot *bins = m_slots.data() + size_t(s) * size_t(m_slotCount);
        for (int b = 0; b < m_slotCount / 2; ++b) {
            const Slot a = bins[2 * b], c = bins[2 * b + 1];
            Slot joined = a;
            if (c.low <= c.high) {
                if (a.low <= a.high) {
                    joined.low = std::min(a.low, c.low);
                    joined.high = std::max(a.high, c.high);
                    joined.last = c.last;
                } else {
                    joined = c;
                }
            }
            bins[b] = joined;
        }
        std::fill(bins + m_slotCount / 2, bins + m_slotCount, Slot{kInf, -kInf, 0, 0});
    }
    for (int b = 0; b < m_slotCount / 2; ++b) {
        const qint64 a = m_slotFirstRecord[size_t(2 * b)], c = m_slotFirstRecord[size_t(2 * b + 1)];
        m_slotFirstRecord[size_t(b)] = a >= 0 ? a : c;
    }
    std::fill(m_slotFirstRecord.begin() + m_slotCount / 2, m_slotFirstRecord.end(), -1);
    m_slotWidth *= 2;
}

void FlightSketch::add(const FlightRecord &record)
{
    RecordReadings readings;
    ReadRecord(record, readings);
    add(readings);
}

void FlightSketch::add(const RecordReadings &record)
{
    const double x = m_axis.place(record.date, record.time);
    qint64 b = qint64(std::floor(x / m_slotWidth));
    while (b >= m_slotCount) {
        widen();
        b = qint64(std::floor(x / m_slotWidth));
    }
    if (m_slotFirstRecord[size_t(b)] < 0)
        m_slotFirstRecord[size_t(b)] = m_records;
    const double *reading = record.value.data();
    // The cylinders' spread at this record, by the rule every figure uses.
    const auto spread = [&](int firstCylinderSeries) {
        std::array<double, kCylinders> cylinders{};
        for (int c = 0; c < kCylinders; ++c)
            cylinders[size_t(c)] = reading[m_seriesField[size_t(firstCylinderSeries + c)]];
        return CylinderSpread(cylinders.data()).value_or(std::numeric_limits<double>::quiet_NaN());
    };
    const double egtSpread = spread(0), chtSpread = spread(kCylinders);
    Slot *slot = m_slots.data() + size_t(b);
    for (int s = 0; s < kSeriesCount; ++s, slot += m_slotCount) {
        const double v = s == kEgtSpreadSeries   ? egtSpread
                         : s == kChtSpreadSeries ? chtSpread
                                                 : reading[m_seriesField[size_t(s)]];
        if (std::isnan(v))
            continue;
        const float f = float(v * m_seriesScale[size_t(s)]);
        if (slot->low > slot->high) {
            *slot = Slot{f, f, f, f};
        } else {
            slot->low = std::min(slot->low, f);
            slot->high = std::max(slot->high, f);
            slot->last = f;
        }
    }
    ++m_records;
    m_settled = false;
}

double FlightSketch::x0() const
{
    return end() < 1 ? -1 : 0;
}

double FlightSketch::x1() const
{
    return end() < 1 ? end() + 1 : end();
}

void FlightSketch::settle() const
{
    if (m_settled)
        return;
    m_spans.assign(size_t(kSeriesCount) * size_t(m_columns), ColumnSpan{});
    m_columnRecords.assign(size_t(m_columns), 0);
    m_slotStarts.clear();
    // Each series' range over the flight from its slots, not kept up record by record.
    std::fill(m_low.begin(), m_low.end(), kInf);
    std::fill(m_high.begin(), m_high.end(), -kInf);
    const double a = x0(), span = x1() - a;
    for (int b = 0; b < m_slotCount; ++b) {
        if (m_slotFirstRecord[size_t(b)] < 0)
            continue;
        const int c = std::clamp(int(std::floor((b * m_slotWidth - a) * m_columns / span)), 0, m_columns - 1);
        m_columnRecords[size_t(c)] = 1;
        m_slotStarts.push_back({m_slotFirstRecord[size_t(b)], b * m_slotWidth});
        for (int s = 0; s < kSeriesCount; ++s) {
            const Slot &slot = m_slots[size_t(s) * size_t(m_slotCount) + size_t(b)];
            if (slot.low > slot.high)
                continue;
            Merge(m_spans[size_t(s) * size_t(m_columns) + size_t(c)],
                  ColumnSpan{slot.low, slot.high, slot.first, slot.last, true});
            m_low[size_t(s)] = std::min(m_low[size_t(s)], slot.low);
            m_high[size_t(s)] = std::max(m_high[size_t(s)], slot.high);
        }
    }
    m_settled = true;
}

ColumnSpan FlightSketch::span(int series, int column) const
{
    settle();
    return m_spans[size_t(series) * size_t(m_columns) + size_t(column)];
}

bool FlightSketch::columnHasRecords(int column) const
{
    settle();
    return m_columnRecords[size_t(column)] != 0;
}

bool FlightSketch::anyReading(int series) const
{
    settle();
    return m_low[size_t(series)] <= m_high[size_t(series)];
}

float FlightSketch::low(int series) const
{
    settle();
    return m_low[size_t(series)];
}

float FlightSketch::high(int series) const
{
    settle();
    return m_high[size_t(series)];
}

double FlightSketch::xOfRecord(qint64 record) const
{
    settle();
    // The slots' first records rise with their places: the last slot starting at or before it.
    const auto after = std::upper_bound(m_slotStarts.begin(), m_slotStarts.end(), record,
                                        [](qint64 r, const std::pair<qint64, double> &slot) { return r < slot.first; });
    if (after == m_slotStarts.begin())
        return 0;
    return std::min(std::prev(after)->second, end());
}

std::optional<double> FlightSketch::placeOfRecord(qint64 record) const
{
    if (record < 0 || record >= m_records)
        return std::nullopt;
    return xOfRecord(record);
}

// Each of the sketch's columns goes to the plot column its middle falls in; at the sketch's own
// width and span, one to one.
void FlightSketch::columnSpans(int series, double x0, double x1, int width, std::vector<ColumnSpan> &spans,
                               std::vector<char> &filled) const
{
    settle();
    spans.assign(size_t(std::max(0, width)), ColumnSpan{});
    filled.assign(size_t(std::max(0, width)), 0);
    if (width <= 0 || !(x1 > x0))
        return;
    const double own = (this->x1() - this->x0()) / m_columns;
    for (int j = 0; j < m_columns; ++j) {
        const double middle = this->x0() + (j + 0.5) * own;
        const int c = int(std::floor((middle - x0) * width / (x1 - x0)));
        if (c < 0 || c >= width)
            continue;
        if (m_columnRecords[size_t(j)])
            filled[size_t(c)] = 1;
        Merge(spans[size_t(c)], m_spans[size_t(series) * size_t(m_columns) + size_t(j)]);
    }
}

ValueSpan HomeSpan(const FlightSketch &sketch, Quantity quantity)
{
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (int s : SeriesOf(quantity))
        if (sketch.anyReading(s)) {
            low = std::min(low, double(sketch.low(s)));
            high = std::max(high, double(sketch.high(s)));
        }
    if (!(low <= high))
        return {};
    if (high - low < 1e-9) {
        low -= 1;
        high += 1;
    }
    const double pad = (high - low) * 0.04;
    const double step = NiceStep(high - low + 2 * pad, 6);
    return {std::floor((low - pad) / step) * step, std::ceil((high + pad) / step) * step};
}

ChartStack SketchStack(const FlightSketch &sketch, std::optional<double> chtLimit)
{
    ChartStack stack;
    stack.columns = &sketch;
    stack.charts = {{Quantity::Egt, Quantity::None}, {Quantity::Cht, Quantity::None}, {Quantity::Rpm, Quantity::Manifold}};
    stack.x0 = sketch.x0();
    stack.x1 = sketch.x1();
    for (const ChartChoice &chart : stack.charts)
        stack.values.push_back({HomeSpan(sketch, chart.left), HomeSpan(sketch, chart.right)});
    stack.chtLimit = chtLimit;
    return stack;
}

int SketchColumns(const QRect &area, int charts)
{
    const ChartStackLayout layout = LayOutCharts(charts, area);
    return layout.plots.isEmpty() ? 1 : layout.plots.front().width();
}

} // namespace korvel
