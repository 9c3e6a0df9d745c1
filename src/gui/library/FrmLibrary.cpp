#include "gui/library/FrmLibrary.h"

#include "core/flight/CountText.h"
#include "core/library/LibraryPlace.h"

#include "core/settings/Settings.h"
#include "gui/common/LibrarySession.h"
#include "gui/common/ReportCommands.h"
#include "gui/common/Twips.h"
#include "gui/library/AircraftDialog.h"
#include "gui/library/AircraftFilter.h"
#include "gui/library/DateRangeFilter.h"
#include "gui/library/FlightListModel.h"
#include "gui/library/LibraryLocationDialog.h"
#include "gui/library/SkippedFilesDialog.h"
#include "gui/library/TrendChart.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace korvel {

namespace {

using Col = FlightListModel::Column;

QDateTime MomentOf(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODate);
}

// Where the library is, as a sentence names it: "in FOLDER" or "on the server HOST:PORT/DBNAME".
QString Where(const QString &location)
{
    const LibraryPlace place(location);
    return place.isServer() ? QStringLiteral("on the ") + place.caption() : QStringLiteral("in ") + location;
}

QString Sentence(const QString &what, const QString &why)
{
    QString text = QStringLiteral("%1: %2").arg(what, why);
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}

} // namespace

QString KeptForTheSession(const QString &file)
{
    static QTemporaryDir kept;
    if (file.isEmpty() || !kept.isValid())
        return file;
    // Named by the flight's SHA-256: the same flight is copied once.
    const QString copy = kept.filePath(QFileInfo(file).fileName());
    return QFileInfo::exists(copy) || QFile::copy(file, copy) ? copy : file;
}

bool FrmLibrary::guarded(const std::function<void()> &call)
{
    QString why;
    const QPointer<FrmLibrary> alive(this);
    try {
        call();
        // The library answers again: what was said about its failure no longer holds.
        if (alive && !m_problem.isEmpty()) {
            m_problem.clear();
            showMessage();
        }
        return alive;
    } catch (const LibraryError &error) {
        why = error.message();
    } catch (const std::exception &error) {
        why = QString::fromLocal8Bit(error.what());
    }
    // The window may have been closed while the library was waited for.
    if (!alive)
        return false;
    QString text = Sentence(QStringLiteral("The flight library %1 could not be used").arg(Where(m_folder)), why);
    m_problem = text + QStringLiteral(" Refresh (F5) tries again.");
    showMessage();
    // A connection to a server that failed does not come back by itself: the next use opens a new
    // one. What the window shows stays until then.
    if (LibraryPlace(m_folder).isServer())
        m_session->drop();
    return false;
}

FrmLibrary::FrmLibrary(WindowContext context, QWidget *parent)
    : ChildWindow(parent), m_context(context), m_folder(LibraryLocation()),
      m_session(new LibrarySession(m_folder, this))
{
    setObjectName(QStringLiteral("FrmLibrary"));
    showCaption();

    // Everything sits on one page that scrolls when the window is made smaller than it needs.
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrLibrary"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(buildPage());
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    connectCommands();

    showThisPcsAircraft();
    SetOuterSize(this, 16500, 11400);
    openLibrary();
    refresh();
    showTrend();
}

FrmLibrary::~FrmLibrary() = default;

