#pragma once
// The figures an owner asks of a flight: how long the engine ran, each field's range, which
// cylinder ran hottest and when, how far apart the cylinders were, and when a cylinder head sat at
// or above a limit. Computed in one pass over the record table.
//
// A field counts as a number exactly when the graphs would plot it (FieldNumber); an empty or
// non-numeric field is left out of every figure.

#include "core/flight/FlightData.h"
#include "core/flight/FlightFields.h"

#include <QDate>
#include <QString>
#include <QTime>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace korvel {

struct FlightMoment {
    QDate date;
    QTime time;
};

// One field's figures over the records that hold a number in it.
struct FieldFigures {
    int field = 0;
    int count = 0;
    double minimum = 0;
    double maximum = 0;
    double mean = 0;
};

// A value with the time of the first record that reached it.
struct TimedValue {
    double value = 0;
    QTime time;
};

struct CylinderPeaks {
    std::optional<TimedValue> egt;
    std::optional<TimedValue> cht;
};

// A run of consecutive records whose cylinder-head temperature stood at or above the limit.
struct ChtSpan {
    int cylinder = 0; // 1 to 6
    QTime from;
    QTime to;
    double peak = 0;
    int firstRecord = 0;
    int lastRecord = 0;
};

struct FlightSummary {
    int records = 0;
    std::optional<FlightMoment> first;
    std::optional<FlightMoment> last;
    std::optional<std::int64_t> durationSeconds;
    std::vector<FieldFigures> fields; // fields 0 to 27 with at least one number, in order
    std::array<CylinderPeaks, kCylinders> cylinders;
    std::optional<TimedValue> egtSpread; // hottest minus coldest cylinder in one record
    std::optional<TimedValue> chtSpread;
    std::vector<ChtSpan> chtOver; // empty without a limit
};

// The hottest cylinder (0-based) by one of its peaks, the lowest cylinder number on a tie; nullopt
// when no cylinder has that peak.
std::optional<int> HottestCylinder(const std::array<CylinderPeaks, kCylinders> &cylinders,
                                   std::optional<TimedValue> CylinderPeaks::*which);

// How far apart the cylinders run in one record: the hottest minus the coldest of kCylinders
// readings, when at least two count. A reading at or below 0 is a failing probe's, never a
// cylinder's, and counts in none; so does NaN (no number). The one rule for the summary, the
// library, the analysis view's spread series and the report's.
std::optional<double> CylinderSpread(const double *values);
std::optional<double> CylinderSpread(const float *values);

// The summary built record by record, in file order, in one pass: what a reader that goes through
// the file as it comes feeds it.
class FlightSummaryBuilder {
public:
    explicit FlightSummaryBuilder(std::optional<double> chtLimit = std::nullopt);
    ~FlightSummaryBuilder();
    FlightSummaryBuilder(const FlightSummaryBuilder &) = delete;
    FlightSummaryBuilder &operator=(const FlightSummaryBuilder &) = delete;

    void add(const FlightRecord &record);
    FlightSummary finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The summary of the table's records (none when no file is loaded). With a limit, the runs of each
// cylinder at or above it, in the order of their first record and by cylinder within one record.
FlightSummary SummarizeFlight(const FlightData &data, std::optional<double> chtLimit = std::nullopt);

// The cylinder-head temperatures of every record, kept so that the runs over a new limit can be
// found without the table (NaN where a record has no number).
struct ChtTrace {
    std::vector<QTime> times;
    std::vector<std::array<double, kCylinders>> values;
};

ChtTrace TraceCylinderHeads(const FlightData &data);
std::vector<ChtSpan> FindChtOver(const ChtTrace &trace, double limit);

// Seconds from one record's date and time to another's, midnight and date changes included.
std::int64_t SecondsBetween(const FlightMoment &from, const FlightMoment &to);

} // namespace korvel
