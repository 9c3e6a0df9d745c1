// korvel-cli summary: the flight summary as one JSON object on stdout.

#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/flight/FlightJson.h"
#include "core/flight/FlightStream.h"
#include "core/flight/FlightSummary.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace korvel::cli {

namespace {

const char *const kSummaryUsage = "usage: korvel-cli summary [--cht-limit N] FILE\n";

} // namespace

int RunSummary(const QStringList &args, Trail &trail)
{
    const auto parsed = ParseArguments(args, {}, {QStringLiteral("--cht-limit")});
    if (!parsed)
        return UsageError(QString(), kSummaryUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("summary takes one FILE"), kSummaryUsage);
    std::optional<double> limit;
    if (parsed->has(QStringLiteral("--cht-limit"))) {
        bool ok = false;
        const double value = parsed->options.value(QStringLiteral("--cht-limit")).toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return UsageError(QStringLiteral("--cht-limit takes a number"), kSummaryUsage);
        limit = value;
    }
    const QString fileName = parsed->operands.front();

    FlightSummaryBuilder summary(limit);
    const auto count = StreamForCommand(fileName, trail, [&summary](const FlightRecordBlock &block) {
        for (int k = 0; k < block.records(); ++k)
            summary.add(block[k]);
    });
    if (!count)
        return kExitFailed;

    const std::string out = FlightSummaryJson(summary.finish());
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

} // namespace korvel::cli
