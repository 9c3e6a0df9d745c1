#include "gui/library/FrmLibrary.h"

#include "core/flight/FlightFields.h"
#include "core/flight/Statistics.h"
#include "core/flight/TimeText.h"
#include "core/settings/Settings.h"
#include "gui/common/ReportCommands.h"
#include "gui/common/Twips.h"
#include "gui/library/LibraryLocationDialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace korvel {

namespace {

enum Column {
    ColFirst,
    ColDuration,
    ColRecords,
    ColEgt,
    ColCht,
    ColEgtSpread,
    ColChtSpread,
    ColFindings,
    ColAircraft,
    ColSource,
    ColumnCount
};
constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kSortRole = Qt::UserRole + 2;
constexpr int kAircraftRole = Qt::UserRole + 3;   // the registration, empty for none
const QString kAllAircraft = QStringLiteral("*"); // the filter's choice that keeps every flight
constexpr double kPointReach = 10; // pixels from a point that still hover or click it

QDateTime MomentOf(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODate);
}

QStandardItem *Item(const QVariant &sortValue, const QString &text = QString(), const QString &tip = QString())
{
    auto *item = new QStandardItem;
    item->setData(text.isNull() ? sortValue : QVariant(text), Qt::DisplayRole);
    item->setData(sortValue, kSortRole);
    if (!tip.isEmpty())
        item->setData(tip, Qt::ToolTipRole);
    item->setEditable(false);
    return item;
}

QVariant Number(const std::optional<double> &v)
{
    return v ? QVariant(*v) : QVariant();
}

// A peak and the cylinder that reached it, read together: "412 (cyl 2)".
QStandardItem *PeakItem(const std::optional<double> &value, const std::optional<int> &cylinder)
{
    if (!value)
        return Item(QVariant());
    const QString number = QString::number(*value, 'g', 10);
    return cylinder ? Item(*value, QStringLiteral("%1 (cyl %2)").arg(number).arg(*cylinder),
                           QStringLiteral("cylinder %1").arg(*cylinder))
                    : Item(*value, number);
}

// A trend measure as the analysis view reads it: its name with the unit, and the factor from the
// number the instrument records to that unit.
struct MeasureView {
    QString raw; // the library's name for it
    QString label;
    double scale = 1;
    double least = 1; // the least span the chart shows, so that noise does not look violent
};

// The least span for a unit: what an owner would call a real change.
double LeastSpan(const QString &unit)
{
    if (unit == QStringLiteral("°F"))
        return 20;
    if (unit == QLatin1String("rpm"))
        return 100;
    if (unit == QLatin1String("psi"))
        return 5;
    if (unit == QLatin1String("inHg"))
        return 2;
    if (unit == QLatin1String("gal"))
        return 5;
    return 1;
}

const std::vector<MeasureView> &MeasureViews()
{
    static const std::vector<MeasureView> views = [] {
        std::vector<MeasureView> list = {
            {QStringLiteral("cht_max"), QStringLiteral("Peak CHT (°F)"), 1, 20},
            {QStringLiteral("egt_max"), QStringLiteral("Peak EGT (°F)"), 1, 20},
            {QStringLiteral("cht_spread_max"), QStringLiteral("CHT spread, largest (°F)"), 1, 20},
            {QStringLiteral("egt_spread_max"), QStringLiteral("EGT spread, largest (°F)"), 1, 20},
            {QStringLiteral("findings"), QStringLiteral("Findings"), 1, 5},
            {QStringLiteral("duration_s"), QStringLiteral("Duration (h)"), 1.0 / 3600, 0.25},
            {QStringLiteral("records"), QStringLiteral("Records"), 1, 100},
        };
        const auto addField = [&](int field, const QString &name, const QString &unit, double scale) {
            static const std::pair<FieldStatistic, const char *> stats[3] = {
                {FieldStatistic::Mean, "mean"}, {FieldStatistic::Max, "highest"}, {FieldStatistic::Min, "lowest"}};
            for (const auto &[stat, word] : stats) {
                const QString label = unit.isEmpty()
                                          ? QStringLiteral("%1, %2").arg(name, QLatin1String(word))
                                          : QStringLiteral("%1, %2 (%3)").arg(name, QLatin1String(word), unit);
                list.push_back({QString::fromLatin1(FieldMeasureKey(field, stat)), label, scale, LeastSpan(unit)});
            }
        };
        QList<int> named;
        for (const FieldInfo &f : NamedFields()) {
            addField(f.field, QString::fromUtf8(f.name), QString::fromUtf8(f.unit), f.scale);
            named << f.field;
        }
        for (int c = 1; c <= kCylinders; ++c)
            addField(kFirstChtField + c - 1, QStringLiteral("CHT %1").arg(c), QStringLiteral("°F"), 1);
        for (int c = 1; c <= kCylinders; ++c)
            addField(kFirstEgtField + c - 1, QStringLiteral("EGT %1").arg(c), QStringLiteral("°F"), 1);
        for (int field = 0; field < kFirstEgtField; ++field)
            if (!named.contains(field))
                addField(field, QStringLiteral("Field %1").arg(field), QString(), 1);
        // Only what the library can follow; anything it adds later still shows by its own name.
        const QStringList measures = FlightLibrary::Measures();
        std::erase_if(list, [&](const MeasureView &m) { return !measures.contains(m.raw); });
        for (const QString &m : measures)
            if (std::none_of(list.cbegin(), list.cend(), [&](const MeasureView &v) { return v.raw == m; }))
                list.push_back({m, m});
        return list;
    }();
    return views;
}

QString ValueText(double v)
{
    const double tenths = std::round(v * 10) / 10;
    return tenths == std::round(tenths) ? QString::number(qint64(std::llround(tenths)))
                                        : QString::number(tenths, 'f', 1);
}

