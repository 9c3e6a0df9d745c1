#include "paint/ChartStack.h"

#include "core/flight/FlightFields.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>

namespace korvel {

namespace {

constexpr int kLeftMargin = 66; // the axis title, then the numbers
constexpr int kRightMargin = 66;
constexpr int kTitleWidth = 15; // an axis title, turned on its side
constexpr int kHeader = 16;     // the legend line above a chart
constexpr int kGap = 6;         // between charts
constexpr int kTimeAxis = 22;   // the time labels under the last chart
constexpr int kTop = 4;

const QColor kGrid(226, 226, 226);
const QColor kFrame(150, 150, 150);
const QColor kMarkColour(0, 110, 200);
const QColor kLimitColour(200, 0, 0);
const QColor kShadeColour(255, 236, 160);
const QColor kHiddenColour(175, 175, 175);

// The cylinders keep one colour each in every chart, so EGT 3 and CHT 3 read as one cylinder.
constexpr QRgb kColours[kSeriesCount] = {
    0x1f5fbf, 0xd62728, 0x1e8c3a, 0xf07f0e, 0x8e44ad, 0x0099b0, // EGT 1-6
    0x1f5fbf, 0xd62728, 0x1e8c3a, 0xf07f0e, 0x8e44ad, 0x0099b0, // CHT 1-6
    0x000000, 0x8c564b, 0x9a9000, 0x00796b, 0x1f5fbf,           // the engine
    0x5a3e9e, 0xb05a00,                                         // the spreads
};

double PixelAt(const QRect &plot, const ChartStack &stack, double x)
{
    return plot.left() + (x - stack.x0) * plot.width() / (stack.x1 - stack.x0);
}

ValueSpan SpanOf(const ChartStack &stack, int chart, int axis)
{
    if (size_t(chart) < stack.values.size())
        return stack.values[size_t(chart)][size_t(axis)];
    return {};
}

} // namespace

std::vector<int> AxisSeries(const ChartChoice &chart, int axis)
{
    if (const int cylinder = QuantityCylinder(chart.left))
        return {axis == 0 ? cylinder - 1 : kCylinders + cylinder - 1};
    return SeriesOf(axis == 0 ? chart.left : chart.right);
}

bool AxisUsed(const ChartChoice &chart, int axis)
{
    return !AxisSeries(chart, axis).empty();
}

QString AxisTitleOf(const ChartChoice &chart, int axis)
{
    if (const int cylinder = QuantityCylinder(chart.left))
        return QStringLiteral("%1 %2 (\u00b0F)")
            .arg(axis == 0 ? QStringLiteral("EGT") : QStringLiteral("CHT"))
            .arg(cylinder);
    return AxisTitle(axis == 0 ? chart.left : chart.right);
}

bool AxisShowsCht(const ChartChoice &chart, int axis)
{
    if (QuantityCylinder(chart.left))
        return axis == 1;
    return QuantityShowsCht(axis == 0 ? chart.left : chart.right);
}

bool AxisIsTemperature(const ChartChoice &chart, int axis)
{
    const std::vector<int> series = AxisSeries(chart, axis);
    return !series.empty() && SeriesUnit(series.front()).startsWith(QChar(0xb0));
}

QFont ChartFont(bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    font.setBold(bold);
    return font;
}

QColor SeriesColour(int series)
{
    return QColor(kColours[series]);
}

// One colour a series on either axis: a darker shade of it read as the same line, and the
// cylinder-head temperatures, which share their cylinder's colour, are told apart by their dashes.
QColor AxisSeriesColour(int series, int)
{
    return SeriesColour(series);
}

bool SeriesDashed(int series)
{
    return series >= kCylinders && series < 2 * kCylinders;
}

double NiceStep(double range, int ticks)
{
    if (!(range > 0))
        return 1;
    const double raw = range / std::max(1, ticks);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw)
            return m * power;
    return 10 * power;
}

