#include "gui/graphs/FrmSummary.h"

#include "core/flight/FlightCsv.h"

#include <QAction>
#include <QClipboard>
#include <QDoubleValidator>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSaveFile>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace korvel {

namespace {

// A read-only table whose Copy (Ctrl+C or its context menu) takes the whole selection,
// tab-separated, as spreadsheets paste it.
class SummaryTable : public QTableWidget {
public:
    SummaryTable(const char *name, const QStringList &columns, QWidget *parent) : QTableWidget(parent)
    {
        setObjectName(QLatin1String(name));
        setColumnCount(int(columns.size()));
        setHorizontalHeaderLabels(columns);
        setEditTriggers(QAbstractItemView::NoEditTriggers);
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        setAlternatingRowColors(true);
        setWordWrap(false);
        setCornerButtonEnabled(true);
        verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        horizontalHeader()->setHighlightSections(false);
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Maximum);
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

        auto *copy = new QAction(QStringLiteral("Copy"), this);
        copy->setShortcut(QKeySequence::Copy);
        copy->setShortcutContext(Qt::WidgetShortcut);
        connect(copy, &QAction::triggered, this, [this] { QGuiApplication::clipboard()->setText(selectionAsText()); });
        auto *copyAll = new QAction(QStringLiteral("Copy Table"), this);
        connect(copyAll, &QAction::triggered, this, [this] { QGuiApplication::clipboard()->setText(asText()); });
        addAction(copy);
        addAction(copyAll);
        setContextMenuPolicy(Qt::ActionsContextMenu);
    }

    // The rows of labels and values; numbers stand to the right.
    void setRows(const QList<QStringList> &rows, const QStringList &rowLabels = {})
    {
        setRowCount(int(rows.size()));
        verticalHeader()->setVisible(!rowLabels.isEmpty());
        if (!rowLabels.isEmpty())
            setVerticalHeaderLabels(rowLabels);
        for (int r = 0; r < rows.size(); ++r) {
            for (int c = 0; c < rows[r].size() && c < columnCount(); ++c) {
                auto *item = new QTableWidgetItem(rows[r][c]);
                if (c > 0 || rowLabels.size() > 0)
                    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                setItem(r, c, item);
            }
        }
        resizeColumnsToContents();
        for (int c = 0; c < columnCount(); ++c)
            setColumnWidth(c, columnWidth(c) + 12);
    }

    // Every row, with the column headings first (and the row labels, when shown, in front).
    QString asText() const
    {
        const bool labelled = !verticalHeader()->isHidden();
        QStringList lines;
        if (!horizontalHeader()->isHidden()) {
            QStringList heading;
            if (labelled)
                heading << QString();
            for (int c = 0; c < columnCount(); ++c)
                heading << horizontalHeaderItem(c)->text();
            lines << heading.join(QLatin1Char('\t'));
        }
        for (int r = 0; r < rowCount(); ++r) {
            QStringList cells;
            if (labelled)
                cells << verticalHeaderItem(r)->text();
            for (int c = 0; c < columnCount(); ++c)
                cells << (item(r, c) ? item(r, c)->text() : QString());
            lines << cells.join(QLatin1Char('\t'));
        }
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }

    // The selected cells' bounding rows and columns; cells outside the selection stay empty.
    QString selectionAsText() const
    {
        const QModelIndexList selected = selectedIndexes();
        if (selected.isEmpty())
            return {};
        int top = rowCount(), bottom = -1, left = columnCount(), right = -1;
        for (const QModelIndex &i : selected) {
            top = std::min(top, i.row());
            bottom = std::max(bottom, i.row());
            left = std::min(left, i.column());
            right = std::max(right, i.column());
        }
        QStringList lines;
        for (int r = top; r <= bottom; ++r) {
            QStringList cells;
            for (int c = left; c <= right; ++c)
                cells << (item(r, c) && item(r, c)->isSelected() ? item(r, c)->text() : QString());
            lines << cells.join(QLatin1Char('\t'));
        }
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }

    // As wide as its columns and as high as its rows. A long table shows `rows` of them, keeps room
    // for its scroll bar, and gives up height down to a few rows when the screen is small.
    void scrollAfter(int rows)
    {
        m_visibleRows = rows;
        horizontalHeader()->setStretchLastSection(true);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    }

    QSize sizeHint() const override { return sizeFor(m_visibleRows); }
    QSize minimumSizeHint() const override { return sizeFor(std::min(m_visibleRows, 4)); }

private:
    QSize sizeFor(int rows) const
    {
        int width = 2 * frameWidth();
        if (!verticalHeader()->isHidden())
            width += verticalHeader()->sizeHint().width();
        for (int c = 0; c < columnCount(); ++c)
            width += columnWidth(c);
        if (m_visibleRows < kAllRows)
            width += verticalScrollBar()->sizeHint().width();
        int height = 2 * frameWidth();
        if (!horizontalHeader()->isHidden())
            height += horizontalHeader()->sizeHint().height();
        const int shown = std::min(rowCount(), rows);
        for (int r = 0; r < shown; ++r)
            height += rowHeight(r);
        return {width, height};
    }

    static constexpr int kAllRows = 1 << 20;
    int m_visibleRows = kAllRows;
};

QString TimeText(QTime time)
{
    return time.isValid() ? time.toString(QStringLiteral("HH:mm:ss")) : QString();
}

