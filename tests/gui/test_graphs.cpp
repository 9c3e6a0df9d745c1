// The three graph builds as the graph component receives them: the calls in order for small
// cases, the points, labels, colours and legends for the rest, and the window around them.
#include "core/chart/GraphBuilders.h"
#include "core/flight/FlightFields.h"
#include "gui/graphs/FrmGraph.h"
#include "support/FlightText.h"
#include "support/TestSupport.h"
#include "support/WindowSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QWheelEvent>
#include <QTest>
#include <qcustomplot.h>

#include <cmath>

using namespace korvel;
using namespace korvel::test;

namespace {

// A data line with the given time and 28 fields, field k holding `fields[k]` where given.
QByteArray Line(const QString &time, const QMap<int, QByteArray> &fields, int count = 28)
{
    QByteArray line = "06/15/26 " + time.toLatin1();
    for (int k = 0; k < count; ++k)
        line += ',' + fields.value(k, QByteArray::number(100 + k));
    return line + "\r\n";
}

FlightData Flight(const QList<QByteArray> &lines)
{
    QByteArray bytes = "FLIGHT 0001\r\n";
    for (const QByteArray &line : lines)
        bytes += line;
    return ParseFlightData(bytes + "END\r\n");
}

// n records six seconds apart from 10:00:00, field k holding 100 + k in every one.
FlightData Records(int n)
{
    FlightText text;
    for (int k = 0; k < 28; ++k)
        text.fields[k] = QByteArray::number(100 + k);
    return ParseFlightData(text.make(n));
}

struct Bench {
    GraphModel m1, m2, m3;
    Graph g1{m1}, g2{m2}, g3{m3};
    std::vector<QString> log;
    FlightGraphs graphs() { return {g1, g2, g3}; }
    void record(Graph &g) { g.setCallLog(&log); }
};

QByteArray ReadHead(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(4) : QByteArray();
}

// The three fixed tick labels: first, middle, last.
QStringList b3Labels(const GraphModel &m)
{
    return {m.tickLabels[1], m.tickLabels[11], m.tickLabels[21]};
}

// The calls a graph is expected to receive, written "call; call; ...".
std::vector<QString> Calls(const QString &text)
{
    const QStringList calls = Sequence(text);
    return {calls.begin(), calls.end()};
}

// What each graph writes whether or not a file is loaded.
const QString kFlightFixed = QStringLiteral("title=Flight Data; setting(37)=0; setting(35)=100; visible=true; "
                                            "setting(54)=1; setting(18)=0; setting(100)=0; setting(71)=2");
const QString kChtFixed = QStringLiteral("visible=true; setting(54)=1; setting(18)=0; setting(100)=0; "
                                         "setting(37)=0; setting(35)=100; title=EGT CHT  Data; currentSet=2; "
                                         "yScaleMode=2; yAxis=0; yMinimum=100; yMaximum=1600; yTickCount=15; "
                                         "numSets=12");
const QString kEngineFixed = QStringLiteral("visible=true; setting(54)=1; setting(18)=0; setting(100)=0; "
                                            "secondCaption=Engine Data; numSets=10");

float Value(const GraphModel &m, int set, int point)
{
    return m.sets[size_t(set - 1)].valueAt(size_t(point - 1));
}

} // namespace

class TestGraphs : public QObject {
    Q_OBJECT

private slots:
    void fieldsConvertOrAreSkipped()
    {
        QCOMPARE(FieldNumber(QLatin1StringView("1234")), std::optional<double>(1234));
        QCOMPARE(FieldNumber(QLatin1StringView("  -12.5 ")), std::optional<double>(-12.5));
        QCOMPARE(FieldNumber(QLatin1StringView("+7")), std::optional<double>(7));
        for (const char *bad : {"", " ", "12a", "abc", "nan", "inf", "1,2"})
            QVERIFY2(!FieldNumber(QLatin1StringView(bad)), bad);
        // Halves go to the even record: 4 records -> 1.5 -> 2, 6 -> 2.5 -> 2, 8 -> 3.5 -> 4.
        QCOMPARE(MiddleRecord(1), 0);
        QCOMPARE(MiddleRecord(4), 2);
        QCOMPARE(MiddleRecord(6), 2);
        QCOMPARE(MiddleRecord(8), 4);
        QCOMPARE(MiddleRecord(5), 2);
    }

