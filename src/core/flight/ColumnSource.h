#pragma once
// What the analysis charts are drawn from, wherever they are drawn: the analysis view's columns of
// a loaded flight, or a report's sketch gathered as the file was read. Both answer a chart's pixel
// columns with each series' lowest and highest reading, so one painter draws the window and the page.

#include "core/flight/TimeAxis.h"

#include <optional>
#include <vector>

namespace korvel {

// The lowest and highest finite reading over a run of records, and the first and last of them.
struct ColumnSpan {
    float low = 0, high = 0, first = 0, last = 0;
    bool any = false;
};

class ColumnSource {
public:
    virtual ~ColumnSource() = default;

    // The axis the records stand on, and how many records there are.
    virtual const TimeAxis &axis() const = 0;
    virtual qint64 recordCount() const = 0;
    // The series has a reading somewhere in the flight (a cylinder the engine lacks has none).
    virtual bool anyReading(int series) const = 0;
    // Where a record stands on the axis, nothing for a record the flight does not have.
    virtual std::optional<double> placeOfRecord(qint64 record) const = 0;

    // A plot `width` columns wide showing x0 to x1: per column the series' readings (any is false
    // where it has none) and whether the column holds records at all.
    virtual void columnSpans(int series, double x0, double x1, int width, std::vector<ColumnSpan> &spans,
                             std::vector<char> &filled) const = 0;
    // The records themselves from the one before x0 to the one after x1, with their places (NaN:
    // no reading), when there are at most `most` of them; false when there are more, or when the
    // source keeps no records.
    virtual bool recordPoints(int series, double x0, double x1, int most, std::vector<double> &places,
                              std::vector<float> &values) const
    {
        (void)series, (void)x0, (void)x1, (void)most, (void)places, (void)values;
        return false;
    }
};

} // namespace korvel
