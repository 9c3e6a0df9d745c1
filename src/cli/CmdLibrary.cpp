// korvel-cli library: import, list, trend, aircraft, assign, export, remove, init and rebuild in the
// flight library.

#include "cli/Commands.h"
#include "core/flight/FlightJson.h"
#include "core/library/FlightLibrary.h"

#include <cstdio>

namespace korvel::cli {

namespace {

const char *const kLibraryUsage =
    "usage: korvel-cli library [--library LIB] import [--aircraft REG] PATH... | list [--aircraft REG] |\n"
    "                  trend MEASURE [--aircraft REG] | aircraft | assign ID [REG] | export ID OUTFILE | remove ID |\n"
    "                  init | rebuild\n";

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

// Every result as its flight is committed: what was done before a failure (or a kill) is said. A
// flight mended counts as known, a damaged copy as skipped; a damaged or missing copy fails the run.
int Import(const std::function<bool(const std::function<bool(const ImportResult &)> &)> &run)
{
    int added = 0, known = 0, skipped = 0;
    bool lost = false;
    if (!run([&](const ImportResult &result) {
            switch (result.outcome) {
            case ImportResult::Added:
                ++added;
                break;
            case ImportResult::Known:
            case ImportResult::Repaired:
                ++known;
                break;
            case ImportResult::Damaged:
                lost = true;
                ++skipped;
                break;
            case ImportResult::Missing:
                lost = true;
                break;
            case ImportResult::Skipped:
                ++skipped;
                break;
            }
            return WriteOut(ImportResultJson(result));
        }))
        return kExitFailed;
    return WriteOut(ImportTotalsJson(added, known, skipped)) && !lost ? kExitOk : kExitFailed;
}

void QuietDriver()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if ((type == QtCriticalMsg || type == QtFatalMsg) && previous)
            previous(type, context, text);
    });
}

QString MeasureList()
{
    return FlightLibrary::Measures().mid(0, 7).join(QStringLiteral(", ")) +
           QStringLiteral(", fieldK.min, fieldK.max, fieldK.mean (K 0 to 27)");
}

} // namespace

