#include "gui/library/FrmLibrary.h"

#include "gui/common/Twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace korvel {

namespace {

enum Column { ColFirst, ColDuration, ColRecords, ColEgt, ColCht, ColEgtSpread, ColChtSpread, ColFindings, ColSource };
constexpr int kIdRole = Qt::UserRole + 1;

QDateTime MomentOf(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODate);
}

QStandardItem *Item(const QVariant &value, const QString &text = QString())
{
    auto *item = new QStandardItem;
    item->setData(value, Qt::DisplayRole);
    if (!text.isEmpty())
        item->setData(text, Qt::ToolTipRole);
    item->setEditable(false);
    return item;
}

QVariant Number(const std::optional<double> &v)
{
    return v ? QVariant(*v) : QVariant();
}

// Rows whose first record lies within the chosen days, when the filter is on.
class DateFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setRange(std::optional<std::pair<QDate, QDate>> range)
    {
        m_range = range;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        if (!m_range)
            return true;
        const QDate day = sourceModel()->index(row, ColFirst, parent).data(Qt::UserRole).toDate();
        return day >= m_range->first && day <= m_range->second;
    }

private:
    std::optional<std::pair<QDate, QDate>> m_range;
};

// The import on the worker thread: its own connection to the library, a result a file.
class ImportJob : public QObject {
    Q_OBJECT
public:
    ImportJob(QString folder, QStringList paths, std::shared_ptr<std::atomic<bool>> stop)
        : m_folder(std::move(folder)), m_paths(std::move(paths)), m_stop(std::move(stop))
    {
    }
    void run()
    {
        int added = 0, known = 0, skipped = 0;
        QString error;
        try {
            FlightLibrary library(m_folder);
            const QStringList files = FlightLibrary::CollectFiles(m_paths);
            emit progress(0, int(files.size()));
            int done = 0;
            library.importFiles(
                files,
                [&](const ImportResult &r) {
                    (r.outcome == ImportResult::Added ? added : r.outcome == ImportResult::Known ? known : skipped)++;
                    emit progress(++done, int(files.size()));
                    return true;
                },
                [this] { return bool(*m_stop); });
        } catch (const LibraryError &e) {
            error = e.message();
        }
        emit finished(added, known, skipped, error);
    }
signals:
    void progress(int done, int total);
    void finished(int added, int known, int skipped, const QString &error);

private:
    QString m_folder;
    QStringList m_paths;
    std::shared_ptr<std::atomic<bool>> m_stop;
};

} // namespace