QWidget *FrmLibrary::buildPage()
{
    auto *page = new QWidget;
    page->setMinimumSize(560, 340);
    const auto button = [page](const char *name, const QString &text, const QString &tip = QString()) {
        auto *b = new QPushButton(text, page);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(tip);
        return b;
    };
    m_import = button("cmdImport", QStringLiteral("Import..."));
    m_cancel = button("cmdCancel", QStringLiteral("Cancel"));
    m_cancel->setEnabled(false);
    m_export = button("cmdExport", QStringLiteral("Export..."));
    m_remove = button("cmdRemove", QStringLiteral("Remove..."));
    m_report = button("cmdReport", QStringLiteral("Report..."),
                      QStringLiteral("The selected flights' reports in one PDF, a page each"));
    m_reportCard = button("cmdReportCard", QStringLiteral("Report Card..."),
                          QStringLiteral("The report card of the aircraft chosen above the table"));
    m_reportCard->setEnabled(false);
    m_refresh = button("cmdRefresh", QStringLiteral("Refresh"), QStringLiteral("Read the library again (F5)"));
    m_setAircraft = button("cmdSetAircraft", QStringLiteral("Set Aircraft..."),
                           QStringLiteral("Give the selected flights to an aircraft, or take theirs away"));
    m_thisPc = button("cmdThisPcsAircraft", QStringLiteral("This PC's Aircraft..."));
    m_location = button("libraryButton", QStringLiteral("Library..."),
                        QStringLiteral("The flight library this PC uses: a folder, or a server a fleet shares"));
    m_progress = new QProgressBar(page);
    m_progress->setObjectName(QStringLiteral("progImport"));
    m_progress->setVisible(false);
    m_progress->setMaximumWidth(160);

    m_filter = new DateRangeFilter(page);
    m_count = new QLabel(page);
    m_count->setObjectName(QStringLiteral("lblCount"));
    m_aircraft = new AircraftFilter(page);

    m_model = new FlightListModel(this);
    m_proxy = new FlightListFilter(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(FlightListModel::SortRole);
    m_table = new QTableView(page);
    m_table->setObjectName(QStringLiteral("tblFlights"));
    m_table->setModel(m_proxy);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(Col::ColFirst, Qt::AscendingOrder);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setAlternatingRowColors(true);
    m_table->setMinimumHeight(100);
    // One line a flight; a long source path keeps its file name in view.
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideLeft);

    m_trend = new TrendChart(page);

    m_message = new QLabel(page);
    m_message->setObjectName(QStringLiteral("lblMessage"));
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_showSkipped = button("cmdSkipped", QStringLiteral("Skipped Files..."));
    m_showSkipped->setVisible(false);

    auto *commands = new QHBoxLayout;
    // Spaced as the analysis view's commands: the row then fits at 640 wide beside a scroll bar.
    commands->setSpacing(4);
    for (QWidget *w : std::initializer_list<QWidget *>{m_import, m_cancel, m_progress})
        commands->addWidget(w);
    commands->addStretch();
    for (QWidget *w : std::initializer_list<QWidget *>{m_setAircraft, m_export, m_report, m_remove, m_refresh})
        commands->addWidget(w);
    auto *filters = new QHBoxLayout;
    filters->addWidget(m_filter);
    filters->addSpacing(12);
    filters->addWidget(new QLabel(QStringLiteral("Aircraft"), page));
    filters->addWidget(m_aircraft);
    filters->addStretch();
    filters->addWidget(m_count);
    auto *split = new QSplitter(Qt::Vertical, page);
    split->setObjectName(QStringLiteral("splTableTrend"));
    split->addWidget(m_table);
    split->addWidget(m_trend);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);
    auto *messageRow = new QHBoxLayout;
    messageRow->addWidget(m_message, 1);
    messageRow->addWidget(m_showSkipped, 0, Qt::AlignTop);
    // Beside the other command on a whole aircraft; the row above has no room left at 640 wide.
    messageRow->addWidget(m_reportCard, 0, Qt::AlignTop);
    messageRow->addWidget(m_thisPc, 0, Qt::AlignTop);
    messageRow->addWidget(m_location, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(page);
    layout->addLayout(commands);
    layout->addLayout(filters);
    layout->addWidget(split, 1);
    layout->addLayout(messageRow);
    return page;
}

