#pragma once
// Application-wide state, created by Main and handed to the windows.

#include "core/flight/FlightData.h"

#include <QObject>
#include <QString>

#include <optional>

namespace korvel {

// Tells the open windows that a load has completed; the table has been replaced by then.
class FlightLoads : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
signals:
    void loaded();
};

struct AppState {
    // Which graph the graph window builds when it loads: 2 the cylinder temperatures, anything
    // else (empty included) the flight data graph.
    std::optional<int> GraphSelect;
    // True once the firmware window has closed; the link's waits give up when it is.
    std::optional<bool> FlashWindowClosed;
    // The record table of the last completed load and its count.
    FlightData flightData;
    // The file the loaded flight came from and how many loads have completed, so a window that
    // drew an earlier flight can tell that it did.
    QString flightFileName;
    int flightLoadCount = 0;
    FlightLoads flightLoads;
};

// Records that fileName has just been loaded into state.flightData and tells the windows.
inline void NoteFlightLoaded(AppState &state, const QString &fileName)
{
    state.flightFileName = fileName;
    ++state.flightLoadCount;
    emit state.flightLoads.loaded();
}

} // namespace korvel
