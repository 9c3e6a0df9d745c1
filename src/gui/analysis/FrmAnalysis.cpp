#include "gui/analysis/FrmAnalysis.h"

#include "core/flight/CountText.h"
#include "core/flight/TimeText.h"
#include "core/settings/Settings.h"
#include "gui/common/ReportCommands.h"
#include "gui/graphs/FrmSummary.h"

#include <QAbstractListModel>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace korvel {

namespace {

const QString Section = QStringLiteral("Analysis");

QString ChoiceKey(int chart, int axis)
{
    return QStringLiteral("Chart%1%2").arg(chart + 1).arg(axis == 0 ? QStringLiteral("Left") : QStringLiteral("Right"));
}

// The stack most analysts start from: EGTs above CHTs above the engine's own figures.
const ChartChoice DefaultCharts[AnalysisCharts::kMaxCharts] = {
    {Quantity::Egt, Quantity::None}, {Quantity::Cht, Quantity::None}, {Quantity::Rpm, Quantity::Manifold}};

// Seconds on the axis as the owner reads a duration everywhere ("h:mm:ss").
QString SpanText(double seconds)
{
    return DurationText(std::llround(seconds));
}

QString Signed(double v)
{
    return (v > 0 ? QStringLiteral("+") : QString()) + ReadingText(v);
}

// How long one slice of the findings scan may hold the window.
constexpr qint64 kScanSliceMs = 20;
constexpr int kScanChunk = 4096; // records between looks at the clock

// A group of findings as a pilot reads it: what, then when, on two lines; the day with the time
// when the flight spans more than one.
QString FindingText(const FindingGroup &group, const FlightColumns &columns)
{
    const bool days = columns.spansDays();
    // The day once: a span within one day names it at its start only.
    const QString firstDay = columns.dayTextAt(columns.x()[size_t(group.record)]);
    return FindingGroupWhat(group) + QLatin1Char('\n') + FindingGroupWhen(group, [&](int record) {
               const bool sameDay =
                   record != group.record && columns.dayTextAt(columns.x()[size_t(record)]) == firstDay;
               return columns.timeText(record, days && !sameDay);
           });
}

} // namespace

// The findings as rows, worded only when shown: a flight of a million noisy records can have
// hundreds of thousands. With none (or none yet) one line says so and cannot be chosen.
class FindingsModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void set(const std::vector<FindingGroup> *findings, const FlightColumns *columns, QString note)
    {
        beginResetModel();
        m_findings = findings;
        m_columns = columns;
        m_note = std::move(note);
        endResetModel();
    }
    bool isNote() const { return !m_findings || m_findings->empty(); }

    int rowCount(const QModelIndex &parent) const override
    {
        if (parent.isValid())
            return 0;
        return isNote() ? (m_note.isEmpty() ? 0 : 1) : int(m_findings->size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
            return {};
        if (isNote())
            return m_note;
        return FindingText((*m_findings)[size_t(index.row())], *m_columns);
    }
    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return isNote() ? Qt::NoItemFlags : QAbstractListModel::flags(index);
    }

private:
    const std::vector<FindingGroup> *m_findings = nullptr;
    const FlightColumns *m_columns = nullptr;
    QString m_note;
};