ValueSpan FitAxis(const FlightColumns &columns, const ChartChoice &chart, int axis, double x0, double x1,
                  const std::bitset<kSeriesCount> &hidden)
{
    const std::vector<int> series = AxisSeries(chart, axis);
    double low = INFINITY, high = -INFINITY;
    if (columns.records() > 0) {
        const int begin = columns.lowerRecord(x0);
        const int end = columns.upperRecord(x1);
        for (int s : series) {
            if (hidden.test(size_t(s)))
                continue;
            const ColumnSpan span = columns.column(s).span(begin, end);
            if (span.any) {
                low = std::min(low, double(span.low));
                high = std::max(high, double(span.high));
            }
        }
    }
    ValueSpan fitted;
    if (!(low <= high))
        return fitted;
    // Readings that are never below 0 (a spread, an RPM) get no axis below 0 either.
    const bool noneNegative = low >= 0;
    const double least = AxisIsTemperature(chart, axis)                    ? 20
                         : !series.empty() && series.front() == kRpmSeries ? 100
                                                                           : 2;
    if (high - low < least) {
        const double middle = (low + high) / 2;
        low = middle - least / 2;
        high = middle + least / 2;
    }
    const double pad = (high - low) * 0.04;
    const double step = NiceStep(high - low + 2 * pad, 6);
    fitted.low = std::floor((low - pad) / step) * step;
    fitted.high = std::ceil((high + pad) / step) * step;
    if (noneNegative)
        fitted.low = std::max(fitted.low, 0.0);
    return fitted;
}

ChartStack WholeFlight(const FlightColumns &columns, const std::vector<ChartChoice> &charts)
{
    ChartStack stack;
    stack.columns = &columns;
    stack.charts = charts;
    stack.x0 = columns.start();
    stack.x1 = columns.end();
    if (stack.x1 - stack.x0 < 1) { // one record, or all in one second
        stack.x0 -= 1;
        stack.x1 += 1;
    }
    for (const ChartChoice &chart : charts)
        stack.values.push_back(
            {FitAxis(columns, chart, 0, stack.x0, stack.x1), FitAxis(columns, chart, 1, stack.x0, stack.x1)});
    return stack;
}

QRect ChartStackLayout::band(int chart) const
{
    return plots.value(chart).adjusted(0, -kHeader, 0, kGap / 2);
}

ChartStackLayout LayOutCharts(int count, const QRect &area)
{
    ChartStackLayout layout;
    if (count <= 0)
        return layout;
    const int usable = area.height() - kTop - kTimeAxis;
    const int band = std::max(kHeader + 20, (usable - (count - 1) * kGap) / count);
    const int width = std::max(40, area.width() - kLeftMargin - kRightMargin);
    for (int c = 0; c < count; ++c) {
        const int y = area.top() + kTop + c * (band + kGap);
        layout.plots << QRect(area.left() + kLeftMargin, y + kHeader, width, band - kHeader);
    }
    const QRect last = layout.plots.back();
    layout.timeAxis = QRect(last.left(), last.bottom() + 1, last.width(), kTimeAxis);
    return layout;
}

std::vector<std::pair<int, int>> ChartSeries(const ChartStack &stack, int chart)
{
    std::vector<std::pair<int, int>> list;
    if (size_t(chart) >= stack.charts.size())
        return list;
    for (int axis = 0; axis < 2; ++axis)
        for (int s : AxisSeries(stack.charts[size_t(chart)], axis))
            // A cylinder without a single reading is one the engine does not have.
            if (SeriesCylinder(s) == 0 || !stack.columns || stack.columns->anyReading(s))
                list.push_back({axis, s});
    return list;
}

std::vector<LegendEntry> LegendEntries(const ChartStack &stack, const ChartStackLayout &layout)
{
    std::vector<LegendEntry> entries;
    const QFontMetrics metrics(ChartFont());
    for (int c = 0; c < layout.plots.size(); ++c) {
        const QRect plot = layout.plots[c];
        int lx = plot.left();
        const int ly = plot.top() - kHeader;
        int lastAxis = 0;
        for (const auto &[axis, s] : ChartSeries(stack, c)) {
            if (axis != lastAxis) {
                lx += metrics.horizontalAdvance(QStringLiteral("|  right:")) + 8;
                lastAxis = axis;
            }
            const int width = 15 + metrics.horizontalAdvance(SeriesName(s));
            entries.push_back({c, s, QRect(lx, ly, width, kHeader)});
            lx += width + 10;
        }
    }
    return entries;
}

int LegendEnd(const ChartStack &stack, int chart, const QRect &plot)
{
    ChartStackLayout one;
    for (int c = 0; c <= chart; ++c)
        one.plots << (c == chart ? plot : QRect());
    int end = plot.left();
    for (const LegendEntry &entry : LegendEntries(stack, one))
        if (entry.chart == chart)
            end = std::max(end, entry.rect.right());
    return end;
}

