// The process's own peak memory, for the benchmarks and the tests that hold a command to a flat
// memory whatever the flight's length: korvel-cli and korvel-report each say their own.

#include "cli/Commands.h"
#include "core/platform/Processes.h"

#include <QtGlobal>

#include <cstdio>

namespace korvel::cli {

// With KORVEL_REPORT_PEAK set, the process's own high-water mark of resident memory is the last
// line on stderr ("peak-memory: N KiB"), as the system counts it for this process alone.
void ReportPeakMemory()
{
    if (qEnvironmentVariableIsEmpty("KORVEL_REPORT_PEAK"))
        return;
    const long kib = platform::PeakMemoryKiB();
    std::fflush(stdout);
    std::fprintf(stderr, "peak-memory: %ld KiB\n", kib);
}

} // namespace korvel::cli