void FrmLibrary::connectCommands()
{
    auto *refreshKey = new QAction(QStringLiteral("Refresh"), this);
    refreshKey->setObjectName(QStringLiteral("actRefresh"));
    refreshKey->setShortcut(QKeySequence::Refresh);
    refreshKey->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(refreshKey);
    connect(refreshKey, &QAction::triggered, this, &FrmLibrary::refresh);

    connect(m_import, &QPushButton::clicked, this, &FrmLibrary::chooseImport);
    connect(m_cancel, &QPushButton::clicked, this, &FrmLibrary::cancelImport);
    connect(m_export, &QPushButton::clicked, this, &FrmLibrary::exportSelected);
    connect(m_report, &QPushButton::clicked, this, &FrmLibrary::reportSelected);
    connect(m_reportCard, &QPushButton::clicked, this, &FrmLibrary::reportCard);
    connect(m_remove, &QPushButton::clicked, this, &FrmLibrary::removeSelected);
    connect(m_refresh, &QPushButton::clicked, this, &FrmLibrary::refresh);
    connect(m_showSkipped, &QPushButton::clicked, this, &FrmLibrary::showSkipped);
    connect(m_setAircraft, &QPushButton::clicked, this, &FrmLibrary::askSetAircraft);
    connect(m_thisPc, &QPushButton::clicked, this, &FrmLibrary::askThisPcsAircraft);
    connect(m_location, &QPushButton::clicked, this, &FrmLibrary::chooseLocation);
    connect(m_aircraft, &QComboBox::currentIndexChanged, this, &FrmLibrary::applyFilter);
    connect(m_filter, &DateRangeFilter::changed, this, &FrmLibrary::applyFilter);
    connect(m_trend, &TrendChart::measureChanged, this, &FrmLibrary::showTrend);
    connect(m_trend, &TrendChart::flightClicked, this, &FrmLibrary::selectFlight);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &FrmLibrary::markSelectedPoints);
    connect(m_table, &QTableView::doubleClicked, this,
            [this](const QModelIndex &index) { loadFlight(m_proxy->idAt(index.row())); });
    connect(m_session, &LibrarySession::waiting, this, [this](const QString &text) {
        m_waiting = text;
        showMessage();
    });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && isVisible())
            scheduleRefresh();
    });
}

bool FrmLibrary::openLibrary()
{
    LibrarySession::Opened opened;
    const QPointer<FrmLibrary> alive(this);
    try {
        opened = m_session->open();
    } catch (const LibraryError &error) {
        opened.why = error.message();
    }
    if (!alive)
        return false;
    m_readOnly = opened.readOnly;
    if (!opened.open) {
        m_problem = Sentence(QStringLiteral("The flight library %1 cannot be opened").arg(Where(m_folder)), opened.why);
        showMessage();
    } else if (opened.readOnly) {
        say(Sentence(QStringLiteral("The flight library %1 can only be read here").arg(Where(m_folder)), opened.why));
    }
    enableChanges();
    return opened.open;
}

void FrmLibrary::enableChanges()
{
    const bool changes = m_session->isOpen() && !m_readOnly && !importing();
    for (QPushButton *change : {m_import, m_remove, m_setAircraft})
        change->setEnabled(changes);
}

const std::vector<qint64> &FrmLibrary::trendIds() const
{
    return m_trend->pointIds();
}
bool FrmLibrary::event(QEvent *event)
{
    // The window is seen again: what another program did meanwhile shows.
    if (event->type() == QEvent::WindowActivate) {
        auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget());
        if (!frame || !frame->mdiArea() || frame->mdiArea()->activeSubWindow() == frame)
            scheduleRefresh();
    }
    return ChildWindow::event(event);
}

void FrmLibrary::fitSourceColumn()
{
    int others = 0;
    for (int c = 0; c < m_model->columnCount(); ++c)
        if (c != Col::ColSource)
            others += m_table->columnWidth(c);
    const int room = m_table->viewport()->width() - others;
    m_table->setColumnWidth(Col::ColSource, std::clamp(room, 100, 320));
}