std::vector<double> TimeTicks(const TimeAxis &axis, double x0, double x1, int width, int *step)
{
    std::vector<double> ticks;
    if (width <= 0 || !(x1 > x0))
        return ticks;
    const double secondsPerPixel = (x1 - x0) / width;
    const QFontMetrics metrics(ChartFont());
    const int labelWidth = metrics.horizontalAdvance(axis.timeTextAt(13 * 3600 + 22 * 60 + 22, axis.spansDays())) + 24;
    int chosen = TimeAxis::Steps().back();
    for (int s : TimeAxis::Steps())
        if (s / secondsPerPixel >= labelWidth) {
            chosen = s;
            break;
        }
    if (step)
        *step = chosen;
    return axis.ticks(x0, x1, chosen);
}

std::vector<double> TimeTicks(const ChartStack &stack, int width, int *step)
{
    if (!stack.columns)
        return {};
    return TimeTicks(stack.columns->axis(), stack.x0, stack.x1, width, step);
}

void PaintChartStack(QPainter &painter, const QRect &area, const ChartStack &stack, QImage *pixels)
{
    painter.save();
    painter.fillRect(area, Qt::white);
    painter.setFont(ChartFont());
    const ChartStackLayout layout = LayOutCharts(int(stack.charts.size()), area);
    if (layout.plots.isEmpty() || !stack.columns || stack.columns->recordCount() == 0 || !(stack.x1 > stack.x0)) {
        painter.restore();
        return;
    }
    const int width = layout.plots.front().width();
    int step = 1;
    const std::vector<double> ticks = TimeTicks(stack, width, &step);

    PaintShade(painter, layout, stack);
    PaintTimeGrid(painter, layout, stack, ticks);
    for (int c = 0; c < layout.plots.size(); ++c) {
        const QRect plot = layout.plots[c];
        PaintValueAxes(painter, plot, stack, c);
        painter.save();
        painter.setClipRect(plot.adjusted(0, 0, 1, 1));
        bool anyReading = false;
        for (const auto &[axis, s] : ChartSeries(stack, c)) {
            anyReading = anyReading || stack.columns->anyReading(s);
            if (!stack.hidden.test(size_t(s)))
                PaintSeries(painter, plot, stack, c, axis, s, pixels);
        }
        PaintLimit(painter, plot, stack, c);
        painter.restore();
        const ChartChoice &chart = stack.charts[size_t(c)];
        if (!anyReading && (chart.left != Quantity::None || chart.right != Quantity::None)) {
            painter.setPen(Qt::darkGray);
            QStringList names;
            for (Quantity q : {chart.left, chart.right})
                if (q != Quantity::None)
                    names << QString::fromLatin1(InfoOf(q).caption);
            painter.drawText(plot, Qt::AlignCenter,
                             QStringLiteral("No %1 readings in this flight").arg(names.join(QStringLiteral(" or "))));
        }
        painter.setPen(kFrame);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(plot);
    }
    PaintLegend(painter, layout, stack);
    PaintMarks(painter, layout, stack);
    PaintTimeLabels(painter, layout, stack, stack.columns->axis(), ticks, step);
    painter.restore();
}

void PaintShade(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack)
{
    for (const auto &[from, to] : stack.shaded)
        for (const QRect &plot : layout.plots) {
            const double a = std::max(double(plot.left()), PixelAt(plot, stack, from));
            const double b = std::min(double(plot.right() + 1), PixelAt(plot, stack, to));
            // A span of one record still shows, a pixel or two wide.
            if (b >= a - 1 && b >= plot.left() && a <= plot.right())
                painter.fillRect(QRectF(a - 1, plot.top(), std::max(2.0, b - a + 2), plot.height()), kShadeColour);
        }
}

void PaintTimeGrid(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack,
                   const std::vector<double> &ticks)
{
    painter.setPen(kGrid);
    for (const QRect &plot : layout.plots)
        for (double t : ticks) {
            const int px = int(std::lround(PixelAt(plot, stack, t)));
            painter.drawLine(px, plot.top(), px, plot.bottom());
        }
}

