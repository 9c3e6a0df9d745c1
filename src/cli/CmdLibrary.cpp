// korvel-cli library: import, list, trend, export and remove in the flight library.

#include "cli/Commands.h"
#include "core/flight/FlightJson.h"
#include "core/library/FlightLibrary.h"

#include <cstdio>

namespace korvel::cli {

namespace {

const char *const kLibraryUsage =
    "usage: korvel-cli library [--library DIR] import PATH... | list | trend MEASURE | export ID OUTFILE | remove ID\n";

std::string FlightJson(const LibraryFlight &f)
{
    std::string out = "{\"id\":" + std::to_string(f.id) + ",\"first\":";
    AppendJsonString(out, f.first);
    out.append(",\"last\":");
    AppendJsonString(out, f.last);
    out.append(",\"records\":" + std::to_string(f.records) + ",\"duration_s\":");
    AppendJsonInteger(out, f.durationSeconds);
    out.append(",\"egt_max\":");
    AppendJsonNumber(out, f.egtMax);
    out.append(",\"egt_cyl\":");
    AppendJsonInteger(out, f.egtCylinder);
    out.append(",\"cht_max\":");
    AppendJsonNumber(out, f.chtMax);
    out.append(",\"cht_cyl\":");
    AppendJsonInteger(out, f.chtCylinder);
    out.append(",\"egt_spread_max\":");
    AppendJsonNumber(out, f.egtSpreadMax);
    out.append(",\"cht_spread_max\":");
    AppendJsonNumber(out, f.chtSpreadMax);
    out.append(",\"findings\":" + std::to_string(f.findings) + ",\"sha256\":");
    AppendJsonString(out, f.sha256);
    out.append(",\"source\":");
    AppendJsonString(out, f.source);
    out.append("}\n");
    return out;
}

std::string ImportJson(const ImportResult &r)
{
    std::string out = "{\"file\":";
    AppendJsonString(out, r.file);
    switch (r.outcome) {
    case ImportResult::Added:
        out.append(",\"result\":\"added\",\"id\":" + std::to_string(r.id) + "}\n");
        break;
    case ImportResult::Known:
        out.append(",\"result\":\"known\",\"id\":" + std::to_string(r.id) + "}\n");
        break;
    case ImportResult::Skipped:
        out.append(",\"result\":\"skipped\",\"reason\":");
        AppendJsonString(out, r.reason);
        out.append("}\n");
        break;
    }
    return out;
}

int Failed(const QString &text)
{
    std::fprintf(stderr, "korvel-cli: %s\n", qPrintable(text));
    return kExitFailed;
}

std::optional<qint64> IdOf(const QString &text)
{
    bool ok = false;
    const qint64 id = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(id) : std::nullopt;
}

int Import(FlightLibrary &library, const QStringList &paths)
{
    int added = 0, known = 0, skipped = 0;
    // A line as each flight is committed: what was done before a failure (or a kill) is said.
    if (!library.importFiles(FlightLibrary::CollectFiles(paths), [&](const ImportResult &result) {
            (result.outcome == ImportResult::Added   ? added
             : result.outcome == ImportResult::Known ? known
                                                     : skipped)++;
            return WriteOut(ImportJson(result));
        }))
        return kExitFailed;
    const std::string total = "{\"added\":" + std::to_string(added) + ",\"known\":" + std::to_string(known) +
                              ",\"skipped\":" + std::to_string(skipped) + "}\n";
    return WriteOut(total) ? kExitOk : kExitFailed;
}

} // namespace

int RunLibrary(const QStringList &args, Trail &)
{
    const auto parsed = ParseArguments(args, {}, {QStringLiteral("--library")});
    if (!parsed)
        return UsageError(QString(), kLibraryUsage);
    QStringList operands = parsed->operands;
    if (operands.isEmpty())
        return UsageError(QStringLiteral("library needs a command"), kLibraryUsage);
    const QString command = operands.takeFirst();
    const auto takes = [&](int n) { return operands.size() == n; };
    std::optional<qint64> id;
    if (command == QLatin1String("import")) {
        if (operands.isEmpty())
            return UsageError(QStringLiteral("import takes at least one PATH"), kLibraryUsage);
    } else if (command == QLatin1String("list")) {
        if (!takes(0))
            return UsageError(QStringLiteral("list takes no argument"), kLibraryUsage);
    } else if (command == QLatin1String("trend")) {
        if (!takes(1))
            return UsageError(QStringLiteral("trend takes one MEASURE"), kLibraryUsage);
        if (!FlightLibrary::IsMeasure(operands[0]))
            return UsageError(QStringLiteral("unknown measure %1; one of records, duration_s, egt_max, cht_max, "
                                             "egt_spread_max, cht_spread_max, findings, fieldK.min, fieldK.max, "
                                             "fieldK.mean (K 0 to 27)")
                                  .arg(operands[0]),
                              kLibraryUsage);
    } else if (command == QLatin1String("export") || command == QLatin1String("remove")) {
        if (!takes(command == QLatin1String("export") ? 2 : 1) || !(id = IdOf(operands[0])))
            return UsageError(QStringLiteral("%1 takes a flight's ID%2")
                                  .arg(command, command == QLatin1String("export") ? QStringLiteral(" and OUTFILE")
                                                                                   : QString()),
                              kLibraryUsage);
    } else {
        return UsageError(QStringLiteral("unknown library command %1").arg(command), kLibraryUsage);
    }

    const QString folder = parsed->has(QStringLiteral("--library")) ? parsed->options.value(QStringLiteral("--library"))
                                                                     : FlightLibrary::DefaultFolder();
    try {
        FlightLibrary library(folder);
        if (command == QLatin1String("import"))
            return Import(library, operands);
        if (command == QLatin1String("list")) {
            std::string out;
            for (const LibraryFlight &f : library.list())
                out += FlightJson(f);
            return WriteOut(out) ? kExitOk : kExitFailed;
        }
        if (command == QLatin1String("trend")) {
            std::string out;
            for (const TrendPoint &p : library.trend(operands[0])) {
                out += "{\"id\":" + std::to_string(p.id) + ",\"first\":";
                AppendJsonString(out, p.first);
                out += ",\"value\":";
                AppendJsonNumber(out, p.value);
                out += "}\n";
            }
            return WriteOut(out) ? kExitOk : kExitFailed;
        }
        if (command == QLatin1String("export"))
            return library.exportFlight(*id, operands[1]) ? kExitOk : Failed(QStringLiteral("no flight %1").arg(*id));
        return library.remove(*id) ? kExitOk : Failed(QStringLiteral("no flight %1").arg(*id));
    } catch (const LibraryError &error) {
        return Failed(QStringLiteral("flight library %1: %2").arg(folder, error.message()));
    }
}

} // namespace korvel::cli
