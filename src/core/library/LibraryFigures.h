#pragma once
// What the library keeps of a flight, worked out once as the file is read: the summary's figures,
// but with every reading the findings call faulty (a failing probe) left out, so that one bad
// probe does not make a flight look hot in the list or a trend. The measures a trend can follow.

#include "core/flight/FlightData.h"
#include "core/flight/Findings.h"
#include "core/flight/FlightSummary.h"
#include "core/library/FlightLibrary.h"

#include <QString>
#include <QStringList>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace korvel {
class FlightRecordBlock;
}

namespace korvel::library_detail {

struct FlightFigures {
    LibraryFlight flight; // the figures; id, sha256 and source are the catalogue's
    std::vector<FieldFigures> fields;
    // Each cylinder's peaks and the largest spreads, with the time each was first reached.
    std::array<CylinderPeaks, kCylinders> cylinders;
    std::optional<TimedValue> egtSpread, chtSpread;
    // The findings by the default rules (their count is the flight's "findings").
    std::vector<Finding> findingList;
};

// Built record by record in file order. A probe's reading is judged once the record after it is
// in, so the probes' figures run one record behind.
class FiguresBuilder {
public:
    FiguresBuilder();
    ~FiguresBuilder();
    FiguresBuilder(const FiguresBuilder &) = delete;
    FiguresBuilder &operator=(const FiguresBuilder &) = delete;

    void add(const FlightRecord &record);
    void add(const RecordReadings &record);
    // Every record of a block read from the flight's file.
    void add(const FlightRecordBlock &block);
    qint64 records() const;
    // The figures of a flight with at least one record.
    FlightFigures finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The list's numeric keys, in the list's order; each is a column of the flights table.
const QStringList &ListMeasures();

} // namespace korvel::library_detail