FrmLibrary::FrmLibrary(WindowContext context, QWidget *parent)
    : ChildWindow(parent), m_context(context), m_folder(FlightLibrary::DefaultFolder())
{
    setObjectName(QStringLiteral("FrmLibrary"));
    setWindowTitle(QStringLiteral("Flight Library"));

    const auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    m_import = button("cmdImport", QStringLiteral("Import..."));
    m_cancel = button("cmdCancel", QStringLiteral("Cancel"));
    m_export = button("cmdExport", QStringLiteral("Export..."));
    m_remove = button("cmdRemove", QStringLiteral("Remove..."));
    m_cancel->setEnabled(false);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progImport"));
    m_progress->setVisible(false);

    m_filter = new QCheckBox(QStringLiteral("Flights from"), this);
    m_filter->setObjectName(QStringLiteral("chkDateFilter"));
    m_from = new QDateEdit(QDate::currentDate().addYears(-1), this);
    m_from->setObjectName(QStringLiteral("dtFrom"));
    m_to = new QDateEdit(QDate::currentDate(), this);
    m_to->setObjectName(QStringLiteral("dtTo"));
    for (QDateEdit *edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }

    m_model = new QStandardItemModel(0, 9, this);
    m_model->setHorizontalHeaderLabels({QStringLiteral("First record"), QStringLiteral("Duration (h:mm)"),
                                        QStringLiteral("Records"), QStringLiteral("EGT max"), QStringLiteral("CHT max"),
                                        QStringLiteral("EGT spread"), QStringLiteral("CHT spread"),
                                        QStringLiteral("Findings"), QStringLiteral("Source")});
    m_proxy = new DateFilter(this);
    m_proxy->setSourceModel(m_model);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("tblFlights"));
    m_table->setModel(m_proxy);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(ColFirst, Qt::AscendingOrder);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setAlternatingRowColors(true);
    // One line a flight; a long source path keeps its file name in view.
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideLeft);

    m_measure = new QComboBox(this);
    m_measure->setObjectName(QStringLiteral("cboMeasure"));
    m_measure->addItems(FlightLibrary::Measures());
    m_measure->setCurrentText(QStringLiteral("cht_max"));
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(QStringLiteral("plotTrend"));
    m_plot->setMinimumHeight(160);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd"));
    m_plot->xAxis->setTicker(ticker);
    QCPGraph *points = m_plot->addGraph();
    points->setLineStyle(QCPGraph::lsNone);
    points->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 7));
    points->setSelectable(QCP::stSingleData);
    points->selectionDecorator()->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, Qt::red, 12),
                                                  QCPScatterStyle::spAll);
    m_plot->setInteractions(QCP::iSelectPlottables);
    m_plotNote = new QCPItemText(m_plot);
    m_plotNote->setObjectName(QStringLiteral("lblTrendNote"));
    m_plotNote->position->setType(QCPItemPosition::ptAxisRectRatio);
    m_plotNote->position->setCoords(0.5, 0.5);
    m_plotNote->setPositionAlignment(Qt::AlignCenter);
    m_plotNote->setColor(palette().color(QPalette::PlaceholderText));

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("lblMessage"));
    m_message->setWordWrap(true);

    auto *top = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{m_import, m_cancel, m_progress})
        top->addWidget(w);
    top->addStretch();
    top->addWidget(m_filter);
    top->addWidget(m_from);
    top->addWidget(new QLabel(QStringLiteral("to"), this));
    top->addWidget(m_to);
    top->addSpacing(12);
    top->addWidget(m_export);
    top->addWidget(m_remove);
    auto *trendBar = new QHBoxLayout;
    trendBar->addWidget(new QLabel(QStringLiteral("Trend of"), this));
    trendBar->addWidget(m_measure);
    trendBar->addStretch();
    auto *trend = new QWidget(this);
    auto *trendLayout = new QVBoxLayout(trend);
    trendLayout->setContentsMargins(0, 0, 0, 0);
    trendLayout->addLayout(trendBar);
    trendLayout->addWidget(m_plot);
    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_table);
    split->addWidget(trend);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    layout->addWidget(m_message);

    connect(m_import, &QPushButton::clicked, this, &FrmLibrary::chooseImport);
    connect(m_cancel, &QPushButton::clicked, this, &FrmLibrary::cancelImport);
    connect(m_export, &QPushButton::clicked, this, &FrmLibrary::exportSelected);
    connect(m_remove, &QPushButton::clicked, this, &FrmLibrary::removeSelected);
    connect(m_filter, &QCheckBox::toggled, this, &FrmLibrary::applyFilter);
    connect(m_from, &QDateEdit::dateChanged, this, &FrmLibrary::applyFilter);
    connect(m_to, &QDateEdit::dateChanged, this, &FrmLibrary::applyFilter);
    connect(m_measure, &QComboBox::currentTextChanged, this, &FrmLibrary::showTrend);
    connect(m_table, &QTableView::doubleClicked, this,
            [this](const QModelIndex &index) { loadFlight(index.siblingAtColumn(ColFirst).data(kIdRole).toLongLong()); });
    connect(m_plot, &QCustomPlot::plottableClick, this, [this](QCPAbstractPlottable *, int dataIndex, QMouseEvent *) {
        if (dataIndex >= 0 && size_t(dataIndex) < m_flights.size())
            selectFlight(m_flights[size_t(dataIndex)].id);
    });

    SetOuterSize(this, 12500, 7000);
    try {
        m_library = std::make_unique<FlightLibrary>(m_folder);
    } catch (const LibraryError &error) {
        say(QStringLiteral("The flight library in %1 cannot be opened: %2.").arg(m_folder, error.message()));
        m_import->setEnabled(false);
    }
    refresh();
}