FrmAnalysis::FrmAnalysis(WindowContext context, QWidget *parent) : ChildWindow(parent), m_context(context)
{
    setObjectName(QStringLiteral("FrmAnalysis"));
    setWindowTitle(QStringLiteral("Analysis View"));
    resize(960, 620);

    buildChoices();
    QHBoxLayout *headingRow = buildHeading();
    m_charts = new AnalysisCharts(this);
    QWidget *findings = buildFindings();
    m_scanTimer = new QTimer(this);
    m_scanTimer->setInterval(0);
    m_marks = new QLabel(this);
    m_marks->setObjectName(QStringLiteral("lblMarks"));
    m_marks->setTextFormat(Qt::RichText);
    m_marks->setWordWrap(true);
    m_problems = new QLabel(this);
    m_problems->setObjectName(QStringLiteral("lblProblems"));
    m_problems->setTextFormat(Qt::PlainText);
    m_problems->setWordWrap(true);
    m_problems->setStyleSheet(QStringLiteral("color: #a01010"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    // The choices ask no width of their own: the rows they flow onto follow the window's.
    m_choices = new QWidget(this);
    m_choices->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto *choiceRows = new QVBoxLayout(m_choices);
    choiceRows->setContentsMargins(0, 0, 0, 0);
    choiceRows->setSpacing(4);
    for (QHBoxLayout *row : m_choiceRows)
        choiceRows->addLayout(row);
    layout->addWidget(m_choices);
    layout->addLayout(headingRow);
    m_commandsRow = new QHBoxLayout;
    m_commandsRow->setSpacing(4);
    m_commandsRow->addStretch(1);
    layout->addLayout(m_commandsRow);
    auto *body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->addWidget(m_charts, 1);
    body->addWidget(findings);
    layout->addLayout(body, 1);
    // The A/B figures scroll rather than push into the charts when the window is small.
    auto *marksArea = m_marksArea = new QScrollArea(this);
    marksArea->setFrameShape(QFrame::NoFrame);
    marksArea->setWidgetResizable(true);
    marksArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    marksArea->setWidget(m_marks);
    marksArea->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_marks->setBackgroundRole(QPalette::Window);
    layout->addWidget(marksArea);
    layout->addWidget(m_problems);

    connect(m_count, &QComboBox::currentIndexChanged, this, &FrmAnalysis::chartsChosen);
    for (int c = 0; c < AnalysisCharts::kMaxCharts; ++c)
        for (QComboBox *box : {m_left[c], m_right[c]})
            connect(box, &QComboBox::currentIndexChanged, this, &FrmAnalysis::chartsChosen);
    connect(m_charts, &AnalysisCharts::marksChanged, this, &FrmAnalysis::updateMarks);
    connect(m_charts, &AnalysisCharts::contextMenuWanted, this, &FrmAnalysis::showContextMenu);
    connect(m_findingsList->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &index) { showFinding(index.row()); });
    connect(m_findingsList, &QListView::clicked, this, [this](const QModelIndex &index) { showFinding(index.row()); });
    connect(m_scanTimer, &QTimer::timeout, this, &FrmAnalysis::scanSome);
    connect(&context.state.flightLoads, &FlightLoads::loaded, this, &FrmAnalysis::reload);

    const std::vector<ChartChoice> stored = storedChoice();
    const int count = storedCount();
    m_charts->setChtLimit(FindingRules().chtLimit);
    m_charts->setCharts(std::vector<ChartChoice>(stored.begin(), stored.begin() + count));
    reload();
    m_charts->setFocus();
}

void FrmAnalysis::buildChoices()
{
    // The chart choices, a chart's label and boxes kept together: on a narrow window the last
    // charts' boxes go to the rows below rather than being cut.
    for (QHBoxLayout *&row : m_choiceRows) {
        row = new QHBoxLayout;
        row->setSpacing(4);
    }
    m_choiceRows[0]->addWidget(new QLabel(QStringLiteral("Charts"), this));
    m_count = new QComboBox(this);
    m_count->setObjectName(QStringLiteral("cboCharts"));
    m_count->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    m_choiceRows[0]->addWidget(m_count);
    const std::vector<ChartChoice> stored = storedChoice();
    for (int c = 0; c < AnalysisCharts::kMaxCharts; ++c) {
        m_choice[c] = new QWidget(this);
        auto *group = new QHBoxLayout(m_choice[c]);
        group->setContentsMargins(8, 0, 0, 0);
        group->setSpacing(4);
        group->addWidget(new QLabel(QStringLiteral("%1:").arg(c + 1), m_choice[c]));
        for (int axis = 0; axis < 2; ++axis) {
            auto *box = new QComboBox(m_choice[c]);
            box->setObjectName(QStringLiteral("%1(%2)")
                                   .arg(axis == 0 ? QStringLiteral("cboLeft") : QStringLiteral("cboRight"))
                                   .arg(c + 1));
            box->setToolTip(axis == 0 ? QStringLiteral("Chart %1, left axis").arg(c + 1)
                                      : QStringLiteral("Chart %1, right axis").arg(c + 1));
            box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
            // A cylinder's quantity takes both axes, so only the left box offers it.
            for (const QuantityInfo &info : Quantities())
                if ((axis == 1 || info.quantity != Quantity::None) && (axis == 0 || !QuantityCylinder(info.quantity)))
                    box->addItem(QString::fromLatin1(info.caption), QString::fromLatin1(info.key));
            const Quantity q = axis == 0 ? stored[size_t(c)].left : stored[size_t(c)].right;
            box->setCurrentIndex(std::max(0, box->findData(QString::fromLatin1(InfoOf(q).key))));
            group->addWidget(box);
            (axis == 0 ? m_left : m_right)[c] = box;
        }
        m_choiceRows[0]->addWidget(m_choice[c]);
    }
    const int count = storedCount();
    m_count->setCurrentIndex(count - 1);
    for (int c = 0; c < AnalysisCharts::kMaxCharts; ++c) {
        m_left[c]->setEnabled(c < count);
        m_right[c]->setEnabled(c < count && !QuantityCylinder(stored[size_t(c)].left));
    }
    for (QHBoxLayout *row : m_choiceRows)
        row->addStretch(1);
}

QHBoxLayout *FrmAnalysis::buildHeading()
{
    // The heading, then the commands on the whole view.
    m_file = new QLabel(this);
    m_file->setObjectName(QStringLiteral("lblFlight"));
    m_file->setTextFormat(Qt::PlainText);
    m_file->setWordWrap(true);
    m_file->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QFont heading = m_file->font();
    heading.setBold(true);
    m_file->setFont(heading);
    m_openLibrary = new QPushButton(QStringLiteral("Flight Library..."), this);
    m_openLibrary->setObjectName(QStringLiteral("cmdOpenLibrary"));
    m_openLibrary->setToolTip(QStringLiteral("Open a flight kept in the flight library"));
    auto *unzoom = new QPushButton(QStringLiteral("Unzoom"), this);
    unzoom->setObjectName(QStringLiteral("cmdUnzoom"));
    auto *reset = new QPushButton(QStringLiteral("Reset"), this);
    reset->setObjectName(QStringLiteral("cmdReset"));
    auto *saveImage = new QPushButton(QStringLiteral("Save Image..."), this);
    saveImage->setObjectName(QStringLiteral("cmdSaveImage"));
    auto *print = new QPushButton(QStringLiteral("Print..."), this);
    print->setObjectName(QStringLiteral("cmdPrint"));
    auto *saveReport = new QPushButton(QStringLiteral("Save Report..."), this);
    saveReport->setObjectName(QStringLiteral("cmdSaveReport"));
    auto *headingRow = m_headingRow = new QHBoxLayout;
    headingRow->setSpacing(4);
    headingRow->addWidget(m_file, 1);
    headingRow->addWidget(m_openLibrary);
    m_commands = new QHBoxLayout;
    m_commands->setSpacing(4);
    for (QPushButton *button : {unzoom, reset, saveImage, print, saveReport})
        m_commands->addWidget(button);
    headingRow->addLayout(m_commands);

    // The charts are made after the heading above them.
    connect(unzoom, &QPushButton::clicked, this, [this] { m_charts->unzoom(); });
    connect(reset, &QPushButton::clicked, this, [this] { m_charts->resetZoom(); });
    connect(saveImage, &QPushButton::clicked, this, &FrmAnalysis::saveImageAs);
    connect(print, &QPushButton::clicked, this, &FrmAnalysis::print);
    connect(saveReport, &QPushButton::clicked, this, &FrmAnalysis::saveReport);
    connect(m_openLibrary, &QPushButton::clicked, this, &FrmAnalysis::libraryRequested);
    return headingRow;
}

QWidget *FrmAnalysis::buildFindings()
{
    // The findings beside the charts, narrow enough to leave the charts the window.
    auto *findings = new QWidget(this);
    m_findingsColumn = findings;
    findings->setFixedWidth(230);
    auto *findingsLayout = new QVBoxLayout(findings);
    findingsLayout->setContentsMargins(0, 0, 0, 0);
    findingsLayout->setSpacing(2);
    findingsLayout->addWidget(new QLabel(QStringLiteral("Findings"), findings));
    m_findingsModel = new FindingsModel(this);
    m_findingsList = new QListView(findings);
    m_findingsList->setObjectName(QStringLiteral("lstFindings"));
    m_findingsList->setModel(m_findingsModel);
    m_findingsList->setUniformItemSizes(true); // every row two lines: only the rows in sight are measured
    m_findingsList->setAlternatingRowColors(true);
    m_findingsList->setTextElideMode(Qt::ElideRight); // the whole line in its tool tip
    m_findingsList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    findingsLayout->addWidget(m_findingsList, 1);
    return findings;
}

FrmAnalysis::~FrmAnalysis()
{
    // The charts and the findings list draw from the columns: they let go first.
    m_charts->setFlight(nullptr);
    m_findingsModel->set(nullptr, nullptr, QString());
}

int FrmAnalysis::storedCount() const
{
    return std::clamp(SettingNumber(GetSetting(AppTitle(), Section, QStringLiteral("Charts"), 3)), 1,
                      AnalysisCharts::kMaxCharts);
}

std::vector<ChartChoice> FrmAnalysis::storedChoice() const
{
    std::vector<ChartChoice> charts;
    for (int c = 0; c < AnalysisCharts::kMaxCharts; ++c) {
        ChartChoice choice;
        choice.left = QuantityFromKey(
            GetSetting(AppTitle(), Section, ChoiceKey(c, 0), QString::fromLatin1(InfoOf(DefaultCharts[c].left).key)));
        choice.right = QuantityFromKey(
            GetSetting(AppTitle(), Section, ChoiceKey(c, 1), QString::fromLatin1(InfoOf(DefaultCharts[c].right).key)));
        if (choice.left == Quantity::None)
            choice.left = DefaultCharts[c].left;
        charts.push_back(choice);
    }
    return charts;
}

void FrmAnalysis::chartsChosen()
{
    const int count = m_count->currentIndex() + 1;
    std::vector<ChartChoice> charts;
    SaveSetting(AppTitle(), Section, QStringLiteral("Charts"), QString::number(count));
    for (int c = 0; c < AnalysisCharts::kMaxCharts; ++c) {
        const ChartChoice choice{QuantityFromKey(m_left[c]->currentData().toString()),
                                 QuantityFromKey(m_right[c]->currentData().toString())};
        SaveSetting(AppTitle(), Section, ChoiceKey(c, 0), m_left[c]->currentData().toString());
        SaveSetting(AppTitle(), Section, ChoiceKey(c, 1), m_right[c]->currentData().toString());
        m_left[c]->setEnabled(c < count);
        m_right[c]->setEnabled(c < count && !QuantityCylinder(choice.left));
        if (c < count)
            charts.push_back(choice);
    }
    m_charts->setCharts(charts);
    updateProblems();
}

void FrmAnalysis::reload()
{
    m_charts->setFlight(nullptr);
    m_findingsModel->set(nullptr, nullptr, QString());
    m_columns.reset();
    const FlightData &data = m_context.state.flightData;
    if (data.FlightRecordCount) {
        std::vector<Quantity> shown;
        for (const ChartChoice &chart : m_charts->charts())
            shown.insert(shown.end(), {chart.left, chart.right});
        m_columns = std::make_unique<FlightColumns>(data, shown);
    }
    m_charts->setFlight(m_columns.get());

    m_file->setText(headingText());
    m_openLibrary->setVisible(!m_columns);
    for (int i = 0; i < m_commands->count(); ++i)
        if (QWidget *command = m_commands->itemAt(i)->widget())
            command->setEnabled(m_columns != nullptr);
    updateProblems();
    startFindings();
}

void FrmAnalysis::startFindings()
{
    m_scanTimer->stop();
    m_findings.clear();
    m_groups.clear();
    m_grouped = false;
    m_shownFinding = -1;
    m_scanned = 0;
    if (!m_columns || m_columns->records() == 0) {
        m_scanner.reset();
        m_findingsModel->set(nullptr, nullptr, QString());
        return;
    }
    m_scanner = std::make_unique<FindingsScanner>();
    m_findingsModel->set(nullptr, nullptr, QStringLiteral("Looking for findings..."));
    m_scanTimer->start();
}

void FrmAnalysis::scanSome()
{
    if (!m_columns) {
        m_scanTimer->stop();
        return;
    }
    // Grouping many findings is a slice's work of its own too.
    if (!m_scanner) {
        m_scanTimer->stop();
        const FlightColumns *columns = m_columns.get();
        m_groups = GroupFindings(m_findings, [columns](int record) { return columns->x()[size_t(record)]; });
        m_grouped = true;
        m_findingsModel->set(&m_groups, m_columns.get(), QStringLiteral("No findings in this flight."));
        return;
    }
    const FlightRecordTable &table = m_context.state.flightData.FlightRecords;
    // A table replaced under us ends where it ends; its load starts a scan of its own.
    const int records = std::min(m_columns->records(), table.records());
    QElapsedTimer slice;
    slice.start();
    while (m_scanned < records) {
        const int end = std::min(records, m_scanned + kScanChunk);
        for (; m_scanned < end; ++m_scanned)
            m_scanner->add(table[m_scanned]);
        // Ordering many findings is a slice's work of its own.
        if (slice.elapsed() >= kScanSliceMs || (m_scanned == records && records > kScanChunk))
            return;
    }
    m_findings = m_scanner->finish();
    m_scanner.reset();
}

// A finding chosen: every chart on its span (a group's whole span) with a margin and the span
// shaded, the cursor on its first record.
void FrmAnalysis::showFinding(int row)
{
    if (m_findingsModel->isNote() || row < 0 || size_t(row) >= m_groups.size())
        return;
    if (row == m_shownFinding && m_shownSpan == std::pair(m_charts->spanStart(), m_charts->spanEnd()))
        return;
    const FindingGroup &f = m_groups[size_t(row)];
    m_charts->setShade(std::pair(f.record, std::max(f.record, f.last)));
    showRecords(f.record, std::max(f.record, f.last), f.record);
    m_shownFinding = row;
    m_shownSpan = {m_charts->spanStart(), m_charts->spanEnd()};
}

void FrmAnalysis::showRecords(int first, int last, int cursor)
{
    m_charts->showRecords(first, last, cursor);
}

// What the view cannot draw as it stands, with what it draws instead.
void FrmAnalysis::updateProblems()
{
    QStringList problems;
    if (!m_columns) {
        problems << NoFlightLoadedText() +
                        QStringLiteral(" Or open one kept in the flight library with Flight Library...");
    } else {
        problems << m_columns->problems();
        if (m_columns->records() > 0) {
            const std::vector<ChartChoice> &charts = m_charts->charts();
            for (size_t c = 0; c < charts.size(); ++c)
                for (Quantity q : {charts[c].left, charts[c].right}) {
                    if (q == Quantity::None || (q == charts[c].right && QuantityCylinder(charts[c].left)))
                        continue;
                    bool any = false;
                    for (int s : SeriesOf(q))
                        any = any || m_columns->column(s).anyReading;
                    if (!any)
                        problems << QStringLiteral("The flight has no %1 readings: chart %2 draws none.")
                                        .arg(QString::fromLatin1(InfoOf(q).caption))
                                        .arg(c + 1);
                }
        }
    }
    m_problems->setText(problems.join(QLatin1Char('\n')));
    m_problems->setVisible(!problems.isEmpty());
}

QString FrmAnalysis::problemsText() const
{
    return m_problems->text();
}

QString FrmAnalysis::marksText() const
{
    return m_marks->text();
}

void FrmAnalysis::updateMarks()
{
    // However the text ends up, the area fits it.
    const auto fit = qScopeGuard([this] { fitMarks(); });
    const std::optional<int> a = m_charts->markA();
    const std::optional<int> b = m_charts->markB();
    if (!m_columns || m_columns->records() == 0) {
        m_marks->clear();
        return;
    }
    if (!a && !b) {
        m_marks->setText(QStringLiteral("Drag a rectangle to zoom; a click sets mark A, a shift-click mark B."));
        return;
    }
    const bool days = m_columns->spansDays();
    QString text;
    if (a)
        text += QStringLiteral("<b>A</b> %1").arg(m_columns->timeText(*a, days).toHtmlEscaped());
    if (b)
        text +=
            QStringLiteral("%1<b>B</b> %2")
                .arg(a ? QStringLiteral("&nbsp;&nbsp; ") : QString(), m_columns->timeText(*b, days).toHtmlEscaped());
    const std::optional<double> seconds = m_charts->markSeconds();
    if (!seconds) {
        m_marks->setText(
            text + (a ? QStringLiteral(" &nbsp; (shift-click sets B)") : QStringLiteral(" &nbsp; (a click sets A)")));
        return;
    }
    text += QStringLiteral("&nbsp;&nbsp; B - A: <b>%1</b>").arg(SpanText(*seconds));
    // Each series' figures held together: a line breaks between series, never inside one.
    QStringList parts;
    for (const AnalysisCharts::Change &change : m_charts->changes()) {
        QString part = QStringLiteral("%1 %2 \u2192 %3, %4")
                           .arg(SeriesName(change.series), ReadingText(change.a),
                                ReadingWithUnit(change.series, change.b), Signed(change.change));
        if (change.perMinute)
            part += QStringLiteral(" (%1/min)").arg(Signed(std::round(*change.perMinute * 10) / 10));
        // No break inside: spaces that do not break, and word joiners where a line may break
        // after a character ("/", an arrow).
        QString kept = part.toHtmlEscaped().replace(QLatin1Char(' '), QStringLiteral("&nbsp;"));
        for (const QString &glue : {QStringLiteral("/"), QStringLiteral("\u2192"), QStringLiteral("(")})
            kept.replace(glue, QChar(0x2060) + glue + QChar(0x2060));
        parts << QStringLiteral("<span style=\"color:%1\">%2</span>").arg(SeriesColour(change.series).name(), kept);
    }
    m_marks->setText(text + QStringLiteral("<br>") + parts.join(QStringLiteral("&nbsp;&nbsp; ")));
}

QString FrmAnalysis::headingText() const
{
    if (!m_columns)
        return QStringLiteral("No flight loaded");
    const FlightOrigin &origin = m_context.state.flightOrigin;
    QStringList parts;
    if (origin.aircraft && !origin.aircraft->isEmpty())
        parts << *origin.aircraft;
    if (!origin.name.isEmpty())
        parts << origin.name;
    const int n = m_columns->records();
    if (n == 0)
        return parts.join(QStringLiteral(", "));
    const QDate first = m_columns->dateAt(0);
    const QDate last = m_columns->dateAt(m_columns->end());
    QString when;
    if (first.isValid() && last.isValid() && first != last)
        when = QStringLiteral("%1 %2 to %3 %4")
                   .arg(DateText(first), m_columns->timeText(0), DateText(last), m_columns->timeText(n - 1));
    else
        when = QStringLiteral("%1%2 to %3")
                   .arg(first.isValid() ? DateText(first) + QStringLiteral(", ") : QString(), m_columns->timeText(0),
                        m_columns->timeText(n - 1));
    return QStringLiteral("%1: %2 (%3), %4")
        .arg(parts.join(QStringLiteral(", ")), when, SpanText(m_columns->end() - m_columns->start()),
             CountText(n, QStringLiteral("record"), QStringLiteral("records")));
}

// Aircraft, date, file and the span shown, so a picture handed on says what it is.
QString FrmAnalysis::titleLine() const
{
    if (!m_columns || m_columns->records() == 0)
        return m_context.state.flightOrigin.name;
    const FlightOrigin &origin = m_context.state.flightOrigin;
    QStringList parts;
    if (origin.aircraft && !origin.aircraft->isEmpty())
        parts << *origin.aircraft;
    const QDate first = m_columns->dateAt(m_charts->spanStart());
    const QDate last = m_columns->dateAt(m_charts->spanEnd());
    if (first.isValid())
        parts << (last.isValid() && last != first ? DateText(first) + QStringLiteral(" to ") + DateText(last)
                                                  : DateText(first));
    if (!origin.name.isEmpty())
        parts << origin.name;
    // The date above says the day, unless the span shown runs past midnight.
    const bool days = m_columns->spansDays() && !(first.isValid() && first == last);
    parts << QStringLiteral("%1 to %2")
                 .arg(m_columns->timeTextAt(std::max(0.0, m_charts->spanStart()), days),
                      m_columns->timeTextAt(m_charts->spanEnd(), days));
    return parts.join(QStringLiteral("  \u00b7  "));
}

namespace {
constexpr int kTitleHeight = 24;
}

QSize FrmAnalysis::pictureSize() const
{
    return m_charts->size() + QSize(0, kTitleHeight);
}

void FrmAnalysis::paintPicture(QPainter &painter) const
{
    const QSize size = pictureSize();
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    painter.setFont(ChartFont(true));
    painter.setPen(Qt::black);
    painter.drawText(QRect(8, 0, size.width() - 16, kTitleHeight), Qt::AlignLeft | Qt::AlignVCenter, titleLine());
    PaintChartStack(painter, QRect(0, kTitleHeight, size.width(), size.height() - kTitleHeight), m_charts->stack());
}

bool FrmAnalysis::saveImage(const QString &fileName) const
{
    const QSize size = pictureSize();
    if (QFileInfo(fileName).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0) {
        QPdfWriter writer(fileName);
        writer.setPageOrientation(QPageLayout::Landscape);
        writer.setTitle(titleLine());
        writer.setCreator(AppTitle());
        QPainter painter;
        if (!painter.begin(&writer))
            return false;
        // The picture's units scaled to the page: the texts are sized in those units, so they keep
        // their place beside the lines.
        const QRect page = painter.viewport();
        const double scale = std::min(double(page.width()) / size.width(), double(page.height()) / size.height());
        painter.scale(scale, scale);
        paintPicture(painter);
        return painter.end();
    }
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    paintPicture(painter);
    painter.end();
    return image.save(fileName);
}

void FrmAnalysis::saveImageAs()
{
    FileDialogRequest request;
    request.title = QStringLiteral("Save Image");
    request.filter = QStringLiteral("*.png *.pdf");
    request.defaultExtension = QStringLiteral("png");
    request.initialFileName = QStringLiteral("analysis.png");
    request.folder = SaveDialogFolder();
    request.save = true;
    const std::optional<QString> name = m_context.files.chooseFile(request);
    if (name)
        RememberSaveFolder(*name);
    if (name && !saveImage(*name))
        m_context.prompter.showMessage(AppTitle(), QStringLiteral("The picture could not be written to ") + *name,
                                       MessageIcon::Exclamation, MessageButtons::Ok);
}

void FrmAnalysis::print()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    // Printed to a file, it goes where the other files written go, not into the program's folder.
    printer.setOutputFileName(QDir(SaveDialogFolder()).filePath(QStringLiteral("analysis.pdf")));
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QPainter painter(&printer);
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const QSize size = pictureSize();
    const double scale = std::min(page.width() / size.width(), page.height() / size.height());
    painter.scale(scale, scale);
    paintPicture(painter);
}