void FrmLibrary::resizeEvent(QResizeEvent *event)
{
    ChildWindow::resizeEvent(event);
    fitSourceColumn();
}

void FrmLibrary::showEvent(QShowEvent *event)
{
    ChildWindow::showEvent(event);
    auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget());
    if (!frame || m_frameHooked)
        return;
    m_frameHooked = true;
    connect(frame, &QMdiSubWindow::windowStateChanged, this, [this](Qt::WindowStates before, Qt::WindowStates now) {
        if ((now & Qt::WindowActive) && !(before & Qt::WindowActive))
            scheduleRefresh();
    });
    // The table and the trend share the height, the table a little more.
    QTimer::singleShot(0, this, [this] {
        if (auto *split = findChild<QSplitter *>(QStringLiteral("splTableTrend"))) {
            const int height = split->height();
            split->setSizes({height * 11 / 20, height - height * 11 / 20});
        }
    });
    // A small main window: the window opens within its work area and lays out (or scrolls) there.
    if (QMdiArea *area = frame->mdiArea()) {
        const QSize room = area->viewport()->size();
        if (room.isValid() && (frame->width() > room.width() || frame->height() > room.height()))
            frame->resize(std::min(frame->width(), room.width()), std::min(frame->height(), room.height()));
    }
}

void FrmLibrary::scheduleRefresh()
{
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QTimer::singleShot(0, this, [this] {
        if (m_refreshPending)
            refresh();
    });
}

void FrmLibrary::say(const QString &text)
{
    m_note = text;
    showMessage();
}

void FrmLibrary::showMessage()
{
    QStringList lines;
    if (!m_importSummary.isEmpty())
        lines << m_importSummary;
    if (!m_note.isEmpty() && m_note != m_importSummary)
        lines << m_note;
    if (!m_problem.isEmpty())
        lines << m_problem;
    if (!m_waiting.isEmpty())
        lines << m_waiting;
    m_message->setText(lines.join(QLatin1Char('\n')));
}

void FrmLibrary::refresh()
{
    m_refreshPending = false;
    if (!m_session->isOpen() && !openLibrary())
        return;
    std::vector<LibraryFlight> flights;
    // While the list is being read, the window goes on: an import that ends meanwhile reads it
    // again, and that newer list is the one to keep.
    const quint64 reading = ++m_listReads;
    if (!guarded([&] { flights = m_session->call([](FlightLibrary &library) { return library.list(); }); }))
        return;
    if (reading != m_listReads)
        return;
    if (m_model->shows(flights)) {
        updateCount();
        return;
    }
    const qint64 selected = selectedId();
    m_table->setSortingEnabled(false);
    m_model->setFlights(std::move(flights));
    // Sorting on again sorts by the column and order the user chose.
    m_table->setSortingEnabled(true);
    m_table->resizeColumnsToContents();
    fitSourceColumn();
    // The filter starts out spanning every flight kept.
    const std::vector<LibraryFlight> &kept = m_model->flights();
    if (!kept.empty())
        m_filter->spanWhileOff(MomentOf(kept.front().first).date(), MomentOf(kept.back().first).date());
    updateAircraftChoices();
    if (selected)
        selectFlight(selected);
    updateCount();
    showTrend();
}

void FrmLibrary::updateCount()
{
    const int shown = m_proxy->rowCount();
    const int all = int(m_model->flights().size());
    m_count->setText(all == 0       ? QStringLiteral("No flight yet")
                     : shown == all ? CountText(all, QStringLiteral("flight"), QStringLiteral("flights"))
                                    : QStringLiteral("%1 of %2")
                                          .arg(CountText(shown),
                                               CountText(all, QStringLiteral("flight"), QStringLiteral("flights"))));
    m_count->setToolTip(m_folder);
}

