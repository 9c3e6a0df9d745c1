#include "gui/analysis/AnalysisCharts.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>

namespace korvel {

namespace {

constexpr int kLeftMargin = 58;
constexpr int kRightMargin = 58;
constexpr int kHeader = 16;     // the legend line above a chart
constexpr int kGap = 6;         // between charts
constexpr int kTimeAxis = 22;   // the time labels under the last chart
constexpr int kClickSlack = 4;  // a press and release closer than this is a click, not a drag
constexpr int kBoxOffset = 12;  // between the cursor line and its box

QFont ChartFont(bool bold = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8);
    font.setBold(bold);
    return font;
}

// A round step (1, 2 or 5 times a power of ten) giving about `ticks` intervals over the range.
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

} // namespace

AnalysisCharts::AnalysisCharts(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("analysisCharts"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(400, 240);
    setFont(ChartFont());
}

void AnalysisCharts::setFlight(FlightColumns *columns)
{
    m_columns = columns;
    m_history.clear();
    m_cursor = -1;
    m_markA.reset();
    m_markB.reset();
    computeHomes();
    m_level = wholeFlight();
    m_wheeling = false;
    invalidate();
    emit spanChanged();
    emit marksChanged();
    emit cursorMoved(m_cursor);
}

void AnalysisCharts::setCharts(const std::vector<ChartChoice> &charts)
{
    m_charts.assign(charts.begin(), charts.begin() + std::min<size_t>(charts.size(), kMaxCharts));
    computeHomes();
    // A chart that now shows another quantity starts on all of its values.
    for (auto &v : m_level.v)
        v = {0.0, 1.0};
    for (Level &level : m_history)
        for (auto &v : level.v)
            v = {0.0, 1.0};
    invalidate();
    emit marksChanged();
    emit cursorMoved(m_cursor);
}

// Each axis starts on all of its quantity's readings over the flight, on round figures.
void AnalysisCharts::computeHomes()
{
    if (m_columns) {
        std::vector<Quantity> shown;
        for (const ChartChoice &chart : m_charts)
            shown.insert(shown.end(), {chart.left, chart.right});
        m_columns->readQuantities(shown);
    }
    for (size_t c = 0; c < m_charts.size(); ++c) {
        for (int axis = 0; axis < 2; ++axis) {
            const Quantity q = axis == 0 ? m_charts[c].left : m_charts[c].right;
            double low = INFINITY, high = -INFINITY;
            if (m_columns)
                for (int s : SeriesOf(q)) {
                    const SeriesColumn &column = m_columns->column(s);
                    if (column.anyReading) {
                        low = std::min(low, double(column.low));
                        high = std::max(high, double(column.high));
                    }
                }
            Home home;
            if (low <= high) {
                if (high - low < 1e-9) {
                    low -= 1;
                    high += 1;
                }
                const double pad = (high - low) * 0.04;
                home.step = NiceStep(high - low + 2 * pad, 6);
                home.low = std::floor((low - pad) / home.step) * home.step;
                home.high = std::ceil((high + pad) / home.step) * home.step;
            }
            m_homes[c][size_t(axis)] = home;
        }
    }
}

AnalysisCharts::Level AnalysisCharts::wholeFlight() const
{
    Level level;
    if (m_columns && m_columns->records() > 0) {
        level.x0 = m_columns->start();
        level.x1 = m_columns->end();
        if (level.x1 - level.x0 < 1) { // one record, or all in one second
            level.x0 -= 1;
            level.x1 += 1;
        }
    }
    for (auto &v : level.v)
        v = {0.0, 1.0};
    return level;
}

// The time span never leaves the flight nor shrinks below a few seconds; the charts share it.
AnalysisCharts::Level AnalysisCharts::clamped(Level level) const
{
    const Level whole = wholeFlight();
    const double full = whole.x1 - whole.x0;
    const double least = std::min(full, 4.0);
    double width = std::clamp(level.x1 - level.x0, least, full);
    double centre = (level.x0 + level.x1) / 2;
    level.x0 = std::clamp(centre - width / 2, whole.x0, whole.x1 - width);
    level.x1 = level.x0 + width;
    return level;
}

void AnalysisCharts::setLevel(const Level &level, bool byWheel)
{
    // A run of wheel steps is one level for Unzoom; anything else ends the run.
    if (byWheel && !m_wheeling)
        m_history.push_back(m_level);
    m_wheeling = byWheel;
    m_level = clamped(level);
    invalidate();
    emit spanChanged();
}

std::pair<double, double> AnalysisCharts::valueSpan(int chart, int axis) const
{
    if (chart < 0 || chart >= int(m_charts.size()))
        return {0, 0};
    const Home &home = m_homes[size_t(chart)][size_t(axis)];
    const auto [f0, f1] = m_level.v[size_t(chart)];
    return {home.low + f0 * (home.high - home.low), home.low + f1 * (home.high - home.low)};
}

double AnalysisCharts::xAt(const QRect &plot, double pixel) const
{
    return m_level.x0 + (pixel - plot.left()) * (m_level.x1 - m_level.x0) / std::max(1, plot.width());
}

double AnalysisCharts::pixelAt(const QRect &plot, double x) const
{
    return plot.left() + (x - m_level.x0) * plot.width() / (m_level.x1 - m_level.x0);
}

void AnalysisCharts::zoomToRect(int chart, const QRect &pixels)
{
    const Layout layout = layoutFor(size());
    if (chart < 0 || chart >= layout.plots.size() || !m_columns)
        return;
    const QRect plot = layout.plots[chart];
    const QRect r = pixels.normalized().intersected(plot.adjusted(0, 0, 1, 1));
    if (r.width() < kClickSlack)
        return;
    Level next = m_level;
    next.x0 = xAt(plot, r.left());
    next.x1 = xAt(plot, r.right());
    if (r.height() >= kClickSlack) {
        // The dragged chart also takes the values the rectangle spans.
        auto &[f0, f1] = next.v[size_t(chart)];
        const double bottom = double(plot.bottom() - r.bottom()) / plot.height();
        const double top = double(plot.bottom() - r.top()) / plot.height();
        const double span = f1 - f0;
        const double old0 = f0;
        f0 = old0 + std::clamp(bottom, 0.0, 1.0) * span;
        f1 = old0 + std::clamp(top, 0.0, 1.0) * span;
        if (f1 - f0 < 1e-6)
            f1 = f0 + 1e-6;
    }
    m_history.push_back(m_level);
    setLevel(next);
}

void AnalysisCharts::unzoom()
{
    if (m_history.empty()) {
        resetZoom();
        return;
    }
    const Level back = m_history.back();
    m_history.pop_back();
    setLevel(back);
}

void AnalysisCharts::resetZoom()
{
    m_history.clear();
    setLevel(wholeFlight());
}

// The wheel keeps the cursor's time where it stands on the screen.
void AnalysisCharts::zoomAbout(double factor)
{
    if (!m_columns || m_columns->records() == 0)
        return;
    double anchor = (m_level.x0 + m_level.x1) / 2;
    if (m_cursor >= 0) {
        const double x = m_columns->x()[size_t(m_cursor)];
        if (x >= m_level.x0 && x <= m_level.x1)
            anchor = x;
    }
    Level next = m_level;
    next.x0 = anchor - (anchor - m_level.x0) * factor;
    next.x1 = anchor + (m_level.x1 - anchor) * factor;
    const Level whole = wholeFlight();
    // Clamping by its centre would move the anchor; pin the side that hit the flight's end instead.
    const double width = std::clamp(next.x1 - next.x0, std::min(whole.x1 - whole.x0, 4.0), whole.x1 - whole.x0);
    if (next.x0 < whole.x0) {
        next.x0 = whole.x0;
        next.x1 = whole.x0 + width;
    } else if (next.x1 > whole.x1) {
        next.x1 = whole.x1;
        next.x0 = whole.x1 - width;
    }
    setLevel(next, true);
}

void AnalysisCharts::panBy(double fraction)
{
    Level next = m_level;
    const double shift = (m_level.x1 - m_level.x0) * fraction;
    next.x0 += shift;
    next.x1 += shift;
    setLevel(next);
}

void AnalysisCharts::showRecords(int first, int last, int cursor)
{
    if (!m_columns || m_columns->records() == 0)
        return;
    const int n = m_columns->records();
    first = std::clamp(first, 0, n - 1);
    last = std::clamp(last, first, n - 1);
    const double x0 = m_columns->x()[size_t(first)];
    const double x1 = m_columns->x()[size_t(last)];
    // A margin of a fifth of the span (at least a minute) on either side shows what led to it.
    const double margin = std::max(60.0, (x1 - x0) / 5);
    Level next = m_level;
    next.x0 = x0 - margin;
    next.x1 = x1 + margin;
    for (auto &v : next.v)
        v = {0.0, 1.0};
    m_history.push_back(m_level);
    setLevel(next);
    setCursorRecord(cursor);
}

void AnalysisCharts::setCursorRecord(int record)
{
    if (!m_columns || m_columns->records() == 0)
        record = -1;
    else
        record = std::clamp(record, -1, m_columns->records() - 1);
    if (record == m_cursor)
        return;
    m_cursor = record;
    update();
    emit cursorMoved(m_cursor);
}

void AnalysisCharts::keepCursorInView()
{
    if (m_cursor < 0)
        return;
    const double x = m_columns->x()[size_t(m_cursor)];
    if (x >= m_level.x0 && x <= m_level.x1)
        return;
    const double width = m_level.x1 - m_level.x0;
    Level next = m_level;
    next.x0 = x < m_level.x0 ? x - width * 0.1 : x - width * 0.9;
    next.x1 = next.x0 + width;
    setLevel(next);
}

std::vector<AnalysisCharts::Reading> AnalysisCharts::cursorReadings() const
{
    std::vector<Reading> readings;
    if (m_cursor < 0 || !m_columns)
        return readings;
    auto *columns = m_columns;
    for (size_t c = 0; c < m_charts.size(); ++c) {
        const size_t begin = readings.size();
        for (Quantity q : {m_charts[c].left, m_charts[c].right})
            for (int s : SeriesOf(q))
                readings.push_back({int(c), s, columns->value(s, m_cursor)});
        // Hottest first; a series without a reading here goes last.
        std::stable_sort(readings.begin() + qsizetype(begin), readings.end(), [](const Reading &a, const Reading &b) {
            if (std::isnan(a.value) || std::isnan(b.value))
                return !std::isnan(a.value) && std::isnan(b.value);
            return a.value > b.value;
        });
    }
    return readings;
}

QStringList AnalysisCharts::cursorBoxLines() const
{
    QStringList lines;
    if (m_cursor < 0 || !m_columns)
        return lines;
    lines << m_columns->timeText(m_cursor);
    for (const Reading &r : cursorReadings())
        lines << SeriesName(r.series) + QStringLiteral("  ") +
                     (std::isnan(r.value) ? QStringLiteral("-") : ReadingText(r.value));
    return lines;
}

int AnalysisCharts::cursorPixel() const
{
    const Layout layout = layoutFor(size());
    if (m_cursor < 0 || !m_columns || layout.plots.isEmpty())
        return -1;
    const double x = m_columns->x()[size_t(m_cursor)];
    if (x < m_level.x0 || x > m_level.x1)
        return -1;
    return int(std::lround(pixelAt(layout.plots.front(), x)));
}

// Beside the cursor, on the side with room, never over the line; inside the widget.
QRect AnalysisCharts::cursorBoxRect() const
{
    const int cx = cursorPixel();
    if (cx < 0)
        return {};
    const QStringList lines = cursorBoxLines();
    const QFontMetrics metrics(font());
    int width = 0;
    for (const QString &line : lines)
        width = std::max(width, metrics.horizontalAdvance(line));
    width += 22; // padding and the colour mark
    const int groups = int(m_charts.size());
    const int height = int(lines.size()) * metrics.height() + 8 + std::max(0, groups - 1) * 3;
    int x = cx + kBoxOffset;
    if (x + width > this->width() - 2)
        x = cx - kBoxOffset - width;
    if (x < 2) // no room on either side: the wider side, overlapping as little as may be
        x = cx > this->width() / 2 ? 2 : this->width() - 2 - width;
    int y = m_mouse ? m_mouse->y() - height / 2 : 4;
    y = std::clamp(y, 2, std::max(2, this->height() - 2 - height));
    return QRect(x, y, width, height);
}

void AnalysisCharts::setMarkA(int record)
{
    m_markA = record;
    invalidate();
    emit marksChanged();
}

void AnalysisCharts::setMarkB(int record)
{
    m_markB = record;
    invalidate();
    emit marksChanged();
}

std::optional<double> AnalysisCharts::markSeconds() const
{
    if (!m_markA || !m_markB || !m_columns || *m_markA >= m_columns->records() || *m_markB >= m_columns->records())
        return std::nullopt;
    return m_columns->x()[size_t(*m_markB)] - m_columns->x()[size_t(*m_markA)];
}

std::vector<AnalysisCharts::Change> AnalysisCharts::changes() const
{
    std::vector<Change> list;
    const std::optional<double> seconds = markSeconds();
    if (!seconds)
        return list;
    for (const ChartChoice &chart : m_charts)
        for (Quantity q : {chart.left, chart.right})
            for (int s : SeriesOf(q)) {
                const float a = m_columns->value(s, *m_markA);
                const float b = m_columns->value(s, *m_markB);
                if (std::isnan(a) || std::isnan(b))
                    continue;
                Change change;
                change.series = s;
                change.a = a;
                change.b = b;
                change.change = double(b) - double(a);
                if (*seconds != 0)
                    change.perMinute = change.change * 60 / *seconds;
                list.push_back(change);
            }
    return list;
}

AnalysisCharts::Layout AnalysisCharts::layoutFor(const QSize &size) const
{
    Layout layout;
    const int n = int(m_charts.size());
    if (n == 0)
        return layout;
    const int top = 4;
    const int usable = size.height() - top - kTimeAxis;
    const int band = std::max(kHeader + 20, (usable - (n - 1) * kGap) / n);
    const int width = std::max(40, size.width() - kLeftMargin - kRightMargin);
    for (int c = 0; c < n; ++c) {
        const int y = top + c * (band + kGap);
        layout.plots << QRect(kLeftMargin, y + kHeader, width, band - kHeader);
    }
    const QRect last = layout.plots.back();
    layout.timeAxis = QRect(last.left(), last.bottom() + 1, last.width(), kTimeAxis);
    return layout;
}

int AnalysisCharts::chartAt(const QPoint &pos) const
{
    const Layout layout = layoutFor(size());
    for (int c = 0; c < layout.plots.size(); ++c)
        if (layout.plots[c].adjusted(0, -kHeader, 0, kGap / 2).contains(pos))
            return c;
    return -1;
}

void AnalysisCharts::invalidate()
{
    m_cacheValid = false;
    update();
}

void AnalysisCharts::resizeEvent(QResizeEvent *)
{
    m_cacheValid = false;
}

// The charts are drawn once into a picture of their own; the cursor and its box, which move with
// every mouse move, are drawn over it.
void AnalysisCharts::paintEvent(QPaintEvent *)
{
    const qreal ratio = devicePixelRatioF();
    if (!m_cacheValid || m_cache.size() != size() * ratio) {
        m_cache = QImage(size() * ratio, QImage::Format_RGB32);
        m_cache.setDevicePixelRatio(ratio);
        QPainter painter(&m_cache);
        paintCharts(painter, size(), ratio == 1 ? &m_cache : nullptr);
        m_cacheValid = true;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, m_cache);
    paintCursor(painter);
}

void AnalysisCharts::paintStack(QPainter &painter, const QSize &size) const
{
    paintCharts(painter, size, nullptr);
}

void AnalysisCharts::paintCharts(QPainter &painter, const QSize &size, QImage *pixels) const
{
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    painter.setFont(font());
    const Layout layout = layoutFor(size);
    if (layout.plots.isEmpty() || !m_columns || m_columns->records() == 0)
        return;
    const QFontMetrics metrics(font());
    const int textHeight = metrics.height();
    const QRect first = layout.plots.front();

    // The time ticks: round times of day far enough apart for their labels.
    static const int steps[] = {1,    2,    5,     10,    15,    30,    60,     120,    300,   600,   900,
                                1800, 3600, 7200,  10800, 21600, 43200, 86400, 172800, 604800};
    const double secondsPerPixel = (m_level.x1 - m_level.x0) / std::max(1, first.width());
    const int labelWidth = metrics.horizontalAdvance(TimeOfDayText(13 * 3600 + 22 * 60 + 22)) + 24;
    int step = steps[std::size(steps) - 1];
    for (int s : steps)
        if (s / secondsPerPixel >= labelWidth) {
            step = s;
            break;
        }
    // Axis position x is the first record's time of day plus x seconds (the clock's own times
    // label the ticks, so a flight whose clock went back still reads as recorded).
    const int firstTime = std::max(0, m_columns->timeOfDayAt(0));
    std::vector<double> ticks;
    for (double t = std::ceil((m_level.x0 + firstTime) / step) * step - firstTime; t <= m_level.x1; t += step)
        ticks.push_back(t);

    // The record at each pixel column's left edge, for every series of every chart.
    std::vector<int> bounds(size_t(first.width()) + 1);
    for (int c = 0; c <= first.width(); ++c)
        bounds[size_t(c)] = m_columns->lowerRecord(m_level.x0 + c * secondsPerPixel);

    const QColor grid(226, 226, 226);
    const QColor frame(150, 150, 150);
    for (int c = 0; c < layout.plots.size(); ++c) {
        const QRect plot = layout.plots[c];
        const ChartChoice &chart = m_charts[size_t(c)];
        painter.setPen(grid);
        for (double t : ticks) {
            const int px = int(std::lround(pixelAt(plot, t)));
            painter.drawLine(px, plot.top(), px, plot.bottom());
        }
        // Value axes: left ticks carry the grid, right ticks only labels.
        for (int axis = 0; axis < 2; ++axis) {
            const Quantity q = axis == 0 ? chart.left : chart.right;
            if (q == Quantity::None)
                continue;
            const auto [low, high] = valueSpan(c, axis);
            const double vstep = NiceStep(high - low, std::max(2, plot.height() / (textHeight * 2)));
            for (double v = std::ceil(low / vstep) * vstep; v <= high + vstep * 1e-6; v += vstep) {
                const int py = int(std::lround(plot.bottom() - (v - low) * plot.height() / (high - low)));
                const QString label = ReadingText(std::abs(v) < vstep * 1e-6 ? 0 : v);
                if (axis == 0) {
                    painter.setPen(grid);
                    painter.drawLine(plot.left(), py, plot.right(), py);
                    painter.setPen(Qt::black);
                    painter.drawText(QRect(0, py - textHeight / 2, plot.left() - 4, textHeight),
                                     Qt::AlignRight | Qt::AlignVCenter, label);
                } else {
                    painter.setPen(Qt::black);
                    painter.drawText(QRect(plot.right() + 5, py - textHeight / 2, kRightMargin - 5, textHeight),
                                     Qt::AlignLeft | Qt::AlignVCenter, label);
                }
            }
        }

        // The legend above the chart: the left axis's series, then the right's after a bar.
        int lx = plot.left();
        const int ly = plot.top() - kHeader;
        for (int axis = 0; axis < 2; ++axis) {
            const Quantity q = axis == 0 ? chart.left : chart.right;
            if (q == Quantity::None)
                continue;
            if (axis == 1) {
                painter.setPen(Qt::black);
                const QString bar = QStringLiteral("|  right:");
                painter.drawText(QRect(lx, ly, 400, kHeader), Qt::AlignLeft | Qt::AlignVCenter, bar);
                lx += metrics.horizontalAdvance(bar) + 8;
            }
            for (int s : SeriesOf(q)) {
                QColor colour = SeriesColour(s);
                if (axis == 1)
                    colour = colour.darker(160);
                painter.fillRect(QRect(lx, ly + kHeader / 2 - 1, 12, 3), colour);
                painter.setPen(colour);
                const QString name = SeriesName(s);
                painter.drawText(QRect(lx + 15, ly, 400, kHeader), Qt::AlignLeft | Qt::AlignVCenter, name);
                lx += 15 + metrics.horizontalAdvance(name) + 10;
            }
        }

        painter.save();
        painter.setClipRect(plot.adjusted(0, 0, 1, 1));
        bool anyReading = false;
        for (int axis = 0; axis < 2; ++axis) {
            const Quantity q = axis == 0 ? chart.left : chart.right;
            const auto [low, high] = valueSpan(c, axis);
            for (int s : SeriesOf(q)) {
                anyReading = anyReading || m_columns->column(s).anyReading;
                paintSeries(painter, pixels, plot, s, axis == 0 ? SeriesColour(s) : SeriesColour(s).darker(160), low,
                            high, bounds);
            }
        }
        painter.restore();
        if (!anyReading && (chart.left != Quantity::None || chart.right != Quantity::None)) {
            painter.setPen(Qt::darkGray);
            QStringList names;
            for (Quantity q : {chart.left, chart.right})
                if (q != Quantity::None)
                    names << QString::fromLatin1(InfoOf(q).caption);
            painter.drawText(plot, Qt::AlignCenter,
                             QStringLiteral("No %1 readings in this flight").arg(names.join(QStringLiteral(" or "))));
        }
        painter.setPen(frame);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(plot);
    }

    // The marks, then the time labels under the last chart.
    const QRect last = layout.plots.back();
    for (const auto &[mark, name] : {std::pair{m_markA, QStringLiteral("A")}, std::pair{m_markB, QStringLiteral("B")}}) {
        if (!mark || *mark >= m_columns->records())
            continue;
        const double x = m_columns->x()[size_t(*mark)];
        if (x < m_level.x0 || x > m_level.x1)
            continue;
        const int px = int(std::lround(pixelAt(first, x)));
        painter.setPen(QPen(QColor(0, 110, 200), 1, Qt::DashLine));
        painter.drawLine(px, first.top(), px, last.bottom());
        painter.setPen(QColor(0, 110, 200));
        painter.setFont(ChartFont(true));
        painter.drawText(QRect(px + 3, first.top() + 1, 20, textHeight), Qt::AlignLeft | Qt::AlignTop, name);
        painter.setFont(font());
    }
    painter.setPen(Qt::black);
    int lastRight = -1000;
    for (double t : ticks) {
        const int px = int(std::lround(pixelAt(last, t)));
        // Days apart, the time of day says nothing: the day of the flight does.
        const QString label = step >= 86400 ? QStringLiteral("day %1").arg(int(std::floor((t + firstTime) / 86400)) + 1)
                                            : m_columns->timeTextAt(t);
        const int w = metrics.horizontalAdvance(label);
        if (px - w / 2 < lastRight + 6)
            continue;
        painter.drawLine(px, last.bottom(), px, last.bottom() + 3);
        painter.drawText(QRect(px - w / 2 - 2, last.bottom() + 4, w + 4, textHeight), Qt::AlignCenter, label);
        lastRight = px + w / 2;
    }
}

// Dense: per pixel column a line from the lowest to the highest reading, joined to the next
// column's first reading. Sparse: the records themselves, joined; a lone reading as a dot.
// An empty reading breaks the line.
void AnalysisCharts::paintSeries(QPainter &painter, QImage *pixels, const QRect &plot, int series, const QColor &colour,
                                 double low, double high, const std::vector<int> &bounds) const
{
    const SeriesColumn &column = m_columns->column(series);
    if (!column.anyReading || !(high > low))
        return;
    painter.setPen(QPen(colour, 0));
    const double yScale = plot.height() / (high - low);
    const auto py = [&](double v) { return plot.bottom() - (v - low) * yScale; };
    const int width = plot.width();
    const int begin = std::max(0, bounds.front() - 1);
    const int end = std::min(m_columns->records(), bounds.back() + 1);
    const auto &xs = m_columns->x();
    QVector<QLineF> lines;

    if (end - begin <= width) {
        // Smooth lines where there are few of them; many short ones cost too much so.
        painter.setRenderHint(QPainter::Antialiasing, end - begin <= width / 4);
        lines.reserve(end - begin);
        for (int i = begin; i < end; ++i) {
            const float v = column.values[size_t(i)];
            if (std::isnan(v))
                continue;
            const QPointF p(pixelAt(plot, xs[size_t(i)]), py(v));
            const bool hasNext = i + 1 < end && !std::isnan(column.values[size_t(i) + 1]);
            const bool hasPrevious = i > begin && !std::isnan(column.values[size_t(i) - 1]);
            if (hasNext)
                lines.append(QLineF(p, QPointF(pixelAt(plot, xs[size_t(i) + 1]), py(column.values[size_t(i) + 1]))));
            else if (!hasPrevious)
                lines.append(QLineF(p - QPointF(1, 0), p + QPointF(1, 0)));
        }
        painter.drawLines(lines);
        painter.setRenderHint(QPainter::Antialiasing, false);
        return;
    }

    lines.reserve(width);
    // Into the picture directly, row by row: a painter's line costs more per pixel than the pixel,
    // and a column at a time would touch a new stretch of memory with every pixel.
    std::vector<int> top, bottom;
    if (pixels) {
        top.assign(size_t(width), INT_MAX);
        bottom.assign(size_t(width), INT_MIN);
    }
    bool previous = false;
    float previousLast = 0;
    for (int c = 0; c < width; ++c) {
        const ColumnSpan span = column.span(bounds[size_t(c)], bounds[size_t(c) + 1]);
        if (!span.any) {
            // A column without records keeps the line going; one whose records are all empty breaks it.
            if (bounds[size_t(c)] != bounds[size_t(c) + 1])
                previous = false;
            continue;
        }
        // The join from the column before is as good as vertical at this density: one line holds both.
        const float low = previous ? std::min(span.low, previousLast) : span.low;
        const float high = previous ? std::max(span.high, previousLast) : span.high;
        previous = true;
        previousLast = span.last;
        if (pixels) {
            top[size_t(c)] = std::max(plot.top(), int(std::lround(py(high))));
            bottom[size_t(c)] = std::min(plot.bottom(), int(std::lround(py(low))));
            continue;
        }
        const double x = plot.left() + c + 0.5;
        lines.append(QLineF(x, py(low), x, py(high) - (low == high ? 0.01 : 0)));
    }
    if (!pixels) {
        painter.drawLines(lines);
        return;
    }
    const QRgb rgb = colour.rgb();
    const int first = *std::min_element(top.begin(), top.end());
    const int last = *std::max_element(bottom.begin(), bottom.end());
    for (int y = std::max(first, plot.top()); y <= std::min(last, plot.bottom()); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(pixels->scanLine(y)) + plot.left();
        // A column nothing was drawn in keeps top above bottom, so no row is inside it.
        for (int c = 0; c < width; ++c)
            if (top[size_t(c)] <= y && y <= bottom[size_t(c)])
                row[c] = rgb;
    }
}

void AnalysisCharts::paintCursor(QPainter &painter) const
{
    const Layout layout = layoutFor(size());
    if (layout.plots.isEmpty())
        return;
    if (m_dragChart >= 0) {
        const QRect plot = layout.plots[m_dragChart];
        const QRect band = QRect(m_dragFrom, m_dragTo).normalized().intersected(plot);
        painter.setPen(QPen(QColor(40, 90, 200), 1, Qt::DashLine));
        painter.setBrush(QColor(40, 90, 200, 40));
        painter.drawRect(band);
        painter.setBrush(Qt::NoBrush);
    }
    const int cx = cursorPixel();
    if (cx < 0)
        return;
    painter.setPen(QPen(QColor(60, 60, 60), 1, Qt::DotLine));
    painter.drawLine(cx, layout.plots.front().top(), cx, layout.plots.back().bottom());

    const QRect box = cursorBoxRect();
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawRect(box);
    const QFontMetrics metrics(font());
    const int lh = metrics.height();
    int y = box.top() + 4;
    painter.setPen(Qt::black);
    painter.setFont(ChartFont(true));
    painter.drawText(QRect(box.left() + 6, y, box.width() - 8, lh), Qt::AlignLeft | Qt::AlignVCenter,
                     m_columns->timeText(m_cursor));
    painter.setFont(font());
    y += lh;
    int chart = 0;
    for (const Reading &r : cursorReadings()) {
        if (r.chart != chart) {
            y += 3;
            chart = r.chart;
        }
        const std::vector<int> left = SeriesOf(m_charts[size_t(r.chart)].left);
        const bool right = std::find(left.begin(), left.end(), r.series) == left.end();
        const QColor colour = right ? SeriesColour(r.series).darker(160) : SeriesColour(r.series);
        painter.fillRect(QRect(box.left() + 6, y + lh / 2 - 1, 8, 3), colour);
        painter.setPen(colour);
        painter.drawText(QRect(box.left() + 17, y, box.width() - 20, lh), Qt::AlignLeft | Qt::AlignVCenter,
                         SeriesName(r.series) + QStringLiteral("  ") +
                             (std::isnan(r.value) ? QStringLiteral("-") : ReadingText(r.value)));
        y += lh;
    }
}

void AnalysisCharts::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    m_mouse = pos;
    if (m_dragChart >= 0) {
        m_dragTo = pos;
        update();
    }
    const Layout layout = layoutFor(size());
    if (!m_columns || layout.plots.isEmpty())
        return;
    const QRect plot = layout.plots.front();
    if (pos.x() >= plot.left() && pos.x() <= plot.right())
        setCursorRecord(m_columns->nearestRecord(xAt(plot, pos.x())));
    update();
}