// Value axes: left ticks carry the grid, right ticks only labels; each axis's title on its side.
void PaintValueAxes(QPainter &painter, const QRect &plot, const ChartStack &stack, int chart)
{
    const QFontMetrics metrics(ChartFont());
    const int textHeight = metrics.height();
    const ChartChoice &choice = stack.charts[size_t(chart)];
    for (int axis = 0; axis < 2; ++axis) {
        if (!AxisUsed(choice, axis))
            continue;
        const auto [low, high] = SpanOf(stack, chart, axis);
        if (!(high > low))
            continue;
        const double vstep = NiceStep(high - low, std::max(2, plot.height() / (textHeight * 2)));
        for (double v = std::ceil(low / vstep) * vstep; v <= high + vstep * 1e-6; v += vstep) {
            const int py = int(std::lround(plot.bottom() - (v - low) * plot.height() / (high - low)));
            const QString label = ReadingText(std::abs(v) < vstep * 1e-6 ? 0 : v);
            if (axis == 0) {
                painter.setPen(kGrid);
                painter.drawLine(plot.left(), py, plot.right(), py);
                painter.setPen(Qt::black);
                painter.drawText(QRect(plot.left() - kLeftMargin + kTitleWidth, py - textHeight / 2,
                                       kLeftMargin - kTitleWidth - 4, textHeight),
                                 Qt::AlignRight | Qt::AlignVCenter, label);
            } else {
                painter.setPen(Qt::black);
                painter.drawText(
                    QRect(plot.right() + 5, py - textHeight / 2, kRightMargin - kTitleWidth - 5, textHeight),
                    Qt::AlignLeft | Qt::AlignVCenter, label);
            }
        }
        PaintAxisTitle(painter, plot, AxisTitleOf(choice, axis), axis);
    }
}

// The title reads upwards on the left, downwards on the right, as a page's margins do. A short
// plot (a small window) takes it in a smaller type, then as the name over its unit; only a title
// that fits in none of these is cut.
void PaintAxisTitle(QPainter &painter, const QRect &plot, const QString &title, int axis)
{
    const int length = plot.height();
    const int unitAt = title.lastIndexOf(QStringLiteral(" ("));
    QStringList lines{title};
    QFont font = ChartFont();
    bool fits = false;
    for (const int lineCount : {1, 2}) {
        if (lineCount == 2) {
            if (unitAt <= 0)
                break;
            lines = QStringList{title.left(unitAt), title.mid(unitAt + 1)};
        }
        for (const int pixels : {11, 10, 9}) {
            font.setPixelSize(pixels);
            const QFontMetrics metrics(font);
            fits = std::all_of(lines.cbegin(), lines.cend(),
                               [&](const QString &line) { return metrics.horizontalAdvance(line) <= length; });
            if (fits)
                break;
        }
        if (fits)
            break;
    }
    const QFontMetrics metrics(font);
    if (!fits)
        for (QString &line : lines)
            line = metrics.elidedText(line, Qt::ElideRight, length);
    // One line keeps to its strip of the margin; two take more of it from the outer edge, where the
    // numbers (right-aligned to the plot) leave room.
    const int depth = lines.size() == 1 ? kTitleWidth : int(lines.size()) * metrics.lineSpacing();
    painter.save();
    painter.setPen(Qt::black);
    painter.setFont(font);
    if (axis == 0) {
        painter.translate(plot.left() - kLeftMargin, plot.bottom());
        painter.rotate(-90);
    } else {
        painter.translate(plot.right() + kRightMargin, plot.top());
        painter.rotate(90);
    }
    painter.drawText(QRect(0, 0, length, depth), Qt::AlignCenter, lines.join(QLatin1Char('\n')));
    painter.restore();
}

