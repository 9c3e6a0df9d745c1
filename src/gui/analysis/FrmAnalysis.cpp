#include "gui/analysis/FrmAnalysis.h"

#include "core/settings/Settings.h"
#include "gui/graphs/FrmSummary.h"

#include <QAbstractListModel>
#include <QComboBox>
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

QString DurationText(double seconds)
{
    const qint64 s = std::llround(std::abs(seconds));
    const QString text = s >= 3600 ? QStringLiteral("%1:%2:%3")
                                         .arg(s / 3600)
                                         .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                                         .arg(s % 60, 2, 10, QLatin1Char('0'))
                                   : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    return (seconds < 0 ? QStringLiteral("-") : QString()) + text;
}

QString Signed(double v)
{
    return (v > 0 ? QStringLiteral("+") : QString()) + ReadingText(v);
}

// How long one slice of the findings scan may hold the window.
constexpr qint64 kScanSliceMs = 20;
constexpr int kScanChunk = 4096; // records between looks at the clock

// A finding as a pilot reads it: what, then when, on two lines.
QString FindingText(const Finding &f, const FlightColumns &columns)
{
    const QString cyl = QString::number(f.cylinder);
    const QString deg = ReadingText(f.value) + QStringLiteral("\u00b0");
    QString what;
    switch (f.kind) {
    case FindingKind::ChtHigh:
        what = QStringLiteral("CHT %1 hot: %2 peak").arg(cyl, deg);
        break;
    case FindingKind::ShockCooling:
        what = QStringLiteral("CHT %1 shock cooling: %2/min").arg(cyl, deg);
        break;
    case FindingKind::EgtDrop:
        what = QStringLiteral("EGT %1 fell alone: %2/min").arg(cyl, deg);
        break;
    case FindingKind::EgtProbe:
        what = QStringLiteral("EGT %1 probe fault: read %2").arg(cyl, ReadingText(f.value));
        break;
    case FindingKind::ChtProbe:
        what = QStringLiteral("CHT %1 probe fault: read %2").arg(cyl, ReadingText(f.value));
        break;
    }
    const QString when = f.last > f.record ? QStringLiteral("%1 to %2").arg(columns.timeText(f.record),
                                                                              columns.timeText(f.last))
                                           : QStringLiteral("at %1").arg(columns.timeText(f.record));
    return what + QLatin1Char('\n') + when;
}

} // namespace

// The findings as rows, worded only when shown: a flight of a million noisy records can have
// hundreds of thousands. With none (or none yet) one line says so and cannot be chosen.
class FindingsModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void set(const std::vector<Finding> *findings, const FlightColumns *columns, QString note)
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
    const std::vector<Finding> *m_findings = nullptr;
    const FlightColumns *m_columns = nullptr;
    QString m_note;
};

