#pragma once
// The record table as CSV for spreadsheets: a header line, then one row per record with the date
// (YYYY-MM-DD), the time (HH:MM:SS) and the 28 field texts exactly. A text holding a double quote,
// a comma, CR or LF is quoted as RFC 4180 says; lines end in CR LF; text goes out as UTF-8.

#include "core/flight/FlightData.h"

#include <functional>
#include <string>
#include <string_view>

namespace korvel {

// "date,time,field0,...,field15,EGT1,...,EGT6,CHT1,...,CHT6" and its CR LF.
std::string FlightCsvHeader();

// Appends one field to a row, quoted when it must be.
void AppendCsvField(std::string &out, QLatin1StringView text);

// Writes the header, then a row per record as they come, to `write` in pieces of a few tens of
// kilobytes. Once `write` fails, nothing more is written and add and finish return false.
class FlightCsvWriter {
public:
    explicit FlightCsvWriter(std::function<bool(std::string_view)> write);
    bool add(const FlightRecord &record);
    bool finish();

private:
    bool flush();

    std::function<bool(std::string_view)> m_write;
    std::string m_piece;
    bool m_ok = true;
    bool m_dated = false;
    QDate m_lastDate;
    std::string m_dateText; // a flight's records share one or two dates: each is formatted once
};

// Writes the header and every record to `write` in pieces of a few tens of kilobytes as they are
// made, so a file of any length costs no more memory than one piece. Stops and returns false as
// soon as `write` does.
bool WriteFlightCsv(const FlightData &data, const std::function<bool(std::string_view)> &write);

} // namespace korvel
