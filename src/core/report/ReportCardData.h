#pragma once
// What a report card says of one aircraft, worked out from the library: for six measures its
// recent flights (lowest, median, highest) against the other aircraft's flights (the fleet: lowest,
// quartiles, highest), and the line where its median lies outside the fleet's middle half. With no
// other aircraft, its own months instead. Drawing it is the paint layer's.

#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace korvel {

class FlightLibrary;

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
    FiveNumbers own;                                     // the aircraft's flights drawn, in view units
    FiveNumbers fleet;                                   // the other aircraft's flights
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

// The sentences of the page: one per median outside the fleet's middle half; "Every median lies
// within the fleet's middle half." only when every median the aircraft has lies there.
QStringList CardSentences(const ReportCardPage &card);

// How many of its last flights a card draws unless told.
constexpr int kReportCardFlights = 25;

// The card of aircraft (a normalised registration) from the library in folder: its last `flights`
// flights against the other aircraft. nullopt with the reason.
std::optional<ReportCardPage> ReadReportCard(const QString &folder, const QString &aircraft, int flights,
                                             QString *error);
// The same from a library open already (a window's, on its library's thread); what the library
// itself fails at is thrown as LibraryError.
std::optional<ReportCardPage> ReadReportCard(FlightLibrary &library, const QString &aircraft, int flights,
                                             QString *error);

} // namespace korvel
