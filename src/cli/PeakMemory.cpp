// The process's own peak memory, for the benchmarks and the tests that hold a command to a flat
// memory whatever the flight's length: korvel-cli and korvel-report each say their own.

#include "cli/Commands.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

#include <cstdio>

namespace korvel::cli {

// With KORVEL_REPORT_PEAK set, the process's own high-water mark of resident memory is the last
// line on stderr ("peak-memory: N KiB"), as the kernel counts it for this process alone.
void ReportPeakMemory()
{
    if (qEnvironmentVariableIsEmpty("KORVEL_REPORT_PEAK"))
        return;
    long kib = -1;
#ifdef Q_OS_LINUX
    if (std::FILE *status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
                break;
        std::fclose(status);
    }
#endif
#ifdef Q_OS_UNIX
    if (kib < 0) {
        rusage usage{};
        if (getrusage(RUSAGE_SELF, &usage) == 0)
            kib = long(usage.ru_maxrss); // KiB on Linux
    }
#endif
    std::fflush(stdout);
    std::fprintf(stderr, "peak-memory: %ld KiB\n", kib);
}

} // namespace korvel::cli
