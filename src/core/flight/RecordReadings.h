#pragma once
// A record's moment and every field as a number, read once. The figures, the findings and a report's
// charts all want the same numbers of each record; reading them once for all is cheaper, and a list of
// these holds no view of the read buffer, so it may be handed to another thread.

#include "core/flight/FlightData.h"
#include "core/flight/FlightFields.h"

#include <array>

namespace korvel {

struct RecordReadings {
    QDate date;
    QTime time;
    std::array<double, kFlightFields> value; // FieldReading of each field: NaN where it holds no number
};

void ReadRecord(const FlightRecord &record, RecordReadings &out);

} // namespace korvel