// The span that shows the central values well: a value further out than three times the middle
// half's width (or the least span) beyond it, a wrong clock or a broken probe, is left beyond the
// edge, but only where it would squeeze the others into a quarter of the chart or less. The
// wheel still reaches it. The span is never less than the least one.
QCPRange CentralRange(std::vector<double> values, double least)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return Percentile(values, q); };
    const QCPRange all(values.front(), values.back());
    double q1 = at(0.25), q3 = at(0.75);
    if (q3 <= q1) {
        q1 = at(0.1);
        q3 = at(0.9);
    }
    const double reach = std::max(3 * (q3 - q1), least);
    const auto first = std::lower_bound(values.cbegin(), values.cend(), q1 - reach);
    const auto last = std::upper_bound(values.cbegin(), values.cend(), q3 + reach);
    QCPRange range(*first, *(last - 1));
    if (std::max(range.size(), least) * 4 > all.size())
        range = all;
    if (range.size() < least) {
        const double middle = range.center();
        range = QCPRange(middle - least / 2, middle + least / 2);
    }
    return range;
}

// A click into a date takes the whole year, month or day it hit, so that the digits typed next
// replace it: a full section takes no more digits, and a year could not be typed over.
class SectionOnClick : public QObject {
public:
    explicit SectionOnClick(QDateEdit *edit) : QObject(edit), m_edit(edit) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease)
            QTimer::singleShot(0, m_edit, [edit = m_edit] { edit->setSelectedSection(edit->currentSection()); });
        return false;
    }

private:
    QDateEdit *m_edit;
};

// Rows whose first record lies within the chosen days, when the filter is on, of the aircraft
// chosen.
class DateFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setRange(std::optional<std::pair<QDate, QDate>> range, const QString &aircraft)
    {
        m_range = range;
        m_aircraft = aircraft;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        if (m_aircraft != kAllAircraft &&
            sourceModel()->index(row, ColAircraft, parent).data(kAircraftRole).toString() != m_aircraft)
            return false;
        if (!m_range)
            return true;
        const QDate day = sourceModel()->index(row, ColFirst, parent).data(Qt::UserRole).toDate();
        return day >= m_range->first && day <= m_range->second;
    }

private:
    std::optional<std::pair<QDate, QDate>> m_range;
    QString m_aircraft = kAllAircraft;
};

// Why a registration was refused, as a sentence of its own.
QString Refusal(const Registration &reg)
{
    QString text = reg.reason;
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text.endsWith(QLatin1Char('.')) ? text : text + QLatin1Char('.');
}

// Asks which aircraft: the registrations offered first, any other typed; one that is not a
// registration is refused with its reason and the dialog stays.
class AircraftDialog : public QDialog {
public:
    AircraftDialog(QWidget *parent, const QString &title, const QString &question, const QStringList &offered,
                   const std::optional<QString> &initial)
        : QDialog(parent)
    {
        setObjectName(QStringLiteral("dlgAircraft"));
        setWindowTitle(title);
        auto *text = new QLabel(question, this);
        text->setWordWrap(true);
        m_choice = new QComboBox(this);
        m_choice->setObjectName(QStringLiteral("cboAircraftChoice"));
        m_choice->setEditable(true);
        m_choice->setInsertPolicy(QComboBox::NoInsert);
        m_choice->addItems(offered);
        m_choice->addItem(QStringLiteral("(none)"));
        m_choice->setCurrentText(initial.value_or(QStringLiteral("(none)")));
        m_choice->setMinimumContentsLength(16);
        m_reason = new QLabel(this);
        m_reason->setObjectName(QStringLiteral("lblAircraftReason"));
        m_reason->setWordWrap(true);
        auto *hint =
            new QLabel(QStringLiteral("A registration such as N123AB or G-ABCD; (none) for no aircraft."), this);
        hint->setEnabled(false);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        connect(buttons, &QDialogButtonBox::accepted, this, &AircraftDialog::check);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(text);
        layout->addWidget(m_choice);
        layout->addWidget(hint);
        layout->addWidget(m_reason);
        layout->addWidget(buttons);
    }
    std::optional<QString> aircraft() const { return m_aircraft; }

private:
    void check()
    {
        const QString typed = m_choice->currentText().trimmed();
        if (typed.isEmpty() || typed == QLatin1String("(none)")) {
            m_aircraft.reset();
            accept();
            return;
        }
        const Registration reg = FlightLibrary::CheckRegistration(typed);
        if (!reg) {
            m_reason->setText(Refusal(reg));
            adjustSize();
            return;
        }
        m_aircraft = reg.text;
        accept();
    }

    QComboBox *m_choice = nullptr;
    QLabel *m_reason = nullptr;
    std::optional<QString> m_aircraft;
};

// The import on the worker thread: its own connection to the library, a result a file.
class ImportJob : public QObject {
    Q_OBJECT
public:
    ImportJob(QString folder, QStringList paths, std::optional<QString> aircraft,
              std::shared_ptr<std::atomic<bool>> stop)
        : m_folder(std::move(folder)), m_paths(std::move(paths)), m_aircraft(std::move(aircraft)),
          m_stop(std::move(stop))
    {
    }
    void run()
    {
        int added = 0, known = 0, skipped = 0;
        QStringList skippedFiles, reasons;
        QString error;
        try {
            FlightLibrary library(m_folder);
            const QStringList files = FlightLibrary::CollectFiles(m_paths);
            emit progress(0, int(files.size()));
            int done = 0;
            library.importFiles(
                files, m_aircraft,
                [&](const ImportResult &r) {
                    (r.outcome == ImportResult::Added ? added : r.outcome == ImportResult::Known ? known : skipped)++;
                    if (r.outcome == ImportResult::Skipped) {
                        skippedFiles << r.file;
                        reasons << r.reason;
                    }
                    emit progress(++done, int(files.size()));
                    return true;
                },
                [this] { return bool(*m_stop); });
        } catch (const LibraryError &e) {
            error = e.message();
        } catch (const std::exception &e) {
            error = QString::fromLocal8Bit(e.what());
        }
        emit finished(added, known, skipped, error, skippedFiles, reasons);
    }
signals:
    void progress(int done, int total);
    void finished(int added, int known, int skipped, const QString &error, const QStringList &skippedFiles,
                  const QStringList &reasons);

private:
    QString m_folder;
    QStringList m_paths;
    std::optional<QString> m_aircraft;
    std::shared_ptr<std::atomic<bool>> m_stop;
};

