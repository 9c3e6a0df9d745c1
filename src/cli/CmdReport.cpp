// korvel-cli report: the page an owner hands a mechanic, as PDF, drawn in korvel-report.

#include "cli/CmdReport.h"
#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/flight/FlightData.h"
#include "core/library/FlightLibrary.h"
#include "paint/ReportWriter.h"

#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace korvel::cli {

namespace {

const char *const kReportUsage = "usage: korvel-cli report [--library LIB] [--cht-limit N] (FILE | --id ID) OUTFILE\n";

int Failed(const QString &text)
{
    std::fprintf(stderr, "korvel-cli: %s\n", qPrintable(text));
    return kExitFailed;
}

QString LibraryOption(const Arguments &arguments)
{
    return arguments.has(QStringLiteral("--library")) ? arguments.options.value(QStringLiteral("--library"))
                                                      : FlightLibrary::DefaultFolder();
}

} // namespace

int RunReport(const QStringList &args, Trail &trail)
{
    const auto parsed =
        ParseArguments(args, {}, {QStringLiteral("--library"), QStringLiteral("--cht-limit"), QStringLiteral("--id")});
    if (!parsed)
        return UsageError(QString(), kReportUsage);
    const bool byId = parsed->has(QStringLiteral("--id"));
    if (parsed->operands.size() != (byId ? 1 : 2))
        return UsageError(byId ? QStringLiteral("report --id ID takes one OUTFILE")
                               : QStringLiteral("report takes a FILE (or --id ID) and an OUTFILE"),
                          kReportUsage);
    FindingRules rules;
    std::optional<double> limit;
    if (!ChtLimitOption(*parsed, limit))
        return UsageError(QStringLiteral("--cht-limit takes a number"), kReportUsage);
    if (limit)
        rules.chtLimit = *limit;
    std::optional<qint64> id;
    if (byId) {
        bool ok = false;
        id = parsed->options.value(QStringLiteral("--id")).toLongLong(&ok);
        if (!ok)
            return UsageError(QStringLiteral("--id takes a flight's number"), kReportUsage);
    }
    const QString outFile = parsed->operands.back();

    // The flight: a file, or a library's copy with its aircraft and the name it was imported by.
    QString path;
    std::optional<QString> aircraft;
    QString shownName;
    QString expectedSha;
    // A server's flight is read from a temporary copy that goes with the library: it is kept until
    // the report has read it.
    std::unique_ptr<FlightLibrary> library;
    if (byId) {
        const QString location = LibraryOption(*parsed);
        // What every message names: a server's URI never with its password.
        const QString folder = FlightLibrary::Shown(location);
        try {
            library = std::make_unique<FlightLibrary>(location, FlightLibrary::Opening::Existing);
            const std::optional<LibraryFlight> flight = library->flight(*id);
            const std::optional<QString> copy = flight ? library->copyPath(*id) : std::nullopt;
            if (!flight || !copy)
                return Failed(QStringLiteral("no flight %1 in the flight library %2").arg(*id).arg(folder));
            path = *copy;
            aircraft = flight->aircraft;
            shownName = QFileInfo(flight->source).fileName();
            expectedSha = flight->sha256;
        } catch (const LibraryError &error) {
            return Failed(QStringLiteral("flight library %1: %2").arg(folder, error.message()));
        }
    } else {
        path = parsed->operands.front();
    }

    trail.setStatus(FlightFileStatusText(path));
    QString error;
    if (!WriteFlightReports({{path, shownName, aircraft, expectedSha, id.value_or(0)}}, outFile, rules, &error))
        return Failed(error);
    return kExitOk;
}

} // namespace korvel::cli