    // With no file loaded each graph writes only its fixed part.
    void noFileWritesOnlyTheFixedSteps()
    {
        const FlightData none;
        Bench b;
        b.record(b.g2);
        BuildFlightDataGraph(b.graphs(), none);
        QCOMPARE(b.log, Calls(kFlightFixed + "; redraw=2"));
        QVERIFY(!b.m1.visible && !b.m3.visible);

        b.log.clear();
        b.g2.setCallLog(nullptr);
        b.record(b.g1);
        BuildCylinderTemperatureGraph(b.graphs(), none);
        QCOMPARE(b.log, Calls(kChtFixed + "; redraw=2"));

        b.log.clear();
        b.g1.setCallLog(nullptr);
        b.record(b.g3);
        const int redraws = b.m3.redraws;
        BuildEngineDataGraph(b.graphs(), none);
        QCOMPARE(b.log, Calls(kEngineFixed));
        QCOMPARE(b.m3.redraws, redraws);
        QVERIFY(!b.m1.visible && !b.m2.visible && b.m3.visible);
    }

    // One record, every call in order: the build sequence step by step.
    void oneRecordCallsInOrder()
    {
        const FlightData one = Flight({Line("16:30:00", {{1, "1234"}, {2, "245"}, {3, "56"}})});
        Bench b;
        b.record(b.g2);
        BuildFlightDataGraph(b.graphs(), one);
        QCOMPARE(b.log, Calls(kFlightFixed + "; numSets=7; numPoints=1; secondPointCount=1; "
                                             "setting(59)=6; setting(61)=1; setting(60)=75; "
                                             "legend(1)=RPM / 10; legend(2)=OIL Temp; legend(3)=OIL Press; "
                                             "legend(4)=OAT; legend(5)=Manifold; "
                                             "yScaleMode=2; yAxis=0; yMinimum=0; yMaximum=300; yTickCount=15; "
                                             "currentSet=1; setting(81)=0; xPosition(1)=1; value(1)=123.400002; "
                                             "currentSet=2; setting(81)=0; xPosition(1)=1; value(1)=10.8000002; "
                                             "currentSet=3; setting(81)=0; xPosition(1)=1; value(1)=10.6999998; "
                                             "currentSet=4; setting(81)=0; xPosition(1)=1; value(1)=10.8999996; "
                                             "yAxis=1; setting(78)=0; setting(70)=1; setting(73)=0; "
                                             "setting(76)=0; setting(78)=1; setting(75)=1; "
                                             "yScaleMode=2; yMinimum=0; yMaximum=31; yTickCount=10; "
                                             "currentSet=5; secondAxisValue(1)=24.5; "
                                             "xTickCount=20; xScaleMode=2; xMinimum=0; xMaximum=0; "
                                             "colour(1)=2; colour(2)=4; colour(3)=3; colour(4)=9; "
                                             "tickLabel(1)=16:30:00; tickLabel(11)=16:30:00; "
                                             "tickLabel(21)=16:30:00; redraw=2"));
        QCOMPARE(Value(b.m2, 1, 1), 123.4f);
        QCOMPARE(b.m2.sets[4].secondValueAt(0), 24.5f);
        QVERIFY(std::isnan(b.m2.sets[4].xAt(0)));
        QCOMPARE(b.m2.yAxes[0].maximum, 300.0);
        QCOMPARE(b.m2.yAxes[1].maximum, 31.0);

        Bench c;
        c.record(c.g1);
        BuildCylinderTemperatureGraph(c.graphs(), one);
        std::vector<QString> cht = Calls(kChtFixed + "; numPoints=1; secondPointCount=1; "
                                                     "xTickCount=20; xScaleMode=2; xMinimum=0; xMaximum=0; "
                                                     "tickLabel(1)=16:30:00; tickLabel(11)=16:30:00; "
                                                     "tickLabel(21)=16:30:00");
        for (int s = 1; s <= 12; ++s)
            cht.insert(cht.end(), {QStringLiteral("currentSet=%1").arg(s), "xPosition(1)=1",
                                   QStringLiteral("value(1)=%1").arg(100 + s + 15)});
        cht.insert(cht.end(), {"setting(59)=6", "setting(61)=1", "setting(60)=75"});
        const int colours[6] = {1, 2, 4, 5, 9, 13};
        for (int s = 1; s <= 12; ++s)
            cht.push_back(QStringLiteral("colour(%1)=%2").arg(s).arg(colours[(s - 1) % 6]));
        for (int s = 1; s <= 6; ++s)
            cht.push_back(QStringLiteral("legend(%1)=CYL %1").arg(s));
        cht.push_back("redraw=2");
        QCOMPARE(c.log, cht);

        Bench e;
        e.record(e.g3);
        BuildEngineDataGraph(e.graphs(), one);
        std::vector<QString> engine = Calls(kEngineFixed + "; numPoints=1; secondPointCount=1; "
                                                           "xTickCount=20; xScaleMode=2; xMinimum=0; xMaximum=0; "
                                                           "currentSet=2; yScaleMode=2; yAxis=0; yMinimum=0; "
                                                           "yMaximum=3000; yTickCount=15; "
                                                           "tickLabel(1)=16:30:00; tickLabel(21)=16:30:00; "
                                                           "currentSet=1; xPosition(1)=1; value(1)=245; "
                                                           "currentSet=2; xPosition(1)=1; value(1)=560");
        const char *legends[10] = {"Fuel REM", "RPM",  "MAN",     "FUEL PSI", "FUEL FLOW",
                                   "VOLTS",    "AMPS", "OIL PSI", "OIL TEMP", "OAT"};
        const int engineColours[10] = {4, 7, 3, 4, 5, 6, 7, 8, 9, 10};
        for (int s = 1; s <= 10; ++s)
            engine.push_back(QStringLiteral("colour(%1)=%2").arg(s).arg(engineColours[s - 1]));
        for (int s = 1; s <= 10; ++s)
            engine.push_back(QStringLiteral("legend(%1)=%2").arg(s).arg(legends[s - 1]));
        engine.push_back("redraw=2");
        QCOMPARE(e.log, engine);
    }

