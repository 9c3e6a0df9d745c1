#pragma once
// One pass over a flight file's records, for the readers that need each record once (findings,
// the library's import) and keep nothing of the table.

#include "core/flight/FlightData.h"

#include <QString>

#include <functional>

namespace korvel {

// Hands every record of the file to onRecord in file order and returns how many there were. The
// record is a view, valid during the call only. Throws FlightDataError as the loader does.
qint64 PassFlightFile(const QString &fileName, const std::function<void(const FlightRecord &)> &onRecord);

} // namespace korvel