// The same flights, as the table shows them: nothing to read again.
bool SameList(const std::vector<LibraryFlight> &a, const std::vector<LibraryFlight> &b)
{
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(), [](const LibraryFlight &x, const LibraryFlight &y) {
        return x.id == y.id && x.sha256 == y.sha256 && x.source == y.source && x.findings == y.findings &&
               x.first == y.first && x.aircraft == y.aircraft;
    });
}

// Where the library is, as a sentence names it: "in FOLDER" or "on the server HOST:PORT/DBNAME".
QString Where(const QString &location)
{
    return FlightLibrary::IsServer(location) ? QStringLiteral("on the ") + LibraryCaptionName(location)
                                             : QStringLiteral("in ") + location;
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

template <class F> bool FrmLibrary::guarded(F &&call)
{
    QString why;
    try {
        call();
        return true;
    } catch (const LibraryError &error) {
        why = error.message();
    } catch (const std::exception &error) {
        why = QString::fromLocal8Bit(error.what());
    }
    QString text = Sentence(QStringLiteral("The flight library %1 could not be used").arg(Where(m_folder)), why);
    say(text + QStringLiteral(" Refresh (F5) tries again."));
    // A connection to a server that failed does not come back by itself: the next use opens a new
    // one. What the window shows stays until then.
    if (FlightLibrary::IsServer(m_folder))
        m_library.reset();
    return false;
}

FrmLibrary::FrmLibrary(WindowContext context, QWidget *parent)
    : ChildWindow(parent), m_context(context), m_folder(LibraryLocation())
{
    setObjectName(QStringLiteral("FrmLibrary"));
    showCaption();

    // Everything sits on one page that scrolls when the window is made smaller than it needs.
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrLibrary"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *page = new QWidget(scroll);
    page->setMinimumSize(560, 340);
    scroll->setWidget(page);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    const auto button = [page](const char *name, const QString &text) {
        auto *b = new QPushButton(text, page);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    m_import = button("cmdImport", QStringLiteral("Import..."));
    m_cancel = button("cmdCancel", QStringLiteral("Cancel"));
    m_export = button("cmdExport", QStringLiteral("Export..."));
    m_remove = button("cmdRemove", QStringLiteral("Remove..."));
    m_report = button("cmdReport", QStringLiteral("Report..."));
    m_report->setToolTip(QStringLiteral("The selected flights' reports in one PDF, a page each"));
    m_reportCard = button("cmdReportCard", QStringLiteral("Report Card..."));
    m_reportCard->setToolTip(QStringLiteral("The report card of the aircraft chosen above the table"));
    m_reportCard->setEnabled(false);
    m_refresh = button("cmdRefresh", QStringLiteral("Refresh"));
    m_setAircraft = button("cmdSetAircraft", QStringLiteral("Set Aircraft..."));
    m_setAircraft->setToolTip(QStringLiteral("Give the selected flights to an aircraft, or take theirs away"));
    m_thisPc = button("cmdThisPcsAircraft", QStringLiteral("This PC's Aircraft..."));
    m_location = button("libraryButton", QStringLiteral("Library..."));
    m_location->setToolTip(QStringLiteral("The flight library this PC uses: a folder, or a server a fleet shares"));
    m_refresh->setToolTip(QStringLiteral("Read the library again (F5)"));
    m_cancel->setEnabled(false);
    m_progress = new QProgressBar(page);
    m_progress->setObjectName(QStringLiteral("progImport"));
    m_progress->setVisible(false);
    m_progress->setMaximumWidth(160);

    m_filter = new QCheckBox(QStringLiteral("Flights from"), page);
    m_filter->setObjectName(QStringLiteral("chkDateFilter"));
    m_from = new QDateEdit(QDate::currentDate().addYears(-1), page);
    m_from->setObjectName(QStringLiteral("dtFrom"));
    m_to = new QDateEdit(QDate::currentDate(), page);
    m_to->setObjectName(QStringLiteral("dtTo"));
    for (QDateEdit *edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        // A year typed digit by digit filters once it is whole, not at "2", "20" and "202".
        edit->setKeyboardTracking(false);
        edit->setDateRange(QDate(1900, 1, 1), QDate(9999, 12, 31));
        if (QLineEdit *line = edit->findChild<QLineEdit *>())
            line->installEventFilter(new SectionOnClick(edit));
    }
    m_count = new QLabel(page);
    m_count->setObjectName(QStringLiteral("lblCount"));
    m_aircraft = new QComboBox(page);
    m_aircraft->setObjectName(QStringLiteral("cboAircraft"));
    m_aircraft->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_aircraft->addItem(QStringLiteral("All aircraft"), kAllAircraft);

    m_model = new QStandardItemModel(0, ColumnCount, this);
    m_model->setHorizontalHeaderLabels({QStringLiteral("First record"), QStringLiteral("Duration"),
                                        QStringLiteral("Records"), QStringLiteral("Peak EGT (°F)"),
                                        QStringLiteral("Peak CHT (°F)"), QStringLiteral("EGT spread (°F)"),
                                        QStringLiteral("CHT spread (°F)"), QStringLiteral("Findings"),
                                        QStringLiteral("Aircraft"), QStringLiteral("Source")});
    m_model->horizontalHeaderItem(ColEgtSpread)
        ->setToolTip(QStringLiteral("The largest difference between the hottest and the coolest cylinder"));
    m_model->horizontalHeaderItem(ColChtSpread)
        ->setToolTip(QStringLiteral("The largest difference between the hottest and the coolest cylinder"));
    m_proxy = new DateFilter(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setSortRole(kSortRole);
    m_table = new QTableView(page);
    m_table->setObjectName(QStringLiteral("tblFlights"));
    m_table->setModel(m_proxy);
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(ColFirst, Qt::AscendingOrder);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setAlternatingRowColors(true);
    m_table->setMinimumHeight(100);
    // One line a flight; a long source path keeps its file name in view.
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideLeft);

    m_measure = new QComboBox(page);
    m_measure->setObjectName(QStringLiteral("cboMeasure"));
    for (const MeasureView &m : MeasureViews())
        m_measure->addItem(m.label, m.raw);
    m_measure->setCurrentIndex(0);
    m_measure->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_measure->setMaxVisibleItems(20);
    m_resetView = button("cmdTrendReset", QStringLiteral("Reset View"));
    m_resetView->setToolTip(QStringLiteral("The first view again: the wheel zooms, dragging moves the chart"));

    m_plot = new QCustomPlot(page);
    m_plot->setObjectName(QStringLiteral("plotTrend"));
    m_plot->setMinimumHeight(110);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd"));
    m_plot->xAxis->setTicker(ticker);
    m_plot->yAxis->ticker()->setTickCount(4);
    QCPGraph *points = m_plot->addGraph();
    points->setLineStyle(QCPGraph::lsNone);
    points->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(0x1f, 0x5f, 0xbf), 7));
    points->setSelectable(QCP::stNone);
    // The selected flight's point: a ring around it.
    QCPGraph *chosen = m_plot->addGraph();
    chosen->setLineStyle(QCPGraph::lsNone);
    chosen->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(Qt::red, 2), Qt::NoBrush, 14));
    chosen->setSelectable(QCP::stNone);
    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    m_plotNote = new QCPItemText(m_plot);
    m_plotNote->setObjectName(QStringLiteral("lblTrendNote"));
    m_plotNote->position->setType(QCPItemPosition::ptAxisRectRatio);
    m_plotNote->position->setCoords(0.5, 0.5);
    m_plotNote->setPositionAlignment(Qt::AlignCenter);
    m_plotNote->setColor(palette().color(QPalette::PlaceholderText));
    m_outsideNote = new QLabel(page);
    m_outsideNote->setObjectName(QStringLiteral("lblTrendOutside"));
    m_outsideNote->setVisible(false);

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
    filters->addWidget(m_from);
    filters->addWidget(new QLabel(QStringLiteral("to"), page));
    filters->addWidget(m_to);
    filters->addSpacing(12);
    filters->addWidget(new QLabel(QStringLiteral("Aircraft"), page));
    filters->addWidget(m_aircraft);
    filters->addStretch();
    filters->addWidget(m_count);
    auto *trendBar = new QHBoxLayout;
    trendBar->addWidget(new QLabel(QStringLiteral("Trend of"), page));
    trendBar->addWidget(m_measure);
    trendBar->addStretch();
    trendBar->addWidget(m_outsideNote);
    trendBar->addWidget(m_resetView);
    auto *trend = new QWidget(page);
    auto *trendLayout = new QVBoxLayout(trend);
    trendLayout->setContentsMargins(0, 0, 0, 0);
    trendLayout->addLayout(trendBar);
    trendLayout->addWidget(m_plot);
    auto *split = new QSplitter(Qt::Vertical, page);
    split->setObjectName(QStringLiteral("splTableTrend"));
    split->addWidget(m_table);
    split->addWidget(trend);
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
    connect(m_resetView, &QPushButton::clicked, this, &FrmLibrary::resetTrendView);
    connect(m_filter, &QCheckBox::toggled, this, &FrmLibrary::applyFilter);
    connect(m_from, &QDateEdit::dateChanged, this, &FrmLibrary::userChangedDate);
    connect(m_to, &QDateEdit::dateChanged, this, &FrmLibrary::userChangedDate);
    connect(m_measure, &QComboBox::currentIndexChanged, this, &FrmLibrary::showTrend);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &FrmLibrary::markSelectedPoint);
    connect(m_table, &QTableView::doubleClicked, this, [this](const QModelIndex &index) {
        const qint64 id = index.siblingAtColumn(ColFirst).data(kIdRole).toLongLong();
        guarded([&] { loadFlight(id); });
    });
    connect(m_plot, &QCustomPlot::mousePress, this, [this](QMouseEvent *event) { m_pressedAt = event->position(); });
    connect(m_plot, &QCustomPlot::mouseRelease, this, &FrmLibrary::trendMouseRelease);
    connect(m_plot, &QCustomPlot::mouseMove, this, &FrmLibrary::trendMouseMove);
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && isVisible())
            scheduleRefresh();
    });

    showThisPcsAircraft();
    SetOuterSize(this, 16500, 11400);
    openLibrary();
    refresh();
    showTrend();
}