    // Three records: the data calls run point by point (every set of point 1, then of point 2, ...),
    // not set by set, and point i carries record i - 1.
    void threeRecordsRunPointByPoint()
    {
        FlightText text;
        text.start = 9 * 3600;
        text.step = 1;
        const FlightData three = ParseFlightData(text.make(3, [](int r, QList<QByteArray> &f) {
            for (int k = 0; k < 28; ++k)
                f[k] = QByteArray::number((r + 1) * 1000 + k * 10);
        }));
        const auto field = [](int point, int k) { return (point * 1000 + k * 10); };
        const auto dataCalls = [](const std::vector<QString> &log) {
            std::vector<QString> calls;
            for (const QString &call : log)
                if (call.startsWith("currentSet") || call.startsWith("xPosition") || call.startsWith("value")
                    || call.startsWith("secondAxisValue") || call.startsWith("setting(81)"))
                    calls.push_back(call);
            return calls;
        };

        Bench f;
        f.record(f.g2);
        BuildFlightDataGraph(f.graphs(), three);
        std::vector<QString> flight;
        for (int i = 1; i <= 3; ++i)
            for (const auto &[set, k] : {std::pair{1, 1}, {2, 8}, {3, 7}, {4, 9}})
                flight.insert(flight.end(), {QStringLiteral("currentSet=%1").arg(set), "setting(81)=0",
                                             QStringLiteral("xPosition(%1)=%1").arg(i),
                                             QStringLiteral("value(%1)=%2").arg(i).arg(field(i, k) / 10)});
        for (int i = 1; i <= 3; ++i)
            flight.insert(flight.end(), {"currentSet=5", QStringLiteral("secondAxisValue(%1)=%2").arg(i).arg(field(i, 2) / 10)});
        QCOMPARE(dataCalls(f.log), flight);

        Bench c;
        c.record(c.g1);
        BuildCylinderTemperatureGraph(c.graphs(), three);
        std::vector<QString> cht{"currentSet=2"};
        for (int i = 1; i <= 3; ++i)
            for (int s = 1; s <= 12; ++s)
                cht.insert(cht.end(), {QStringLiteral("currentSet=%1").arg(s), QStringLiteral("xPosition(%1)=%1").arg(i),
                                       QStringLiteral("value(%1)=%2").arg(i).arg(field(i, s + 15))});
        QCOMPARE(dataCalls(c.log), cht);

        Bench e;
        e.record(e.g3);
        BuildEngineDataGraph(e.graphs(), three);
        std::vector<QString> engine{"currentSet=2"};
        for (int i = 1; i <= 3; ++i)
            engine.insert(engine.end(), {"currentSet=1", QStringLiteral("xPosition(%1)=%1").arg(i),
                                         QStringLiteral("value(%1)=%2").arg(i).arg(field(i, 2)), "currentSet=2",
                                         QStringLiteral("xPosition(%1)=%1").arg(i),
                                         QStringLiteral("value(%1)=%2").arg(i).arg(field(i, 3) * 10)});
        QCOMPARE(dataCalls(e.log), engine);
        QCOMPARE(b3Labels(c.m1), QStringList({"09:00:00", "09:00:01", "09:00:02"}));
    }