FrmAnalysis::FrmAnalysis(WindowContext context, QWidget *parent) : ChildWindow(parent), m_context(context)
{
    setObjectName(QStringLiteral("FrmAnalysis"));
    setWindowTitle(QStringLiteral("Analysis View"));
    resize(960, 620);

    auto *choices = new QHBoxLayout;
    choices->setSpacing(4);
    choices->addWidget(new QLabel(QStringLiteral("Charts"), this));
    m_count = new QComboBox(this);
    m_count->setObjectName(QStringLiteral("cboCharts"));
    m_count->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    choices->addWidget(m_count);
    const std::vector<ChartChoice> stored = storedChoice();
    for (int c = 0; c < AnalysisCharts::kMaxCharts; ++c) {
        choices->addSpacing(8);
        choices->addWidget(new QLabel(QStringLiteral("%1:").arg(c + 1), this));
        for (int axis = 0; axis < 2; ++axis) {
            auto *box = new QComboBox(this);
            box->setObjectName(QStringLiteral("%1(%2)").arg(axis == 0 ? QStringLiteral("cboLeft")
                                                                       : QStringLiteral("cboRight"))
                                   .arg(c + 1));
            box->setToolTip(axis == 0 ? QStringLiteral("Chart %1, left axis").arg(c + 1)
                                      : QStringLiteral("Chart %1, right axis").arg(c + 1));
            for (const QuantityInfo &info : Quantities())
                if (axis == 1 || info.quantity != Quantity::None)
                    box->addItem(QString::fromLatin1(info.caption), QString::fromLatin1(info.key));
            const Quantity q = axis == 0 ? stored[size_t(c)].left : stored[size_t(c)].right;
            box->setCurrentIndex(std::max(0, box->findData(QString::fromLatin1(InfoOf(q).key))));
            choices->addWidget(box);
            (axis == 0 ? m_left : m_right)[c] = box;
        }
    }
    const int count = storedCount();
    m_count->setCurrentIndex(count - 1);
    for (int c = 0; c < AnalysisCharts::kMaxCharts; ++c) {
        m_left[c]->setEnabled(c < count);
        m_right[c]->setEnabled(c < count);
    }
    choices->addStretch(1);
    auto *unzoom = new QPushButton(QStringLiteral("Unzoom"), this);
    unzoom->setObjectName(QStringLiteral("cmdUnzoom"));
    auto *reset = new QPushButton(QStringLiteral("Reset"), this);
    reset->setObjectName(QStringLiteral("cmdReset"));
    choices->addWidget(unzoom);
    choices->addWidget(reset);

    m_file = new QLabel(this);
    m_file->setObjectName(QStringLiteral("lblFlight"));
    m_file->setTextFormat(Qt::PlainText);

    m_charts = new AnalysisCharts(this);
    m_body = new QHBoxLayout;
    m_body->setContentsMargins(0, 0, 0, 0);
    m_body->addWidget(m_charts, 1);

    // The findings beside the charts, narrow enough to leave the charts the window.
    auto *findings = new QWidget(this);
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
    m_findingsList->setTextElideMode(Qt::ElideRight);
    findingsLayout->addWidget(m_findingsList, 1);
    m_body->addWidget(findings);
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
    layout->addLayout(choices);
    layout->addWidget(m_file);
    layout->addLayout(m_body, 1);
    layout->addWidget(m_marks);
    layout->addWidget(m_problems);

    connect(unzoom, &QPushButton::clicked, m_charts, &AnalysisCharts::unzoom);
    connect(reset, &QPushButton::clicked, m_charts, &AnalysisCharts::resetZoom);
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

    m_charts->setCharts(std::vector<ChartChoice>(stored.begin(), stored.begin() + count));
    reload();
    m_charts->setFocus();
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
        m_right[c]->setEnabled(c < count);
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

    const QString name = QFileInfo(m_context.state.flightFileName).fileName();
    if (!m_columns) {
        m_file->clear();
    } else if (m_columns->records() == 0) {
        m_file->setText(name);
    } else {
        const QLocale locale;
        m_file->setText(QStringLiteral("%1%2 records, %3 to %4 (%5)")
                            .arg(name.isEmpty() ? QString() : name + QStringLiteral(": "),
                                 locale.toString(m_columns->records()), m_columns->timeText(0),
                                 m_columns->timeText(m_columns->records() - 1),
                                 DurationText(m_columns->end() - m_columns->start())));
    }
    m_file->setVisible(!m_file->text().isEmpty());
    updateProblems();
    startFindings();
}

