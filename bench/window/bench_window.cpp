// The graph window's memory with a large flight, offscreen: the file loaded into the record table,
// the flight data graph built and drawn, then the cylinder temperature graph built and drawn (both
// stay built). Prints the process's resident memory after each step and its peak (VmHWM), and the
// peak in bytes a file byte (target 2 or less).
//   QT_QPA_PLATFORM=offscreen bench_window [--records N | FILE]     (default 1,000,000 records)

#include "BenchFlight.h"
#include "core/flight/FlightData.h"
#include "gui/graphs/FrmGraph.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

using namespace korvel;
using namespace korvel::bench;

namespace {

struct Quiet : StatusLine, Prompter, FileChooser {
    void setStatus(const QString &) override {}
    MessageAnswer showMessage(const QString &, const QString &, MessageIcon, MessageButtons) override
    {
        return MessageAnswer::Ok;
    }
    std::optional<QString> chooseFile(const FileDialogRequest &) override { return std::nullopt; }
};

// "VmRSS" or "VmHWM" of this process, in KiB.
long Status(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key)) + 1).trimmed().split(' ').front().toLong();
    return -1;
}

void Report(const char *step)
{
    std::printf("  %-34s resident %7.1f MiB\n", step, Status("VmRSS") / 1024.0);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int records = 1000000;
    QString path;
    QTemporaryDir dir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--records") == 0 && i + 1 < argc)
            records = std::atoi(argv[++i]);
        else
            path = QString::fromLocal8Bit(argv[i]);
    }
    if (path.isEmpty()) {
        path = dir.filePath(QStringLiteral("flight.txt"));
        if (writeFlight(path, records) < 0)
            return 1;
    }
    const qint64 size = QFileInfo(path).size();
    std::printf("%s: %.1f MB\n", qPrintable(path), size / 1e6);
    // The generated file's own text is gone by now; the figures start from the window program alone.
    Report("before loading");

    AppState state;
    Quiet quiet;
    WindowContext context{state, quiet, quiet, quiet};
    LoadFlightDataFile(path, state.flightData, quiet);
    Report("file loaded");

    FrmGraph window(context);
    window.show();
    app.processEvents();
    window.grab();
    Report("flight data graph drawn");
    window.btnEGTCHT_Click();
    app.processEvents();
    window.grab();
    Report("cylinder temperature graph drawn");

    const long peak = Status("VmHWM");
    std::printf("  peak %.1f MiB: %.2f bytes a file byte (target 2 or less: %s)\n", peak / 1024.0,
                peak * 1024.0 / double(size), peak * 1024.0 <= 2.0 * double(size) ? "met" : "NOT met");
    return 0;
}
