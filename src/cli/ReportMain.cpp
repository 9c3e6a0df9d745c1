// korvel-report: korvel-cli's report and report-card, in a program of their own because they draw.
// korvel-cli runs it with its own command line (after its name), so usage, messages and exit
// statuses are korvel-cli's.

#include "cli/CmdReport.h"
#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/platform/Processes.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// What Qt warns of while it sets up a platform with no screen (a runtime folder it made itself, say)
// is no news to the user; what stops it is said in words, with korvel-cli's status for a failure.
void QuietMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    if (type == QtFatalMsg) {
        const bool platform = text.contains(QLatin1String("platform plugin"));
        std::fprintf(stderr, "korvel-cli: the reports cannot be drawn: %s%s\n",
                     platform ? "Qt's offscreen platform plugin could not be loaded; install the program and its Qt "
                                "libraries again. Qt said: "
                              : "",
                     qPrintable(text.simplified()));
        std::fflush(stderr);
        std::_Exit(korvel::cli::kExitFailed);
    }
    std::fprintf(stderr, "korvel-cli: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char **argv)
{
    using namespace korvel::cli;
    korvel::platform::UseBinaryStandardStreams();
    // No window system is needed, nor looked for, to draw a page. The offscreen platform finds
    // fonts by folder: where the system keeps its own elsewhere (Windows), it is told where.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString fonts = korvel::platform::SystemFontFolder();
    if (!fonts.isEmpty() && !qEnvironmentVariableIsSet("QT_QPA_FONTDIR"))
        qputenv("QT_QPA_FONTDIR", fonts.toLocal8Bit());
    qInstallMessageHandler(QuietMessages);
    int status = kExitUsage;
    {
        QGuiApplication app(argc, argv);
        QStringList args = QCoreApplication::arguments().mid(1);
        const QString command = args.isEmpty() ? QString() : args.takeFirst();
        Trail trail;
        if (command == QLatin1String("report-card"))
            status = RunReportCard(args, trail);
        else if (command == QLatin1String("report"))
            status = RunReport(args, trail);
        else
            std::fprintf(stderr, "korvel-report draws korvel-cli's reports; run: korvel-cli report ... or korvel-cli "
                                 "report-card ...\n");
    }
    ReportPeakMemory();
    return status;
}
