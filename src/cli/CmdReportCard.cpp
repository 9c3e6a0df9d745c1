// korvel-cli report-card: one aircraft's recent flights against the other aircraft of the library.

#include "cli/CmdReport.h"
#include "cli/Commands.h"

#include <cstdio>

namespace korvel::cli {

int RunReportCard(const QStringList &, Trail &)
{
    std::fprintf(stderr, "korvel-cli: report-card is not ready yet\n");
    return kExitFailed;
}

} // namespace korvel::cli
