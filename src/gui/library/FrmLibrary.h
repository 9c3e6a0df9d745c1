#pragma once
// The flight library window: every flight kept, as a sortable table with a date filter, a trend
// of one measure over calendar time under it, and the commands to import, load, export and remove.
// The window holds the layout and the commands; the list's model and filter, the trend, the dialogs
// and the import task live in files of their own. Every call of the library runs off the window's
// thread (LibrarySession), imports on a task with a connection of their own, so neither a large
// folder nor a server that stops answering freezes the window. The window reads the library again
// when it gets the focus back, so what another program (korvel-cli, a capture) added shows without
// asking.

#include "core/library/FlightLibrary.h"
#include "core/library/ImportTask.h"
#include "gui/common/ChildWindow.h"
#include "gui/common/WindowContext.h"

#include <QPointer>

#include <memory>

class QComboBox;
class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;

namespace korvel {

class AircraftFilter;
class DateRangeFilter;
class FlightListFilter;
class FlightListModel;
class LibrarySession;
class TrendChart;

// A flight fetched from a library on a server lies in a file that lives as long as the connection
// that fetched it; this copy of it lives until the program ends, so that the windows can read the
// flight again (a report) after that connection has gone. The file itself when it cannot be copied.
QString KeptForTheSession(const QString &file);

class FrmLibrary : public ChildWindow {
    Q_OBJECT
public:
    explicit FrmLibrary(WindowContext context, QWidget *parent = nullptr);
    ~FrmLibrary() override;

    // Reads the list again from the library (opening it again if it could not be opened before),
    // keeping the measure, the sort and the selected flight.
    void refresh();
    // Imports files and folders on the worker thread; progress and the result show in the window.
    // The flights it adds belong to aircraft (a registration as checked), when one is given.
    void importPaths(const QStringList &paths, const std::optional<QString> &aircraft = std::nullopt);
    bool importing() const { return m_importTask && m_importTask->running(); }
    // The flight of the selected row (0 when none), and every flight selected.
    qint64 selectedId() const;
    QList<qint64> selectedIds() const;
    // The selected flights as the library has them now; none, said why, when one has gone.
    std::vector<LibraryFlight> chosenFlights();
    void selectFlight(qint64 id);
    // Loads the flight as the disk-load command does.
    void loadFlight(qint64 id);
    // Export... on the selection: one flight to a file, several into a folder.
    void exportSelected();
    // The selected flights' reports in one PDF, a page each; the chosen aircraft's report card.
    void reportSelected();
    void reportCard();
    // Remove... on the selection, one question for all.
    void removeSelected();
    // The library's folder, or its server's URI without the password.
    QString folder() const { return m_folder; }
    // Makes location (a folder or a server's URI; empty: the default folder) this PC's library,
    // kept in the settings without its password, and shows it.
    void setLocation(const QString &location);

    // Where the Import... and Export... dialogs start: the folder last used there, else the user's
    // documents folder.
    QString dialogFolder() const;
    // The files the last import skipped, each with its reason.
    using Skipped = ImportResult; // its file and the reason
    const std::vector<Skipped> &skippedFiles() const { return m_skipped; }
    void showSkipped();
    // The aircraft offered when asked for one: the last one used, then the library's own.
    QStringList aircraftOffered() const;
    // The aircraft Import... offers first: the one the list is filtered by, else the last one used,
    // else none.
    std::optional<QString> importAircraft() const;
    // Gives the selected flights to the aircraft typed (empty: takes their aircraft away); a
    // registration that is not one is refused with its reason. False when nothing changed.
    bool setAircraftOfSelection(const QString &text);
    // "This PC's aircraft", which the flights downloaded here are given (empty: none).
    bool setThisPcsAircraft(const QString &text);
    // The trend's points as drawn, by flight.
    const std::vector<qint64> &trendIds() const;

signals:
    void importFinished();
    // A flight was loaded into the record table (double-click).
    void flightLoaded();
    // This PC's library is now the one at location (as kept: no password).
    void locationChanged(const QString &location);

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QWidget *buildPage();
    void connectCommands();
    void showTrend();
    void markSelectedPoints();
    void chooseImport();
    // Asks for an aircraft: nullopt when cancelled, else the registration or none.
    std::optional<std::optional<QString>> askAircraft(const QString &title, const QString &question,
                                                      const std::optional<QString> &initial);
    void askSetAircraft();
    void askThisPcsAircraft();
    void updateAircraftChoices();
    void showThisPcsAircraft();
    void showCaption();
    void chooseLocation();
    void cancelImport();
    void importProgress(int done, int total);
    void importBytesRead(qint64 read, qint64 total);
    void showImportProgress();
    // The source column takes the room the others leave (its path elided at the left), so that
    // it stays in view at the window's size.
    void fitSourceColumn();
    void importDone();
    // Whether the commands that change the library may be used now.
    void enableChanges();
    void applyFilter();
    void rememberFolder(const QString &path);
    // Runs a library call; its failure is said in the window, never thrown past a slot.
    bool guarded(const std::function<void()> &call);
    bool openLibrary();
    void say(const QString &text);
    void showMessage();
    void scheduleRefresh();
    void updateCount();

    WindowContext m_context;
    QString m_folder;
    LibrarySession *m_session = nullptr; // every call of the library runs off the window's thread
    bool m_readOnly = false;             // the library may only be read here

    FlightListModel *m_model = nullptr;
    FlightListFilter *m_proxy = nullptr;
    QTableView *m_table = nullptr;
    DateRangeFilter *m_filter = nullptr;
    QLabel *m_count = nullptr;
    AircraftFilter *m_aircraft = nullptr;
    QPushButton *m_setAircraft = nullptr;
    QPushButton *m_thisPc = nullptr;
    QPushButton *m_location = nullptr;
    TrendChart *m_trend = nullptr;
    QPushButton *m_import = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_export = nullptr;
    QPushButton *m_report = nullptr;
    QPushButton *m_reportCard = nullptr; // only with one registration chosen in the filter
    QPushButton *m_remove = nullptr;
    QPushButton *m_refresh = nullptr;
    QPushButton *m_showSkipped = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_message = nullptr;
    QPointer<QDialog> m_skippedDialog;

    QString m_importSummary; // stays in view until the next import
    QString m_note;          // the last thing said
    QString m_problem;       // why the library could not be used, until it answers again
    QString m_waiting;       // whom the window waits for, while a call takes long
    std::vector<Skipped> m_skipped;
    // A read of the list is asked for and not yet done: several asks read it once.
    bool m_refreshPending = false;
    quint64 m_listReads = 0; // the lists asked for, the last one being the one shown
    // The frame's activation is followed (hooked once, when first shown in one).
    bool m_frameHooked = false;

    std::unique_ptr<ImportTask> m_importTask;
    // How far the import in hand is: files taken of those found, bytes read of all theirs.
    int m_filesDone = 0;
    int m_filesTotal = 0;
    qint64 m_bytesRead = 0;
    qint64 m_bytesTotal = 0;
};

} // namespace korvel
