// korvel-cli findings: the flight's findings, one JSON object a line, then their count.

#include "cli/Commands.h"
#include "cli/JsonText.h"
#include "core/flight/Findings.h"
#include "core/flight/FlightPass.h"

#include <cmath>
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

int RunFindings(const QStringList &args, Trail &)
{
    const auto parsed = ParseArguments(args, {}, {QStringLiteral("--cht-limit")});
    if (!parsed)
        return UsageError(QString(), kFindingsUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("findings takes one FILE"), kFindingsUsage);
    FindingRules rules;
    if (parsed->has(QStringLiteral("--cht-limit"))) {
        bool ok = false;
        const double value = parsed->options.value(QStringLiteral("--cht-limit")).toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return UsageError(QStringLiteral("--cht-limit takes a number"), kFindingsUsage);
        rules.chtLimit = value;
    }
    const QString fileName = parsed->operands.front();

    FindingsScanner scanner(rules);
    try {
        PassFlightFile(fileName, [&](const FlightRecord &record) { scanner.add(record); });
    } catch (const FlightDataError &error) {
        std::fprintf(stderr, "korvel-cli: cannot load %s: %s\n", qPrintable(fileName), error.what());
        return kExitFailed;
    }
    const std::vector<Finding> findings = scanner.finish();
    std::string out;
    for (const Finding &f : findings)
        out += FindingJson(f);
    out += "{\"count\":" + std::to_string(findings.size()) + "}\n";
    return WriteOut(out) ? kExitOk : kExitFailed;
}

} // namespace korvel::cli