int RunLibrary(const QStringList &args, Trail &)
{
    const QString kAircraft = QStringLiteral("--aircraft");
    const auto parsed = ParseArguments(args, {QStringLiteral("--verbose")}, {QStringLiteral("--library"), kAircraft});
    if (!parsed)
        return UsageError(QString(), kLibraryUsage);
    QStringList operands = parsed->operands;
    if (operands.isEmpty())
        return UsageError(QStringLiteral("library needs a command"), kLibraryUsage);
    const QString command = operands.takeFirst();
    const auto is = [&](const char *name) { return command == QLatin1String(name); };
    const auto takes = [&](int n) { return operands.size() == n; };
    std::optional<qint64> id;
    std::optional<QString> aircraft;
    if (parsed->has(kAircraft)) {
        if (!is("import") && !is("list") && !is("trend"))
            return UsageError(QStringLiteral("%1 takes no --aircraft").arg(command), kLibraryUsage);
        const Registration reg = FlightLibrary::CheckRegistration(parsed->options.value(kAircraft));
        if (!reg)
            return UsageError(reg.reason, kLibraryUsage);
        aircraft = reg.text;
    }
    if (is("import")) {
        if (operands.isEmpty())
            return UsageError(QStringLiteral("import takes at least one PATH"), kLibraryUsage);
    } else if (is("list") || is("aircraft") || is("init") || is("rebuild")) {
        if (!takes(0))
            return UsageError(QStringLiteral("%1 takes no argument").arg(command), kLibraryUsage);
    } else if (is("trend")) {
        if (!takes(1))
            return UsageError(QStringLiteral("trend takes one MEASURE"), kLibraryUsage);
        if (!FlightLibrary::IsMeasure(operands[0]))
            return UsageError(
                QStringLiteral("unknown measure %1; one of %2").arg(FlightLibrary::Echoed(operands[0]), MeasureList()),
                kLibraryUsage);
    } else if (is("export") || is("remove")) {
        if (!takes(is("export") ? 2 : 1) || !(id = IdOf(operands[0])))
            return UsageError(QStringLiteral("%1 takes a flight's ID%2")
                                  .arg(command, is("export") ? QStringLiteral(" and OUTFILE") : QString()),
                              kLibraryUsage);
    } else if (is("assign")) {
        if ((!takes(1) && !takes(2)) || !(id = IdOf(operands[0])))
            return UsageError(QStringLiteral("assign takes a flight's ID and, to give it one, a registration"),
                              kLibraryUsage);
        if (takes(2)) {
            const Registration reg = FlightLibrary::CheckRegistration(operands[1]);
            if (!reg)
                return UsageError(reg.reason, kLibraryUsage);
            aircraft = reg.text;
        }
    } else {
        return UsageError(QStringLiteral("unknown library command %1").arg(FlightLibrary::Echoed(command)),
                          kLibraryUsage);
    }

    const QString location = parsed->has(QStringLiteral("--library"))
                                 ? parsed->options.value(QStringLiteral("--library"))
                                 : FlightLibrary::DefaultFolder();
    // What every message names: a server's URI never with its password.
    const QString folder = FlightLibrary::Shown(location);
    // Only import and init make a library (on a server, only init); the others say when there is none.
    const FlightLibrary::Opening opening = is("init")      ? FlightLibrary::Opening::Init
                                           : is("import")  ? FlightLibrary::Opening::Create
                                           : is("rebuild") ? FlightLibrary::Opening::Rebuild
                                                           : FlightLibrary::Opening::Existing;
    // What a database driver says on its own (a server version it does not know, a statement on a
    // connection gone) is no news to the owner, whose message follows: only with --verbose.
    if (!parsed->has(QStringLiteral("--verbose")))
        QuietDriver();
    try {
        FlightLibrary library(location, opening);
        if (is("import")) {
            const QStringList files = FlightLibrary::CollectFiles(operands);
            return Import([&](const auto &sink) { return library.importFiles(files, aircraft, sink); });
        }
        if (is("rebuild"))
            return Import([&](const auto &sink) { return library.rebuild(sink); });
        if (is("init")) {
            const QString said = library.created()
                                     ? QStringLiteral("made the flight library in %1 (version %2)")
                                     : QStringLiteral("the flight library in %1 is already there (version %2)");
            std::fprintf(stderr, "korvel-cli: %s\n", qPrintable(said.arg(library.folder()).arg(library.version())));
            return kExitOk;
        }
        if (is("list")) {
            std::string out;
            for (const LibraryFlight &f : aircraft ? library.list(*aircraft) : library.list())
                out += LibraryFlightJson(f);
            return WriteOut(out) ? kExitOk : kExitFailed;
        }
        if (is("trend")) {
            std::string out;
            for (const TrendPoint &p : aircraft ? library.trend(operands[0], *aircraft) : library.trend(operands[0]))
                out += TrendPointJson(p);
            return WriteOut(out) ? kExitOk : kExitFailed;
        }
        if (is("aircraft")) {
            std::string out;
            for (const AircraftSummary &a : library.aircraft())
                out += AircraftJson(a);
            return WriteOut(out) ? kExitOk : kExitFailed;
        }
        if (is("assign")) {
            if (library.assign({*id}, aircraft) == 0)
                return Failed(QStringLiteral("no flight %1 in the flight library %2").arg(*id).arg(folder));
            return WriteOut(LibraryFlightJson(*library.flight(*id))) ? kExitOk : kExitFailed;
        }
        if (is("export"))
            return library.exportFlight(*id, operands[1])
                       ? kExitOk
                       : Failed(QStringLiteral("no flight %1 in the flight library %2").arg(*id).arg(folder));
        return library.remove(*id)
                   ? kExitOk
                   : Failed(QStringLiteral("no flight %1 in the flight library %2").arg(*id).arg(folder));
    } catch (const LibraryError &error) {
        return Failed(QStringLiteral("flight library %1: %2").arg(folder, error.message()));
    }
}

} // namespace korvel::cli
