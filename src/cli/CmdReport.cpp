// korvel-cli report and report-card: the pages an owner hands a mechanic, as PDF. They draw, so they
// live in a module of their own with the drawing libraries: the other commands never load them.

#include "cli/CmdReport.h"
#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/flight/FlightStream.h"
#include "core/flight/StartMarker.h"
#include "core/library/FlightLibrary.h"
#include "core/library/LibraryFigures.h"
#include "core/library/Sha256.h"
#include "paint/FlightReport.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>

#include <cstdio>
#include <thread>

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

std::optional<FlightReportInput> ReadFlightForReport(const QString &path, const FindingRules &rules, int columns,
                                                     QString *error)
{
    FlightReportInput in;
    in.sketch = std::make_unique<FlightSketch>(columns);
    library_detail::FiguresBuilder figures;
    // The figures find by the default rules already; only other limits need a scan of their own.
    const bool ownRules = rules.chtLimit != FindingRules{}.chtLimit;
    FindingsScanner scanner(rules);
    StartMarker marker;
    Sha256 sha;
    try {
        StreamFlightDataFile(
            path,
            [&](const FlightRecordBlock &block) {
                // The figures and findings on a second core while this one gathers the charts; the
                // block stays valid until both are done with it.
                std::thread figuring([&] {
                    for (int k = 0; k < block.records(); ++k) {
                        const FlightRecord record = block[k];
                        figures.add(record);
                        if (ownRules)
                            scanner.add(record);
                    }
                });
                for (int k = 0; k < block.records(); ++k)
                    in.sketch->add(block[k]);
                figuring.join();
            },
            [&](const char *bytes, std::size_t size) {
                marker.add(bytes, size);
                sha.add(bytes, size);
            });
    } catch (const FlightDataError &e) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, e.message());
        return std::nullopt;
    }
    if (marker.calibration()) {
        *error = QStringLiteral("%1 holds a calibration record, not a flight: there is nothing to report").arg(path);
        return std::nullopt;
    }
    if (figures.records() == 0) {
        *error = QStringLiteral("%1 holds no flight record: there is nothing to report").arg(path);
        return std::nullopt;
    }
    library_detail::FlightFigures f = figures.finish();
    FlightReport &r = in.report;
    r.fileName = QFileInfo(path).fileName();
    r.sha256 = sha.hex();
    r.records = f.flight.records;
    r.first = FlightMoment{QDate::fromString(f.flight.first.left(10), Qt::ISODate),
                           QTime::fromString(f.flight.first.mid(11), QStringLiteral("HH:mm:ss"))};
    r.last = FlightMoment{QDate::fromString(f.flight.last.left(10), Qt::ISODate),
                          QTime::fromString(f.flight.last.mid(11), QStringLiteral("HH:mm:ss"))};
    r.durationSeconds = f.flight.durationSeconds;
    r.cylinders = f.cylinders;
    r.egtSpread = f.egtSpread;
    r.chtSpread = f.chtSpread;
    r.findings = ownRules ? scanner.finish() : std::move(f.findingList);
    r.rules = rules;
    r.sketch = in.sketch.get();
    return in;
}

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
    if (byId) {
        const QString folder = LibraryOption(*parsed);
        try {
            FlightLibrary library(folder, FlightLibrary::Opening::Existing);
            const std::optional<LibraryFlight> flight = library.flight(*id);
            const std::optional<QString> copy = flight ? library.copyPath(*id) : std::nullopt;
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

    if (QFileInfo(outFile).exists() && QFileInfo(outFile).canonicalFilePath() == QFileInfo(path).canonicalFilePath())
        return Failed(QStringLiteral("%1 is the flight itself; name another OUTFILE for its report").arg(outFile));
    // The file is made first, so an OUTFILE that cannot be written is said before a long read.
    ReportPdf pdf;
    QString error;
    if (!pdf.open(outFile, QStringLiteral("Flight report"), &error))
        return Failed(error + QStringLiteral("; choose another OUTFILE"));
    trail.setStatus(FlightFileStatusText(path));
    auto in = ReadFlightForReport(path, rules, SketchColumns(ReportChartArea(pdf.page())), &error);
    if (!in) {
        pdf.cancel();
        return Failed(error);
    }
    if (!expectedSha.isEmpty() && in->report.sha256 != expectedSha) {
        pdf.cancel();
        return Failed(QStringLiteral("the library's copy of flight %1 is damaged (its SHA-256 no longer matches); "
                                     "import the flight's file again")
                          .arg(*id));
    }
    in->report.aircraft = aircraft;
    if (!shownName.isEmpty())
        in->report.fileName = shownName;
    PaintFlightReport(pdf.nextPage(), pdf.page(), in->report);
    if (!pdf.commit(&error))
        return Failed(error);
    return kExitOk;
}

} // namespace korvel::cli

// The module's door: korvel-cli hands over its command line untouched.
extern "C" Q_DECL_EXPORT int KorvelReportMain(int argc, char **argv)
{
    using namespace korvel::cli;
    // No window system is needed, nor looked for, to draw a page.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // What Qt says while it sets up a platform with no screen (a runtime folder it made itself, say)
    // is no news to the user: the trail stays the command's own.
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(previous);
    QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.takeFirst();
    Trail trail;
    if (command == QLatin1String("report-card"))
        return RunReportCard(args, trail);
    return RunReport(args, trail);
}
