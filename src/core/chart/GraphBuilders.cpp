#include "core/chart/GraphBuilders.h"

#include "core/flight/FlightFields.h"

#include <algorithm>

namespace korvel {

int MiddleRecord(int count)
{
    const int last = count - 1;
    const int half = last / 2;
    return (last % 2 != 0 && half % 2 != 0) ? half + 1 : half;
}

QString TimeLabel(const FlightRecord &record, const QLocale &locale)
{
    const QTime time = record.LogTime();
    return time.isValid() ? locale.toString(time, TimeOfDayFormat(locale)) : QString();
}

namespace {

// One graph shown, the other two hidden, in the order given.
void ShowOnly(Graph &shown, Graph &hidden, Graph &alsoHidden)
{
    shown.setVisible(true);
    hidden.setVisible(false);
    alsoHidden.setVisible(false);
}

// The settings every build writes first, with a meaning the chart does not show.
void WriteFixedSettings(Graph &graph)
{
    graph.setSetting(54, 1);
    graph.setSetting(18, 0);
    graph.setSetting(100, 0);
}

void DeclarePoints(Graph &graph, int count)
{
    graph.setNumPoints(count);
    graph.setSecondPointCount(count);
}

// The X axis every graph shares: positions 1 to N over an axis from 0 to N - 1.
void WriteXAxis(Graph &graph, int count)
{
    graph.setXTickCount(20);
    graph.setXScaleMode(2);
    graph.setXMinimum(0);
    graph.setXMaximum(count - 1);
}

void WriteTickLabels(Graph &graph, const FlightRecordTable &records, int count, bool middle)
{
    if (count < 1)
        return;
    graph.setTickLabel(1, TimeLabel(records[0]));
    if (middle)
        graph.setTickLabel(11, TimeLabel(records[MiddleRecord(count)]));
    graph.setTickLabel(21, TimeLabel(records[count - 1]));
}

// The point count a build may loop over: what the table really holds, never more.
int Points(const FlightData &data)
{
    return std::clamp(*data.FlightRecordCount, 0, data.FlightRecords.records());
}

} // namespace

void BuildFlightDataGraph(FlightGraphs graphs, const FlightData &data)
{
    Graph &g = graphs.graph2;
    g.setTitle(QStringLiteral("Flight Data"));
    g.setSetting(37, 0);
    g.setSetting(35, 100);
    ShowOnly(g, graphs.graph1, graphs.graph3);
    WriteFixedSettings(g);
    g.setSetting(71, 2);

    if (data.FlightRecordCount) {
        const int count = *data.FlightRecordCount;
        const int points = Points(data);
        const FlightRecordTable &records = data.FlightRecords;
        g.setNumSets(7);
        DeclarePoints(g, count);
        g.setSetting(59, 6);
        g.setSetting(61, 1);
        g.setSetting(60, 75);
        static const char *const legends[5] = {"RPM / 10", "OIL Temp", "OIL Press", "OAT", "Manifold"};
        for (int set = 1; set <= 5; ++set)
            g.setLegend(set, QString::fromLatin1(legends[set - 1]));
        g.setYScaleMode(2);
        g.setYAxis(0);
        g.setYMinimum(0);
        g.setYMaximum(300);
        g.setYTickCount(15);

        static const int fields[4][2] = {
            {1, kRpmField}, {2, kOilTemperatureField}, {3, kOilPressureField}, {4, kOutsideAirField}};
        for (int i = 1; i <= points; ++i) {
            const FlightRecord r = records[i - 1];
            for (const auto &[set, field] : fields) {
                g.setCurrentSet(set);
                g.setSetting(81, 0);
                g.setXPosition(i, float(i));
                if (const auto v = FieldNumber(r.Values(field)))
                    g.setValue(i, float(*v / 10));
            }
        }

        g.setYAxis(1);
        g.setSetting(78, 0);
        g.setSetting(70, 1);
        g.setSetting(73, 0);
        g.setSetting(76, 0);
        g.setSetting(78, 1);
        g.setSetting(75, 1);
        g.setYScaleMode(2);
        g.setYMinimum(0);
        g.setYMaximum(31);
        g.setYTickCount(10);
        for (int i = 1; i <= points; ++i) {
            g.setCurrentSet(5);
            if (const auto v = FieldNumber(records[i - 1].Values(kManifoldField)))
                g.setSecondAxisValue(i, float(*v / 10));
        }

        WriteXAxis(g, count);
        g.setColour(1, 2);
        g.setColour(2, 4);
        g.setColour(3, 3);
        g.setColour(4, 9);
        WriteTickLabels(g, records, points, true);
    }
    g.redraw(2);
}

void BuildCylinderTemperatureGraph(FlightGraphs graphs, const FlightData &data)
{
    Graph &g = graphs.graph1;
    ShowOnly(g, graphs.graph2, graphs.graph3);
    WriteFixedSettings(g);
    g.setSetting(37, 0);
    g.setSetting(35, 100);
    g.setTitle(QStringLiteral("EGT CHT  Data"));
    g.setCurrentSet(2);
    g.setYScaleMode(2);
    g.setYAxis(0);
    g.setYMinimum(100);
    g.setYMaximum(1600);
    g.setYTickCount(15);
    g.setNumSets(12);

    if (data.FlightRecordCount) {
        const int count = *data.FlightRecordCount;
        const int points = Points(data);
        const FlightRecordTable &records = data.FlightRecords;
        DeclarePoints(g, count);
        WriteXAxis(g, count);
        WriteTickLabels(g, records, points, true);
        for (int i = 1; i <= points; ++i) {
            const FlightRecord r = records[i - 1];
            for (int s = 1; s <= 12; ++s) {
                g.setCurrentSet(s);
                g.setXPosition(i, float(i));
                const QLatin1StringView field = r.Values(kFirstEgtField + s - 1);
                if (field.isEmpty())
                    continue;
                if (const auto v = FieldNumber(field))
                    g.setValue(i, float(*v));
            }
        }
        g.setSetting(59, 6);
        g.setSetting(61, 1);
        g.setSetting(60, 75);
        static const int colours[6] = {1, 2, 4, 5, 9, 13};
        for (int s = 1; s <= 12; ++s)
            g.setColour(s, colours[(s - 1) % 6]);
        for (int s = 1; s <= 6; ++s)
            g.setLegend(s, QStringLiteral("CYL %1").arg(s));
    }
    g.redraw(2);
}

void BuildEngineDataGraph(FlightGraphs graphs, const FlightData &data)
{
    Graph &g = graphs.graph3;
    ShowOnly(g, graphs.graph2, graphs.graph1);
    WriteFixedSettings(g);
    g.setSecondCaption(QStringLiteral("Engine Data"));
    g.setNumSets(10);
    if (!data.FlightRecordCount)
        return;

    const int count = *data.FlightRecordCount;
    const int points = Points(data);
    const FlightRecordTable &records = data.FlightRecords;
    DeclarePoints(g, count);
    WriteXAxis(g, count);
    g.setCurrentSet(2);
    g.setYScaleMode(2);
    g.setYAxis(0);
    g.setYMinimum(0);
    g.setYMaximum(3000);
    g.setYTickCount(15);
    WriteTickLabels(g, records, points, false);
    for (int i = 1; i <= points; ++i) {
        const FlightRecord r = records[i - 1];
        g.setCurrentSet(1);
        g.setXPosition(i, float(i));
        if (const auto v = FieldNumber(r.Values(kManifoldField))) // as the graph's "Fuel REM"
            g.setValue(i, float(*v));
        g.setCurrentSet(2);
        g.setXPosition(i, float(i));
        if (const auto v = FieldNumber(r.Values(kEngineRpmField)))
            g.setValue(i, float(*v * 10));
    }
    struct Set {
        const char *legend;
        int colour;
    };
    static const Set sets[10] = {{"Fuel REM", 4}, {"RPM", 7},  {"MAN", 3},     {"FUEL PSI", 4}, {"FUEL FLOW", 5},
                                 {"VOLTS", 6},    {"AMPS", 7}, {"OIL PSI", 8}, {"OIL TEMP", 9}, {"OAT", 10}};
    for (int s = 1; s <= 10; ++s)
        g.setColour(s, sets[s - 1].colour);
    for (int s = 1; s <= 10; ++s)
        g.setLegend(s, QString::fromLatin1(sets[s - 1].legend));
    g.redraw(2);
}

} // namespace korvel
