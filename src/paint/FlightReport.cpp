#include "paint/FlightReport.h"
#include "core/flight/CountText.h"
#include "core/flight/FindingGroups.h"
#include "core/flight/FlightColumns.h"
#include "core/flight/SummaryText.h"
#include "core/flight/TimeText.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
#include <map>
#include <cmath>

namespace korvel {

namespace {

constexpr double kUnitsPerInch = 96;
constexpr int kMargin = 48;
constexpr int kTop = 40;

QFont PageFont(int pixels, bool bold = false)
{
    QFont font = ChartFont(bold);
    font.setPixelSize(pixels);
    return font;
}

QFont MonoFont(int pixels)
{
    QFont font(QStringLiteral("Liberation Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(pixels);
    return font;
}

QString Degrees(double v)
{
    return ReadingText(v) + QStringLiteral("\u00b0");
}

// One line of text at y; the height it took.
int Line(QPainter &painter, int x, int y, int width, const QString &text, const QFont &font,
         Qt::Alignment align = Qt::AlignLeft)
{
    painter.setFont(font);
    const int h = QFontMetrics(font).height();
    painter.drawText(QRect(x, y, width, h), align | Qt::AlignVCenter, text);
    return h;
}

// Label and value pairs on one line, the labels grey.
void Facts(QPainter &painter, int x, int y, const QList<std::pair<QString, QString>> &facts)
{
    const QFont label = PageFont(12), value = PageFont(12, true);
    const QFontMetrics lm(label), vm(value);
    for (const auto &[name, text] : facts) {
        painter.setPen(QColor(90, 90, 90));
        painter.setFont(label);
        painter.drawText(QPoint(x, y + lm.ascent()), name);
        x += lm.horizontalAdvance(name) + 5;
        painter.setPen(Qt::black);
        painter.setFont(value);
        painter.drawText(QPoint(x, y + vm.ascent()), text);
        x += vm.horizontalAdvance(text) + 22;
    }
}

QString LimitsText(const FindingRules &r)
{
    return QStringLiteral(
               "Limits the rules used: CHT hot at or above %1\u00b0. Shock cooling: a CHT falling more than %2\u00b0 "
               "over a minute. EGT fell alone: an EGT falling more than %3\u00b0 over a minute while the other "
               "cylinders' median moved less than %4\u00b0 and the RPM no more than %5%, for %6 s or more. Probe "
               "fault: a reading at or below 0, or one more than %7\u00b0 from the readings before and after it "
               "while they differ by less than %8\u00b0; a faulty reading counts in no figure above. Findings less "
               "than %9 s apart are one.")
        .arg(ReadingText(r.chtLimit), ReadingText(r.shockFall), ReadingText(r.egtFall), ReadingText(r.othersCalm),
             ReadingText(r.rpmCalm * 100), ReadingText(r.transientSeconds), ReadingText(r.spikeJump),
             ReadingText(r.spikeCalm), ReadingText(r.joinSeconds));
}

// Text cut to width with "..." where it does not fit.
QString Elided(const QString &text, const QFont &font, int width)
{
    return QFontMetrics(font).elidedText(text, Qt::ElideRight, width);
}

struct PageFindings {
    std::vector<QString> lines;
    QString more; // how many more of which kind, when not all fit
    bool twoColumns = false;
};

// The findings' lines by what matters, as many as room lines hold (two columns when they are
// many): when they do not fit, probe faults give way first, each of the other kinds keeps at least
// its first line, and the last line says how many more of which kind.
PageFindings PageFindingLines(const FlightReport &r, int room)
{
    std::map<int, std::int64_t> startOf; // a finding's first record: its start
    std::map<int, FlightMoment> momentAt;
    for (const Finding &f : r.findings) {
        startOf.emplace(f.record, f.fromSecond);
        momentAt.emplace(f.record, MomentOfSecond(f.fromSecond));
        momentAt[f.last] = MomentOfSecond(f.toSecond);
    }
    const auto groups =
        GroupFindingsByWhatMatters(r.findings, [&](int record) { return double(startOf[record]); });
    const auto timeText = [&](int record) {
        const FlightMoment &m = momentAt[record];
        return PageMomentText(r, m.date, m.time);
    };
    PageFindings page;
    const int total = int(groups.size());
    page.twoColumns = total > room && room > 4;
    // The count of the rest takes a whole line below the columns.
    const int fits = page.twoColumns ? 2 * (room - 1) + 1 : room;
    std::vector<bool> shown(groups.size(), total <= fits);
    if (total > fits) {
        // One line is the count of the rest: first each leading kind's first line, then in order.
        int left = fits - 1;
        FindingKind seen = FindingKind::ChtProbe;
        for (size_t g = 0; g < groups.size() && left > 0; ++g)
            if (!IsProbeFaultKind(groups[g].kind) && (g == 0 || groups[g].kind != seen)) {
                shown[g] = true;
                seen = groups[g].kind;
                --left;
            }
        for (size_t g = 0; g < groups.size() && left > 0; ++g)
            if (!shown[g]) {
                shown[g] = true;
                --left;
            }
    }
    std::map<FindingKind, int> hidden;
    for (size_t g = 0; g < groups.size(); ++g) {
        if (shown[g])
            page.lines.push_back(FindingGroupLine(groups[g], timeText));
        else
            ++hidden[groups[g].kind];
    }
    if (!hidden.empty()) {
        QStringList kinds;
        int count = 0;
        for (const auto &[kind, n] : hidden) {
            kinds << FindingKindCount(kind, n);
            count += n;
        }
        page.more = QStringLiteral("and %1 more: %2").arg(CountText(count), kinds.join(QStringLiteral(", ")));
    }
    return page;
}

} // namespace

bool SpansDays(const FlightReport &r)
{
    return r.first.date.isValid() && r.last.date.isValid() && r.first.date != r.last.date;
}

QString PageMomentText(const FlightReport &r, const QDate &date, QTime time)
{
    if (!time.isValid())
        return QStringLiteral("-");
    const QString clock = LocalTimeText(time.msecsSinceStartOfDay() / 1000);
    return SpansDays(r) && date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd ")) + clock : clock;
}

QPageSize ReportPageSize()
{
    return QPageSize(QLocale::system().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                                        : QPageSize::A4);
}

QSizeF PageUnits(const QPageSize &size)
{
    return size.size(QPageSize::Inch) * kUnitsPerInch;
}

QRect ReportChartArea(const QSizeF &page)
{
    // The heading above, the table, findings and limits below.
    const int height = int(page.height() * 0.42);
    return QRect(kMargin - 16, kTop + 96, int(page.width()) - 2 * kMargin + 32, height);
}

void PaintFlightReport(QPainter &painter, const QSizeF &page, const FlightReport &r)
{
    painter.save();
    const int left = kMargin;
    const int width = int(page.width()) - 2 * kMargin;
    int y = kTop;

    // The heading.
    painter.setPen(Qt::black);
    Line(painter, left, y, width, QStringLiteral("Flight report"), PageFont(24, true));
    if (r.aircraft) {
        const int title = QFontMetrics(PageFont(24, true)).horizontalAdvance(QStringLiteral("Flight report")) + 24;
        Line(painter, left + title, y, width - title, Elided(*r.aircraft, PageFont(24, true), width - title),
             PageFont(24, true), Qt::AlignRight);
    }
    y += 36;
    Facts(painter, left, y,
          {{QStringLiteral("Date"),
            r.first.date.isValid() ? r.first.date.toString(QStringLiteral("yyyy-MM-dd")) : QStringLiteral("none")},
           {QStringLiteral("First record"), PageMomentText(r, r.first.date, r.first.time)},
           {QStringLiteral("Last record"), PageMomentText(r, r.last.date, r.last.time)},
           {QStringLiteral("Duration"),
            r.durationSeconds ? DurationText(std::max<qint64>(0, *r.durationSeconds)) : QStringLiteral("-")},
           {QStringLiteral("Records"), CountText(r.records)}});
    y += 20;
    // A long file name is cut with "..." at the page's edge.
    const int fileRoom = width - QFontMetrics(PageFont(12)).horizontalAdvance(QStringLiteral("File")) - 5;
    Facts(painter, left, y, {{QStringLiteral("File"), Elided(r.fileName, PageFont(12, true), fileRoom)}});
    y += 18;
    painter.setPen(QColor(90, 90, 90));
    const QFont label = PageFont(12);
    painter.setFont(label);
    painter.drawText(QPoint(left, y + QFontMetrics(label).ascent()), QStringLiteral("SHA-256"));
    painter.setPen(Qt::black);
    const QFont mono = MonoFont(11);
    painter.setFont(mono);
    painter.drawText(QPoint(left + QFontMetrics(label).horizontalAdvance(QStringLiteral("SHA-256")) + 5,
                            y + QFontMetrics(label).ascent()),
                     r.sha256);

    // The charts, with the findings' moments shaded.
    // The charts take the room the findings leave, between about two fifths and half the page: a
    // clean flight's page is charts, a troubled one's keeps room for its findings.
    const QFont cellFont = PageFont(12);
    const int cylinderRows = int(std::count_if(r.cylinders.begin(), r.cylinders.end(),
                                               [](const CylinderPeaks &p) { return p.egt || p.cht; }));
    const int findingLines = std::min<int>(std::max<size_t>(1, r.findings.size()), 12);
    const int below = 14 + (cylinderRows + 2) * (QFontMetrics(cellFont).height() + 3) + 10 +
                      (findingLines + 1) * (QFontMetrics(cellFont).height() + 1) + 16 +
                      QFontMetrics(PageFont(10)).boundingRect(QRect(0, 0, width, int(page.height())), Qt::TextWordWrap,
                                                              LimitsText(r.rules)).height() + 48;
    QRect charts = ReportChartArea(page);
    const int room = int(page.height()) - charts.top() - below;
    charts.setHeight(std::clamp(room, charts.height(), int(page.height() * 0.52)));
    if (r.sketch) {
        // Overlapping spans as one: a noisy flight's many findings shade a few stretches.
        const double column = (r.sketch->x1() - r.sketch->x0()) / r.sketch->columns();
        std::vector<std::pair<double, double>> shaded;
        for (const Finding &f : r.findings) {
            const std::pair<double, double> span{r.sketch->xOfRecord(f.record), r.sketch->xOfRecord(f.last)};
            if (!shaded.empty() && span.first <= shaded.back().second + column)
                shaded.back().second = std::max(shaded.back().second, span.second);
            else
                shaded.push_back(span);
        }
        ChartStack stack = SketchStack(*r.sketch, r.rules.chtLimit);
        stack.shaded = shaded;
        PaintChartStack(painter, charts, stack);
    }
    y = charts.bottom() + 14;

    // Each cylinder's peaks, then the largest spreads.
    const QFont head = PageFont(12, true), cell = PageFont(12);
    const int rowHeight = QFontMetrics(cell).height() + 3;
    // The times' column as wide as a time (with its date, when it has one) is written.
    const int at = std::max(76, QFontMetrics(cell).horizontalAdvance(PageMomentText(r, r.last.date, QTime(22, 58, 58))) + 6);
    const int colWidth = 76;
    const int col[] = {left, left + 150, left + 154 + colWidth, left + 178 + colWidth + at,
                       left + 182 + 2 * colWidth + at};
    painter.setPen(Qt::black);
    Line(painter, col[0], y, 150, QStringLiteral("Cylinder"), head);
    Line(painter, col[1], y, colWidth, QStringLiteral("Peak EGT"), head, Qt::AlignRight);
    Line(painter, col[2], y, at, QStringLiteral("at"), head, Qt::AlignRight);
    Line(painter, col[3], y, colWidth, QStringLiteral("Peak CHT"), head, Qt::AlignRight);
    Line(painter, col[4], y, at, QStringLiteral("at"), head, Qt::AlignRight);
    y += rowHeight;
    painter.setPen(QColor(150, 150, 150));
    painter.drawLine(left, y - 2, col[4] + at, y - 2);
    const auto row = [&](const QString &name, const std::optional<TimedValue> &egt,
                         const std::optional<TimedValue> &cht) {
        painter.setPen(Qt::black);
        Line(painter, col[0], y, 150, name, cell);
        Line(painter, col[1], y, colWidth, egt ? Degrees(egt->value) : QStringLiteral("-"), cell, Qt::AlignRight);
        Line(painter, col[2], y, at, egt ? PageMomentText(r, egt->date, egt->time) : QString(), cell, Qt::AlignRight);
        Line(painter, col[3], y, colWidth, cht ? Degrees(cht->value) : QStringLiteral("-"), cell, Qt::AlignRight);
        Line(painter, col[4], y, at, cht ? PageMomentText(r, cht->date, cht->time) : QString(), cell, Qt::AlignRight);
        y += rowHeight;
    };
    for (int c = 0; c < kCylinders; ++c) {
        const CylinderPeaks &p = r.cylinders[size_t(c)];
        if (p.egt || p.cht)
            row(QString::number(c + 1), p.egt, p.cht);
    }
    painter.setPen(QColor(150, 150, 150));
    painter.drawLine(left, y - 1, col[4] + at, y - 1);
    row(QStringLiteral("Largest spread"), r.egtSpread, r.chtSpread);
    y += 10;

    // The findings, as many as the page holds; the limits at its foot.
    const QFont limitsFont = PageFont(10);
    const QRect limitsBox(left, 0, width, int(page.height()));
    const int limitsHeight =
        QFontMetrics(limitsFont).boundingRect(limitsBox, Qt::TextWordWrap, LimitsText(r.rules)).height();
    const int foot = int(page.height()) - 40 - limitsHeight;
    painter.setPen(Qt::black);
    y += Line(painter, left, y, width, QStringLiteral("Findings"), head) + 2;
    const int lineHeight = QFontMetrics(cell).height() + 1;
    if (r.findings.empty()) {
        Line(painter, left, y, width, QStringLiteral("No findings."), cell);
    } else {
        const PageFindings list = PageFindingLines(r, std::max(1, (foot - 8 - y) / lineHeight));
        const int lines = int(list.lines.size());
        const int perColumn = list.twoColumns ? (lines + 1) / 2 : std::max(1, lines);
        const int columnWidth = list.twoColumns ? width / 2 - 8 : width;
        for (int i = 0; i < lines; ++i)
            Line(painter, i >= perColumn ? left + width / 2 : left, y + (i % perColumn) * lineHeight, columnWidth,
                 Elided(list.lines[size_t(i)], cell, columnWidth), cell);
        if (!list.more.isEmpty())
            Line(painter, left, y + std::min(lines, perColumn) * lineHeight, width,
                 Elided(list.more, PageFont(12, true), width), PageFont(12, true));
    }
    painter.setPen(QColor(60, 60, 60));
    painter.setFont(limitsFont);
    painter.drawText(QRect(left, foot, width, limitsHeight), Qt::TextWordWrap, LimitsText(r.rules));
    painter.restore();
}

ReportPdf::ReportPdf() = default;

ReportPdf::~ReportPdf()
{
    cancel();
}

bool ReportPdf::open(const QString &fileName, const QString &title, QString *error)
{
    const QFileInfo target(fileName);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        // A pipe or a device is written into as it is, never replaced by a file.
        m_file = std::make_unique<QFile>(fileName);
    } else {
        m_file = std::make_unique<QSaveFile>(fileName);
    }
    if (!m_file->open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(fileName, m_file->errorString());
        m_file.reset();
        return false;
    }
    m_writer = std::make_unique<QPdfWriter>(m_file.get());
    const QPageSize size = ReportPageSize();
    m_writer->setPageSize(size);
    m_writer->setPageOrientation(QPageLayout::Portrait);
    m_writer->setPageMargins(QMarginsF(0, 0, 0, 0));
    m_writer->setTitle(title);
    m_writer->setCreator(QStringLiteral("Korvel Engine Monitor"));
    m_page = PageUnits(size);
    return true;
}

QPainter &ReportPdf::nextPage()
{
    if (!m_begun) {
        m_painter = std::make_unique<QPainter>(m_writer.get());
        m_begun = true;
    } else {
        m_painter->restore();
        m_writer->newPage();
    }
    m_painter->save();
    const double scale = m_writer->resolution() / kUnitsPerInch;
    m_painter->scale(scale, scale);
    return *m_painter;
}

bool ReportPdf::commit(QString *error)
{
    if (!m_file)
        return false;
    if (m_painter) {
        m_painter->restore();
        m_painter->end();
    }
    m_painter.reset();
    m_writer.reset();
    auto *whole = qobject_cast<QSaveFile *>(m_file.get());
    bool ok = false;
    if (whole) {
        ok = whole->commit();
    } else {
        ok = m_file->flush() && m_file->error() == QFileDevice::NoError;
        m_file->close();
    }
    if (!ok && error)
        *error = QStringLiteral("cannot write %1: %2").arg(m_file->fileName(), m_file->errorString());
    m_file.reset();
    return ok;
}

void ReportPdf::cancel()
{
    if (m_painter && m_painter->isActive()) {
        m_painter->restore(); // the page's scale
        m_painter->end();
    }
    m_painter.reset();
    m_writer.reset();
    if (auto *whole = qobject_cast<QSaveFile *>(m_file.get()))
        whole->cancelWriting();
    m_file.reset();
}

} // namespace korvel
