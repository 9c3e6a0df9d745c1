#include "paint/FlightReport.h"
#include "core/flight/SummaryText.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <algorithm>
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

} // namespace

QString FindingWords(const Finding &f)
{
    const QString cyl = QString::number(f.cylinder);
    switch (f.kind) {
    case FindingKind::ChtHigh:
        return QStringLiteral("CHT %1 hot: %2 peak").arg(cyl, Degrees(f.value));
    case FindingKind::ShockCooling:
        return QStringLiteral("CHT %1 shock cooling: %2/min").arg(cyl, Degrees(f.value));
    case FindingKind::EgtDrop:
        return QStringLiteral("EGT %1 fell alone: %2/min").arg(cyl, Degrees(f.value));
    case FindingKind::EgtProbe:
        return QStringLiteral("EGT %1 probe fault: read %2").arg(cyl, ReadingText(f.value));
    case FindingKind::ChtProbe:
        return QStringLiteral("CHT %1 probe fault: read %2").arg(cyl, ReadingText(f.value));
    }
    return QString();
}

QString FindingTimes(const Finding &f)
{
    return f.last > f.record ? QStringLiteral("%1 to %2").arg(ClockText(f.from), ClockText(f.to))
                             : QStringLiteral("at %1").arg(ClockText(f.from));
}

QString ClockText(QTime time)
{
    return time.isValid() ? time.toString(QStringLiteral("HH:mm:ss")) : QStringLiteral("--:--:--");
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
    if (r.aircraft)
        Line(painter, left, y, width, *r.aircraft, PageFont(24, true), Qt::AlignRight);
    y += 36;
    Facts(painter, left, y,
          {{QStringLiteral("Date"), r.first.date.isValid() ? r.first.date.toString(QStringLiteral("yyyy-MM-dd"))
                                                           : QStringLiteral("none")},
           {QStringLiteral("First record"), ClockText(r.first.time)},
           {QStringLiteral("Last record"), ClockText(r.last.time)},
           {QStringLiteral("Duration"), r.durationSeconds ? DurationText(std::max<qint64>(0, *r.durationSeconds)) : QStringLiteral("-")},
           {QStringLiteral("Records"), QString::number(r.records)}});
    y += 20;
    Facts(painter, left, y, {{QStringLiteral("File"), r.fileName}});
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
    const int col[] = {left, left + 150, left + 230, left + 330, left + 410};
    const int colWidth = 76;
    painter.setPen(Qt::black);
    Line(painter, col[0], y, 150, QStringLiteral("Cylinder"), head);
    Line(painter, col[1], y, colWidth, QStringLiteral("Peak EGT"), head, Qt::AlignRight);
    Line(painter, col[2], y, colWidth, QStringLiteral("at"), head, Qt::AlignRight);
    Line(painter, col[3], y, colWidth, QStringLiteral("Peak CHT"), head, Qt::AlignRight);
    Line(painter, col[4], y, colWidth, QStringLiteral("at"), head, Qt::AlignRight);
    y += rowHeight;
    painter.setPen(QColor(150, 150, 150));
    painter.drawLine(left, y - 2, col[4] + colWidth, y - 2);
    const auto row = [&](const QString &name, const std::optional<TimedValue> &egt,
                         const std::optional<TimedValue> &cht) {
        painter.setPen(Qt::black);
        Line(painter, col[0], y, 150, name, cell);
        Line(painter, col[1], y, colWidth, egt ? Degrees(egt->value) : QStringLiteral("-"), cell, Qt::AlignRight);
        Line(painter, col[2], y, colWidth, egt ? ClockText(egt->time) : QString(), cell, Qt::AlignRight);
        Line(painter, col[3], y, colWidth, cht ? Degrees(cht->value) : QStringLiteral("-"), cell, Qt::AlignRight);
        Line(painter, col[4], y, colWidth, cht ? ClockText(cht->time) : QString(), cell, Qt::AlignRight);
        y += rowHeight;
    };
    for (int c = 0; c < kCylinders; ++c) {
        const CylinderPeaks &p = r.cylinders[size_t(c)];
        if (p.egt || p.cht)
            row(QString::number(c + 1), p.egt, p.cht);
    }
    painter.setPen(QColor(150, 150, 150));
    painter.drawLine(left, y - 1, col[4] + colWidth, y - 1);
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
        const int room = std::max(1, (foot - 8 - y) / lineHeight);
        const int shown = int(r.findings.size()) <= room ? int(r.findings.size()) : room - 1;
        // Two columns when they are many, so a page holds more.
        const bool twoColumns = int(r.findings.size()) > room && room > 4;
        const int perColumn = twoColumns ? room : room;
        const int total = twoColumns ? std::min(int(r.findings.size()), 2 * room - 1) : shown;
        for (int i = 0; i < total; ++i) {
            const Finding &f = r.findings[size_t(i)];
            const int x = twoColumns && i >= perColumn ? left + width / 2 : left;
            const int yy = y + (twoColumns ? i % perColumn : i) * lineHeight;
            Line(painter, x, yy, twoColumns ? width / 2 - 8 : width, FindingWords(f) + QStringLiteral(", ") + FindingTimes(f),
                 cell);
        }
        if (total < int(r.findings.size())) {
            const int x = twoColumns ? left + width / 2 : left;
            const int yy = y + (twoColumns ? room - 1 : shown) * lineHeight;
            Line(painter, x, yy, twoColumns ? width / 2 : width,
                 QStringLiteral("and %1 more findings").arg(r.findings.size() - size_t(total)), PageFont(12, true));
        }
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
    m_file = std::make_unique<QSaveFile>(fileName);
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
    const bool ok = m_file->commit();
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
    if (m_file)
        m_file->cancelWriting();
    m_file.reset();
}

} // namespace korvel
