#pragma once
// The windows' report commands, each whole in one call: the analysis view's "Save Report...", the
// flight library's "Report..." on its selected flights and "Report Card..." for the chosen
// aircraft. Each asks where through the file chooser, draws the pages (src/paint) and tells a
// failure through the prompter; a PDF is in place only when complete.

#include "core/flight/Findings.h"
#include "gui/common/WindowContext.h"
#include "paint/ReportWriter.h"

#include <QList>
#include <QString>

#include <vector>

class QWidget;

namespace korvel {

class FlightLibrary;

// The flights of a library by id, as their reports read them (its copy, its aircraft, the name it
// was imported by); an id the library does not know is left out.
std::vector<ReportFlight> LibraryReportFlights(FlightLibrary &library, const QList<qint64> &ids);

// Where a save dialog starts: the folder last written into there, else the user's documents
// folder, else home; never the program's own folder, which an installed program cannot write. A
// file chosen makes its folder the next start.
QString SaveDialogFolder();
void RememberSaveFolder(const QString &file);

// Save Report... for one flight (the loaded file). True when a PDF was written.
bool SaveReportCommand(const WindowContext &context, const ReportFlight &flight, const FindingRules &rules = {});

// Report... for flights chosen in the library: one PDF, a page each; for more than one a progress
// bar with Cancel (object name "dlgReportProgress") over parent. True when a PDF was written.
bool SaveReportsCommand(const WindowContext &context, QWidget *parent, const std::vector<ReportFlight> &flights);

// Report Card... for aircraft (a normalised registration): read(error) reads its card once the
// file is chosen (from the window's library, on that library's thread).
using ReadCard = std::function<std::optional<ReportCardPage>(QString *error)>;
bool SaveReportCardCommand(const WindowContext &context, const QString &aircraft, const ReadCard &read);

} // namespace korvel
