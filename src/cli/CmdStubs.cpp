// Commands whose roads are not built yet.

#include "cli/Commands.h"

#include <cstdio>

namespace korvel::cli {

namespace {
int notYet(const char *name)
{
    std::fprintf(stderr, "korvel-cli: %s is not available in this build\n", name);
    return kExitFailed;
}
} // namespace

int RunSRec(const QStringList &, Trail &) { return notYet("srec"); }
int RunBRec(const QStringList &, Trail &) { return notYet("brec"); }
int RunCapture(const QStringList &, Trail &) { return notYet("capture"); }
int RunFlash(const QStringList &, Trail &) { return notYet("flash"); }

} // namespace korvel::cli