FrmLibrary::~FrmLibrary()
{
    if (m_worker) {
        *m_stop = true;
        m_worker->wait();
        delete m_worker;
    }
}

bool FrmLibrary::openLibrary()
{
    QString why;
    try {
        m_library = std::make_unique<FlightLibrary>(m_folder);
    } catch (const LibraryError &error) {
        why = error.message();
    } catch (const std::exception &error) {
        why = QString::fromLocal8Bit(error.what());
    }
    // A library this user may only read is still listed, trended and exported.
    if (!m_library && FlightLibrary::Exists(m_folder)) {
        try {
            m_library = std::make_unique<FlightLibrary>(m_folder, FlightLibrary::Opening::Existing);
        } catch (const std::exception &) {
            m_library.reset();
        }
    }
    const bool changes = m_library && !m_library->readOnly();
    if (!m_library)
        say(Sentence(QStringLiteral("The flight library %1 cannot be opened").arg(Where(m_folder)), why));
    else if (!changes)
        say(Sentence(QStringLiteral("The flight library %1 can only be read here").arg(Where(m_folder)), why));
    for (QPushButton *change : {m_import, m_remove, m_setAircraft})
        change->setEnabled(changes && !m_importing);
    return bool(m_library);
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
    m_message->setText(lines.join(QLatin1Char('\n')));
}

