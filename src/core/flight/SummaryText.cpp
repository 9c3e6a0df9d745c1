#include "core/flight/SummaryText.h"

#include <cstdlib>

namespace korvel {

QString TimeOfDayText(QTime time)
{
    return time.isValid() ? time.toString(QStringLiteral("HH:mm:ss")) : QString();
}

QString MomentText(const std::optional<FlightMoment> &moment)
{
    if (!moment)
        return {};
    return moment->date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ') + TimeOfDayText(moment->time);
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

QString FigureText(double value)
{
    return QString::number(value, 'g', 12);
}

QString MeanText(double value)
{
    return QString::number(value, 'f', 1);
}

QStringList CylinderPeakCells(const CylinderPeaks &peaks)
{
    return {peaks.egt ? FigureText(peaks.egt->value) : QStringLiteral("-"),
            peaks.egt ? TimeOfDayText(peaks.egt->time) : QString(),
            peaks.cht ? FigureText(peaks.cht->value) : QStringLiteral("-"),
            peaks.cht ? TimeOfDayText(peaks.cht->time) : QString()};
}

QStringList SpreadCells(const std::optional<TimedValue> &spread)
{
    return spread ? QStringList{FigureText(spread->value), TimeOfDayText(spread->time)}
                  : QStringList{QStringLiteral("-"), QString()};
}

QStringList FieldFigureCells(const FieldFigures &figures)
{
    return {FlightFieldName(figures.field), QString::number(figures.count), FigureText(figures.minimum),
            FigureText(figures.maximum), MeanText(figures.mean)};
}

QStringList ChtSpanCells(const ChtSpan &span)
{
    return {QStringLiteral("CYL %1").arg(span.cylinder), TimeOfDayText(span.from), TimeOfDayText(span.to),
            FigureText(span.peak)};
}

} // namespace korvel
