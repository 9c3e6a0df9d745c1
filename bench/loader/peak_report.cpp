// Loaded into a command with LD_PRELOAD: as the command exits, writes its own high-water mark of
// resident memory (VmHWM, the kernel's count for this process since its exec) to stderr as
// "peak-memory: N KiB". For commands such as wc and mawk that cannot say it themselves. Plain libc
// only, linked without the C++ library, so that it adds next to nothing to the figure it reports.

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// A copy of stderr taken at start: wc and others close their standard streams before they exit.
static int s_stderr = -1;

__attribute__((constructor)) static void KeepStderr()
{
    s_stderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 100);
}

__attribute__((destructor)) static void ReportPeakMemory()
{
    if (s_stderr < 0)
        return;
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    char status[8192];
    const ssize_t n = read(fd, status, sizeof status - 1);
    close(fd);
    if (n <= 0)
        return;
    status[n] = '\0';
    const char *hwm = strstr(status, "VmHWM:");
    if (!hwm)
        return;
    char line[64];
    const int len = snprintf(line, sizeof line, "peak-memory: %ld KiB\n", strtol(hwm + 6, nullptr, 10));
    if (len > 0)
        (void)!write(s_stderr, line, size_t(len));
}
