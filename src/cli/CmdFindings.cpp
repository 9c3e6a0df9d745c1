// korvel-cli findings: the flight's findings, one JSON object a line, then their count.

#include "cli/Commands.h"
#include "core/flight/FlightJson.h"
#include "core/flight/Findings.h"
#include "core/flight/FlightStream.h"

#include <cstdio>

namespace korvel::cli {

namespace {

const char *const kFindingsUsage = "usage: korvel-cli findings [--cht-limit N] FILE\n";

std::string FindingJson(const Finding &f)
{
    std::string out = "{\"kind\":\"";
    out.append(FindingKindName(f.kind));
    out.append("\",\"cyl\":").append(std::to_string(f.cylinder)).append(",\"from\":");
    AppendJsonTime(out, f.from);
    out.append(",\"to\":");
    AppendJsonTime(out, f.to);
    out.append(",\"record\":").append(std::to_string(f.record)).append(",\"value\":");
    AppendJsonNumber(out, f.value);
    out.append("}\n");
    return out;
}

} // namespace

int RunFindings(const QStringList &args, Trail &trail)
{
    const auto parsed = ParseArguments(args, {}, {QStringLiteral("--cht-limit")});
    if (!parsed)
        return UsageError(QString(), kFindingsUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("findings takes one FILE"), kFindingsUsage);
    FindingRules rules;
    std::optional<double> limit;
    if (!ChtLimitOption(*parsed, limit))
        return UsageError(QStringLiteral("--cht-limit takes a number"), kFindingsUsage);
    if (limit)
        rules.chtLimit = *limit;

    FindingsScanner scanner(rules);
    const auto count = StreamForCommand(parsed->operands.front(), trail, [&scanner](const FlightRecordBlock &block) {
        for (int k = 0; k < block.records(); ++k)
            scanner.add(block[k]);
    });
    if (!count)
        return kExitFailed;
    const std::vector<Finding> findings = scanner.finish();
    std::string out;
    for (const Finding &f : findings)
        out += FindingJson(f);
    out += "{\"count\":" + std::to_string(findings.size()) + "}\n";
    return WriteOut(out) ? kExitOk : kExitFailed;
}

} // namespace korvel::cli
