#pragma once
// Application-wide state, created by Main and handed to the windows.

#include "core/flight/FlightData.h"

#include <optional>

namespace korvel {

struct AppState {
    // Which graph the graph window builds when it loads: 2 the cylinder temperatures, anything
    // else (empty included) the flight data graph.
    std::optional<int> GraphSelect;
    // True once the firmware window has closed; the link's waits give up when it is.
    std::optional<bool> FlashWindowClosed;
    // The record table of the last completed load and its count.
    FlightData flightData;
};

} // namespace korvel
