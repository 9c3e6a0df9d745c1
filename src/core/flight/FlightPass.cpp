#include "core/flight/FlightPass.h"

#include "core/flight/FlightStream.h"

namespace korvel {

qint64 PassFlightFile(const QString &fileName, const std::function<void(const FlightRecord &)> &onRecord)
{
    return StreamFlightDataFile(fileName, [&](const FlightRecordBlock &block) {
        for (int k = 0; k < block.records(); ++k)
            onRecord(block[k]);
    });
}

} // namespace korvel