void FrmLibrary::refresh()
{
    m_refreshPending = false;
    if (!m_library && !openLibrary())
        return;
    std::vector<LibraryFlight> flights;
    if (!guarded([&] { flights = m_library->list(); }))
        return;
    if (m_listed && SameList(flights, m_flights)) {
        updateCount();
        return;
    }
    m_listed = true;
    const qint64 selected = selectedId();
    m_flights = std::move(flights);
    m_table->setSortingEnabled(false);
    m_model->removeRows(0, m_model->rowCount());
    for (const LibraryFlight &f : m_flights) {
        const QDateTime first = MomentOf(f.first);
        QList<QStandardItem *> row;
        const QString when = MomentText(first.date(), first.time());
        QStandardItem *whenItem = Item(when, when, f.sha256);
        whenItem->setData(f.id, kIdRole);
        whenItem->setData(first.date(), Qt::UserRole);
        row << whenItem;
        const qint64 s = f.durationSeconds.value_or(0);
        row << Item(f.durationSeconds ? QVariant(s) : QVariant(),
                    f.durationSeconds ? DurationText(s) : QString());
        row << Item(f.records);
        row << PeakItem(f.egtMax, f.egtCylinder) << PeakItem(f.chtMax, f.chtCylinder);
        row << Item(Number(f.egtSpreadMax)) << Item(Number(f.chtSpreadMax)) << Item(f.findings);
        QStandardItem *aircraft = Item(f.aircraft.value_or(QString()));
        aircraft->setData(f.aircraft.value_or(QString()), kAircraftRole);
        row << aircraft << Item(f.source, f.source, f.source);
        m_model->appendRow(row);
    }
    // Sorting on again sorts by the column and order the user chose.
    m_table->setSortingEnabled(true);
    m_table->resizeColumnsToContents();
    m_table->setColumnWidth(ColSource, std::min(m_table->columnWidth(ColSource), 320));
    // The filter starts out spanning every flight kept.
    if (!m_filter->isChecked() && !m_flights.empty()) {
        m_settingDates = true;
        m_from->setDate(MomentOf(m_flights.front().first).date());
        m_to->setDate(MomentOf(m_flights.back().first).date());
        m_settingDates = false;
    }
    updateAircraftChoices();
    if (selected)
        selectFlight(selected);
    updateCount();
    showTrend();
}

void FrmLibrary::updateCount()
{
    const int shown = m_proxy->rowCount();
    const int all = int(m_flights.size());
    m_count->setText(all == 0       ? QStringLiteral("No flight yet")
                     : shown == all ? QStringLiteral("%1 flights").arg(all)
                                    : QStringLiteral("%1 of %2 flights").arg(shown).arg(all));
    m_count->setToolTip(m_folder);
}

void FrmLibrary::userChangedDate()
{
    if (m_settingDates)
        return;
    // Choosing a day means filtering by it.
    if (!m_filter->isChecked())
        m_filter->setChecked(true); // applies the filter
    else
        applyFilter();
}

void FrmLibrary::applyFilter()
{
    auto *filter = static_cast<DateFilter *>(m_proxy);
    const QString aircraft = m_aircraft->currentIndex() < 0 ? kAllAircraft : m_aircraft->currentData().toString();
    filter->setRange(m_filter->isChecked() ? std::optional(std::pair(m_from->date(), m_to->date())) : std::nullopt,
                     aircraft);
    m_reportCard->setEnabled(aircraft != kAllAircraft && !aircraft.isEmpty());
    updateCount();
    showTrend();
}

void FrmLibrary::showTrend()
{
    const int choice = std::max(0, m_measure->currentIndex());
    const MeasureView &measure = MeasureViews()[size_t(choice)];
    // The trend shows the flights the table shows.
    QSet<qint64> shown;
    for (int r = 0; r < m_proxy->rowCount(); ++r)
        shown.insert(m_proxy->index(r, ColFirst).data(kIdRole).toLongLong());
    struct Point {
        double x, y;
        qint64 id;
    };
    std::vector<Point> drawn;
    bool anyShown = false;
    if (m_library && !shown.isEmpty()) {
        std::vector<TrendPoint> points;
        if (guarded([&] { points = m_library->trend(measure.raw); })) {
            for (const TrendPoint &p : points) {
                if (!shown.contains(p.id))
                    continue;
                anyShown = true;
                if (p.value && std::isfinite(*p.value))
                    drawn.push_back({double(MomentOf(p.first).toSecsSinceEpoch()), *p.value * measure.scale, p.id});
            }
        }
    }
    // The graph keeps its points by time; the ids keep that same order, so a point's index names
    // its flight.
    std::stable_sort(drawn.begin(), drawn.end(), [](const Point &a, const Point &b) { return a.x < b.x; });
    QVector<double> x, y;
    m_pointIds.clear();
    for (const Point &p : drawn) {
        x << p.x;
        y << p.y;
        m_pointIds.push_back(p.id);
    }
    m_plot->graph(0)->setData(x, y, true);
    m_plot->yAxis->setLabel(measure.label);
    m_plotNote->setVisible(drawn.empty());
    m_plot->yAxis->setTickLabels(!drawn.empty());
    if (drawn.empty()) {
        // Nothing to draw: the last month up to today, and a word on why the chart is empty.
        m_plotNote->setText(m_flights.empty() ? QStringLiteral("No flight in the library yet: Import... adds them")
                            : !anyShown       ? QStringLiteral("No flight in the days chosen")
                                        : QStringLiteral("No flight shown has a value for %1").arg(measure.label));
        m_outsideNote->setVisible(false);
        const double today = double(QDateTime(QDate::currentDate().addDays(1), QTime(0, 0)).toSecsSinceEpoch());
        m_plot->xAxis->setRange(today - 31 * 86400.0, today);
        m_plot->yAxis->setRange(0, 1);
        markSelectedPoint();
        return;
    }
    resetTrendView();
    markSelectedPoint();
}