FrmLibrary::~FrmLibrary()
{
    if (m_worker) {
        *m_stop = true;
        m_worker->wait();
        delete m_worker;
    }
}

void FrmLibrary::say(const QString &text)
{
    m_message->setText(text);
}

void FrmLibrary::refresh()
{
    const qint64 selected = selectedId();
    m_model->removeRows(0, m_model->rowCount());
    m_flights.clear();
    if (m_library) {
        try {
            m_flights = m_library->list();
        } catch (const LibraryError &error) {
            say(error.message());
        }
    }
    m_table->setSortingEnabled(false);
    for (const LibraryFlight &f : m_flights) {
        const QDateTime first = MomentOf(f.first);
        QList<QStandardItem *> row;
        QStandardItem *when = Item(first.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), f.sha256);
        when->setData(f.id, kIdRole);
        when->setData(first.date(), Qt::UserRole);
        row << when;
        const qint64 s = f.durationSeconds.value_or(0);
        QStandardItem *duration = Item(QString::asprintf("%lld:%02lld", s / 3600, s / 60 % 60));
        row << duration << Item(f.records);
        row << Item(Number(f.egtMax), f.egtCylinder ? QStringLiteral("cylinder %1").arg(*f.egtCylinder) : QString());
        row << Item(Number(f.chtMax), f.chtCylinder ? QStringLiteral("cylinder %1").arg(*f.chtCylinder) : QString());
        row << Item(Number(f.egtSpreadMax)) << Item(Number(f.chtSpreadMax)) << Item(f.findings) << Item(f.source, f.source);
        m_model->appendRow(row);
    }
    m_table->setSortingEnabled(true);
    m_table->resizeColumnsToContents();
    m_table->setColumnWidth(ColSource, std::min(m_table->columnWidth(ColSource), 320));
    // The filter starts out spanning every flight kept.
    if (!m_filter->isChecked() && !m_flights.empty()) {
        m_from->setDate(MomentOf(m_flights.front().first).date());
        m_to->setDate(MomentOf(m_flights.back().first).date());
    }
    if (selected)
        selectFlight(selected);
    if (!importing() && m_library)
        say(m_flights.empty() ? QStringLiteral("No flight yet. Import... adds flight files or a whole folder of them; "
                                               "every flight downloaded from the plane is added by itself.")
                              : QStringLiteral("%1 flights in %2").arg(m_flights.size()).arg(m_folder));
    showTrend();
}

void FrmLibrary::applyFilter()
{
    auto *filter = static_cast<DateFilter *>(m_proxy);
    filter->setRange(m_filter->isChecked() ? std::optional(std::pair(m_from->date(), m_to->date())) : std::nullopt);
}