void FrmLibrary::applyFilter()
{
    m_proxy->setRange(m_filter->range(), m_aircraft->chosen());
    // The rows kept are shown from the first (or the chosen flight's), not scrolled past.
    const int chosen = m_proxy->rowOf(selectedId());
    if (chosen >= 0)
        m_table->scrollTo(m_proxy->index(chosen, FlightListModel::ColFirst));
    else
        m_table->scrollToTop();
    m_reportCard->setEnabled(m_aircraft->registration().has_value());
    updateCount();
    showTrend();
}

void FrmLibrary::showTrend()
{
    const QPointer<FrmLibrary> alive(this);
    // The trend shows the flights the table shows.
    QSet<qint64> shown;
    for (int r = 0; r < m_proxy->rowCount(); ++r)
        shown.insert(m_proxy->idAt(r));
    std::vector<TrendPoint> points;
    if (m_session->isOpen() && !shown.isEmpty() && !guarded([&] {
            points = m_session->call(
                [measure = m_trend->measure()](FlightLibrary &library) { return library.trend(measure); });
        }) &&
        !alive)
        return;
    m_trend->showPoints(points, shown, m_model->flights().empty());
    markSelectedPoints();
}

void FrmLibrary::markSelectedPoints()
{
    m_trend->markFlights(selectedIds());
}

QList<qint64> FrmLibrary::selectedIds() const
{
    QList<qint64> ids;
    if (m_table->selectionModel())
        for (const QModelIndex &row : m_table->selectionModel()->selectedRows(Col::ColFirst))
            ids << row.data(FlightListModel::IdRole).toLongLong();
    return ids;
}

qint64 FrmLibrary::selectedId() const
{
    const QModelIndexList rows =
        m_table->selectionModel() ? m_table->selectionModel()->selectedRows(Col::ColFirst) : QModelIndexList();
    return rows.isEmpty() ? 0 : rows.first().data(FlightListModel::IdRole).toLongLong();
}

void FrmLibrary::selectFlight(qint64 id)
{
    const int row = m_proxy->rowOf(id);
    if (row >= 0) {
        m_table->selectRow(row);
        m_table->scrollTo(m_proxy->index(row, Col::ColFirst));
    }
    markSelectedPoints();
}

void FrmLibrary::loadFlight(qint64 id)
{
    if (!m_session->isOpen() || id == 0)
        return;
    std::optional<QString> path;
    std::optional<LibraryFlight> flight;
    if (!guarded([&] {
            std::tie(path, flight) =
                m_session->call([id, server = LibraryPlace(m_folder).isServer()](FlightLibrary &library) {
                    std::optional<QString> copy = library.copyPath(id);
                    // A server's copy lives as long as the connection that fetched it.
                    if (copy && server)
                        copy = KeptForTheSession(*copy);
                    return std::pair(copy, library.flight(id));
                });
        }))
        return;
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
    origin.aircraft = flight->aircraft;
    NoteFlightLoaded(m_context.state, *path, origin);
    m_context.status.setStatus(FlightFileStatusText(origin.name));
    emit flightLoaded();
}

void FrmLibrary::reportSelected()
{
    const QList<qint64> ids = selectedIds();
    if (!m_session->isOpen() || ids.isEmpty()) {
        say(QStringLiteral("Choose a flight in the table first."));
        return;
    }
    std::vector<ReportFlight> flights;
    if (!guarded([&] {
            flights = m_session->call([ids](FlightLibrary &library) { return LibraryReportFlights(library, ids); });
        }))
        return;
    if (flights.size() < size_t(ids.size())) {
        say(QStringLiteral("A flight chosen is no longer in the library (another program removed it); the list was "
                           "read again. Choose the flights once more."));
        refresh();
        return;
    }
    guarded([&] { SaveReportsCommand(m_context, this, flights); });
}