void FrmAnalysis::saveReport()
{
    if (!m_columns)
        return;
    // The file read again, named as its owner knows it; the view's CHT line is the rules' own, so the
    // report finds what the list does.
    const FlightOrigin &origin = m_context.state.flightOrigin;
    SaveReportCommand(m_context, ReportFlight{m_context.state.flightFileName, origin.name, origin.aircraft, {}, 0});
}

// The chart choices on one row while they fit, else each chart's that does not on the next row.
void FrmAnalysis::arrangeChoices()
{
    const int room = width() - 12;
    const int spacing = m_choiceRows[0]->spacing();
    int used = 0;
    for (int i = 0; i < 2; ++i)
        used += m_choiceRows[0]->itemAt(i)->sizeHint().width() + spacing;
    // The narrowest the rows can go: the first chart's beside the count, each other on a row of its own.
    int least = used + m_choice[0]->sizeHint().width();
    for (int c = 1; c < AnalysisCharts::kMaxCharts; ++c)
        least = std::max(least, m_choice[c]->sizeHint().width());
    m_choices->setMinimumWidth(least);
    int rowIndex = 0;
    for (int c = 0; c < AnalysisCharts::kMaxCharts; ++c) {
        const int wanted = m_choice[c]->sizeHint().width() + spacing;
        if (used + wanted > room && used > 0 && c > 0) {
            ++rowIndex;
            used = 0;
        }
        used += wanted;
        QHBoxLayout *row = m_choiceRows[rowIndex];
        if (row->indexOf(m_choice[c]) < 0) {
            for (QHBoxLayout *other : m_choiceRows)
                other->removeWidget(m_choice[c]);
            // In chart order, before the row's closing stretch.
            int at = row == m_choiceRows[0] ? 2 : 0;
            for (int k = 0; k < c; ++k)
                at += row->indexOf(m_choice[k]) >= 0 ? 1 : 0;
            row->insertWidget(at, m_choice[c]);
        }
    }
}

