#pragma once
// The flight library window: every flight kept, as a sortable table with a date filter, a trend
// of one measure over calendar time under it, and the commands to import, load, export and remove.
// Imports run on a worker thread with a connection of their own, so a large folder never freezes
// the window.

#include "core/library/FlightLibrary.h"
#include "gui/common/ChildWindow.h"
#include "gui/common/WindowContext.h"

#include <QPointer>
#include <QThread>

#include <atomic>
#include <memory>

class QCheckBox;
class QComboBox;
class QCustomPlot;
class QCPItemText;
class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace korvel {

class FrmLibrary : public ChildWindow {
    Q_OBJECT
public:
    explicit FrmLibrary(WindowContext context, QWidget *parent = nullptr);
    ~FrmLibrary() override;

    // Reads the list again from the library.
    void refresh();
    // Imports files and folders on the worker thread; progress and the result show in the window.
    void importPaths(const QStringList &paths);
    bool importing() const { return m_importing; }
    // The flight of the selected row (0 when none).
    qint64 selectedId() const;
    void selectFlight(qint64 id);
    // Loads the flight as the disk-load command does.
    void loadFlight(qint64 id);
    void exportSelected();
    void removeSelected();
    QString folder() const { return m_folder; }

signals:
    void importFinished();
    // A flight was loaded into the record table (double-click).
    void flightLoaded();

private:
    void showTrend();
    void chooseImport();
    void cancelImport();
    void importProgress(int done, int total);
    void importDone(int added, int known, int skipped, const QString &error);
    void applyFilter();
    void say(const QString &text);

    WindowContext m_context;
    QString m_folder;
    std::unique_ptr<FlightLibrary> m_library;
    std::vector<LibraryFlight> m_flights;

    QStandardItemModel *m_model = nullptr;
    QSortFilterProxyModel *m_proxy = nullptr;
    QTableView *m_table = nullptr;
    QCheckBox *m_filter = nullptr;
    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
    QComboBox *m_measure = nullptr;
    QCustomPlot *m_plot = nullptr;
    QCPItemText *m_plotNote = nullptr; // what the trend lacks, over an empty chart
    QPushButton *m_import = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_export = nullptr;
    QPushButton *m_remove = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_message = nullptr;

    QPointer<QThread> m_worker;
    bool m_importing = false;
    std::shared_ptr<std::atomic<bool>> m_stop;
};

} // namespace korvel