void FrmLibrary::reportCard()
{
    const std::optional<QString> aircraft = m_aircraft->registration();
    if (!aircraft) {
        say(QStringLiteral("Choose one aircraft in the Aircraft filter first: the report card is that aircraft's."));
        return;
    }
    // The card is read on the library's thread, as every other call of the window is.
    guarded([&] {
        SaveReportCardCommand(m_context, *aircraft, [session = m_session, aircraft = *aircraft](QString *error) {
            auto read = session->call([aircraft](FlightLibrary &library) {
                QString why;
                std::optional<ReportCardPage> card = ReadReportCard(library, aircraft, kReportCardFlights, &why);
                return std::make_pair(std::move(card), why);
            });
            *error = read.second;
            return std::move(read.first);
        });
    });
}

QString FrmLibrary::dialogFolder() const
{
    return SaveDialogFolder();
}

void FrmLibrary::rememberFolder(const QString &path)
{
    if (!path.isEmpty())
        SetLibraryDialogFolder(QDir::toNativeSeparators(QDir(path).absolutePath()));
}

void FrmLibrary::chooseImport()
{
    QMenu menu(this);
    QAction *files = menu.addAction(QStringLiteral("Flight Files..."));
    QAction *folder = menu.addAction(QStringLiteral("A Folder of Flights..."));
    QAction *chosen = menu.exec(m_import->mapToGlobal(QPoint(0, m_import->height())));
    QStringList paths;
    if (chosen == files) {
        paths = QFileDialog::getOpenFileNames(this, QStringLiteral("Import Flights"), dialogFolder(),
                                              QStringLiteral("Flight data (*.txt);;All files (*)"));
        if (!paths.isEmpty())
            rememberFolder(QFileInfo(paths.first()).absolutePath());
    } else if (chosen == folder) {
        const QString chosenFolder =
            QFileDialog::getExistingDirectory(this, QStringLiteral("Import a Folder of Flights"), dialogFolder());
        if (!chosenFolder.isEmpty()) {
            paths << chosenFolder;
            // The next dialog starts beside the folder imported, where its siblings are.
            QDir parent(chosenFolder);
            rememberFolder(parent.cdUp() ? parent.absolutePath() : chosenFolder);
        }
    }
    paths.removeAll(QString());
    if (paths.isEmpty())
        return;
    const std::optional<std::optional<QString>> aircraft = askAircraft(
        QStringLiteral("Import Flights"),
        QStringLiteral("Which aircraft are these flights from? A flight already in the library keeps its own."),
        importAircraft());
    if (!aircraft)
        return;
    if (*aircraft)
        KeepLastAircraft(**aircraft);
    importPaths(paths, *aircraft);
}

void FrmLibrary::importPaths(const QStringList &paths, const std::optional<QString> &aircraft)
{
    if (importing())
        return;
    if (!m_session->isOpen() && !openLibrary())
        return;
    m_importTask = std::make_unique<ImportTask>(m_folder, paths, aircraft);
    connect(m_importTask.get(), &ImportTask::progress, this, &FrmLibrary::importProgress);
    connect(m_importTask.get(), &ImportTask::bytesRead, this, &FrmLibrary::importBytesRead);
    m_filesDone = m_filesTotal = 0;
    m_bytesRead = m_bytesTotal = 0;
    connect(m_importTask.get(), &ImportTask::finished, this, &FrmLibrary::importDone);
    m_importTask->start();
    // A flight removed under a running import could come back as its copy is written again.
    enableChanges();
    m_cancel->setEnabled(true);
    m_progress->setRange(0, 0);
    m_progress->setVisible(true);
    m_importSummary.clear();
    say(QStringLiteral("Importing..."));
}

void FrmLibrary::cancelImport()
{
    if (m_importTask)
        m_importTask->stop();
    m_cancel->setEnabled(false);
    say(QStringLiteral("Stopping after the flight being read..."));
}

void FrmLibrary::importProgress(int done, int total)
{
    m_filesDone = done;
    m_filesTotal = total;
    showImportProgress();
}

