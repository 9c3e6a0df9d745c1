#include "gui/graphs/FrmSummary.h"

#include "core/flight/CountText.h"
#include "core/flight/FlightCsv.h"
#include "core/flight/FlightFields.h"
#include "core/flight/SummaryText.h"
#include "gui/common/Controls.h"
#include "gui/common/CopyableTable.h"

#include <QClipboard>
#include <QDoubleValidator>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QVBoxLayout>

namespace korvel {

namespace {

QLabel *Heading(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// The hottest cylinder's cell stands out, so "which ran hottest" needs no reading of numbers.
void MarkHottest(QTableWidget *table, int column, const std::array<CylinderPeaks, kCylinders> &peaks,
                 std::optional<TimedValue> CylinderPeaks::*which)
{
    const std::optional<int> hottest = HottestCylinder(peaks, which);
    if (!hottest)
        return;
    for (const int col : {column, column + 1}) {
        QTableWidgetItem *item = table->item(*hottest, col);
        QFont font = item->font();
        font.setBold(true);
        item->setFont(font);
        item->setBackground(QColor(0xfd, 0xdc, 0xb5));
        item->setToolTip(QStringLiteral("Hottest cylinder"));
    }
}

} // namespace

QString NoFlightLoadedText()
{
    return QStringLiteral("No flight data is loaded. Load a flight file first with File > Load Flight Data From "
                          "Disk.");
}

FrmSummary::FrmSummary(const FlightData &data, QWidget *parent)
    : QDialog(parent), m_summary(SummarizeFlight(data)), m_trace(TraceCylinderHeads(data))
{
    setObjectName(QStringLiteral("FrmSummary"));
    setWindowTitle(QStringLiteral("Flight Summary"));
    setSizeGripEnabled(true);

    // The flight at a glance.
    auto *overview = new CopyableTable("tblOverview", {QStringLiteral("Flight")}, this);
    overview->horizontalHeader()->hide();
    overview->setRows({{CountText(m_summary.records)},
                       {MomentText(m_summary.first)},
                       {MomentText(m_summary.last)},
                       {m_summary.durationSeconds ? DurationText(*m_summary.durationSeconds) : QString()}},
                      {QStringLiteral("Records"), QStringLiteral("First record"), QStringLiteral("Last record"),
                       QStringLiteral("Duration")});

    auto *cylinders = new CopyableTable(
        "tblCylinders",
        {QStringLiteral("Peak EGT"), QStringLiteral("at"), QStringLiteral("Peak CHT"), QStringLiteral("at")}, this);
    QList<QStringList> cylinderRows;
    QStringList cylinderLabels;
    for (int c = 0; c < kCylinders; ++c) {
        cylinderRows << CylinderPeakCells(m_summary.cylinders[size_t(c)]);
        cylinderLabels << QStringLiteral("CYL %1").arg(c + 1);
    }
    cylinders->setRows(cylinderRows, cylinderLabels);
    MarkHottest(cylinders, 0, m_summary.cylinders, &CylinderPeaks::egt);
    MarkHottest(cylinders, 2, m_summary.cylinders, &CylinderPeaks::cht);

    auto *spread = new CopyableTable("tblSpread", {QStringLiteral("Largest spread"), QStringLiteral("at")}, this);
    spread->setRows({SpreadCells(m_summary.egtSpread), SpreadCells(m_summary.chtSpread)},
                    {QStringLiteral("EGT"), QStringLiteral("CHT")});

    auto *fields = new CopyableTable("tblFields",
                                     {QStringLiteral("Field"), QStringLiteral("Count"), QStringLiteral("Min"),
                                      QStringLiteral("Max"), QStringLiteral("Mean")},
                                     this);
    QList<QStringList> fieldRows;
    // Named as the library and the analysis view name them, in their units (tenths as whole units);
    // the CSV and korvel-cli's summary keep the figures as recorded.
    for (const FieldFigures &f : m_summary.fields) {
        const FieldInfo info = FieldInfoOf(f.field);
        const QString unit = QString::fromUtf8(info.unit);
        fieldRows << QStringList{unit.isEmpty() ? QString::fromUtf8(info.name)
                                                : QStringLiteral("%1 (%2)").arg(QString::fromUtf8(info.name), unit),
                                 CountText(f.count), FigureText(f.minimum * info.scale),
                                 FigureText(f.maximum * info.scale), MeanText(f.mean * info.scale)};
    }
    fields->setRows(fieldRows);
    fields->scrollAfter(kFlightFields);

    // The limit: each run of records with a cylinder head at or above it.
    m_limit = new QLineEdit(this);
    m_limit->setObjectName(QStringLiteral("txtChtLimit"));
    m_limit->setValidator(new QDoubleValidator(m_limit));
    m_limit->setPlaceholderText(QStringLiteral("e.g. 400"));
    m_limit->setMaximumWidth(90);
    m_limit->setClearButtonEnabled(true);
    auto *limitLabel = new QLabel(QStringLiteral("CHT &limit:"), this);
    limitLabel->setBuddy(m_limit);
    m_overNote = new QLabel(this);
    m_overNote->setObjectName(QStringLiteral("lblChtOver"));
    m_overNote->setWordWrap(true);
    m_over = new CopyableTable(
        "tblChtOver",
        {QStringLiteral("Cylinder"), QStringLiteral("From"), QStringLiteral("To"), QStringLiteral("Peak")}, this);
    m_over->scrollAfter(6);
    connect(m_limit, &QLineEdit::textChanged, this, &FrmSummary::showChtOver);

    m_tables = {{QStringLiteral("Flight"), overview},
                {QStringLiteral("Cylinders"), cylinders},
                {QStringLiteral("Spread between cylinders"), spread},
                {QStringLiteral("CHT at or above the limit"), m_over},
                {QStringLiteral("All fields"), fields}};

    auto *copyAll = new QPushButton(QStringLiteral("&Copy All"), this);
    copyAll->setObjectName(QStringLiteral("cmdCopyAll"));
    copyAll->setToolTip(QStringLiteral("Copy every table, tab-separated, for a spreadsheet"));
    connect(copyAll, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(tablesAsText()); });
    auto *close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("cmdClose"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto *limitRow = new QHBoxLayout;
    limitRow->addWidget(limitLabel);
    limitRow->addWidget(m_limit);
    limitRow->addStretch(1);

    // Left the questions an owner asks first; right every field's range.
    auto *left = new QVBoxLayout;
    left->addWidget(Heading(QStringLiteral("Flight"), this));
    left->addWidget(overview);
    left->addSpacing(8);
    left->addWidget(Heading(QStringLiteral("Cylinders"), this));
    left->addWidget(cylinders);
    left->addSpacing(8);
    left->addWidget(Heading(QStringLiteral("Spread between cylinders"), this));
    left->addWidget(spread);
    left->addSpacing(8);
    left->addWidget(Heading(QStringLiteral("CHT at or above a limit"), this));
    left->addLayout(limitRow);
    left->addWidget(m_overNote);
    left->addWidget(m_over);
    left->addStretch(1);

    auto *right = new QVBoxLayout;
    right->addWidget(Heading(QStringLiteral("All fields"), this));
    right->addWidget(fields);
    right->addStretch(1);

    auto *columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addSpacing(16);
    columns->addLayout(right);
    columns->addStretch(1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(copyAll);
    buttons->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns, 1);
    layout->addLayout(buttons);

    showChtOver();
    // Sized to show every table whole where the screen allows.
    const QSize available = screen()->availableGeometry().size() * 0.9;
    resize(sizeHint().boundedTo(available));
}

void FrmSummary::showChtOver()
{
    bool ok = false;
    const double limit = QLocale().toDouble(m_limit->text().trimmed(), &ok);
    const QString limitText = m_limit->text().trimmed();
    if (!ok) {
        m_over->setRowCount(0);
        m_over->setVisible(false);
        m_overNote->setText(QStringLiteral("Enter a limit to list each time a cylinder head reached it."));
        return;
    }
    const std::vector<ChtSpan> spans = FindChtOver(m_trace, limit);
    QList<QStringList> rows;
    for (const ChtSpan &s : spans)
        rows << ChtSpanCells(s);
    m_over->setRows(rows);
    m_over->setVisible(!spans.empty());
    if (spans.empty())
        m_overNote->setText(QStringLiteral("No cylinder head reached %1.").arg(limitText));
    else if (spans.size() == 1)
        m_overNote->setText(QStringLiteral("1 span at or above %1:").arg(limitText));
    else
        m_overNote->setText(QStringLiteral("%1 spans at or above %2:").arg(CountText(qint64(spans.size())), limitText));
    m_over->updateGeometry();
}

QString FrmSummary::tablesAsText() const
{
    QStringList blocks;
    for (const auto &[heading, table] : m_tables) {
        if (table == m_over && !m_over->isVisibleTo(this))
            continue;
        QString block = heading + QLatin1Char('\n');
        if (table == m_over)
            block = heading + QStringLiteral(" ") + m_limit->text().trimmed() + QLatin1Char('\n');
        blocks << block + table->asText();
    }
    return blocks.join(QLatin1Char('\n'));
}

FrmSummary *ShowFlightSummary(const WindowContext &context, QWidget *parent)
{
    const FlightData &data = context.state.flightData;
    if (!data.FlightRecordCount) {
        context.prompter.showMessage(AppTitle(), NoFlightLoadedText(), MessageIcon::Information, MessageButtons::Ok);
        return nullptr;
    }
    if (*data.FlightRecordCount == 0) {
        context.prompter.showMessage(AppTitle(), QStringLiteral("The loaded flight file holds no records."),
                                     MessageIcon::Information, MessageButtons::Ok);
        return nullptr;
    }
    // One summary at a time, of the flight loaded now.
    if (parent) {
        for (FrmSummary *old : parent->findChildren<FrmSummary *>(QString(), Qt::FindDirectChildrenOnly)) {
            old->hide();
            old->deleteLater();
        }
    }
    auto *dialog = new FrmSummary(data, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

bool ExportFlightCsv(const WindowContext &context)
{
    const FlightData &data = context.state.flightData;
    if (!data.FlightRecordCount) {
        context.prompter.showMessage(AppTitle(), NoFlightLoadedText(), MessageIcon::Information, MessageButtons::Ok);
        return false;
    }
    const std::optional<QString> name = context.files.chooseFile(SaveFileRequest(
        QStringLiteral("Export CSV"), QStringLiteral("*.csv"), QStringLiteral("csv"), QStringLiteral("flight.csv")));
    if (!name)
        return false;

    // Written aside and put in place at the end, so a failure leaves no half file behind.
    QSaveFile file(*name);
    bool written = file.open(QIODevice::WriteOnly);
    if (written)
        written = WriteFlightCsv(data, [&file](std::string_view piece) {
            return file.write(piece.data(), qint64(piece.size())) == qint64(piece.size());
        });
    if (written)
        written = file.commit();
    if (!written)
        context.prompter.showMessage(
            AppTitle(), QStringLiteral("The CSV file could not be written to %1: %2").arg(*name, file.errorString()),
            MessageIcon::Exclamation, MessageButtons::Ok);
    return written;
}

} // namespace korvel