void FrmLibrary::showTrend()
{
    QCPGraph *points = m_plot->graph(0);
    QVector<double> x, y;
    if (m_library) {
        try {
            for (const TrendPoint &p : m_library->trend(m_measure->currentText())) {
                x << double(MomentOf(p.first).toSecsSinceEpoch());
                y << p.value.value_or(qQNaN());
            }
        } catch (const LibraryError &error) {
            say(error.message());
        }
    }
    // The points keep the list's order, so a point's index is its flight's.
    points->setData(x, y, true);
    m_plot->yAxis->setLabel(m_measure->currentText());
    const bool anyValue = std::any_of(y.cbegin(), y.cend(), [](double v) { return std::isfinite(v); });
    m_plotNote->setVisible(!anyValue);
    m_plot->yAxis->setTickLabels(anyValue);
    if (!anyValue) {
        // Nothing to draw: the last month up to today, and a word on why the chart is empty.
        m_plotNote->setText(x.isEmpty() ? QStringLiteral("No flight in the library yet: Import... adds them")
                                        : QStringLiteral("No flight has a value for %1").arg(m_measure->currentText()));
        const double today = double(QDateTime(QDate::currentDate().addDays(1), QTime(0, 0)).toSecsSinceEpoch());
        m_plot->xAxis->setRange(today - 31 * 86400.0, today);
        m_plot->yAxis->setRange(0, 1);
        m_plot->replot();
        return;
    }
    m_plot->rescaleAxes();
    const QCPRange xr = m_plot->xAxis->range();
    const double pad = std::max(86400.0, xr.size() * 0.03);
    m_plot->xAxis->setRange(xr.lower - pad, xr.upper + pad);
    const QCPRange yr = m_plot->yAxis->range();
    const double ypad = std::max(1.0, yr.size() * 0.08);
    m_plot->yAxis->setRange(yr.lower - ypad, yr.upper + ypad);
    m_plot->replot();
}

qint64 FrmLibrary::selectedId() const
{
    const QModelIndexList rows = m_table->selectionModel() ? m_table->selectionModel()->selectedRows(ColFirst)
                                                           : QModelIndexList();
    return rows.isEmpty() ? 0 : rows.first().data(kIdRole).toLongLong();
}

void FrmLibrary::selectFlight(qint64 id)
{
    for (int r = 0; r < m_proxy->rowCount(); ++r) {
        const QModelIndex index = m_proxy->index(r, ColFirst);
        if (index.data(kIdRole).toLongLong() == id) {
            m_table->selectRow(r);
            m_table->scrollTo(index);
            break;
        }
    }
    // The point of the flight stands out in the trend.
    for (size_t k = 0; k < m_flights.size(); ++k)
        if (m_flights[k].id == id) {
            m_plot->graph(0)->setSelection(QCPDataSelection(QCPDataRange(int(k), int(k) + 1)));
            m_plot->replot();
        }
}

void FrmLibrary::loadFlight(qint64 id)
{
    if (!m_library || id == 0)
        return;
    std::optional<QString> path;
    std::optional<LibraryFlight> flight;
    try {
        path = m_library->copyPath(id);
        flight = m_library->flight(id);
    } catch (const LibraryError &error) {
        say(error.message());
        return;
    }
    if (!path || !flight)
        return;
    // As the disk-load command: the status names the file, and a failed load says no more.
    try {
        LoadFlightDataFile(*path, m_context.state.flightData, m_context.status);
    } catch (...) {
        return;
    }
    // The windows that follow the loaded flight name it as it was imported, not by its copy's hash.
    FlightOrigin origin;
    origin.name = QFileInfo(flight->source).fileName();
    // The aircraft, from a catalogue that keeps one (an older catalogue's rows have none).
    origin.aircraft = [](const auto &row) -> std::optional<QString> {
        if constexpr (requires { row.aircraft; })
            return row.aircraft;
        else
            return std::nullopt;
    }(*flight);
    NoteFlightLoaded(m_context.state, *path, origin);
    emit flightLoaded();
}

void FrmLibrary::exportSelected()
{
    const qint64 id = selectedId();
    if (!m_library || id == 0) {
        say(QStringLiteral("Choose a flight in the table first."));
        return;
    }
    const auto flight = m_library->flight(id);
    FileDialogRequest request =
        WritableTextFile(QStringLiteral("Export Flight"), QStringLiteral("Flight %1.txt").arg(flight->first.left(10)));
    request.save = true;
    const std::optional<QString> name = m_context.files.chooseFile(request);
    if (!name)
        return;
    try {
        m_library->exportFlight(id, *name);
        say(QStringLiteral("Flight of %1 written to %2").arg(flight->first, *name));
    } catch (const LibraryError &error) {
        say(error.message());
    }
}

