// korvel-cli csv: the record table as CSV on stdout, written as it is made.

#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/flight/FlightCsv.h"
#include "core/flight/FlightStream.h"

#include <cstdio>

namespace korvel::cli {

namespace {

const char *const kCsvUsage = "usage: korvel-cli csv FILE\n";

} // namespace

int RunCsv(const QStringList &args, Trail &trail)
{
    const auto parsed = ParseArguments(args, {}, {});
    if (!parsed)
        return UsageError(QString(), kCsvUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("csv takes one FILE"), kCsvUsage);
    const QString fileName = parsed->operands.front();

    // Each piece the writer hands on ends with a row, so a file that cannot be read to its end
    // leaves only whole rows behind.
    FlightCsvWriter csv([](std::string_view piece) {
        return std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size();
    });
    const auto count = StreamForCommand(fileName, trail, [&csv](const FlightRecordBlock &block) {
        for (int k = 0; k < block.records() && csv.add(block[k]); ++k) {
        }
    });
    if (!count)
        return kExitFailed; // the rows not yet written are dropped
    const bool written = csv.finish();
    if (!written || std::fflush(stdout) != 0) {
        std::fputs("korvel-cli: cannot write the CSV to stdout\n", stderr);
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace korvel::cli
