#pragma once
// One aircraft's page: for six measures its recent flights (lowest, median, highest) drawn over the
// other aircraft's flights in the library (the fleet: lowest, quartiles, highest), with a line where
// its median lies outside the fleet's middle half. With no other aircraft, its own months instead.

#include "core/flight/Statistics.h"

#include <QSizeF>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QPainter;

namespace korvel {

struct CardMeasure {
    const char *key;   // the library's trend measure
    const char *label; // as the page and its sentence name it
    double scale;      // to the analysis view's units (tenths read as whole units)
    bool lowIsBad;     // judged against the fleet's 25th percentile, not its 75th
};
// cht_max, egt_max, cht_spread_max, egt_spread_max, field 8's max, field 7's min.
const std::vector<CardMeasure> &CardMeasures();

// A number as the page writes it: whole, rounded half away from zero.
QString WholeText(double v);

struct FiveNumbers {
    int count = 0;
    double min = 0, p25 = 0, median = 0, p75 = 0, max = 0;
};
// Of any values (sorted here); count 0 when there are none.
FiveNumbers Summarize(std::vector<double> values);

// "LABEL: median M is above the fleet's 75th percentile P" (or below its 25th), when it is.
std::optional<QString> CardSentence(const CardMeasure &measure, const FiveNumbers &own, const FiveNumbers &fleet);

struct CardRow {
    CardMeasure measure;
    FiveNumbers own;                                   // the aircraft's flights drawn, in view units
    FiveNumbers fleet;                                 // the other aircraft's flights
    std::vector<std::pair<QString, FiveNumbers>> months; // without a fleet: the aircraft's months
};

struct ReportCardPage {
    QString aircraft;
    int flights = 0;     // drawn: its last N
    QString first, last; // their dates
    int fleetAircraft = 0;
    int fleetFlights = 0;
    std::vector<CardRow> rows;
};

void PaintReportCard(QPainter &painter, const QSizeF &page, const ReportCardPage &card);

} // namespace korvel
