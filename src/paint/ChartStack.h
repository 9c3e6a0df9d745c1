#pragma once
// The analysis charts drawn onto any painter: a widget's picture, a printer or a PDF page. Up to
// three charts stacked on one time axis, each with a left and an optional right quantity; per
// pixel column each series' lowest and highest reading, so nothing vanishes at any size. What is
// drawn comes in as a ChartStack over a column source (the view's columns, a report's sketch),
// where it goes as a painter and a rectangle in its units (one unit is drawn as one screen pixel
// would be: a page scales the painter, not the texts). The window and the report's page are drawn
// by this one painter.

#include "core/flight/FlightColumns.h"

#include <QColor>
#include <QFont>
#include <QList>
#include <QRect>

#include <array>
#include <bitset>
#include <optional>
#include <utility>
#include <vector>

class QImage;
class QPainter;

namespace korvel {

struct ChartChoice {
    Quantity left = Quantity::None;
    Quantity right = Quantity::None;
};

// The series an axis of a chart draws. A cylinder's quantity on the left takes both axes, its EGT
// on the left and its CHT on the right, and the right axis's own choice gives way.
std::vector<int> AxisSeries(const ChartChoice &chart, int axis);
// The axis draws something; its title, unit included.
bool AxisUsed(const ChartChoice &chart, int axis);
QString AxisTitleOf(const ChartChoice &chart, int axis);
bool AxisShowsCht(const ChartChoice &chart, int axis);
// The axis shows temperatures, whose span is never drawn narrower than 20 degrees.
bool AxisIsTemperature(const ChartChoice &chart, int axis);

// The values an axis spans, bottom to top.
struct ValueSpan {
    double low = 0, high = 1;
};

// What a stack draws.
struct ChartStack {
    const ColumnSource *columns = nullptr;
    std::vector<ChartChoice> charts;
    // The time shown, in the flight's seconds (FlightColumns::x).
    double x0 = 0, x1 = 1;
    // Per chart, the left and the right axis's span.
    std::vector<std::array<ValueSpan, 2>> values;
    std::optional<int> markA, markB;               // records
    std::optional<double> chtLimit;                // a line on every CHT axis
    std::vector<std::pair<double, double>> shaded; // time spans shaded in every chart
    std::bitset<kSeriesCount> hidden;              // series left undrawn (their legend entry greyed)
};

struct ChartStackLayout {
    QList<QRect> plots; // chart by chart, the area inside the frame
    QRect timeAxis;     // the time labels under the last chart
    // A chart's whole band: its legend line above the plot and half the gap below.
    QRect band(int chart) const;
};

// One entry of a chart's legend line, where it stands.
struct LegendEntry {
    int chart = 0;
    int series = 0;
    QRect rect;
};

// The charts' text: sized in the painter's units, so a page scaled to the stack keeps its size.
QFont ChartFont(bool bold = false);

QColor SeriesColour(int series);
// A series as its axis draws it.
QColor AxisSeriesColour(int series, int axis);
// The series drawn broken (the cylinder-head temperatures), so a CHT reads apart from an EGT.
bool SeriesDashed(int series);

// A round step (1, 2 or 5 times a power of ten) giving about `ticks` intervals over the range.
double NiceStep(double range, int ticks);

// An axis's values for the readings of its series (those not hidden) between x0 and x1, a little
// more, on round figures; temperatures never less than 20 degrees, so a degree of noise does not
// look violent.
ValueSpan FitAxis(const FlightColumns &columns, const ChartChoice &chart, int axis, double x0, double x1,
                  const std::bitset<kSeriesCount> &hidden = {});
// The whole flight, each axis fitted to it: what a page draws.
ChartStack WholeFlight(const FlightColumns &columns, const std::vector<ChartChoice> &charts);

// Where each chart of `count` goes in `area`.
ChartStackLayout LayOutCharts(int count, const QRect &area);

// The series a chart lists in its legend: those with a reading somewhere in the flight (a cylinder
// the engine lacks has none), left axis first.
std::vector<std::pair<int, int>> ChartSeries(const ChartStack &stack, int chart); // (axis, series)
std::vector<LegendEntry> LegendEntries(const ChartStack &stack, const ChartStackLayout &layout);
// Where chart's legend line ends, its plot at `plot`.
int LegendEnd(const ChartStack &stack, int chart, const QRect &plot);

// The whole stack, white behind it. pixels: the picture the painter draws on, when nothing (no
// transform, no pixel ratio) stands between them; the dense series are then written into it directly.
void PaintChartStack(QPainter &painter, const QRect &area, const ChartStack &stack, QImage *pixels = nullptr);

// Its parts, each drawing one thing into a laid-out stack.
void PaintShade(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack);
void PaintTimeGrid(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack,
                   const std::vector<double> &ticks);
void PaintValueAxes(QPainter &painter, const QRect &plot, const ChartStack &stack, int chart);
void PaintAxisTitle(QPainter &painter, const QRect &plot, const QString &title, int axis);
void PaintLegend(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack);
void PaintSeries(QPainter &painter, const QRect &plot, const ChartStack &stack, int chart, int axis, int series,
                 QImage *pixels);
void PaintLimit(QPainter &painter, const QRect &plot, const ChartStack &stack, int chart);
void PaintMarks(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack);
void PaintTimeLabels(QPainter &painter, const ChartStackLayout &layout, const ChartStack &stack, const TimeAxis &axis,
                     const std::vector<double> &ticks, int step);

// The time ticks: round times of day far enough apart for their labels over a plot `width` wide;
// step: the seconds between them.
std::vector<double> TimeTicks(const TimeAxis &axis, double x0, double x1, int width, int *step);
std::vector<double> TimeTicks(const ChartStack &stack, int width, int *step);

} // namespace korvel