void FrmLibrary::removeSelected()
{
    const qint64 id = selectedId();
    if (!m_library || id == 0) {
        say(QStringLiteral("Choose a flight in the table first."));
        return;
    }
    const auto flight = m_library->flight(id);
    const QString text = QStringLiteral("Remove the flight of %1 (%2 records) from the library? Its copy in the "
                                        "library is deleted; the file it came from is not touched.")
                             .arg(QString(flight->first).replace(QLatin1Char('T'), QLatin1Char(' ')))
                             .arg(flight->records);
    if (m_context.prompter.showMessage(AppTitle(), text, MessageIcon::Question, MessageButtons::OkCancel) !=
        MessageAnswer::Ok)
        return;
    try {
        m_library->remove(id);
    } catch (const LibraryError &error) {
        say(error.message());
    }
    refresh();
}

void FrmLibrary::chooseImport()
{
    QMenu menu(this);
    QAction *files = menu.addAction(QStringLiteral("Flight Files..."));
    QAction *folder = menu.addAction(QStringLiteral("A Folder of Flights..."));
    QAction *chosen = menu.exec(m_import->mapToGlobal(QPoint(0, m_import->height())));
    QStringList paths;
    if (chosen == files)
        paths = QFileDialog::getOpenFileNames(this, QStringLiteral("Import Flights"), QString(),
                                              QStringLiteral("Flight data (*.txt);;All files (*)"));
    else if (chosen == folder)
        paths << QFileDialog::getExistingDirectory(this, QStringLiteral("Import a Folder of Flights"));
    paths.removeAll(QString());
    if (!paths.isEmpty())
        importPaths(paths);
}

void FrmLibrary::importPaths(const QStringList &paths)
{
    if (importing() || !m_library)
        return;
    m_stop = std::make_shared<std::atomic<bool>>(false);
    auto *job = new ImportJob(m_folder, paths, m_stop);
    m_worker = QThread::create([job] { job->run(); });
    connect(job, &ImportJob::progress, this, &FrmLibrary::importProgress);
    connect(job, &ImportJob::finished, this, &FrmLibrary::importDone);
    connect(m_worker, &QThread::finished, job, &QObject::deleteLater);
    connect(m_worker, &QThread::finished, m_worker, &QObject::deleteLater);
    m_importing = true;
    m_import->setEnabled(false);
    m_cancel->setEnabled(true);
    m_progress->setRange(0, 0);
    m_progress->setVisible(true);
    say(QStringLiteral("Importing..."));
    m_worker->start(QThread::LowPriority);
}

void FrmLibrary::cancelImport()
{
    if (m_stop)
        *m_stop = true;
    m_cancel->setEnabled(false);
    say(QStringLiteral("Stopping after the flight being read..."));
}

void FrmLibrary::importProgress(int done, int total)
{
    m_progress->setRange(0, std::max(total, 1));
    m_progress->setValue(done);
    m_progress->setFormat(QStringLiteral("%v of %m"));
}

void FrmLibrary::importDone(int added, int known, int skipped, const QString &error)
{
    m_importing = false; // the thread deletes itself as it ends
    m_import->setEnabled(true);
    m_cancel->setEnabled(false);
    m_progress->setVisible(false);
    refresh();
    QString text = QStringLiteral("Import: %1 added, %2 already in the library, %3 skipped (not flights).")
                       .arg(added)
                       .arg(known)
                       .arg(skipped);
    if (m_stop && *m_stop)
        text += QStringLiteral(" Cancelled; import again to go on.");
    if (!error.isEmpty())
        text += QStringLiteral(" Stopped: ") + error;
    say(text);
    emit importFinished();
}

} // namespace korvel

#include "FrmLibrary.moc"
