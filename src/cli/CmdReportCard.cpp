// korvel-cli report-card: one aircraft's recent flights against the other aircraft of the library.

#include "cli/CmdReport.h"
#include "cli/Commands.h"
#include "core/library/FlightLibrary.h"
#include "paint/ReportWriter.h"


#include <cstdio>

namespace korvel::cli {

namespace {

const char *const kCardUsage =
    "usage: korvel-cli report-card [--library LIB] [--flights N] --aircraft REG OUTFILE\n";
constexpr int kDefaultFlights = 25;

int Failed(const QString &text)
{
    std::fprintf(stderr, "korvel-cli: %s\n", qPrintable(text));
    return kExitFailed;
}

} // namespace

int RunReportCard(const QStringList &args, Trail &)
{
    const QString kAircraft = QStringLiteral("--aircraft"), kFlights = QStringLiteral("--flights"),
                  kLibrary = QStringLiteral("--library");
    const auto parsed = ParseArguments(args, {}, {kLibrary, kFlights, kAircraft});
    if (!parsed)
        return UsageError(QString(), kCardUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("report-card takes one OUTFILE"), kCardUsage);
    if (!parsed->has(kAircraft))
        return UsageError(QStringLiteral("report-card needs --aircraft REG"), kCardUsage);
    const Registration reg = FlightLibrary::CheckRegistration(parsed->options.value(kAircraft));
    if (!reg)
        return UsageError(reg.reason, kCardUsage);
    int flights = kDefaultFlights;
    if (parsed->has(kFlights)) {
        bool ok = false;
        flights = parsed->options.value(kFlights).toInt(&ok);
        if (!ok || flights < 1)
            return UsageError(QStringLiteral("--flights takes a number of flights, 1 or more"), kCardUsage);
    }
    const QString aircraft = *reg.text;
    const QString outFile = parsed->operands.front();
    const QString folder = parsed->has(kLibrary) ? parsed->options.value(kLibrary) : FlightLibrary::DefaultFolder();

    QString error;
    if (!WriteReportCard(folder, aircraft, flights, outFile, &error))
        return Failed(error);
    return kExitOk;
}

} // namespace korvel::cli