void FrmLibrary::resetTrendView()
{
    const QSharedPointer<QCPGraphDataContainer> data = m_plot->graph(0)->data();
    if (data->isEmpty()) {
        m_plot->replot();
        return;
    }
    std::vector<double> xs, ys;
    for (auto it = data->constBegin(); it != data->constEnd(); ++it) {
        xs.push_back(it->key);
        ys.push_back(it->value);
    }
    const MeasureView &measure = MeasureViews()[size_t(std::max(0, m_measure->currentIndex()))];
    const QCPRange xr = CentralRange(xs, 7 * 86400.0), yr = CentralRange(ys, measure.least);
    int outside = 0;
    for (size_t k = 0; k < xs.size(); ++k)
        outside += !xr.contains(xs[k]) || !yr.contains(ys[k]);
    const double pad = xr.size() * 0.04;
    m_plot->xAxis->setRange(xr.lower - pad, xr.upper + pad);
    const double ypad = yr.size() * 0.1;
    m_plot->yAxis->setRange(yr.lower - ypad, yr.upper + ypad);
    m_outsideNote->setVisible(outside > 0);
    m_outsideNote->setText(outside == 1
                               ? QStringLiteral("1 flight beyond the view (the wheel zooms out)")
                               : QStringLiteral("%1 flights beyond the view (the wheel zooms out)").arg(outside));
    m_plot->replot();
}

void FrmLibrary::markSelectedPoint()
{
    const QList<qint64> ids = selectedIds();
    QVector<double> x, y;
    const QSharedPointer<QCPGraphDataContainer> data = m_plot->graph(0)->data();
    for (size_t k = 0; k < m_pointIds.size(); ++k)
        if (ids.contains(m_pointIds[k]) && int(k) < data->size()) {
            x << data->at(int(k))->key;
            y << data->at(int(k))->value;
        }
    m_plot->graph(1)->setData(x, y, true);
    m_plot->replot();
}

int FrmLibrary::pointAt(const QPointF &pixel) const
{
    const QSharedPointer<QCPGraphDataContainer> data = m_plot->graph(0)->data();
    int best = -1;
    double bestDistance = kPointReach * kPointReach;
    for (int k = 0; k < data->size(); ++k) {
        const double dx = m_plot->xAxis->coordToPixel(data->at(k)->key) - pixel.x();
        const double dy = m_plot->yAxis->coordToPixel(data->at(k)->value) - pixel.y();
        if (dx * dx + dy * dy <= bestDistance) {
            bestDistance = dx * dx + dy * dy;
            best = k;
        }
    }
    return best < int(m_pointIds.size()) ? best : -1;
}

void FrmLibrary::trendMouseMove(QMouseEvent *event)
{
    if (event->buttons() != Qt::NoButton)
        return;
    const int k = pointAt(event->position());
    if (k < 0) {
        QToolTip::hideText();
        return;
    }
    const auto point = m_plot->graph(0)->data()->at(k);
    const QDateTime when = QDateTime::fromSecsSinceEpoch(qint64(point->key));
    const QString text =
        QStringLiteral("%1\n%2: %3")
            .arg(when.toString(QStringLiteral("yyyy-MM-dd HH:mm")), m_plot->yAxis->label(), ValueText(point->value));
    QToolTip::showText(event->globalPosition().toPoint(), text, m_plot);
}

void FrmLibrary::trendMouseRelease(QMouseEvent *event)
{
    // A click, not the end of a drag: the flight whose point it hit is chosen in the table.
    if ((event->position() - m_pressedAt).manhattanLength() > 4 || event->button() != Qt::LeftButton)
        return;
    const int k = pointAt(event->position());
    if (k >= 0)
        selectFlight(m_pointIds[size_t(k)]);
}

QList<qint64> FrmLibrary::selectedIds() const
{
    QList<qint64> ids;
    if (m_table->selectionModel())
        for (const QModelIndex &row : m_table->selectionModel()->selectedRows(ColFirst))
            ids << row.data(kIdRole).toLongLong();
    return ids;
}

qint64 FrmLibrary::selectedId() const
{
    const QModelIndexList rows =
        m_table->selectionModel() ? m_table->selectionModel()->selectedRows(ColFirst) : QModelIndexList();
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
    markSelectedPoint();
}

void FrmLibrary::loadFlight(qint64 id)
{
    if (!m_library || id == 0)
        return;
    std::optional<QString> path;
    std::optional<LibraryFlight> flight;
    if (!guarded([&] {
            path = m_library->copyPath(id);
            flight = m_library->flight(id);
        }))
        return;
    if (!path || !flight)
        return;
    if (FlightLibrary::IsServer(m_folder))
        path = KeptForTheSession(*path);
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
    emit flightLoaded();
}

std::optional<LibraryFlight> FrmLibrary::chosenFlight()
{
    const qint64 id = selectedId();
    if (!m_library || id == 0) {
        say(QStringLiteral("Choose a flight in the table first."));
        return std::nullopt;
    }
    std::optional<LibraryFlight> flight;
    if (!guarded([&] { flight = m_library->flight(id); }))
        return std::nullopt;
    if (!flight) {
        say(QStringLiteral("That flight is no longer in the library (another program removed it); the list was read "
                           "again."));
        refresh();
    }
    return flight;
}

void FrmLibrary::exportSelected()
{
    const std::optional<LibraryFlight> flight = chosenFlight();
    if (!flight)
        return;
    const qint64 id = flight->id;
    FileDialogRequest request{QStringLiteral("Export Flight"), QStringLiteral("*.txt"), QStringLiteral("txt"),
                              QStringLiteral("Flight %1.txt").arg(flight->first.left(10)), dialogFolder()};
    request.save = true;
    const std::optional<QString> name = m_context.files.chooseFile(request);
    if (!name)
        return;
    rememberFolder(QFileInfo(*name).absolutePath());
    bool written = false;
    if (!guarded([&] { written = m_library->exportFlight(id, *name); }))
        return;
    if (written)
        say(QStringLiteral("Flight of %1 written to %2")
                .arg(QString(flight->first).replace(QLatin1Char('T'), QLatin1Char(' ')), *name));
    else
        say(QStringLiteral("That flight is no longer in the library (another program removed it); nothing was "
                           "written."));
}

