#include "core/flight/FlightPass.h"

#include "core/ui/UiInterfaces.h"

namespace korvel {

namespace {

class NoStatus : public StatusLine {
public:
    void setStatus(const QString &) override {}
};

} // namespace

qint64 PassFlightFile(const QString &fileName, const std::function<void(const FlightRecord &)> &onRecord)
{
    FlightData data;
    NoStatus status;
    LoadFlightDataFile(fileName, data, status);
    const int records = data.FlightRecordCount.value_or(0);
    for (int k = 0; k < records; ++k)
        onRecord(data.FlightRecords[k]);
    return records;
}

} // namespace korvel
