#include "paint/ReportCard.h"
#include "core/flight/CountText.h"
#include "core/flight/FlightFields.h"

#include "paint/ChartStack.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace korvel {

namespace {

constexpr int kMargin = 48;
constexpr int kTop = 40;
const QColor kOwn(0x1f, 0x5f, 0xbf);
const QColor kFleet(150, 150, 150);
const QColor kFleetBox(215, 215, 215);

QFont PageFont(int pixels, bool bold = false)
{
    QFont font = ChartFont(bold);
    font.setPixelSize(pixels);
    return font;
}

QString Unit(const CardMeasure &m)
{
    return QLatin1String(m.key) == QLatin1String(FieldMeasureKey(kOilPressureField, FieldStatistic::Min))
               ? QString::fromUtf8(FieldInfoOf(kOilPressureField).unit)
               : QStringLiteral("\u00b0F");
}

QString FiveText(const FiveNumbers &f)
{
    return QStringLiteral("%1 \u00b7 %2 \u00b7 %3 \u00b7 %4 \u00b7 %5")
        .arg(WholeText(f.min), WholeText(f.p25), WholeText(f.median), WholeText(f.p75), WholeText(f.max));
}

// "1 flight", "3 flights".
QString FlightsText(int count)
{
    return CountText(count, QStringLiteral("flight"), QStringLiteral("flights"));
}

// Text cut to width with "..." where it does not fit (a long registration, say).
QString Elided(const QString &text, const QFont &font, int width)
{
    return QFontMetrics(font).elidedText(text, Qt::ElideRight, width);
}

// The page writes whole numbers, so its ticks stand at least one apart.
double WholeStep(double range, int ticks)
{
    return std::max(1.0, NiceStep(range, ticks));
}

// A value axis over [low, high] along a line of `width` from x.
struct Scale {
    double low = 0, high = 1;
    double x = 0, width = 1;
    double at(double v) const { return x + (v - low) * width / (high - low); }
};

Scale ScaleOver(double low, double high, double x, double width)
{
    if (!(high > low)) {
        low -= 1;
        high += 1;
    }
    const double step = WholeStep(high - low, 6);
    return {std::floor(low / step) * step, std::ceil(high / step) * step, x, width};
}

void Ticks(QPainter &painter, const Scale &s, int y)
{
    const double step = WholeStep(s.high - s.low, 6);
    const QFontMetrics metrics(ChartFont());
    painter.setFont(ChartFont());
    for (double v = s.low; v <= s.high + step * 1e-6; v += step) {
        const int px = int(std::lround(s.at(v)));
        painter.setPen(QColor(226, 226, 226));
        painter.drawLine(px, y - 40, px, y);
        painter.setPen(Qt::black);
        const QString label = WholeText(v);
        const int w = metrics.horizontalAdvance(label);
        painter.drawText(QRect(px - w / 2 - 2, y + 2, w + 4, metrics.height()), Qt::AlignCenter, label);
    }
}

// A lowest-to-highest whisker with the middle half as a box and the median across it.
void BoxH(QPainter &painter, const Scale &s, const FiveNumbers &f, int y, int h, const QColor &line, const QColor &box)
{
    painter.setPen(QPen(line, 1.5));
    painter.drawLine(QPointF(s.at(f.min), y + h / 2.0), QPointF(s.at(f.max), y + h / 2.0));
    painter.drawLine(QPointF(s.at(f.min), y + 2), QPointF(s.at(f.min), y + h - 2));
    painter.drawLine(QPointF(s.at(f.max), y + 2), QPointF(s.at(f.max), y + h - 2));
    painter.setBrush(box);
    painter.drawRect(QRectF(QPointF(s.at(f.p25), y), QPointF(s.at(f.p75), y + h)));
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(QPointF(s.at(f.median), y), QPointF(s.at(f.median), y + h));
    painter.setBrush(Qt::NoBrush);
}

void FleetRow(QPainter &painter, const CardRow &row, const QString &aircraft, int left, int width, int y, int height)
{
    const QFont text = PageFont(11);
    painter.setFont(text);
    painter.setPen(kOwn);
    const int lane = 14;
    const QString own = row.own.count ? QStringLiteral("%1: lowest %2, median %3, highest %4 (%5)")
                                            .arg(aircraft, WholeText(row.own.min), WholeText(row.own.median),
                                                 WholeText(row.own.max), FlightsText(row.own.count))
                                      : QStringLiteral("%1: no flight has this figure").arg(aircraft);
    painter.drawText(QRect(left, y, width, 16), Qt::AlignLeft | Qt::AlignVCenter, Elided(own, text, width));
    painter.setPen(QColor(90, 90, 90));
    painter.drawText(QRect(left, y + 16, width, 16), Qt::AlignLeft | Qt::AlignVCenter,
                     row.fleet.count ? QStringLiteral("Fleet: lowest, 25th, 50th, 75th percentile, highest %1 (%2)")
                                           .arg(FiveText(row.fleet), FlightsText(row.fleet.count))
                                     : QStringLiteral("Fleet: no flight has this figure"));
    if (!row.own.count && !row.fleet.count)
        return;
    double low = row.own.count ? row.own.min : row.fleet.min, high = row.own.count ? row.own.max : row.fleet.max;
    if (row.fleet.count) {
        low = std::min(low, row.fleet.min);
        high = std::max(high, row.fleet.max);
    }
    const int top = y + 38;
    const Scale s = ScaleOver(low, high, left + 20, width - 40);
    Ticks(painter, s, top + 2 * lane + 10);
    if (row.fleet.count)
        BoxH(painter, s, row.fleet, top, lane, kFleet, kFleetBox);
    if (row.own.count) {
        const int oy = top + lane + 6;
        painter.setPen(QPen(kOwn, 3, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(QPointF(s.at(row.own.min), oy + lane / 2.0), QPointF(s.at(row.own.max), oy + lane / 2.0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(kOwn);
        const QPointF m(s.at(row.own.median), oy + lane / 2.0);
        painter.drawPolygon(QPolygonF{m + QPointF(0, -6), m + QPointF(6, 0), m + QPointF(0, 6), m + QPointF(-6, 0)});
        painter.setBrush(Qt::NoBrush);
    }
    Q_UNUSED(height);
}

void MonthsRow(QPainter &painter, const CardRow &row, int left, int width, int y, int height)
{
    const int plotTop = y + 4, plotHeight = height - 26;
    double low = 0, high = 0;
    bool any = false;
    for (const auto &[month, f] : row.months) {
        if (!f.count)
            continue;
        low = any ? std::min(low, f.min) : f.min;
        high = any ? std::max(high, f.max) : f.max;
        any = true;
    }
    const QRect plot(left + 44, plotTop, width - 44, plotHeight);
    painter.setPen(kFleet);
    painter.drawRect(plot);
    if (!any) {
        painter.setPen(Qt::darkGray);
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No flight has this figure"));
        return;
    }
    if (!(high > low)) {
        low -= 1;
        high += 1;
    }
    // A little room above and below, so no whisker runs into the frame.
    const double pad = (high - low) * 0.06;
    low -= pad;
    high += pad;
    const double step = WholeStep(high - low, 3);
    low = std::floor(low / step) * step;
    high = std::ceil(high / step) * step;
    const auto py = [&](double v) { return plot.bottom() - (v - low) * plot.height() / (high - low); };
    painter.setFont(ChartFont());
    const QFontMetrics metrics(ChartFont());
    for (double v = low; v <= high + step * 1e-6; v += step) {
        const int yy = int(std::lround(py(v)));
        painter.setPen(QColor(226, 226, 226));
        painter.drawLine(plot.left(), yy, plot.right(), yy);
        painter.setPen(Qt::black);
        painter.drawText(QRect(left, yy - metrics.height() / 2, 40, metrics.height()), Qt::AlignRight | Qt::AlignVCenter,
                         WholeText(v));
    }
    const int n = int(row.months.size());
    const double slot = double(plot.width()) / std::max(1, n);
    const int labelEvery = std::max(1, int(std::ceil((metrics.horizontalAdvance(QStringLiteral("2026-06")) + 8) / slot)));
    for (int i = 0; i < n; ++i) {
        const auto &[month, f] = row.months[size_t(i)];
        const double cx = plot.left() + (i + 0.5) * slot;
        if (i % labelEvery == 0) {
            painter.setPen(Qt::black);
            painter.drawText(QRectF(cx - 30, plot.bottom() + 2, 60, metrics.height()), Qt::AlignCenter, month);
        }
        if (!f.count)
            continue;
        const double w = std::min(18.0, slot * 0.6);
        painter.setPen(QPen(kOwn, 1.5));
        painter.drawLine(QPointF(cx, py(f.min)), QPointF(cx, py(f.max)));
        painter.setBrush(QColor(200, 215, 240));
        painter.drawRect(QRectF(QPointF(cx - w / 2, py(f.p75)), QPointF(cx + w / 2, py(f.p25))));
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::black, 2));
        painter.drawLine(QPointF(cx - w / 2, py(f.median)), QPointF(cx + w / 2, py(f.median)));
    }
}

} // namespace

void PaintReportCard(QPainter &painter, const QSizeF &page, const ReportCardPage &card)
{
    painter.save();
    const int left = kMargin;
    const int width = int(page.width()) - 2 * kMargin;
    int y = kTop;
    const bool fleet = card.fleetAircraft > 0;
    painter.setPen(Qt::black);
    painter.setFont(PageFont(24, true));
    const QString title = QStringLiteral("Report card");
    painter.drawText(QRect(left, y, width, 30), Qt::AlignLeft | Qt::AlignVCenter, title);
    const int titleWidth = QFontMetrics(PageFont(24, true)).horizontalAdvance(title) + 24;
    painter.drawText(QRect(left + titleWidth, y, width - titleWidth, 30), Qt::AlignRight | Qt::AlignVCenter,
                     Elided(card.aircraft, PageFont(24, true), width - titleWidth));
    y += 38;
    const QFont line = PageFont(12);
    painter.setFont(line);
    const QString dates = card.first == card.last ? card.first : QStringLiteral("%1 to %2").arg(card.first, card.last);
    painter.drawText(
        QRect(left, y, width, 18), Qt::AlignLeft | Qt::AlignVCenter,
        Elided(QStringLiteral("%1: its last %2, %3")
                   .arg(card.aircraft, card.flights == 1 ? QStringLiteral("flight") : FlightsText(card.flights), dates),
               line, width));
    y += 18;
    painter.drawText(QRect(left, y, width, 18), Qt::AlignLeft | Qt::AlignVCenter,
                     Elided(fleet
                                ? QStringLiteral("Against the fleet: %1 other aircraft, %2 in the library")
                                      .arg(CountText(card.fleetAircraft), FlightsText(card.fleetFlights))
                                : QStringLiteral("No other aircraft in the library: %1's own months are drawn instead")
                                      .arg(card.aircraft),
                            line, width));
    y += 26;

    if (fleet) {
        const QStringList sentences = CardSentences(card);
        painter.setFont(PageFont(12, true));
        for (const QString &s : sentences) {
            painter.setPen(s.contains(QStringLiteral("percentile")) ? QColor(190, 0, 0) : Qt::black);
            painter.drawText(QRect(left, y, width, 18), Qt::AlignLeft | Qt::AlignVCenter, s);
            y += 18;
        }
        y += 8;
        // The key.
        painter.setFont(PageFont(11));
        painter.setPen(QColor(90, 90, 90));
        painter.drawText(QRect(left, y, width, 16), Qt::AlignLeft | Qt::AlignVCenter,
                         Elided(QStringLiteral("Grey: the fleet, lowest to highest, its middle half boxed, its median "
                                               "across. Blue: %1, lowest to highest, its median a diamond.")
                                    .arg(card.aircraft),
                                PageFont(11), width));
        y += 24;
    } else {
        // The key of the months' charts.
        painter.setFont(PageFont(11));
        painter.setPen(QColor(90, 90, 90));
        painter.drawText(QRect(left, y, width, 16), Qt::AlignLeft | Qt::AlignVCenter,
                         Elided(QStringLiteral("Each month of %1's flights: lowest to highest, the middle half boxed, "
                                               "the median across.")
                                    .arg(card.aircraft),
                                PageFont(11), width));
        y += 24;
    }

    const int foot = int(page.height()) - 48;
    const int rowHeight = (foot - y) / std::max<int>(1, int(card.rows.size()));
    for (const CardRow &row : card.rows) {
        painter.setPen(Qt::black);
        painter.setFont(PageFont(13, true));
        painter.drawText(QRect(left, y, width, 18), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("%1 (%2)").arg(QString::fromLatin1(row.measure.label), Unit(row.measure)));
        if (fleet)
            FleetRow(painter, row, card.aircraft, left, width, y + 20, rowHeight - 28);
        else
            MonthsRow(painter, row, left, width, y + 20, rowHeight - 28);
        y += rowHeight;
    }
    painter.restore();
}

} // namespace korvel
