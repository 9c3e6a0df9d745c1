// The flight-data loader on any bytes, lines past 64 KiB included: no crash, no count beyond the
// table, every record dated and timed, and every field a piece of its own line (of 64 KiB at most).
#include "core/flight/FlightData.h"
#include "core/flight/FlightLines.h"
#include "FuzzSupport.h"

using namespace korvel;
using namespace korvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    FlightData parsed;
    try {
        parsed = ParseFlightData(bytes);
    } catch (const FlightDataError &) {
        return 0; // a dated line without a time of day, or longer than a record: the load fails with its reason
    }
    FUZZ_CHECK(parsed.FlightRecordCount.has_value());
    const FlightRecordTable &table = parsed.FlightRecords;
    const int count = *parsed.FlightRecordCount;
    FUZZ_CHECK(count == table.records());
    // One slot per piece of the file and line 0 is never a record: always more slots than records.
    FUZZ_CHECK(count >= 0 && (count < table.slotCount() || count == 0));
    FUZZ_CHECK(qsizetype(count) <= bytes.count('\n'));
    for (int k = 0; k < count; ++k) {
        const FlightRecord record = table[k];
        FUZZ_CHECK(record.LogDate().isValid() && record.LogTime().isValid());
        for (int n = 0; n < kFlightSlots; ++n) {
            const QLatin1StringView field = record.Values(n);
            FUZZ_CHECK(n < kFlightFields || field.isEmpty());
            // A field never holds the comma that ends it, nor more than a record line holds.
            FUZZ_CHECK(!field.contains(QLatin1Char(',')) && field.size() <= qsizetype(flightlines::kLongestRecordLine));
        }
    }
    FUZZ_CHECK(table[count].Values(0).isEmpty() && table[-1].Values(0).isEmpty());
    return 0;
}
