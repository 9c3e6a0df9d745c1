#pragma once
// A flight's charts gathered as the file is read, for a page that draws the whole flight without
// holding it: per series and per pixel column the lowest and highest reading, and the first and
// last, so a one-record spike among a million records still shows. The time axis is placed as the
// analysis view places it (seconds since the first record, midnight crossed, a clock that goes
// back costing one usual step: the same TimeAxis).
//
// The flight's end is known only at its last record, so the readings go first into time slots
// (twice as wide, and half as many, whenever the flight outgrows them) several to a column; a
// slot is given to the column its start falls in, so a reading is never lost and at worst drawn a
// fraction of a column early.

#include "core/flight/FlightColumns.h"
#include "core/flight/RecordReadings.h"
#include "paint/ChartStack.h"

#include <QDate>

#include <array>
#include <vector>

namespace korvel {

class FlightSketch : public ColumnSource {
public:
    // columns: the plot's width in the page's units, the columns the charts will be drawn with.
    explicit FlightSketch(int columns);

    // The next record of the flight, in file order.
    void add(const FlightRecord &record);
    void add(const RecordReadings &record);

    qint64 records() const { return m_records; }
    int columns() const { return m_columns; }
    // The time axis the records were placed on, as the view places them.
    const TimeAxis &axis() const override { return m_axis; }
    // The last record's place on the axis (seconds since the first).
    double end() const { return m_axis.end(); }
    // The first record's time of day in seconds (0 when it has none) and date (invalid without).
    int firstTimeOfDay() const { return m_axis.firstTimeOfDay(); }
    QDate firstDate() const { return m_axis.firstDate(); }
    // The flight runs past midnight.
    bool spansDays() const { return m_axis.spansDays(); }

    // The axis the page shows: the whole flight, at least two seconds wide.
    double x0() const;
    double x1() const;

    // Column c's readings of a series; over the whole flight, whether it has one and its range.
    ColumnSpan span(int series, int column) const;
    // The column holds records (its span may still be empty: records without this reading).
    bool columnHasRecords(int column) const;
    bool anyReading(int series) const override;
    float low(int series) const;
    float high(int series) const;

    // Where a record lies on the axis, to within a slot.
    double xOfRecord(qint64 record) const;

    // As a chart draws it: its own columns, or any other width from them.
    qint64 recordCount() const override { return m_records; }
    std::optional<double> placeOfRecord(qint64 record) const override;
    void columnSpans(int series, double x0, double x1, int width, std::vector<ColumnSpan> &spans,
                     std::vector<char> &filled) const override;

    // The time of day (with the day when the flight spans more than one) and the day at an axis
    // position, as the view's labels read them.
    QString timeTextAt(double x) const { return m_axis.timeTextAt(x, m_axis.spansDays()); }
    QString dayTextAt(double x) const { return m_axis.dayTextAt(x); }

private:
    struct Slot {
        float low, high, first, last;
    };
    void widen();
    // The columns built from the slots, once the end is known.
    void settle() const;

    int m_columns;
    int m_slotCount;
    double m_slotWidth = 1; // seconds
    qint64 m_records = 0;
    TimeAxis m_axis;
    std::vector<Slot> m_slots;            // series by series, m_slotCount each
    std::vector<qint64> m_slotFirstRecord; // -1 for a slot without records
    mutable bool m_settled = false;
    mutable std::vector<ColumnSpan> m_spans; // series by series, m_columns each
    mutable std::vector<char> m_columnRecords;
    mutable std::vector<std::pair<qint64, double>> m_slotStarts; // first record and place of each slot with any
    mutable std::vector<float> m_low, m_high;
    std::array<int, kSeriesCount> m_seriesField{}; // -1 for the spreads, worked out from the cylinders
    std::array<double, kSeriesCount> m_seriesScale{};
};

// The axis span a quantity takes over a flight: its readings with a little room, on round steps
// (as the analysis view's whole-flight view sets it).
ValueSpan HomeSpan(const FlightSketch &sketch, Quantity quantity);

// The three charts of the analysis view (EGTs; CHTs; engine) over the sketch, whole-flight spans,
// CHT limit drawn: PaintChartStack draws it as it draws the view.
ChartStack SketchStack(const FlightSketch &sketch, std::optional<double> chtLimit);

// The plot width a stack laid out in `area` draws with, the columns a sketch should gather.
int SketchColumns(const QRect &area, int charts = 3);

} // namespace korvel
