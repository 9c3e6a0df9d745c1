// The cylinder temperature graph of a long flight: build plus first paint of an 800 x 500 view,
// then the repaint of a mouse-wheel zoom step. Prints both in milliseconds (targets 200 and 30).
//
//   bench_graph [--records N] [--png FILE]
#include "core/chart/GraphBuilders.h"
#include "gui/graphs/GraphView.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace korvel;

namespace {

struct NoFiles : FileChooser {
    std::optional<QString> chooseFile(const FileDialogRequest &) override { return std::nullopt; }
};

// A flight of n records, 6 s apart, with cylinder temperatures that wander as in cruise.
QByteArray LongFlight(int n)
{
    QByteArray bytes = "FLIGHT 0001\r\n";
    bytes.reserve(n * 140);
    QTime t(8, 0);
    for (int i = 0; i < n; ++i, t = t.addSecs(6)) {
        bytes += "06/15/26 " + t.toString(QStringLiteral("HH:mm:ss")).toLatin1();
        for (int k = 0; k < 28; ++k) {
            int v = 100 + k;
            if (k >= 16 && k <= 21)
                v = 1300 + 20 * (k - 16) + int(40 * std::sin(i / 500.0 + k));
            else if (k >= 22)
                v = 340 + 8 * (k - 22) + int(15 * std::sin(i / 700.0 + k));
            bytes += ',' + QByteArray::number(v);
        }
        bytes += "\r\n";
    }
    return bytes + "END\r\n";
}

double Median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addOption({QStringLiteral("records"), QStringLiteral("Records in the flight."), QStringLiteral("n"),
                       QStringLiteral("100000")});
    options.addOption({QStringLiteral("png"), QStringLiteral("Save the graph as drawn."), QStringLiteral("file")});
    options.addHelpOption();
    options.process(app);
    const int records = std::max(1, options.value(QStringLiteral("records")).toInt());

    const FlightData data = ParseFlightData(LongFlight(records));
    NoFiles files;
    GraphModel m2, m3;
    Graph g2(m2), g3(m3);
    GraphView view(files, QStringLiteral("CYLINDER EGT  CHT"));
    view.resize(800, 500);
    view.show();
    QCoreApplication::processEvents();

    QList<double> builds;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        BuildCylinderTemperatureGraph({view.graph(), g2, g3}, data);
        view.plot()->replot(QCustomPlot::rpImmediateRefresh);
        builds << clock.nsecsElapsed() / 1e6;
    }

    QList<double> zooms;
    const double centre = view.plot()->xAxis->range().center();
    for (int step = 0; step < 20; ++step) {
        QElapsedTimer clock;
        clock.start();
        view.plot()->xAxis->scaleRange(step < 10 ? 0.85 : 1 / 0.85, centre);
        view.plot()->replot(QCustomPlot::rpImmediateRefresh);
        zooms << clock.nsecsElapsed() / 1e6;
    }
    view.resetZoom();

    std::printf("cylinder temperature graph, %d records x 12 sets, 800x500: build + first paint %.1f ms "
                "(first %.1f; target 200); zoom step repaint %.1f ms (worst %.1f; target 30)\n",
                records, Median(builds), builds.first(), Median(zooms), *std::max_element(zooms.begin(), zooms.end()));
    if (options.isSet(QStringLiteral("png")))
        view.plot()->savePng(options.value(QStringLiteral("png")), 800, 480);
    return 0;
}
