// Placeholder until this road is built.

#include "cli/Commands.h"

#include <cstdio>

namespace korvel::cli {

int RunSRec(const QStringList &, Trail &)
{
    std::fputs("korvel-cli: this command is not available in this build\n", stderr);
    return kExitFailed;
}

int RunBRec(const QStringList &, Trail &)
{
    std::fputs("korvel-cli: this command is not available in this build\n", stderr);
    return kExitFailed;
}

} // namespace korvel::cli
