#include "paint/FlightSketch.h"

#include "core/flight/FlightFields.h"
#include "core/flight/FlightSummary.h"

#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace korvel {

namespace {

constexpr int kSlotsPerColumn = 8;
constexpr float kInf = std::numeric_limits<float>::infinity();

bool Has(const ColumnSpan &s)
{
    return s.any;
}

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

// The view's placing of records, one at a time: by date where both records carry one, else by
// time of day (a smaller time is the next day); a clock that goes back costs one usual step.
double FlightSketch::place(QDate d, QTime t)
{
    const int time = t.isValid() ? t.msecsSinceStartOfDay() / 1000 : -1;
    if (m_records == 0) {
        m_firstDay = d.isValid() ? d.toJulianDay() : 0;
        m_firstTime = std::max(0, time);
    }
    const double stamp = time >= 0 && d.isValid() && m_firstDay != 0 ? double(d.toJulianDay() - m_firstDay) * 86400 + time
                                                                     : std::nan("");
    double x = m_lastX;
    if (time >= 0 && m_lastTime >= 0) {
        double step = !std::isnan(stamp) && !std::isnan(m_lastStamp) ? stamp - m_lastStamp : double(time - m_lastTime);
        if (step < -43200)
            step += 86400;
        if (step < 0)
            step = m_usualStep;
        else if (step > 0)
            m_usualStep = step;
        x = m_lastX + step;
    }
    if (time >= 0) {
        m_lastTime = time;
        m_lastStamp = stamp;
    }
    return x;
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
    const double x = place(record.date, record.time);
    m_lastX = x;
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
    return m_lastX < 1 ? -1 : 0;
}

double FlightSketch::x1() const
{
    return m_lastX < 1 ? m_lastX + 1 : m_lastX;
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
    return std::min(std::prev(after)->second, m_lastX);
}

QString FlightSketch::timeTextAt(double x) const
{
    const int seconds = int(((qint64(m_firstTime) + qint64(std::floor(x))) % 86400 + 86400) % 86400);
    const QString time = TimeOfDayText(seconds);
    return spansDays() ? dayTextAt(x) + QLatin1Char(' ') + time : time;
}

QString FlightSketch::dayTextAt(double x) const
{
    const qint64 day = qint64(std::floor((m_firstTime + x) / 86400));
    if (m_firstDay != 0)
        return QLocale::system().toString(QDate::fromJulianDay(m_firstDay + day), QStringLiteral("d MMM"));
    return QStringLiteral("day %1").arg(day + 1);
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

namespace {

std::vector<std::pair<int, int>> PresentSeries(const ChartStack &stack, const FlightSketch &sketch, int chart)
{
    std::vector<std::pair<int, int>> list;
    const ChartChoice &choice = stack.charts[size_t(chart)];
    for (int axis = 0; axis < 2; ++axis)
        for (int s : SeriesOf(axis == 0 ? choice.left : choice.right))
            if (SeriesCylinder(s) == 0 || sketch.anyReading(s))
                list.push_back({axis, s});
    return list;
}

// The legend line above each chart, as the view's: the left axis's series, then the right's.
void PaintSketchLegend(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack,
                       const FlightSketch &sketch)
{
    const QFontMetrics metrics(ChartFont());
    const int header = 16;
    painter.setFont(ChartFont());
    for (int c = 0; c < layout.plots.size(); ++c) {
        const QRect plot = layout.plots[c];
        int lx = plot.left();
        const int ly = plot.top() - header;
        int lastAxis = 0;
        for (const auto &[axis, s] : PresentSeries(stack, sketch, c)) {
            if (axis != lastAxis) {
                const QString bar = QStringLiteral("|  right:");
                const int w = metrics.horizontalAdvance(bar);
                painter.setPen(Qt::black);
                painter.drawText(QRect(lx, ly, w + 4, header), Qt::AlignLeft | Qt::AlignVCenter, bar);
                lx += w + 8;
                lastAxis = axis;
            }
            const QColor colour = AxisSeriesColour(s, axis);
            const int y = ly + header / 2;
            if (SeriesDashed(s)) {
                painter.fillRect(QRect(lx, y - 1, 5, 3), colour);
                painter.fillRect(QRect(lx + 8, y - 1, 4, 3), colour);
            } else {
                painter.fillRect(QRect(lx, y - 1, 12, 3), colour);
            }
            painter.setPen(colour);
            const int width = 15 + metrics.horizontalAdvance(SeriesName(s));
            painter.drawText(QRect(lx + 15, ly, width - 15, header), Qt::AlignLeft | Qt::AlignVCenter, SeriesName(s));
            lx += width + 10;
        }
    }
}

// Per column a bar from the lowest to the highest reading, joined from the last reading of the
// column before (one with records but no reading breaks the line); the cylinder heads drawn broken.
void PaintSketchSeries(QPainter &painter, const QRect &plot, const ChartStack &stack, const FlightSketch &sketch,
                       int chart, int axis, int series)
{
    const ValueSpan span = stack.values[size_t(chart)][size_t(axis)];
    if (!sketch.anyReading(series) || !(span.high > span.low))
        return;
    const QColor colour = AxisSeriesColour(series, axis);
    const QColor pale = QColor::fromRgbF(0.45f * colour.redF() + 0.55f, 0.45f * colour.greenF() + 0.55f,
                                         0.45f * colour.blueF() + 0.55f);
    const int width = sketch.columns();
    int filled = 0;
    for (int c = 0; c < width; ++c)
        filled += sketch.columnHasRecords(c) ? 1 : 0;
    const bool dense = filled * 3 >= width;
    const bool dashed = SeriesDashed(series);
    const double yScale = plot.height() / (span.high - span.low);
    const auto py = [&](double v) { return plot.bottom() - (v - span.low) * yScale; };
    const double colWidth = double(plot.width()) / width;

    QVector<QLineF> bars[2], joins[2]; // [0] full colour, [1] pale
    std::optional<QPointF> previous;
    for (int c = 0; c < width; ++c) {
        const ColumnSpan s = sketch.span(series, c);
        if (!Has(s)) {
            if (sketch.columnHasRecords(c))
                previous.reset();
            continue;
        }
        const double x = plot.left() + (c + 0.5) * colWidth;
        const int tone = dashed && dense && c % 7 >= 4 ? 1 : 0;
        if (previous)
            joins[tone].append(QLineF(*previous, QPointF(x, py(s.first))));
        // At least a unit tall, so a lone reading (or a steady column) shows as a dot.
        const double bottom = py(s.low), top = py(s.high);
        const double grow = std::max(0.0, (dense ? 1.0 : 2.5) - (bottom - top)) / 2;
        bars[tone].append(QLineF(x, bottom + grow, x, top - grow));
        previous = QPointF(x, py(s.last));
    }
    painter.setRenderHint(QPainter::Antialiasing, !dense);
    for (int tone = 0; tone < 2; ++tone) {
        QPen pen(tone ? pale : colour, std::max(dense ? 1.0 : 2.5, colWidth));
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        painter.drawLines(bars[tone]);
        QPen line(tone ? pale : colour, dashed && !dense ? 1.5 : 1.0);
        if (dashed && !dense) {
            line.setDashPattern({3, 2});
            QPainterPath path;
            for (const QLineF &l : joins[tone]) {
                if (path.elementCount() == 0 || path.currentPosition() != l.p1())
                    path.moveTo(l.p1());
                path.lineTo(l.p2());
            }
            painter.setPen(line);
            painter.drawPath(path);
        } else {
            painter.setPen(line);
            painter.drawLines(joins[tone]);
        }
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
}

void PaintSketchTimeLabels(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack,
                           const FlightSketch &sketch, std::vector<double> *ticksOut)
{
    static const int steps[] = {1,    2,    5,     10,    15,    30,    60,     120,    300,   600,   900,
                                1800, 3600, 7200,  10800, 21600, 43200, 86400, 172800, 604800};
    const QRect last = layout.plots.back();
    const QFontMetrics metrics(ChartFont());
    const double secondsPerUnit = (stack.x1 - stack.x0) / std::max(1, last.width());
    const int labelWidth = metrics.horizontalAdvance(sketch.timeTextAt(13 * 3600 + 22 * 60 + 22)) + 24;
    int step = steps[std::size(steps) - 1];
    for (int s : steps)
        if (s / secondsPerUnit >= labelWidth) {
            step = s;
            break;
        }
    const int first = sketch.firstTimeOfDay();
    std::vector<double> ticks;
    for (double t = std::ceil((stack.x0 + first) / step) * step - first; t <= stack.x1; t += step)
        ticks.push_back(t);
    if (ticksOut)
        *ticksOut = ticks;
    painter.setPen(Qt::black);
    painter.setFont(ChartFont());
    int lastRight = INT_MIN / 2;
    for (double t : ticks) {
        const int px = int(std::lround(last.left() + (t - stack.x0) * last.width() / (stack.x1 - stack.x0)));
        const QString label = step >= 86400 ? sketch.dayTextAt(t) : sketch.timeTextAt(t);
        const int w = metrics.horizontalAdvance(label);
        if (px - w / 2 < lastRight + 6)
            continue;
        painter.drawLine(px, last.bottom(), px, last.bottom() + 3);
        painter.drawText(QRect(px - w / 2 - 2, last.bottom() + 4, w + 4, metrics.height()), Qt::AlignCenter, label);
        lastRight = px + w / 2;
    }
}

} // namespace

void PaintSketchStack(QPainter &painter, const QRect &area, const ChartStack &stack, const FlightSketch &sketch,
                      const std::vector<std::pair<double, double>> &shaded)
{
    painter.save();
    painter.fillRect(area, Qt::white);
    painter.setFont(ChartFont());
    const ChartStackLayout layout = LayOutCharts(int(stack.charts.size()), area);
    if (layout.plots.isEmpty() || sketch.records() == 0 || !(stack.x1 > stack.x0)) {
        painter.restore();
        return;
    }
    ChartStack marks = stack;
    for (const auto &span : shaded) {
        marks.shaded = span;
        PaintShade(painter, layout, marks);
    }
    // The labels first: they say where the grid's lines go.
    std::vector<double> ticks;
    PaintSketchTimeLabels(painter, layout, stack, sketch, &ticks);
    PaintTimeGrid(painter, layout, stack, ticks);
    for (int c = 0; c < layout.plots.size(); ++c) {
        const QRect plot = layout.plots[c];
        PaintValueAxes(painter, plot, stack, c);
        painter.save();
        painter.setClipRect(plot.adjusted(0, 0, 1, 1));
        bool anyReading = false;
        for (const auto &[axis, s] : PresentSeries(stack, sketch, c)) {
            anyReading = anyReading || sketch.anyReading(s);
            PaintSketchSeries(painter, plot, stack, sketch, c, axis, s);
        }
        PaintLimit(painter, plot, stack, c);
        painter.restore();
        const ChartChoice &chart = stack.charts[size_t(c)];
        if (!anyReading) {
            QStringList names;
            for (Quantity q : {chart.left, chart.right})
                if (q != Quantity::None)
                    names << QString::fromLatin1(InfoOf(q).caption);
            painter.setPen(Qt::darkGray);
            painter.drawText(plot, Qt::AlignCenter,
                             QStringLiteral("No %1 readings in this flight").arg(names.join(QStringLiteral(" or "))));
        }
        painter.setPen(QColor(150, 150, 150));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(plot);
    }
    PaintSketchLegend(painter, layout, stack, sketch);
    painter.restore();
}

} // namespace korvel