    void middleLabelAndAxisFollowTheCount_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("middle");
        QTest::newRow("four") << 4 << 2;
        QTest::newRow("six") << 6 << 2;
        QTest::newRow("seven") << 7 << 3;
    }
    void middleLabelAndAxisFollowTheCount()
    {
        QFETCH(int, count);
        QFETCH(int, middle);
        const FlightData data = Records(count);
        const auto time = [](int record) { return QTime(10, 0).addSecs(6 * record).toString("HH:mm:ss"); };
        Bench b;
        BuildFlightDataGraph(b.graphs(), data);
        BuildCylinderTemperatureGraph(b.graphs(), data);
        BuildEngineDataGraph(b.graphs(), data);
        for (const GraphModel *m : {&b.m1, &b.m2, &b.m3}) {
            QCOMPARE(m->tickLabels[1], time(0));
            QCOMPARE(m->tickLabels[21], time(count - 1));
            QCOMPARE(m->xAxis.maximum, double(count - 1));
            QCOMPARE(m->numPoints, count);
            QCOMPARE(m->sets[0].xAt(size_t(count - 1)), float(count));
        }
        QCOMPARE(b.m1.tickLabels[11], time(middle));
        QCOMPARE(b.m2.tickLabels[11], time(middle));
        QCOMPARE(b.m3.tickLabels[11], QString());
    }

    // Short lines, blanks and words in the fields: those points are left out, the rest plot.
    void missingAndBadFieldsAreSkipped()
    {
        const FlightData data = Flight(
            {Line("10:00:00", {{16, "1450"}}, 20), Line("10:00:06", {{16, " "}, {1, "x"}, {2, ""}, {3, "245"}})});
        Bench b;
        BuildCylinderTemperatureGraph(b.graphs(), data);
        QCOMPARE(Value(b.m1, 1, 1), 1450.0f);
        for (int s = 2; s <= 4; ++s)
            QCOMPARE(Value(b.m1, s, 1), float(100 + s + 15));
        for (int s = 5; s <= 12; ++s) {
            QVERIFY(std::isnan(Value(b.m1, s, 1)));
            QCOMPARE(b.m1.sets[size_t(s - 1)].xAt(0), 1.0f);
        }
        QVERIFY(std::isnan(Value(b.m1, 1, 2)));
        QCOMPARE(Value(b.m1, 5, 2), 120.0f);

        BuildFlightDataGraph(b.graphs(), data);
        QVERIFY(std::isnan(Value(b.m2, 1, 2)));
        QVERIFY(std::isnan(b.m2.sets[4].secondValueAt(1)));
        QCOMPARE(Value(b.m2, 1, 1), 10.1f);

        BuildEngineDataGraph(b.graphs(), data);
        QVERIFY(std::isnan(Value(b.m3, 1, 2)));
        QCOMPARE(Value(b.m3, 2, 2), 2450.0f);
        for (int s = 3; s <= 10; ++s)
            QVERIFY(std::isnan(Value(b.m3, s, 1)));
    }

    // A count of 0 or a count beyond the table never reads outside it.
    void countsOutsideTheTableStayInside()
    {
        FlightData data = Records(3);
        data.FlightRecordCount = 0;
        Bench b;
        BuildCylinderTemperatureGraph(b.graphs(), data);
        QCOMPARE(b.m1.tickLabels[1], QString());
        QCOMPARE(b.m1.xAxis.maximum, -1.0);
        data.FlightRecordCount = 10;
        BuildFlightDataGraph(b.graphs(), data);
        QCOMPARE(b.m2.numPoints, 10);
        QVERIFY(!std::isnan(Value(b.m2, 1, 3)));
        QVERIFY(std::isnan(Value(b.m2, 1, 4)));
        QCOMPARE(b.m2.tickLabels[21], QStringLiteral("10:00:12"));
    }

    // The window: the first graph from the flag, the buttons, one graph shown at a time.
    void windowBuildsTheChosenGraph()
    {
        IsolatedSettings settings;
        Front front;
        AppState &state = front.state;
        state.flightData = Records(5);
        for (std::optional<int> select :
             {std::optional<int>(), std::optional<int>(1), std::optional<int>(2), std::optional<int>(3)}) {
            state.GraphSelect = select;
            FrmGraph window(front.context());
            QCOMPARE(window.windowTitle(), QStringLiteral("Korvel Flight Graphs"));
            const int shown = select == 2 ? 1 : 2;
            for (int g = 1; g <= 3; ++g)
                QCOMPARE(window.findChild<GraphView *>(QStringLiteral("Graph%1").arg(g))->isVisibleTo(&window),
                         g == shown);
        }

        state.GraphSelect.reset();
        FrmGraph window(front.context());
        QCOMPARE(window.model(1).title, QStringLiteral("CYLINDER EGT  CHT"));
        QCOMPARE(window.model(3).title, QStringLiteral("Engine Data"));
        // Every build first puts the window back to its designed size.
        const QSize designed = window.size();
        window.resize(designed / 2);
        window.findChild<QPushButton *>("Command3")->click();
        QCOMPARE(window.size(), designed);
        QVERIFY(window.graphView(3)->isVisibleTo(&window));
        QVERIFY(!window.graphView(2)->isVisibleTo(&window));
        QCOMPARE(window.model(3).sets[1].valueAt(0), 1030.0f);
        window.findChild<QPushButton *>("btnEGTCHT")->click();
        QVERIFY(window.graphView(1)->isVisibleTo(&window));
        QCOMPARE(window.findChild<QPushButton *>("btnEGTCHT")->text(), QStringLiteral("CHT  EGT"));

        // "RPM MAP" twice: the same graph.
        auto *rpmMap = window.findChild<QPushButton *>("Command1");
        rpmMap->click();
        const GraphModel first = window.model(2);
        rpmMap->click();
        const GraphModel &second = window.model(2);
        QCOMPARE(second.numPoints, first.numPoints);
        for (size_t s = 0; s < first.sets.size(); ++s) {
            QCOMPARE(second.sets[s].legend, first.sets[s].legend);
            QCOMPARE(second.sets[s].colour, first.sets[s].colour);
            QVERIFY(std::equal(first.sets[s].value.begin(), first.sets[s].value.end(), second.sets[s].value.begin(),
                               [](float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }));
        }
        for (int p = 1; p <= kTickPositions; ++p)
            QCOMPARE(second.tickLabels[p], first.tickLabels[p]);

        // The readout tells the record's time and the values under the cursor.
        QCOMPARE(window.graphView(2)->readoutAt(2.2).left(8), QStringLiteral("10:00:06"));
        QVERIFY(window.graphView(2)->readoutAt(2).contains(QStringLiteral("RPM / 10: 10.1")));
        QCOMPARE(window.graphView(2)->readoutAt(99), QString());

        // After a closer look the whole flight comes back with the build's own labels. Pictures go
        // out as PNG or PDF by the name's extension.
        GraphView *view = window.graphView(2);
        QCPAxis *x = view->plot()->xAxis;
        x->setRange(1, 3);
        view->resetZoom();
        QCOMPARE(x->range().lower, 0.0);
        QCOMPARE(x->range().upper, 4.0);
        QVector<double> ticks;
        QVector<QString> labels;
        x->ticker()->generate(x->range(), QLocale(), 'g', 6, ticks, nullptr, &labels);
        QCOMPARE(labels.first(), QStringLiteral("10:00:00"));
        QCOMPARE(labels.last(), QStringLiteral("10:00:24"));
        QTemporaryDir dir;
        QVERIFY(view->saveImage(dir.filePath("g.png")));
        QVERIFY(view->saveImage(dir.filePath("g.pdf")));
        QCOMPARE(ReadHead(dir.filePath("g.png")), QByteArray("\x89PNG"));
        QCOMPARE(ReadHead(dir.filePath("g.pdf")), QByteArray("%PDF"));
    }

    // Time labels in the system's own format, seconds included, no time zone.
    void timeLabelsFollowTheLocale()
    {
        const FlightData one = Flight({Line("16:30:05", {})});
        QCOMPARE(TimeLabel(one.FlightRecords[0], QLocale::c()), QStringLiteral("16:30:05"));
        QCOMPARE(TimeLabel(one.FlightRecords[0], QLocale(QLocale::German, QLocale::Germany)), QStringLiteral("16:30:05"));
        const QString us = TimeLabel(one.FlightRecords[0], QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY2(us.startsWith(QStringLiteral("4:30:05")) && us.endsWith(QStringLiteral("PM")), qPrintable(us));
    }

    // A long series reaches the chart as its lowest and highest values run by run: a few thousand
    // points whatever its length, every peak among them, and every point once the view is close.
    void longSeriesKeepTheirPeaks()
    {
        ScriptedFileChooser files;
        GraphView view(files, QStringLiteral("long"));
        Graph &g = view.graph();
        const int points = 300000;
        g.setNumPoints(points);
        g.setNumSets(2);
        g.setCurrentSet(1);
        for (int i = 1; i <= points; ++i) {
            g.setXPosition(i, float(i));
            g.setValue(i, i % 1000 == 0 ? -5.0f : float(i % 7));
        }
        g.setValue(123457, 500); // one spike
        g.setValue(200000, std::numeric_limits<float>::quiet_NaN());
        g.setXMinimum(0);
        g.setXMaximum(points - 1);
        g.redraw(2);
        QVERIFY(view.model().sets[0].x.empty()); // counting positions are not stored
        QCOMPARE(view.model().sets[0].xAt(points - 1), float(points));
        QVERIFY(std::isnan(view.model().sets[1].xAt(0)));

        QCPGraph *series = view.plot()->graph(0);
        QCOMPARE(view.plot()->graphCount(), 1); // set 2 has neither points nor legend
        auto values = [series] {
            QList<double> v;
            for (auto it = series->data()->constBegin(); it != series->data()->constEnd(); ++it)
                v << it->value;
            return v;
        };
        QVERIFY2(series->data()->size() <= 5000, qPrintable(QString::number(series->data()->size())));
        const QList<double> whole = values();
        QVERIFY(whole.contains(-5.0));
        QCOMPARE(*std::max_element(whole.begin(), whole.end()), 500.0);

        // Close in: every point in view, the gap left out, and one either side.
        view.plot()->xAxis->setRange(199990, 200010);
        QList<double> keys;
        for (auto it = series->data()->constBegin(); it != series->data()->constEnd(); ++it)
            keys << it->key;
        QList<double> expected;
        for (int x = 199989; x <= 200011; ++x)
            if (x != 200000)
                expected << x;
        QCOMPARE(keys, expected);
        QCOMPARE(view.readoutAt(200001), QStringLiteral("set 1: %1").arg(200001 % 7));
    }

    // The chart as a user handles it: the menu anywhere on it, a readout by cylinder that follows
    // pans and resets, labels and readout agreeing when zoomed, the value axis zoomed by the
    // wheel over it, and a saved picture without the cursor.
    void chartAsTheUserHandlesIt()
    {
        IsolatedSettings settings;
        Front front;
        ScriptedFileChooser &files = front.files;
        front.state.flightData = Records(5);
        front.state.GraphSelect = 2;
        FrmGraph window(front.context());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        GraphView *view = window.graphView(1);
        QCustomPlot *plot = view->plot();
        plot->replot();

        // Cylinder 3 is fields 18 and 24: 118 and 124 in every record.
        const QString reading = view->readoutAt(2);
        QVERIFY2(reading.contains(QStringLiteral("CYL 3  118 / 124")), qPrintable(reading));
        QVERIFY(reading.contains(QStringLiteral("CYL 6  121 / 127")));
        QVERIFY(!reading.contains(QStringLiteral("set")));
        auto *readout = view->findChild<QLabel *>(QStringLiteral("readout"));
        QVERIFY(readout->wordWrap());

        const QPoint middle = plot->axisRect()->rect().center();
        QTemporaryDir dir;
        QVERIFY(view->saveImage(dir.filePath("before.png")));
        QMouseEvent move(QEvent::MouseMove, middle, plot->mapToGlobal(middle), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(plot, &move);
        const auto shown = [&] { return readout->text().replace(QChar::Nbsp, QLatin1Char(' ')); };
        QCOMPARE(shown(), view->readoutAt(plot->xAxis->pixelToCoord(middle.x())));
        QVERIFY(view->saveImage(dir.filePath("after.png")));
        QCOMPARE(QImage(dir.filePath("after.png")), QImage(dir.filePath("before.png")));

        // A pan moves the chart under the resting mouse; so does the reset.
        QCPAxis *x = plot->xAxis;
        x->setRange(3, 5);
        QCOMPARE(shown(), view->readoutAt(x->pixelToCoord(middle.x())));
        QVERIFY(shown().startsWith(QStringLiteral("10:00:18")));
        // Zoomed, the tick at point 4 names record 3, as the readout there does.
        QVector<double> ticks;
        QVector<QString> labels;
        x->ticker()->generate(x->range(), QLocale(), 'g', 6, ticks, nullptr, &labels);
        const qsizetype at4 = ticks.indexOf(4.0);
        QVERIFY(at4 >= 0);
        QCOMPARE(labels[at4], QStringLiteral("10:00:18"));
        QVERIFY(view->readoutAt(4).startsWith(labels[at4]));
        view->resetZoom();
        QCOMPARE(shown(), view->readoutAt(x->pixelToCoord(middle.x())));

        // The wheel over the value axis zooms it alone; over the chart, the time alone.
        plot->replot();
        const QCPRange time = x->range(), value = plot->yAxis->range();
        const QPointF onAxis(plot->axisRect()->left() - 12, middle.y());
        QWheelEvent overAxis(onAxis, plot->mapToGlobal(onAxis), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                             Qt::NoScrollPhase, false);
        QApplication::sendEvent(plot, &overAxis);
        QCOMPARE(x->range(), time);
        QVERIFY(plot->yAxis->range().size() < value.size());
        QVERIFY(view->isZoomed());
        const QCPRange zoomedValue = plot->yAxis->range();
        QWheelEvent overChart(QPointF(middle), plot->mapToGlobal(QPointF(middle)), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(plot, &overChart);
        QVERIFY(x->range().size() < time.size());
        QCOMPARE(plot->yAxis->range(), zoomedValue);
        QTest::mouseDClick(plot, Qt::LeftButton, {}, middle);
        QCOMPARE(x->range(), time);
        QCOMPARE(plot->yAxis->range(), value);
        QVERIFY(!view->isZoomed());

        // The right button anywhere on the chart opens the menu; "Save Image..." asks with a save dialog.
        QTest::mouseClick(plot, Qt::RightButton, {}, middle);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QCOMPARE(menu->objectName(), QStringLiteral("graphMenu"));
        QVERIFY(menu->actions().size() >= 2); // the graph window adds its own after these
        QCOMPARE(menu->actions()[0]->text(), QStringLiteral("Save Image..."));
        QCOMPARE(menu->actions()[1]->text(), QStringLiteral("Print..."));
        files.answers = {dir.filePath("menu.png")};
        menu->actions()[0]->trigger();
        menu->close();
        QCOMPARE(files.requests.size(), 1);
        QVERIFY(files.requests[0].save);
        QCOMPARE(ReadHead(dir.filePath("menu.png")), QByteArray("\x89PNG"));
    }
};

QTEST_MAIN(TestGraphs)
#include "test_graphs.moc"
