// korvel-cli dump: the flight file's records as one JSON object each, then the count.

#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/flight/FlightJson.h"
#include "core/flight/FlightStream.h"

#include <cstdio>
#include <string>

namespace korvel::cli {

namespace {

const char *const kDumpUsage = "usage: korvel-cli dump [--count] FILE\n";

} // namespace

int RunDump(const QStringList &args, Trail &trail)
{
    const auto parsed = ParseArguments(args, {QStringLiteral("--count")}, {});
    if (!parsed)
        return UsageError(QString(), kDumpUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("dump takes one FILE"), kDumpUsage);
    const QString fileName = parsed->operands.front();
    const bool countOnly = parsed->has(QStringLiteral("--count"));

    // Written as it goes: a large flight's JSON is many times the size of the file.
    LineOutput out;
    const auto count = StreamForCommand(fileName, trail, [&](const FlightRecordBlock &block) {
        if (countOnly || !out.ok())
            return;
        for (int k = 0; k < block.records(); ++k) {
            AppendRecordJson(out.text(), block[k]);
            out.lineDone();
        }
    });
    if (!count)
        return kExitFailed;
    out.text().append("{\"count\":" + std::to_string(*count) + "}\n");
    return out.flush() && std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

} // namespace korvel::cli
