// korvel-cli report and report-card: drawn by korvel-report, a program of its own beside korvel-cli,
// so the drawing libraries cost the other commands nothing at start. Its output and exit status are
// korvel-cli's own.

#include "cli/Commands.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

namespace korvel::cli {

int RunReportProgram(const QStringList &args)
{
    // Beside korvel-cli's own executable (found through the link in bin/ when installed), with the
    // system's suffix for programs.
    const QString folder = QCoreApplication::applicationDirPath();
    const QString program = QStandardPaths::findExecutable(QStringLiteral("korvel-report"), {folder});
    if (program.isEmpty()) {
        std::fprintf(stderr,
                     "korvel-cli: the reports cannot be drawn: korvel-report is missing in %s; install the "
                     "program again\n",
                     qPrintable(folder));
        return kExitFailed;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    QProcess report;
    report.setProcessChannelMode(QProcess::ForwardedChannels);
    report.setInputChannelMode(QProcess::ForwardedInputChannel);
    report.start(program, args);
    if (!report.waitForStarted(-1)) {
        std::fprintf(stderr, "korvel-cli: the reports cannot be drawn: %s could not be started (%s)\n",
                     qPrintable(program), qPrintable(report.errorString()));
        return kExitFailed;
    }
    report.waitForFinished(-1);
    if (report.exitStatus() != QProcess::NormalExit) {
        std::fprintf(stderr, "korvel-cli: the report was not finished: %s stopped unexpectedly\n", qPrintable(program));
        return kExitFailed;
    }
    return report.exitCode();
}

} // namespace korvel::cli
