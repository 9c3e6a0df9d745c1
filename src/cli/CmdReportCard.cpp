// korvel-cli report-card: one aircraft's recent flights against the other aircraft of the library.

#include "cli/CmdReport.h"
#include "cli/Commands.h"
#include "core/library/FlightLibrary.h"
#include "paint/ReportCard.h"

#include <QHash>
#include <QPainter>
#include <QSet>

#include <cstdio>
#include <map>

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

    ReportCardPage card;
    card.aircraft = aircraft;
    try {
        FlightLibrary library(folder, FlightLibrary::Opening::Existing);
        std::vector<LibraryFlight> own = library.list(aircraft);
        if (own.empty())
            return Failed(QStringLiteral("no flight of aircraft %1 in the flight library %2; its aircraft are: %3")
                              .arg(aircraft, folder,
                                   library.registrations().isEmpty() ? QStringLiteral("none")
                                                                     : library.registrations().join(QStringLiteral(", "))));
        if (int(own.size()) > flights)
            own.erase(own.begin(), own.end() - flights);
        card.flights = int(own.size());
        card.first = own.front().first.left(10);
        card.last = own.back().last.left(10);
        QHash<qint64, QString> month; // of the flights drawn
        for (const LibraryFlight &f : own)
            month.insert(f.id, f.first.left(7));
        // The fleet: every flight of another aircraft (those without one belong to none).
        QSet<qint64> fleet;
        QSet<QString> others;
        for (const LibraryFlight &f : library.list())
            if (f.aircraft && *f.aircraft != aircraft) {
                fleet.insert(f.id);
                others.insert(*f.aircraft);
            }
        card.fleetAircraft = int(others.size());
        card.fleetFlights = int(fleet.size());

        for (const CardMeasure &measure : CardMeasures()) {
            CardRow row{measure, {}, {}, {}};
            std::vector<double> mine, theirs;
            std::map<QString, std::vector<double>> byMonth;
            for (const TrendPoint &p : library.trend(QString::fromLatin1(measure.key))) {
                if (!p.value)
                    continue;
                const double v = *p.value * measure.scale;
                if (month.contains(p.id)) {
                    mine.push_back(v);
                    byMonth[month.value(p.id)].push_back(v);
                } else if (fleet.contains(p.id)) {
                    theirs.push_back(v);
                }
            }
            row.own = Summarize(mine);
            row.fleet = Summarize(theirs);
            if (card.fleetAircraft == 0) {
                // Every month from the first flight drawn to the last, an empty one kept in its place.
                QDate m = QDate::fromString(card.first.left(7) + QStringLiteral("-01"), Qt::ISODate);
                const QDate end = QDate::fromString(card.last.left(7) + QStringLiteral("-01"), Qt::ISODate);
                for (; m.isValid() && m <= end; m = m.addMonths(1)) {
                    const QString key = m.toString(QStringLiteral("yyyy-MM"));
                    row.months.push_back({key, Summarize(byMonth[key])});
                }
            }
            card.rows.push_back(row);
        }
    } catch (const LibraryError &error) {
        return Failed(QStringLiteral("flight library %1: %2").arg(folder, error.message()));
    }

    ReportPdf pdf;
    QString error;
    if (!pdf.open(outFile, QStringLiteral("Report card %1").arg(aircraft), &error))
        return Failed(error + QStringLiteral("; choose another OUTFILE"));
    PaintReportCard(pdf.nextPage(), pdf.page(), card);
    if (!pdf.commit(&error))
        return Failed(error);
    return kExitOk;
}

} // namespace korvel::cli
