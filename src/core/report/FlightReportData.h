#pragma once
// What a flight's report page says, worked out from its file as it is read: the heading's facts
// (with the file's SHA-256), each cylinder's peaks and the largest spreads as the library counts
// them, and the findings. Memory stays a few chunks' worth whatever the flight's length. Drawing the
// page is the paint layer's.

#include "core/flight/Findings.h"
#include "core/flight/FlightSummary.h"
#include "core/flight/RecordReadings.h"

#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace korvel {

struct FlightReportData {
    std::optional<QString> aircraft;
    QString fileName; // as the owner knows it (no folder)
    QString sha256;
    FlightMoment first, last;
    qint64 records = 0;
    std::optional<qint64> durationSeconds;
    // Counted as the library counts them: no faulty reading in any.
    std::array<CylinderPeaks, kCylinders> cylinders;
    std::optional<TimedValue> egtSpread, chtSpread;
    std::vector<Finding> findings;
    FindingRules rules;
};

// Reads path as it goes, handing each record to onRecord (on this thread, in order) for what else
// the page draws; nullopt with the reason for a file that cannot be read, holds a calibration record
// or no record.
std::optional<FlightReportData> ReadFlightReportData(const QString &path, const FindingRules &rules,
                                                     const std::function<void(const RecordReadings &)> &onRecord,
                                                     QString *error);

} // namespace korvel
