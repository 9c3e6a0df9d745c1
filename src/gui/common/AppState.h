#pragma once
// Application-wide state, created by Main and handed to the windows.

#include "core/flight/FlightData.h"

#include <QFileInfo>
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

// What a heading says the loaded flight is beyond its records: the name of the file as its owner
// knows it (for a flight from the library, the name it was imported under, not its copy's) and its
// aircraft when known.
struct FlightOrigin {
    QString name;
    std::optional<QString> aircraft;
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
    FlightOrigin flightOrigin;
    int flightLoadCount = 0;
    FlightLoads flightLoads;
};

// Records that fileName has just been loaded into state.flightData and tells the windows; origin
// names it when its own name is not the one to show.
inline void NoteFlightLoaded(AppState &state, const QString &fileName, FlightOrigin origin = {})
{
    state.flightFileName = fileName;
    if (origin.name.isEmpty())
        origin.name = QFileInfo(fileName).fileName();
    state.flightOrigin = std::move(origin);
    ++state.flightLoadCount;
    emit state.flightLoads.loaded();
}

} // namespace korvel
