// korvel-cli csv: the record table as CSV on stdout, written as it is made.

#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/flight/FlightCsv.h"
#include "core/flight/FlightData.h"

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

    FlightData data;
    if (!LoadForCommand(fileName, data, trail))
        return kExitFailed;

    const bool written = WriteFlightCsv(data, [](std::string_view piece) {
        return std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size();
    });
    if (!written || std::fflush(stdout) != 0) {
        std::fputs("korvel-cli: cannot write the CSV to stdout\n", stderr);
        return kExitFailed;
    }
    return kExitOk;
}

} // namespace korvel::cli