void FrmAnalysis::startFindings()
{
    m_scanTimer->stop();
    m_findings.clear();
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
    if (!m_scanner || !m_columns) {
        m_scanTimer->stop();
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
    m_scanTimer->stop();
    m_findings = m_scanner->finish();
    m_scanner.reset();
    m_findingsModel->set(&m_findings, m_columns.get(), QStringLiteral("No findings in this flight."));
    emit findingsFound();
}

// A finding chosen: every chart on its span with a margin, the cursor on its first record.
void FrmAnalysis::showFinding(int row)
{
    if (m_findingsModel->isNote() || row < 0 || size_t(row) >= m_findings.size())
        return;
    if (row == m_shownFinding && m_shownSpan == std::pair(m_charts->spanStart(), m_charts->spanEnd()))
        return;
    const Finding &f = m_findings[size_t(row)];
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
        problems << NoFlightLoadedText();
    } else {
        problems << m_columns->problems();
        if (m_columns->records() > 0) {
            const std::vector<ChartChoice> &charts = m_charts->charts();
            for (size_t c = 0; c < charts.size(); ++c)
                for (Quantity q : {charts[c].left, charts[c].right}) {
                    if (q == Quantity::None)
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
    QString text;
    if (a)
        text += QStringLiteral("<b>A</b> %1").arg(m_columns->timeText(*a).toHtmlEscaped());
    if (b)
        text += QStringLiteral("%1<b>B</b> %2").arg(a ? QStringLiteral("&nbsp;&nbsp; ") : QString(),
                                                    m_columns->timeText(*b).toHtmlEscaped());
    const std::optional<double> seconds = m_charts->markSeconds();
    if (!seconds) {
        m_marks->setText(text + (a ? QStringLiteral(" &nbsp; (shift-click sets B)")
                                   : QStringLiteral(" &nbsp; (a click sets A)")));
        return;
    }
    text += QStringLiteral("&nbsp;&nbsp; B - A: <b>%1</b>").arg(DurationText(*seconds));
    QStringList parts;
    for (const AnalysisCharts::Change &change : m_charts->changes()) {
        QString part = QStringLiteral("%1 %2").arg(SeriesName(change.series), Signed(change.change));
        if (change.perMinute)
            part += QStringLiteral(" (%1/min)").arg(Signed(std::round(*change.perMinute * 10) / 10));
        parts << QStringLiteral("<span style=\"color:%1\">%2</span>")
                     .arg(SeriesColour(change.series).name(), part.toHtmlEscaped().replace(QLatin1Char(' '),
                                                                                          QStringLiteral("&nbsp;")));
    }
    m_marks->setText(text + QStringLiteral("<br>") + parts.join(QStringLiteral(" &nbsp; ")));
}

bool FrmAnalysis::saveImage(const QString &fileName) const
{
    const QSize size = m_charts->size();
    if (QFileInfo(fileName).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0) {
        QPdfWriter writer(fileName);
        writer.setPageOrientation(QPageLayout::Landscape);
        writer.setTitle(windowTitle());
        QPainter painter;
        if (!painter.begin(&writer))
            return false;
        const QRect page = painter.viewport();
        const double scale = std::min(double(page.width()) / size.width(), double(page.height()) / size.height());
        painter.scale(scale, scale);
        m_charts->paintStack(painter, size);
        return painter.end();
    }
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    m_charts->paintStack(painter, size);
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
    request.save = true;
    const std::optional<QString> name = m_context.files.chooseFile(request);
    if (name && !saveImage(*name))
        m_context.prompter.showMessage(AppTitle(), QStringLiteral("The picture could not be written to ") + *name,
                                       MessageIcon::Exclamation, MessageButtons::Ok);
}

void FrmAnalysis::print()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QPainter painter(&printer);
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const QSize size = m_charts->size();
    const double scale = std::min(page.width() / size.width(), page.height() / size.height());
    painter.scale(scale, scale);
    m_charts->paintStack(painter, size);
}

void FrmAnalysis::showContextMenu(const QPoint &globalPos)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("analysisMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Save Image..."), this, &FrmAnalysis::saveImageAs)
        ->setObjectName(QStringLiteral("mnuAnalysisSaveImage"));
    menu->addAction(QStringLiteral("Print..."), this, &FrmAnalysis::print)
        ->setObjectName(QStringLiteral("mnuAnalysisPrint"));
    menu->addSeparator();
    menu->addAction(QStringLiteral("Unzoom"), m_charts, &AnalysisCharts::unzoom);
    menu->addAction(QStringLiteral("Reset"), m_charts, &AnalysisCharts::resetZoom);
    menu->popup(globalPos);
}

} // namespace korvel