void FrmLibrary::importBytesRead(qint64 read, qint64 total)
{
    // The reading threads' words may cross: the furthest stands.
    m_bytesRead = std::max(m_bytesRead, read);
    m_bytesTotal = total;
    showImportProgress();
}

// The bar follows the bytes, so that one large file moves it as it is read; the words say which
// file and how much of them.
void FrmLibrary::showImportProgress()
{
    if (!importing() || m_filesTotal == 0)
        return;
    constexpr int kSteps = 1000;
    m_progress->setRange(0, kSteps);
    m_progress->setValue(m_bytesTotal > 0 ? int(std::min<qint64>(m_bytesRead * kSteps / m_bytesTotal, kSteps))
                                          : m_filesDone * kSteps / m_filesTotal);
    m_progress->setFormat(QStringLiteral("%p%"));
    if (!m_cancel->isEnabled()) // stopping: said so already
        return;
    const QLocale locale;
    const auto megabytes = [&](qint64 bytes) { return locale.toString(double(bytes) / (1 << 20), 'f', 1); };
    say(QStringLiteral("Importing... %1 of %2 files in, %3 of %4 MB read.")
            .arg(CountText(m_filesDone), CountText(m_filesTotal), megabytes(m_bytesRead), megabytes(m_bytesTotal)));
}

void FrmLibrary::importDone()
{
    const ImportTask::Outcome &outcome = m_importTask->outcome();
    enableChanges();
    m_cancel->setEnabled(false);
    m_progress->setVisible(false);
    m_skipped = outcome.skipped;
    const int skipped = int(outcome.skipped.size());
    QString text = QStringLiteral("Import: %1 added, %2 already in the library, %3 skipped")
                       .arg(CountText(outcome.added), CountText(outcome.known), CountText(skipped));
    text += skipped > 0 ? QStringLiteral(" (Skipped Files... names each with its reason).") : QStringLiteral(".");
    if (outcome.stopped)
        text += QStringLiteral(" Cancelled; import again to go on.");
    if (!outcome.error.isEmpty())
        text += QStringLiteral(" Stopped: ") + outcome.error;
    m_importSummary = text;
    m_note.clear();
    m_showSkipped->setVisible(!m_skipped.empty());
    if (m_skippedDialog)
        m_skippedDialog->close();
    refresh();
    showMessage();
    emit importFinished();
}

void FrmLibrary::showCaption()
{
    setWindowTitle(QStringLiteral("Flight Library - ") + LibraryCaptionName(m_folder));
}

void FrmLibrary::chooseLocation()
{
    if (importing()) {
        say(QStringLiteral("An import is running: choose another library once it has ended (or Cancel it)."));
        return;
    }
    LibraryLocationDialog dialog(m_folder, this);
    if (dialog.exec() == QDialog::Accepted)
        setLocation(dialog.location());
}

void FrmLibrary::setLocation(const QString &location)
{
    if (importing())
        return;
    // Kept without its password, and the window opens what was kept, as every other user of the
    // library on this PC will.
    SetLibraryLocation(location);
    m_folder = LibraryLocation();
    showCaption();
    // Another library: nothing of the one before stays in view.
    m_session->setLocation(m_folder);
    m_problem.clear();
    m_model->clear();
    m_importSummary.clear();
    m_note.clear();
    m_skipped.clear();
    m_showSkipped->setVisible(false);
    updateAircraftChoices();
    updateCount();
    if (openLibrary())
        say(QStringLiteral("The flight library is now the one %1.").arg(Where(m_folder)));
    refresh();
    showTrend();
    emit locationChanged(m_folder);
}

void FrmLibrary::showSkipped()
{
    delete m_skippedDialog;
    m_skippedDialog = new SkippedFilesDialog(m_skipped, this);
    m_skippedDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_skippedDialog->show();
}

} // namespace korvel