// The commands beside the heading while they leave it room for a line or two, else on a row of
// their own under it: the heading keeps the window's width.
void FrmAnalysis::arrangeCommands()
{
    const int commands = m_commands->sizeHint().width();
    const bool beside = width() - 12 - commands >= std::max(360, commands);
    if (beside == (m_headingRow->indexOf(m_commands) >= 0))
        return;
    (beside ? m_commandsRow : m_headingRow)->removeItem(m_commands);
    m_commands->setParent(nullptr); // a layout joins another only without one
    (beside ? m_headingRow : m_commandsRow)->addLayout(m_commands);
}

// The A/B figures take the lines they need, up to four (three on a short window, where the charts
// need the room); more scroll a line at a time, so no line shows cut in half.
void FrmAnalysis::fitMarks()
{
    const int line = QFontMetrics(m_marks->font()).lineSpacing();
    const int wanted = m_marks->heightForWidth(std::max(100, m_marksArea->width() - 20));
    const int most = height() < 520 ? 3 : 4;
    m_marksArea->verticalScrollBar()->setSingleStep(line);
    m_marksArea->setFixedHeight(wanted <= most * line + 6 ? std::max(wanted, line + 2) : most * line);
}

void FrmAnalysis::resizeEvent(QResizeEvent *event)
{
    ChildWindow::resizeEvent(event);
    arrangeChoices();
    arrangeCommands();
    fitMarks();
    // The findings narrower on a small window, so the charts keep most of it.
    m_findingsColumn->setFixedWidth(std::clamp(width() / 4, 140, 230));
}

void FrmAnalysis::showContextMenu(const QPoint &globalPos)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("analysisMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Save Image..."), this, &FrmAnalysis::saveImageAs)
        ->setObjectName(QStringLiteral("mnuAnalysisSaveImage"));
    QAction *report = menu->addAction(QStringLiteral("Save Report..."), this, &FrmAnalysis::saveReport);
    report->setObjectName(QStringLiteral("mnuAnalysisSaveReport"));
    report->setEnabled(m_columns != nullptr);
    menu->addAction(QStringLiteral("Print..."), this, &FrmAnalysis::print)
        ->setObjectName(QStringLiteral("mnuAnalysisPrint"));
    menu->addSeparator();
    menu->addAction(QStringLiteral("Unzoom"), m_charts, &AnalysisCharts::unzoom);
    menu->addAction(QStringLiteral("Reset"), m_charts, &AnalysisCharts::resetZoom);
    menu->popup(globalPos);
}

} // namespace korvel
