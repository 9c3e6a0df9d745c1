#pragma once
// "Flight Summary": the loaded flight's figures as small tables an owner reads at a glance and
// copies into a spreadsheet, with a CHT limit that lists when each cylinder head reached it.
// Also the graph window's two commands on the loaded flight: the summary and the CSV export.

#include "core/flight/FlightSummary.h"
#include "gui/common/WindowContext.h"

#include <QDialog>

class QLabel;
class QLineEdit;

namespace korvel {

class CopyableTable;

class FrmSummary : public QDialog {
    Q_OBJECT
public:
    // Reads the table once; the dialog keeps what it shows, so a later load does not change it.
    explicit FrmSummary(const FlightData &data, QWidget *parent = nullptr);

    // Every table with its heading, tab-separated: what "Copy All" puts on the clipboard.
    QString tablesAsText() const;

private:
    void showChtOver();

    FlightSummary m_summary;
    ChtTrace m_trace;
    QLineEdit *m_limit = nullptr;
    QLabel *m_overNote = nullptr;
    CopyableTable *m_over = nullptr;
    QList<QPair<QString, CopyableTable *>> m_tables; // heading, table; in the order shown
};

// What both commands say when no flight file has been loaded.
QString NoFlightLoadedText();

// "Flight Summary...": shows the summary of the loaded flight beside the window (replacing one
// shown before), or says that no flight is loaded. Returns the dialog shown, if any.
FrmSummary *ShowFlightSummary(const WindowContext &context, QWidget *parent);

// "Export CSV...": asks for a file in a save dialog (which asks before replacing one) and writes
// the loaded flight to it as korvel-cli csv does. Returns true when a file was written.
bool ExportFlightCsv(const WindowContext &context);

} // namespace korvel
