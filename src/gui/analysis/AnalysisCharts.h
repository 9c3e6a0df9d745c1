#pragma once
// The analysis view's stack of charts on one time axis, drawn by hand: per pixel column each
// series' lowest and highest reading, so nothing vanishes at any zoom and a million records draw
// in a few milliseconds. One cursor runs across every chart with a box of the values under it;
// a dragged rectangle zooms every chart to its time span (and the chart it was dragged on to its
// values; the others refit to what is in sight); a click sets mark A, a shift-click mark B, a click
// on a legend entry hides or shows its series.

#include "core/flight/FlightColumns.h"
#include "paint/ChartStack.h"

#include <QImage>
#include <QWidget>

#include <array>
#include <bitset>
#include <optional>
#include <utility>
#include <vector>

class QPainter;

namespace korvel {

class AnalysisCharts : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxCharts = 3;

    explicit AnalysisCharts(QWidget *parent = nullptr);

    // The flight to draw (nullptr: none); the view starts on the whole of it.
    void setFlight(FlightColumns *columns);
    void setCharts(const std::vector<ChartChoice> &charts);
    const std::vector<ChartChoice> &charts() const { return m_charts; }

    // Where chart i's plot area lies in the widget.
    QRect plotRect(int chart) const { return layoutFor(size()).plots.value(chart); }

    // The time span every chart shows, in the flight's seconds, and a chart axis's value span
    // (axis 0 left, 1 right).
    double spanStart() const { return m_level.x0; }
    double spanEnd() const { return m_level.x1; }
    std::pair<double, double> valueSpan(int chart, int axis) const;

    // Zoom: a rectangle in widget pixels dragged on a chart; back one level; the whole flight;
    // by a factor about the cursor (below 1 closer; a run of these is one level); along the time by a
    // fraction of the span.
    void zoomToRect(int chart, const QRect &pixels);
    void unzoom();
    void resetZoom();
    int zoomDepth() const { return int(m_history.size()); }
    void zoomAbout(double factor);
    void panBy(double fraction);
    // Records first to last with a margin on either side, the cursor on record `cursor`.
    void showRecords(int first, int last, int cursor);

    // The cursor's record, -1 when it is not shown.
    int cursorRecord() const { return m_cursor; }
    void setCursorRecord(int record);

    // The values under the cursor, chart by chart, hottest first within each chart.
    struct Reading {
        int chart = 0;
        int series = 0;
        float value = 0; // NaN: no reading there
    };
    std::vector<Reading> cursorReadings() const;
    QStringList cursorBoxLines() const; // as the box shows them, the time first
    QRect cursorBoxRect() const;        // empty when no box is shown
    int cursorPixel() const;            // the cursor line's x, -1 when not shown

    // A series left undrawn (and out of the box and the refit), by its legend entry or here.
    bool seriesHidden(int series) const { return m_hidden.test(size_t(series)); }
    void setSeriesHidden(int series, bool hidden);
    // The legend entries as they stand in the widget.
    std::vector<LegendEntry> legendEntries() const;

    // The CHT limit drawn as a line; a span of records shaded (a finding chosen).
    void setChtLimit(std::optional<double> limit);
    void setShade(std::optional<std::pair<int, int>> records);
    std::optional<std::pair<int, int>> shade() const { return m_shade; }

    // Marks A and B and what changed between them.
    std::optional<int> markA() const { return m_markA; }
    std::optional<int> markB() const { return m_markB; }
    void setMarkA(int record);
    void setMarkB(int record);
    struct Change {
        int series = 0;
        double a = 0, b = 0, change = 0;
        std::optional<double> perMinute;
    };
    std::optional<double> markSeconds() const; // B minus A in seconds
    std::vector<Change> changes() const;

    // What the charts draw now, for a picture of them (no cursor, box or rubber band).
    ChartStack stack() const;

signals:
    void marksChanged();
    void contextMenuWanted(const QPoint &globalPos);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct Level {
        double x0 = 0, x1 = 1; // the time shown; the value axes fit what is in sight of it
    };
    using Layout = ChartStackLayout;

    Layout layoutFor(const QSize &size) const;
    // The value box: where it stands, and where each of the cursor's readings goes in it (from its
    // top left). A box taller than the charts takes its readings in columns, a chart's together
    // where they fit in one.
    struct Box {
        QRect rect;
        std::vector<Reading> readings;
        std::vector<QPoint> places;
    };
    Box cursorBox() const;
    static QString BoxLine(const Reading &reading);
    // The axes' values for what is in sight, on round figures.
    void refit();
    ValueSpan fit(int chart, int axis, double x0, double x1) const;
    void setLevel(const Level &level, bool byWheel = false);
    Level clamped(Level level) const;
    Level wholeFlight() const;
    double xAt(const QRect &plot, double pixel) const;
    double pixelAt(const QRect &plot, double x) const;
    int chartAt(const QPoint &pos) const;
    void keepCursorInView();
    void invalidate();
    void paintCursor(QPainter &painter) const;

    FlightColumns *m_columns = nullptr;
    std::vector<ChartChoice> m_charts;
    std::array<std::array<ValueSpan, 2>, kMaxCharts> m_fits{};
    std::bitset<kSeriesCount> m_hidden;
    std::optional<double> m_chtLimit;
    std::optional<std::pair<int, int>> m_shade;
    Level m_level;
    std::vector<Level> m_history;
    bool m_wheeling = false; // the last change of level came from the wheel
    int m_cursor = -1;
    std::optional<int> m_markA, m_markB;
    std::optional<QPoint> m_mouse;
    int m_dragChart = -1;
    QPoint m_dragFrom, m_dragTo;
    QImage m_cache; // the charts as last drawn, without cursor
    bool m_cacheValid = false;
};

} // namespace korvel
