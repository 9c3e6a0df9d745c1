#pragma once
// A flight as JSON: the pieces every JSON writer of the program shares, a record as one line and
// the summary as one object. Numbers that are not finite are written null: JSON has no infinity.

#include "core/flight/FlightData.h"
#include "core/flight/FlightSummary.h"

#include <optional>
#include <string>

namespace korvel {

struct LibraryFlight;
struct ImportResult;
struct TrendPoint;
struct AircraftSummary;

// A Latin-1 text as a JSON string (UTF-8 out, quotes included).
void AppendJsonString(std::string &out, QLatin1StringView text);
// A text of the program's own (a path, a reason) as a JSON string, escaped as above.
void AppendJsonString(std::string &out, const QString &text);
// "HH:MM:SS", quotes included.
void AppendJsonTime(std::string &out, QTime time);
// The shortest text that reads back as the same double; null when v is not finite.
void AppendJsonNumber(std::string &out, double v);
// A figure that may be missing: null when it is.
void AppendJsonNumber(std::string &out, const std::optional<double> &v);
template <class T> void AppendJsonInteger(std::string &out, const std::optional<T> &v)
{
    out.append(v ? std::to_string(*v) : std::string("null"));
}

// {"date":"YYYY-MM-DD","time":"HH:MM:SS","values":[28 field texts]} and a LF.
void AppendRecordJson(std::string &out, const FlightRecord &record);

// The summary as one object and a LF.
std::string FlightSummaryJson(const FlightSummary &summary);

// The flight library's lines, each with its LF: a flight of the list, a file's import and the
// import's totals, a trend's point, an aircraft.
std::string LibraryFlightJson(const LibraryFlight &flight);
std::string ImportResultJson(const ImportResult &result);
std::string ImportTotalsJson(int added, int known, int skipped);
std::string TrendPointJson(const TrendPoint &point);
std::string AircraftJson(const AircraftSummary &aircraft);

} // namespace korvel