void FrmLibrary::reportSelected()
{
    const QList<qint64> ids = selectedIds();
    if (!m_library || ids.isEmpty()) {
        say(QStringLiteral("Choose a flight in the table first."));
        return;
    }
    std::vector<ReportFlight> flights;
    if (!guarded([&] { flights = LibraryReportFlights(*m_library, ids); }))
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
    const QString aircraft = m_aircraft->currentData().toString();
    if (aircraft == kAllAircraft || aircraft.isEmpty())
        return;
    guarded([&] { SaveReportCardCommand(m_context, m_folder, aircraft); });
}

void FrmLibrary::removeSelected()
{
    if (importing()) {
        say(QStringLiteral("An import is running: remove the flight once it has ended (or Cancel it)."));
        return;
    }
    const std::optional<LibraryFlight> flight = chosenFlight();
    if (!flight)
        return;
    const qint64 id = flight->id;
    const QString when = QString(flight->first).replace(QLatin1Char('T'), QLatin1Char(' '));
    const QString text = QStringLiteral("Remove the flight of %1 (%2 records) from the library? Its copy in the "
                                        "library is deleted; the file it came from is not touched.")
                             .arg(when)
                             .arg(flight->records);
    if (m_context.prompter.showMessage(AppTitle(), text, MessageIcon::Question, MessageButtons::OkCancel) !=
        MessageAnswer::Ok)
        return;
    bool removed = false;
    if (guarded([&] { removed = m_library->remove(id); }))
        say(removed ? QStringLiteral("The flight of %1 was removed from the library.").arg(when)
                    : QStringLiteral("The flight of %1 was no longer in the library.").arg(when));
    refresh();
}

QString FrmLibrary::dialogFolder() const
{
    const QString last = LibraryDialogFolder();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
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
        aircraftOffered().value(0).isEmpty() ? std::nullopt : std::optional(aircraftOffered().value(0)));
    if (!aircraft)
        return;
    if (*aircraft)
        SetLastImportAircraft(**aircraft);
    importPaths(paths, *aircraft);
}

