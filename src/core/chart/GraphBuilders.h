#pragma once
// The three graphs of a flight: each build writes one graph anew from the record table, step by
// step, and shows it in place of the other two. Sizing the window that shows them is the window's
// business, before it asks for a build.

#include "core/chart/GraphModel.h"
#include "core/flight/FlightData.h"
#include "core/flight/TimeText.h"

#include <QLocale>
#include <QString>


namespace korvel {

struct FlightGraphs {
    Graph &graph1; // cylinder temperatures
    Graph &graph2; // flight data
    Graph &graph3; // engine data
};

void BuildFlightDataGraph(FlightGraphs graphs, const FlightData &data);
void BuildCylinderTemperatureGraph(FlightGraphs graphs, const FlightData &data);
void BuildEngineDataGraph(FlightGraphs graphs, const FlightData &data);

// The record whose time labels the middle of the X axis: (N - 1) / 2, halves to even.
int MiddleRecord(int count);

// A record's time of day as an axis label, in the system's own time format with its seconds
// (the long format without its time zone).
QString TimeLabel(const FlightRecord &record, const QLocale &locale = QLocale::system());

} // namespace korvel
