// The analysis view on a long flight, offscreen: the first paint of three stacked charts (the
// flight's columns read on the way), then zoom and pan steps with the cursor moving, each repainted.
// Ends with one line:
//   analysis: records=N first_paint_ms=X repaint_median_ms=Y repaint_max_ms=Z rss_mib=W
// (rss: the process's peak resident memory, the findings scan after the first paint included).
// Targets at 1,000,000 records: 300, 16, 50, 400. The findings' own figures go to stderr.
//
//   bench_analysis [--records N] [--png FILE]
#include "BenchFlight.h"

#include "gui/analysis/FrmAnalysis.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>

using namespace korvel;

namespace {

struct QuietUi : Prompter, FileChooser {
    MessageAnswer showMessage(const QString &, const QString &, MessageIcon, MessageButtons) override
    {
        return MessageAnswer::Ok;
    }
    std::optional<QString> chooseFile(const FileDialogRequest &) override { return std::nullopt; }
};

double PeakRssMib()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
}

// The processor time of this thread: on a machine busy with other work, what the view itself cost.
double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addOption({QStringLiteral("records"), QStringLiteral("Records in the flight."), QStringLiteral("n"),
                       QStringLiteral("1000000")});
    options.addOption({QStringLiteral("png"), QStringLiteral("Save the view as drawn."), QStringLiteral("file")});
    options.addHelpOption();
    options.process(app);
    const int records = std::max(1, options.value(QStringLiteral("records")).toInt());

    // The table is loaded as the window loads it, from a file, before the clock starts.
    AppState state;
    bench::NoStatus status;
    QuietUi ui;
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("flight.txt"));
        if (bench::writeFlight(path, records) < 0) {
            std::fprintf(stderr, "cannot write the flight\n");
            return 1;
        }
        LoadFlightDataFile(path, state.flightData, status);
        state.flightFileName = path;
    }
    // A settings store of its own: the view starts on its three default charts.
    QTemporaryDir store;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, store.path());

    // What the screen would get: the widget painted into an image of its size.
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = ThreadCpuMs();
    FrmAnalysis view({state, status, ui, ui});
    view.resize(1280, 800);
    view.show();
    AnalysisCharts *charts = view.charts();
    QImage screen(charts->size(), QImage::Format_ARGB32_Premultiplied);
    const auto paint = [&] {
        QPainter painter(&screen);
        charts->render(&painter);
    };
    paint();
    const double firstPaint = clock.nsecsElapsed() / 1e6;

    const double firstCpu = ThreadCpuMs() - cpuStart;
    QList<double> repaints, cpu;
    const auto step = [&](auto &&change) {
        QElapsedTimer t;
        t.start();
        const double cpu0 = ThreadCpuMs();
        change();
        paint();
        repaints << t.nsecsElapsed() / 1e6;
        cpu << ThreadCpuMs() - cpu0;
    };
    const int n = state.flightData.FlightRecords.records();
    for (int k = 0; k < 10; ++k) // the cursor across the whole flight
        step([&] { charts->setCursorRecord(n / 10 * k + 17); });
    for (int k = 0; k < 12; ++k) // closer and closer about the cursor
        step([&] {
            charts->setCursorRecord(n / 2 + k);
            charts->zoomAbout(0.6);
        });
    for (int k = 0; k < 12; ++k) // along the flight
        step([&] {
            charts->panBy(k < 6 ? 0.3 : -0.3);
            charts->setCursorRecord(n / 2 + 40 * k);
        });
    for (int k = 0; k < 12; ++k) // back out
        step([&] {
            charts->zoomAbout(1 / 0.6);
            charts->setCursorRecord(n / 3 + k);
        });
    step([&] { charts->zoomToRect(1, QRect(charts->plotRect(1).center() - QPoint(120, 40), QSize(240, 80))); });
    step([&] { charts->unzoom(); });

    // The findings, read in slices between paints once the view is up: how long until the list is
    // full, and the longest the window waited on one slice.
    QElapsedTimer findingsClock;
    findingsClock.start();
    double longestSlice = 0;
    while (!view.findingsReady()) {
        QElapsedTimer slice;
        slice.start();
        QCoreApplication::processEvents();
        longestSlice = std::max(longestSlice, slice.nsecsElapsed() / 1e6);
    }
    const double findingsMs = findingsClock.nsecsElapsed() / 1e6;

    if (options.isSet(QStringLiteral("png")))
        screen.save(options.value(QStringLiteral("png")));

    std::sort(repaints.begin(), repaints.end());
    std::sort(cpu.begin(), cpu.end());
    std::fprintf(stderr, "processor time: first paint %.1f ms, repaint median %.1f ms, worst %.1f ms\n", firstCpu,
                 cpu[cpu.size() / 2], cpu.back());
    std::fprintf(stderr, "findings: %zu in %.0f ms after the first paint, longest slice %.1f ms\n",
                 view.findings().size(), findingsMs, longestSlice);
    std::printf("analysis: records=%d first_paint_ms=%.1f repaint_median_ms=%.1f repaint_max_ms=%.1f rss_mib=%.0f\n", n,
                firstPaint, repaints[repaints.size() / 2], repaints.back(), PeakRssMib());
    return 0;
}