// The legend above each chart: the left axis's series, then the right's after a bar; a hidden
// series greyed.
void PaintLegend(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack)
{
    int lastChart = -1, lastAxis = 0;
    for (const LegendEntry &entry : LegendEntries(stack, layout)) {
        if (entry.chart != lastChart) {
            lastChart = entry.chart;
            lastAxis = 0;
        }
        const std::vector<int> left = AxisSeries(stack.charts[size_t(entry.chart)], 0);
        const int axis = std::find(left.begin(), left.end(), entry.series) != left.end() ? 0 : 1;
        if (axis != lastAxis) {
            painter.setPen(Qt::black);
            const QString bar = QStringLiteral("|  right:");
            const int w = QFontMetrics(ChartFont()).horizontalAdvance(bar);
            painter.drawText(QRect(entry.rect.left() - w - 8, entry.rect.top(), w + 4, kHeader),
                             Qt::AlignLeft | Qt::AlignVCenter, bar);
            lastAxis = axis;
        }
        const bool hidden = stack.hidden.test(size_t(entry.series));
        const QColor colour = hidden ? kHiddenColour : AxisSeriesColour(entry.series, axis);
        const int y = entry.rect.top() + kHeader / 2;
        if (SeriesDashed(entry.series)) {
            painter.fillRect(QRect(entry.rect.left(), y - 1, 5, 3), colour);
            painter.fillRect(QRect(entry.rect.left() + 8, y - 1, 4, 3), colour);
        } else {
            painter.fillRect(QRect(entry.rect.left(), y - 1, 12, 3), colour);
        }
        painter.setPen(colour);
        QFont font = ChartFont();
        font.setStrikeOut(hidden);
        painter.setFont(font);
        painter.drawText(entry.rect.adjusted(15, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, SeriesName(entry.series));
        painter.setFont(ChartFont());
    }
}

namespace {

// Columns with gaps between them (a source that keeps no records, some columns holding none): per
// column with records a bar from its lowest to its highest reading, at least a dot, joined from the
// last reading of the column before across the gap; one with records but no reading breaks the line.
// Where most columns hold records (dense) the bars are a column wide and a dashed series is drawn
// with every other few columns paler, as the dense drawing below does.
void PaintColumnBars(QPainter &painter, const QRect &plot, const std::vector<ColumnSpan> &spans,
                     const std::vector<char> &filled, const QColor &colour, bool dashed, bool dense,
                     const std::function<double(double)> &py)
{
    const int width = int(spans.size());
    const double colWidth = double(plot.width()) / width;
    const QColor pale = QColor::fromRgbF(0.45f * colour.redF() + 0.55f, 0.45f * colour.greenF() + 0.55f,
                                         0.45f * colour.blueF() + 0.55f);
    QVector<QLineF> bars[2], joins[2]; // [0] full colour, [1] pale
    std::optional<QPointF> previous;
    for (int c = 0; c < width; ++c) {
        const ColumnSpan &s = spans[size_t(c)];
        if (!s.any) {
            if (filled[size_t(c)])
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

} // namespace

// Sparse: the records themselves, joined; a lone reading as a dot. Dense: per pixel column a line
// from the lowest to the highest reading, joined to the next column's first reading. An empty
// reading breaks the line. A dashed series is drawn broken: sparse with a dashed pen, dense with
// every other few columns paler (paler, not left out, so no reading goes missing).
void PaintSeries(QPainter &painter, const QRect &plot, const ChartStack &stack, int chart, int axis, int series,
                 QImage *pixels)
{
    const ColumnSource &source = *stack.columns;
    // Named copies, not structured bindings: every compiler we build with lets a lambda take these.
    const ValueSpan span = SpanOf(stack, chart, axis);
    const double low = span.low, high = span.high;
    const int width = plot.width();
    if (!source.anyReading(series) || !(high > low) || width < 1)
        return;
    const QColor colour = AxisSeriesColour(series, axis);
    const bool dashed = SeriesDashed(series);
    const double yScale = plot.height() / (high - low);
    const auto py = [&](double v) { return plot.bottom() - (v - low) * yScale; };

    std::vector<double> places;
    std::vector<float> values;
    if (source.recordPoints(series, stack.x0, stack.x1, width, places, values)) {
        const int count = int(values.size());
        QVector<QLineF> lines;
        // Smooth lines where there are few of them; many short ones cost too much so.
        painter.setRenderHint(QPainter::Antialiasing, count <= width / 4);
        QPen pen(colour, dashed ? 1.5 : 1);
        if (dashed)
            pen.setDashPattern({3, 2});
        painter.setPen(pen);
        lines.reserve(count);
        for (int i = 0; i < count; ++i) {
            const float v = values[size_t(i)];
            if (std::isnan(v))
                continue;
            const QPointF p(PixelAt(plot, stack, places[size_t(i)]), py(v));
            const bool hasNext = i + 1 < count && !std::isnan(values[size_t(i) + 1]);
            const bool hasPrevious = i > 0 && !std::isnan(values[size_t(i) - 1]);
            if (hasNext)
                lines.append(
                    QLineF(p, QPointF(PixelAt(plot, stack, places[size_t(i) + 1]), py(values[size_t(i) + 1]))));
            else if (!hasPrevious)
                lines.append(QLineF(p - QPointF(1, 0), p + QPointF(1, 0)));
        }
        // A dashed pen restarts its pattern with every line: one path keeps it running.
        if (dashed) {
            QPainterPath path;
            for (const QLineF &line : lines) {
                if (path.currentPosition() != line.p1() || path.elementCount() == 0)
                    path.moveTo(line.p1());
                path.lineTo(line.p2());
            }
            painter.drawPath(path);
        } else {
            painter.drawLines(lines);
        }
        painter.setRenderHint(QPainter::Antialiasing, false);
        return;
    }

    std::vector<ColumnSpan> spans;
    std::vector<char> filled;
    source.columnSpans(series, stack.x0, stack.x1, width, spans, filled);
    // Columns without records between those with some: the bars joined across the gaps.
    const auto firstFilled = std::find(filled.begin(), filled.end(), 1);
    const auto lastFilled = std::find(filled.rbegin(), filled.rend(), 1).base();
    const auto count = std::count(filled.begin(), filled.end(), 1);
    if (firstFilled < lastFilled && count < lastFilled - firstFilled) {
        PaintColumnBars(painter, plot, spans, filled, colour, dashed, count * 3 >= width, py);
        return;
    }

    const QColor pale = QColor::fromRgbF(0.45f * colour.redF() + 0.55f, 0.45f * colour.greenF() + 0.55f,
                                         0.45f * colour.blueF() + 0.55f);
    const auto paleColumn = [&](int c) { return dashed && c % 7 >= 4; };
    std::vector<int> top(size_t(width), INT_MAX), bottom(size_t(width), INT_MIN);
    bool previous = false;
    float previousLast = 0;
    for (int c = 0; c < width; ++c) {
        const ColumnSpan &column = spans[size_t(c)];
        if (!column.any) {
            // A column without records keeps the line going; one whose records are all empty breaks it.
            if (filled[size_t(c)])
                previous = false;
            continue;
        }
        // The join from the column before is as good as vertical at this density: one line holds both.
        const float lo = previous ? std::min(column.low, previousLast) : column.low;
        const float hi = previous ? std::max(column.high, previousLast) : column.high;
        previous = true;
        previousLast = column.last;
        top[size_t(c)] = std::max(plot.top(), int(std::lround(py(hi))));
        bottom[size_t(c)] = std::min(plot.bottom(), int(std::lround(py(lo))));
    }
    if (!pixels) {
        // Each column a filled rectangle, which a page scales whole (a hairline would leave gaps).
        for (int c = 0; c < width; ++c)
            if (top[size_t(c)] <= bottom[size_t(c)])
                painter.fillRect(QRectF(plot.left() + c, top[size_t(c)], 1, bottom[size_t(c)] - top[size_t(c)] + 1),
                                 paleColumn(c) ? pale : colour);
        return;
    }
    // Into the picture directly, row by row: a painter's line costs more per pixel than the pixel,
    // and a column at a time would touch a new stretch of memory with every pixel.
    const QRgb rgb = colour.rgb();
    const QRgb paleRgb = pale.rgb();
    const int first = *std::min_element(top.begin(), top.end());
    const int last = *std::max_element(bottom.begin(), bottom.end());
    for (int y = std::max(first, plot.top()); y <= std::min(last, plot.bottom()); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(pixels->scanLine(y)) + plot.left();
        // A column nothing was drawn in keeps top above bottom, so no row is inside it.
        if (dashed) {
            for (int c = 0; c < width; ++c)
                if (top[size_t(c)] <= y && y <= bottom[size_t(c)])
                    row[c] = paleColumn(c) ? paleRgb : rgb;
        } else {
            for (int c = 0; c < width; ++c)
                if (top[size_t(c)] <= y && y <= bottom[size_t(c)])
                    row[c] = rgb;
        }
    }
}

// The CHT limit as a line across every axis that shows a cylinder-head temperature, named where
// it meets no reading: in the margin beside its end when that side has no numbers of its own, else
// at the end of the legend line above the chart, else above (or below) the line at its right end.
void PaintLimit(QPainter &painter, const QRect &plot, const ChartStack &stack, int chart)
{
    if (!stack.chtLimit)
        return;
    const ChartChoice &choice = stack.charts[size_t(chart)];
    for (int axis = 0; axis < 2; ++axis) {
        if (!AxisShowsCht(choice, axis))
            continue;
        const auto [low, high] = SpanOf(stack, chart, axis);
        if (!(high > low) || *stack.chtLimit < low || *stack.chtLimit > high)
            continue;
        const int y = int(std::lround(plot.bottom() - (*stack.chtLimit - low) * plot.height() / (high - low)));
        painter.save();
        painter.setPen(QPen(kLimitColour, 1, Qt::DashLine));
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(kLimitColour);
        const QString name = QStringLiteral("CHT limit");
        const QString degrees = QStringLiteral("%1\u00b0").arg(ReadingText(*stack.chtLimit));
        const QString label = name + QLatin1Char(' ') + degrees;
        const QFontMetrics metrics(ChartFont());
        const int h = metrics.height();
        const int w = metrics.horizontalAdvance(label) + 4;
        painter.setClipping(false);
        if (!AxisUsed(choice, 1)) {
            // Beside the line's end, the name over the figure when the margin is narrow for both.
            const QRect margin(plot.right() + 4, 0, kRightMargin - 6, 0);
            if (metrics.horizontalAdvance(label) <= margin.width())
                painter.drawText(QRect(margin.left(), y - h / 2, margin.width(), h), Qt::AlignLeft | Qt::AlignVCenter,
                                 label);
            else
                painter.drawText(QRect(margin.left(), y - h, margin.width(), 2 * h), Qt::AlignLeft | Qt::AlignVCenter,
                                 name + QLatin1Char('\n') + degrees);
        } else if (LegendEnd(stack, chart, plot) + 12 + w <= plot.right()) {
            painter.drawText(QRect(plot.right() - w, plot.top() - kHeader, w, kHeader),
                             Qt::AlignRight | Qt::AlignVCenter, label);
        } else {
            const int top = y - h - 1 >= plot.top() ? y - h - 1 : y + 1;
            painter.drawText(QRect(plot.right() - w - 2, top, w, h), Qt::AlignRight | Qt::AlignVCenter, label);
        }
        painter.restore();
    }
}

void PaintMarks(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack)
{
    const QRect first = layout.plots.front();
    const QRect last = layout.plots.back();
    const int textHeight = QFontMetrics(ChartFont(true)).height();
    for (const auto &[mark, name] :
         {std::pair{stack.markA, QStringLiteral("A")}, std::pair{stack.markB, QStringLiteral("B")}}) {
        const std::optional<double> place = mark ? stack.columns->placeOfRecord(*mark) : std::nullopt;
        if (!place)
            continue;
        const double x = *place;
        if (x < stack.x0 || x > stack.x1)
            continue;
        const int px = int(std::lround(PixelAt(first, stack, x)));
        painter.setPen(QPen(kMarkColour, 1, Qt::DashLine));
        painter.drawLine(px, first.top(), px, last.bottom());
        painter.setPen(kMarkColour);
        painter.setFont(ChartFont(true));
        painter.drawText(QRect(px + 3, first.top() + 1, 20, textHeight), Qt::AlignLeft | Qt::AlignTop, name);
        painter.setFont(ChartFont());
    }
}

void PaintTimeLabels(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack, const TimeAxis &axis,
                     const std::vector<double> &ticks, int step)
{
    const QRect last = layout.plots.back();
    const QFontMetrics metrics(ChartFont());
    painter.setPen(Qt::black);
    int lastRight = INT_MIN / 2;
    for (double t : ticks) {
        const int px = int(std::lround(PixelAt(last, stack, t)));
        const QString label = axis.label(t, step);
        const int w = metrics.horizontalAdvance(label);
        if (px - w / 2 < lastRight + 6)
            continue;
        painter.drawLine(px, last.bottom(), px, last.bottom() + 3);
        painter.drawText(QRect(px - w / 2 - 2, last.bottom() + 4, w + 4, metrics.height()), Qt::AlignCenter, label);
        lastRight = px + w / 2;
    }
}

} // namespace korvel