void FrmLibrary::importPaths(const QStringList &paths, const std::optional<QString> &aircraft)
{
    if (importing())
        return;
    if (!m_library && !openLibrary())
        return;
    m_stop = std::make_shared<std::atomic<bool>>(false);
    auto *job = new ImportJob(m_folder, paths, aircraft, m_stop);
    m_worker = QThread::create([job] { job->run(); });
    connect(job, &ImportJob::progress, this, &FrmLibrary::importProgress);
    connect(job, &ImportJob::finished, this, &FrmLibrary::importDone);
    connect(m_worker, &QThread::finished, job, &QObject::deleteLater);
    connect(m_worker, &QThread::finished, m_worker, &QObject::deleteLater);
    m_importing = true;
    m_import->setEnabled(false);
    m_setAircraft->setEnabled(false);
    // A flight removed under a running import could come back as its copy is written again.
    m_remove->setEnabled(false);
    m_cancel->setEnabled(true);
    m_progress->setRange(0, 0);
    m_progress->setVisible(true);
    m_importSummary.clear();
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

void FrmLibrary::importDone(int added, int known, int skipped, const QString &error, const QStringList &skippedFiles,
                            const QStringList &reasons)
{
    m_importing = false; // the thread deletes itself as it ends
    m_import->setEnabled(true);
    m_remove->setEnabled(true);
    m_setAircraft->setEnabled(true);
    m_cancel->setEnabled(false);
    m_progress->setVisible(false);
    m_skipped.clear();
    for (qsizetype k = 0; k < skippedFiles.size(); ++k)
        m_skipped.push_back({skippedFiles[k], k < reasons.size() ? reasons[k] : QString()});
    QString text =
        QStringLiteral("Import: %1 added, %2 already in the library, %3 skipped").arg(added).arg(known).arg(skipped);
    text += skipped > 0 ? QStringLiteral(" (Skipped Files... names each with its reason).") : QStringLiteral(".");
    if (m_stop && *m_stop)
        text += QStringLiteral(" Cancelled; import again to go on.");
    if (!error.isEmpty())
        text += QStringLiteral(" Stopped: ") + error;
    m_importSummary = text;
    m_note.clear();
    m_showSkipped->setVisible(!m_skipped.empty());
    if (m_skippedDialog)
        m_skippedDialog->close();
    refresh();
    showMessage();
    emit importFinished();
}

QStringList FrmLibrary::aircraftOffered() const
{
    QStringList offered;
    const Registration last =
        FlightLibrary::CheckRegistration(LastImportAircraft());
    if (last)
        offered << *last.text;
    for (int k = 0; k < m_aircraft->count(); ++k) {
        const QString reg = m_aircraft->itemData(k).toString();
        if (reg != kAllAircraft && !reg.isEmpty() && !offered.contains(reg))
            offered << reg;
    }
    return offered;
}

std::optional<std::optional<QString>> FrmLibrary::askAircraft(const QString &title, const QString &question,
                                                              const std::optional<QString> &initial)
{
    AircraftDialog dialog(this, title, question, aircraftOffered(), initial);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.aircraft();
}

void FrmLibrary::askSetAircraft()
{
    const QList<qint64> ids = selectedIds();
    if (ids.isEmpty()) {
        say(QStringLiteral("Choose the flights in the table first."));
        return;
    }
    std::optional<QString> current;
    for (const LibraryFlight &f : m_flights)
        if (f.id == ids.first())
            current = f.aircraft;
    const auto aircraft = askAircraft(
        QStringLiteral("Set Aircraft"),
        ids.size() == 1 ? QStringLiteral("Which aircraft is this flight from?")
                        : QStringLiteral("Which aircraft are these %1 flights from?").arg(ids.size()),
        current ? current : (aircraftOffered().isEmpty() ? std::nullopt : std::optional(aircraftOffered().first())));
    if (aircraft)
        setAircraftOfSelection(aircraft->value_or(QString()));
}

bool FrmLibrary::setAircraftOfSelection(const QString &text)
{
    const QList<qint64> ids = selectedIds();
    if (!m_library || ids.isEmpty()) {
        say(QStringLiteral("Choose the flights in the table first."));
        return false;
    }
    std::optional<QString> aircraft;
    if (!text.trimmed().isEmpty()) {
        const Registration reg = FlightLibrary::CheckRegistration(text);
        if (!reg) {
            say(Refusal(reg) + QStringLiteral(" Nothing was changed."));
            return false;
        }
        aircraft = reg.text;
        SetLastImportAircraft(*aircraft);
    }
    int changed = 0;
    if (!guarded([&] { changed = m_library->assign(ids, aircraft); }))
        return false;
    const QString flights = changed == 1 ? QStringLiteral("1 flight") : QStringLiteral("%1 flights").arg(changed);
    say(aircraft ? QStringLiteral("%1 given to %2.").arg(flights, *aircraft)
                 : QStringLiteral("%1 without an aircraft now.").arg(flights));
    refresh();
    // The flights stay chosen, wherever the new aircraft sorts them.
    m_table->clearSelection();
    for (int r = 0; r < m_proxy->rowCount(); ++r)
        if (ids.contains(m_proxy->index(r, ColFirst).data(kIdRole).toLongLong()))
            m_table->selectionModel()->select(m_proxy->index(r, ColFirst),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    return changed > 0;
}

void FrmLibrary::askThisPcsAircraft()
{
    const auto aircraft = askAircraft(QStringLiteral("This PC's Aircraft"),
                                      QStringLiteral("Which aircraft are the flights downloaded on this PC from? "
                                                     "They are given it as they are added to the library."),
                                      ThisPcsAircraft());
    if (aircraft)
        setThisPcsAircraft(aircraft->value_or(QString()));
}

bool FrmLibrary::setThisPcsAircraft(const QString &text)
{
    std::optional<QString> aircraft;
    if (!text.trimmed().isEmpty()) {
        const Registration reg = FlightLibrary::CheckRegistration(text);
        if (!reg) {
            say(Refusal(reg) + QStringLiteral(" This PC's aircraft stays as it was."));
            return false;
        }
        aircraft = reg.text;
    }
    SetThisPcsAircraft(aircraft);
    showThisPcsAircraft();
    say(aircraft ? QStringLiteral("Flights downloaded on this PC are given %1.").arg(*aircraft)
                 : QStringLiteral("Flights downloaded on this PC are given no aircraft."));
    return true;
}

void FrmLibrary::showThisPcsAircraft()
{
    const std::optional<QString> aircraft = ThisPcsAircraft();
    m_thisPc->setToolTip(aircraft ? QStringLiteral("Flights downloaded on this PC are given %1").arg(*aircraft)
                                  : QStringLiteral("Flights downloaded on this PC are given no aircraft"));
}

// The filter offers every aircraft of the library, and the flights with none when there are some;
// the choice made stays while it is there.
void FrmLibrary::updateAircraftChoices()
{
    const QString chosen = m_aircraft->currentIndex() < 0 ? kAllAircraft : m_aircraft->currentData().toString();
    QStringList registrations;
    bool someWithout = false;
    for (const LibraryFlight &f : m_flights) {
        if (f.aircraft && !registrations.contains(*f.aircraft))
            registrations << *f.aircraft;
        someWithout |= !f.aircraft;
    }
    registrations.sort();
    const QSignalBlocker quiet(m_aircraft);
    m_aircraft->clear();
    m_aircraft->addItem(QStringLiteral("All aircraft"), kAllAircraft);
    for (const QString &reg : registrations)
        m_aircraft->addItem(reg, reg);
    if (someWithout && !registrations.isEmpty())
        m_aircraft->addItem(QStringLiteral("No aircraft given"), QString());
    const int at = m_aircraft->findData(chosen);
    m_aircraft->setCurrentIndex(at < 0 ? 0 : at);
    m_aircraft->setEnabled(!registrations.isEmpty());
    if (at < 0 && chosen != kAllAircraft)
        applyFilter();
    const QString now = m_aircraft->currentData().toString();
    m_reportCard->setEnabled(now != kAllAircraft && !now.isEmpty());
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
    m_library.reset();
    m_flights.clear();
    m_listed = false;
    m_model->removeRows(0, m_model->rowCount());
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
    if (m_skippedDialog)
        delete m_skippedDialog;
    auto *dialog = new QDialog(this);
    m_skippedDialog = dialog;
    dialog->setObjectName(QStringLiteral("dlgSkipped"));
    dialog->setWindowTitle(QStringLiteral("Skipped Files"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto *table = new QTableWidget(int(m_skipped.size()), 2, dialog);
    table->setObjectName(QStringLiteral("tblSkipped"));
    table->setHorizontalHeaderLabels({QStringLiteral("File"), QStringLiteral("Reason")});
    table->verticalHeader()->setVisible(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideLeft);
    for (size_t k = 0; k < m_skipped.size(); ++k) {
        auto *file = new QTableWidgetItem(QDir::toNativeSeparators(m_skipped[k].file));
        file->setToolTip(file->text());
        auto *reason = new QTableWidgetItem(m_skipped[k].reason);
        reason->setToolTip(m_skipped[k].reason);
        table->setItem(int(k), 0, file);
        table->setItem(int(k), 1, reason);
    }
    table->resizeColumnsToContents();
    table->setColumnWidth(0, std::min(table->columnWidth(0), 380));
    table->horizontalHeader()->setStretchLastSection(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(QStringLiteral("The last import left out these files:"), dialog));
    layout->addWidget(table);
    layout->addWidget(buttons);
    dialog->resize(760, 320);
    dialog->show();
}


} // namespace korvel

#include "FrmLibrary.moc"
