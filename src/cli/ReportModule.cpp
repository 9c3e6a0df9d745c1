// The report commands' module: found beside korvel-cli (where it is installed too) and loaded for
// them alone, so the drawing libraries cost the other commands nothing at start.

#include "cli/Commands.h"

#include <QCoreApplication>
#include <QLibrary>

#include <cstdio>

namespace korvel::cli {

int RunReportModule(int argc, char **argv)
{
    QString folder;
    {
        // The program's own folder, found as Qt finds it (through the link in bin/ when installed);
        // the module makes the application it draws with.
        QCoreApplication probe(argc, argv);
        folder = QCoreApplication::applicationDirPath();
    }
    QLibrary module(folder + QStringLiteral("/korvel-cli-report"));
    using Entry = int (*)(int, char **);
    const auto entry = reinterpret_cast<Entry>(module.resolve("KorvelReportMain"));
    if (!entry) {
        std::fprintf(stderr, "korvel-cli: the reports cannot be drawn: %s; install the program again\n",
                     qPrintable(module.errorString()));
        return kExitFailed;
    }
    return entry(argc, argv);
}

} // namespace korvel::cli