void AnalysisCharts::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint pos = event->position().toPoint();
    m_dragChart = chartAt(pos);
    m_dragFrom = m_dragTo = pos;
}

void AnalysisCharts::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_dragChart < 0)
        return;
    const int chart = m_dragChart;
    m_dragChart = -1;
    const QPoint pos = event->position().toPoint();
    const QRect dragged = QRect(m_dragFrom, pos).normalized();
    if (dragged.width() >= kClickSlack) {
        zoomToRect(chart, dragged);
        return;
    }
    update();
    const Layout layout = layoutFor(size());
    if (!m_columns || m_columns->records() == 0)
        return;
    const int record = m_columns->nearestRecord(xAt(layout.plots.front(), pos.x()));
    if (event->modifiers() & Qt::ShiftModifier)
        setMarkB(record);
    else
        setMarkA(record);
}

void AnalysisCharts::wheelEvent(QWheelEvent *event)
{
    const QPoint delta = event->angleDelta();
    if (delta.y() != 0)
        zoomAbout(std::pow(0.8, delta.y() / 120.0));
    else if (delta.x() != 0)
        panBy(-delta.x() / 120.0 * 0.1);
    event->accept();
}

void AnalysisCharts::keyPressEvent(QKeyEvent *event)
{
    if (!m_columns || m_columns->records() == 0)
        return QWidget::keyPressEvent(event);
    int step = 0;
    if (event->key() == Qt::Key_Left)
        step = -1;
    else if (event->key() == Qt::Key_Right)
        step = 1;
    if (step == 0)
        return QWidget::keyPressEvent(event);
    if (m_cursor < 0)
        setCursorRecord(m_columns->nearestRecord((m_level.x0 + m_level.x1) / 2));
    else
        setCursorRecord(std::clamp(m_cursor + step, 0, m_columns->records() - 1));
    // The keyboard's cursor owns the box: it stands at the top rather than at a stale mouse.
    m_mouse.reset();
    keepCursorInView();
}

void AnalysisCharts::leaveEvent(QEvent *)
{
    m_mouse.reset();
}

void AnalysisCharts::contextMenuEvent(QContextMenuEvent *event)
{
    emit contextMenuWanted(event->globalPos());
}

} // namespace korvel