QString MomentText(const std::optional<FlightMoment> &moment)
{
    if (!moment)
        return {};
    return moment->date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') + TimeText(moment->time);
}

QString DurationText(std::int64_t seconds)
{
    const QString sign = seconds < 0 ? QStringLiteral("-") : QString();
    seconds = std::abs(seconds);
    return sign + QStringLiteral("%1:%2:%3")
                      .arg(seconds / 3600)
                      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// A value as the instrument wrote it: whole numbers without decimals.
QString ValueText(double v)
{
    return QString::number(v, 'g', 12);
}

QString MeanText(double v)
{
    return QString::number(v, 'f', 1);
}

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
    int hottest = -1;
    for (int c = 0; c < kCylinders; ++c) {
        const auto &v = peaks[size_t(c)].*which;
        if (v && (hottest < 0 || v->value > (peaks[size_t(hottest)].*which)->value))
            hottest = c;
    }
    if (hottest < 0)
        return;
    for (const int col : {column, column + 1}) {
        QTableWidgetItem *item = table->item(hottest, col);
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
    auto *overview = new SummaryTable("tblOverview", {QStringLiteral("Flight")}, this);
    overview->horizontalHeader()->hide();
    overview->setRows({{QString::number(m_summary.records)},
                       {MomentText(m_summary.first)},
                       {MomentText(m_summary.last)},
                       {m_summary.durationSeconds ? DurationText(*m_summary.durationSeconds) : QString()}},
                      {QStringLiteral("Records"), QStringLiteral("First record"), QStringLiteral("Last record"),
                       QStringLiteral("Duration")});

    auto *cylinders = new SummaryTable(
        "tblCylinders",
        {QStringLiteral("Peak EGT"), QStringLiteral("at"), QStringLiteral("Peak CHT"), QStringLiteral("at")}, this);
    QList<QStringList> cylinderRows;
    QStringList cylinderLabels;
    for (int c = 0; c < kCylinders; ++c) {
        const CylinderPeaks &p = m_summary.cylinders[size_t(c)];
        cylinderRows << QStringList{p.egt ? ValueText(p.egt->value) : QStringLiteral("-"),
                                    p.egt ? TimeText(p.egt->time) : QString(),
                                    p.cht ? ValueText(p.cht->value) : QStringLiteral("-"),
                                    p.cht ? TimeText(p.cht->time) : QString()};
        cylinderLabels << QStringLiteral("CYL %1").arg(c + 1);
    }
    cylinders->setRows(cylinderRows, cylinderLabels);
    MarkHottest(cylinders, 0, m_summary.cylinders, &CylinderPeaks::egt);
    MarkHottest(cylinders, 2, m_summary.cylinders, &CylinderPeaks::cht);

    auto *spread = new SummaryTable("tblSpread", {QStringLiteral("Largest spread"), QStringLiteral("at")}, this);
    auto spreadRow = [](const std::optional<TimedValue> &v) {
        return v ? QStringList{ValueText(v->value), TimeText(v->time)} : QStringList{QStringLiteral("-"), QString()};
    };
    spread->setRows({spreadRow(m_summary.egtSpread), spreadRow(m_summary.chtSpread)},
                    {QStringLiteral("EGT"), QStringLiteral("CHT")});

    auto *fields = new SummaryTable("tblFields",
                                    {QStringLiteral("Field"), QStringLiteral("Count"), QStringLiteral("Min"),
                                     QStringLiteral("Max"), QStringLiteral("Mean")},
                                    this);
    QList<QStringList> fieldRows;
    for (const FieldFigures &f : m_summary.fields)
        fieldRows << QStringList{FlightFieldName(f.field), QString::number(f.count), ValueText(f.minimum),
                                 ValueText(f.maximum), MeanText(f.mean)};
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
    m_over = new SummaryTable("tblChtOver",
                              {QStringLiteral("Cylinder"), QStringLiteral("From"), QStringLiteral("To"),
                               QStringLiteral("Peak")},
                              this);
    static_cast<SummaryTable *>(m_over)->scrollAfter(6);
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
        rows << QStringList{QStringLiteral("CYL %1").arg(s.cylinder), TimeText(s.from), TimeText(s.to),
                            ValueText(s.peak)};
    static_cast<SummaryTable *>(m_over)->setRows(rows);
    m_over->setVisible(!spans.empty());
    if (spans.empty())
        m_overNote->setText(QStringLiteral("No cylinder head reached %1.").arg(limitText));
    else if (spans.size() == 1)
        m_overNote->setText(QStringLiteral("1 span at or above %1:").arg(limitText));
    else
        m_overNote->setText(
            QStringLiteral("%1 spans at or above %2:").arg(spans.size()).arg(limitText));
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
        blocks << block + static_cast<const SummaryTable *>(table)->asText();
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
    FileDialogRequest request;
    request.title = QStringLiteral("Export CSV");
    request.filter = QStringLiteral("*.csv");
    request.defaultExtension = QStringLiteral("csv");
    request.initialFileName = QStringLiteral("flight.csv");
    request.save = true;
    const std::optional<QString> name = context.files.chooseFile(request);
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
        context.prompter.showMessage(AppTitle(),
                                     QStringLiteral("The CSV file could not be written to %1: %2")
                                         .arg(*name, file.errorString()),
                                     MessageIcon::Exclamation, MessageButtons::Ok);
    return written;
}

} // namespace korvel
