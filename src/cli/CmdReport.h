#pragma once
// The report module's commands (built into korvel-cli-report, loaded by korvel-cli for them alone).

#include "core/flight/Findings.h"
#include "paint/FlightReport.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace korvel::cli {

class Trail;

// A flight read once for its report: the page's content and the charts' columns it points to.
struct FlightReportInput {
    FlightReport report;
    std::unique_ptr<FlightSketch> sketch;
};

// Reads path as it goes; nullopt with the reason for a file that cannot be read, holds a
// calibration record or no record.
std::optional<FlightReportInput> ReadFlightForReport(const QString &path, const FindingRules &rules, int columns,
                                                     QString *error);

int RunReport(const QStringList &args, Trail &trail);
int RunReportCard(const QStringList &args, Trail &trail);

} // namespace korvel::cli
