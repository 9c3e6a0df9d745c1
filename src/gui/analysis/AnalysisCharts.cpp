#include "gui/analysis/AnalysisCharts.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>

namespace korvel {

namespace {

constexpr int kClickSlack = 4; // a press and release closer than this is a click, not a drag
constexpr int kBoxOffset = 12; // between the cursor line and its box

} // namespace

AnalysisCharts::AnalysisCharts(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("analysisCharts"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(240, 150);
    setFont(ChartFont());
}

void AnalysisCharts::setFlight(FlightColumns *columns)
{
    m_columns = columns;
    m_history.clear();
    m_cursor = -1;
    m_markA.reset();
    m_markB.reset();
    m_shade.reset();
    m_level = wholeFlight();
    refit();
    m_wheeling = false;
    invalidate();
    emit marksChanged();
}

void AnalysisCharts::setCharts(const std::vector<ChartChoice> &charts)
{
    m_charts.assign(charts.begin(), charts.begin() + std::min<size_t>(charts.size(), kMaxCharts));
    if (m_columns) {
        std::vector<Quantity> shown;
        for (const ChartChoice &chart : m_charts)
            shown.insert(shown.end(), {chart.left, chart.right});
        m_columns->readQuantities(shown);
    }
    refit();
    invalidate();
    emit marksChanged();
}

// An axis fits what is in sight of its series not hidden.
ValueSpan AnalysisCharts::fit(int chart, int axis, double x0, double x1) const
{
    return m_columns ? FitAxis(*m_columns, m_charts[size_t(chart)], axis, x0, x1, m_hidden) : ValueSpan{};
}

void AnalysisCharts::refit()
{
    for (size_t c = 0; c < m_charts.size(); ++c)
        for (int axis = 0; axis < 2; ++axis)
            m_fits[c][size_t(axis)] = fit(int(c), axis, m_level.x0, m_level.x1);
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
    refit();
    invalidate();
}

std::pair<double, double> AnalysisCharts::valueSpan(int chart, int axis) const
{
    if (chart < 0 || chart >= int(m_charts.size()))
        return {0, 0};
    const ValueSpan span = m_fits[size_t(chart)][size_t(axis)];
    return {span.low, span.high};
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
    // Time only: every chart's value axes then fit what is in sight, so no line of another cylinder
    // leaves the chart it was dragged in.
    next.x1 = xAt(plot, r.right());
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
}

void AnalysisCharts::keepCursorInView()
{
    if (m_cursor < 0)
        return;
    const double x = m_columns->x()[size_t(m_cursor)];
    if (x >= m_level.x0 && x <= m_level.x1)
        return;
    // The span moves on just far enough to keep the cursor in sight, a little in from the edge.
    const double width = m_level.x1 - m_level.x0;
    Level next = m_level;
    next.x0 = x < m_level.x0 ? x - width * 0.02 : x - width * 0.98;
    next.x1 = next.x0 + width;
    setLevel(next);
}

std::vector<AnalysisCharts::Reading> AnalysisCharts::cursorReadings() const
{
    std::vector<Reading> readings;
    if (m_cursor < 0 || !m_columns)
        return readings;
    auto *columns = m_columns;
    const ChartStack drawn = stack();
    for (size_t c = 0; c < m_charts.size(); ++c) {
        const size_t begin = readings.size();
        for (const auto &[axis, s] : ChartSeries(drawn, int(c)))
            if (!m_hidden.test(size_t(s)))
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

QString AnalysisCharts::BoxLine(const Reading &reading)
{
    return SeriesName(reading.series) + QStringLiteral("  ") +
           (std::isnan(reading.value) ? QStringLiteral("-") : ReadingWithUnit(reading.series, reading.value));
}

QStringList AnalysisCharts::cursorBoxLines() const
{
    QStringList lines;
    if (m_cursor < 0 || !m_columns)
        return lines;
    lines << m_columns->timeText(m_cursor, m_columns->spansDays());
    for (const Reading &r : cursorReadings())
        lines << BoxLine(r);
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

QRect AnalysisCharts::cursorBoxRect() const
{
    return cursorBox().rect;
}

// Beside the cursor, on the side with room, never over the line; inside the widget.
AnalysisCharts::Box AnalysisCharts::cursorBox() const
{
    Box box;
    const int cx = cursorPixel();
    if (cx < 0)
        return box;
    box.readings = cursorReadings();
    const std::vector<Reading> &readings = box.readings;
    const QFontMetrics metrics(font());
    const int lh = metrics.height();
    constexpr int kPad = 4, kChartGap = 3, kMark = 17; // the colour mark before a reading's text
    const int gaps = std::max(0, int(m_charts.size()) - 1) * kChartGap;
    // The rows one column holds within the widget, below the time.
    const int most = std::max(1, (height() - 4 - 2 * kPad - lh - gaps) / lh);
    std::vector<int> columnWidths(1, 0);
    int rows = 0, y = 0, tallest = 0;
    for (size_t i = 0; i < readings.size(); ++i) {
        const bool newChart = i > 0 && readings[i].chart != readings[i - 1].chart;
        int chartRows = 0;
        for (size_t j = i; newChart && j < readings.size() && readings[j].chart == readings[i].chart; ++j)
            ++chartRows;
        if (rows > 0 && (rows >= most || (newChart && chartRows <= most && rows + chartRows > most))) {
            columnWidths.push_back(0);
            rows = 0;
            y = 0;
        } else if (newChart) {
            y += kChartGap;
        }
        const int left = std::accumulate(columnWidths.begin(), columnWidths.end() - 1, 0);
        box.places.push_back(QPoint(left, kPad + lh + y));
        columnWidths.back() =
            std::max(columnWidths.back(), kMark + metrics.horizontalAdvance(BoxLine(readings[i])) + 5);
        y += lh;
        ++rows;
        tallest = std::max(tallest, y);
    }
    const int time =
        QFontMetrics(ChartFont(true)).horizontalAdvance(m_columns->timeText(m_cursor, m_columns->spansDays())) + 14;
    const int width = std::max(time, std::accumulate(columnWidths.begin(), columnWidths.end(), 0) + 5);
    const int height = 2 * kPad + lh + tallest;
    int x = cx + kBoxOffset;
    if (x + width > this->width() - 2)
        x = cx - kBoxOffset - width;
    if (x < 2) // no room on either side: the wider side, overlapping as little as may be
        x = cx > this->width() / 2 ? 2 : this->width() - 2 - width;
    int top = m_mouse ? m_mouse->y() - height / 2 : 4;
    top = std::clamp(top, 2, std::max(2, this->height() - 2 - height));
    box.rect = QRect(x, top, width, height);
    return box;
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
    const ChartStack drawn = stack();
    for (int c = 0; c < int(m_charts.size()); ++c)
        for (const auto &[axis, s] : ChartSeries(drawn, c)) {
            const float a = m_columns->value(s, *m_markA);
            const float b = m_columns->value(s, *m_markB);
            if (m_hidden.test(size_t(s)) || std::isnan(a) || std::isnan(b))
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
    return LayOutCharts(int(m_charts.size()), QRect(QPoint(0, 0), size));
}

int AnalysisCharts::chartAt(const QPoint &pos) const
{
    const Layout layout = layoutFor(size());
    for (int c = 0; c < layout.plots.size(); ++c)
        if (layout.band(c).contains(pos))
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
        PaintChartStack(painter, rect(), stack(), ratio == 1 ? &m_cache : nullptr);
        m_cacheValid = true;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, m_cache);
    paintCursor(painter);
}

ChartStack AnalysisCharts::stack() const
{
    ChartStack stack;
    stack.columns = m_columns;
    stack.charts = m_charts;
    stack.x0 = m_level.x0;
    stack.x1 = m_level.x1;
    for (int c = 0; c < int(m_charts.size()); ++c) {
        std::array<ValueSpan, 2> spans;
        for (int axis = 0; axis < 2; ++axis) {
            const auto [low, high] = valueSpan(c, axis);
            spans[size_t(axis)] = {low, high};
        }
        stack.values.push_back(spans);
    }
    stack.markA = m_markA;
    stack.markB = m_markB;
    stack.chtLimit = m_chtLimit;
    if (m_shade && m_columns && m_shade->second < m_columns->records() && m_shade->first >= 0)
        stack.shaded.push_back({m_columns->x()[size_t(m_shade->first)], m_columns->x()[size_t(m_shade->second)]});
    stack.hidden = m_hidden;
    return stack;
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

    const Box box = cursorBox();
    painter.setPen(QColor(120, 120, 120));
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawRect(box.rect);
    const QFontMetrics metrics(font());
    const int lh = metrics.height();
    painter.setPen(Qt::black);
    painter.setFont(ChartFont(true));
    painter.drawText(QRect(box.rect.left() + 6, box.rect.top() + 4, box.rect.width() - 8, lh),
                     Qt::AlignLeft | Qt::AlignVCenter, m_columns->timeText(m_cursor, m_columns->spansDays()));
    painter.setFont(font());
    for (size_t i = 0; i < box.readings.size(); ++i) {
        const Reading &r = box.readings[i];
        const QPoint at = box.rect.topLeft() + box.places[i];
        const std::vector<int> left = AxisSeries(m_charts[size_t(r.chart)], 0);
        const bool right = std::find(left.begin(), left.end(), r.series) == left.end();
        const QColor colour = AxisSeriesColour(r.series, right ? 1 : 0);
        painter.fillRect(QRect(at.x() + 6, at.y() + lh / 2 - 1, 8, 3), colour);
        painter.setPen(colour);
        painter.drawText(QRect(at.x() + 17, at.y(), box.rect.right() - at.x() - 17, lh),
                         Qt::AlignLeft | Qt::AlignVCenter, BoxLine(r));
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
    // Over a legend entry the pointer says it can be clicked.
    bool overLegend = false;
    if (m_dragChart < 0)
        for (const LegendEntry &entry : legendEntries())
            overLegend = overLegend || entry.rect.contains(pos);
    if (overLegend)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
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
    // A click on a legend entry hides or shows its series.
    for (const LegendEntry &entry : legendEntries())
        if (entry.rect.contains(pos)) {
            setSeriesHidden(entry.series, !seriesHidden(entry.series));
            return;
        }
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

// The cursor follows the mouse: out of the charts, neither the line nor its box stays behind.
void AnalysisCharts::leaveEvent(QEvent *)
{
    m_mouse.reset();
    if (m_dragChart < 0)
        setCursorRecord(-1);
}

void AnalysisCharts::setSeriesHidden(int series, bool hidden)
{
    if (series < 0 || series >= kSeriesCount || m_hidden.test(size_t(series)) == hidden)
        return;
    m_hidden.set(size_t(series), hidden);
    refit();
    invalidate();
    emit marksChanged();
}

std::vector<LegendEntry> AnalysisCharts::legendEntries() const
{
    return LegendEntries(stack(), layoutFor(size()));
}

void AnalysisCharts::setChtLimit(std::optional<double> limit)
{
    m_chtLimit = limit;
    invalidate();
}

void AnalysisCharts::setShade(std::optional<std::pair<int, int>> records)
{
    m_shade = records;
    invalidate();
}

void AnalysisCharts::contextMenuEvent(QContextMenuEvent *event)
{
    emit contextMenuWanted(event->globalPos());
}

} // namespace korvel
