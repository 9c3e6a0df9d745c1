// korvel-cli: the headless front end. The same core as the windows, with the windows' outputs
// written as a text trail on stderr.

#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/flight/FlightData.h"
#include "core/flight/FlightStream.h"
#include "core/platform/Processes.h"
#include "core/serial/ComPorts.h"

#include <QCoreApplication>

#include <cmath>
#include <cstdio>

namespace korvel::cli {

namespace {

const char *const kUsage = "usage: korvel-cli COMMAND [OPTIONS] ARGS\n"
                           "  dump [--count] FILE\n"
                           "  srec FILE\n"
                           "  brec [--trim] FILE\n"
                           "  capture [--port P] [--max-seconds S] OUTFILE\n"
                           "  flash [--port P] [--speed N] [--init FILE] [--verbose] [PROGRAM]\n"
                           "  summary [--cht-limit N] FILE\n"
                           "  csv FILE\n"
                           "  findings [--cht-limit N] FILE\n"
                           "  library [--library LIB] import [--aircraft REG] PATH... | list [--aircraft REG] |\n"
                           "          trend MEASURE [--aircraft REG] | aircraft | assign ID [REG] | export ID OUTFILE |\n"
                           "          remove ID | init | rebuild\n"
                           "  report [--library LIB] [--cht-limit N] (FILE | --id ID) OUTFILE\n"
                           "  report-card [--library LIB] [--flights N] --aircraft REG OUTFILE\n";

} // namespace

std::optional<qint64> StreamForCommand(const QString &fileName, Trail &trail,
                                       const std::function<void(const FlightRecordBlock &)> &onBlock)
{
    trail.setStatus(FlightFileStatusText(fileName));
    try {
        return StreamFlightDataFile(fileName, onBlock);
    } catch (const FlightDataError &error) {
        std::fprintf(stderr, "korvel-cli: cannot load %s: %s\n", qPrintable(fileName), error.what());
        return std::nullopt;
    }
}

LineOutput::LineOutput()
{
    m_text.reserve(kPiece + 4096);
}

bool WriteOut(const std::string &out)
{
    return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0;
}

bool LineOutput::flush()
{
    // Every piece ends with a line, so whatever stdio has passed on when a command stops, the rest
    // follows at exit and stdout ends on a whole line.
    if (m_ok && !m_text.empty())
        m_ok = std::fwrite(m_text.data(), 1, m_text.size(), stdout) == m_text.size();
    m_text.clear();
    return m_ok;
}

std::optional<QString> PortFromOption(const QString &value)
{
    if (value.contains(QLatin1Char('/')) || value.startsWith(QLatin1String("COM")))
        return value;
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || n < 1 || n > 6)
        return std::nullopt;
    return ResolveComPort(n);
}

} // namespace korvel::cli

namespace {

int Run(int argc, char **argv)
{
    using namespace korvel::cli;
    korvel::platform::UseBinaryStandardStreams();
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty())
        return UsageError(QString(), kUsage);
    const QString command = args.takeFirst();
    Trail trail;
    if (command == QLatin1String("dump"))
        return RunDump(args, trail);
    if (command == QLatin1String("srec"))
        return RunSRec(args, trail);
    if (command == QLatin1String("brec"))
        return RunBRec(args, trail);
    if (command == QLatin1String("capture"))
        return RunCapture(args, trail);
    if (command == QLatin1String("flash"))
        return RunFlash(args, trail);
    if (command == QLatin1String("summary"))
        return RunSummary(args, trail);
    if (command == QLatin1String("csv"))
        return RunCsv(args, trail);
    if (command == QLatin1String("findings"))
        return RunFindings(args, trail);
    if (command == QLatin1String("library"))
        return RunLibrary(args, trail);
    if (command == QLatin1String("report") || command == QLatin1String("report-card"))
        return RunReportProgram(QStringList{command} + args);
    if (command == QLatin1String("--help") || command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (command == QLatin1String("--version")) {
        std::printf("korvel-cli %d.%d.%d\n", KORVEL_VERSION_MAJOR, KORVEL_VERSION_MINOR, KORVEL_VERSION_PATCH);
        return kExitOk;
    }
    return UsageError(QStringLiteral("unknown command %1").arg(command), kUsage);
}

} // namespace

int main(int argc, char **argv)
{
    const int status = Run(argc, argv);
    // A report's peak is korvel-report's, which it has said as the last line already.
    if (!(argc > 1 && (qstrcmp(argv[1], "report") == 0 || qstrcmp(argv[1], "report-card") == 0)))
        korvel::cli::ReportPeakMemory();
    return status;
}
