#include "core/flight/SummaryText.h"

namespace korvel {

QString MomentText(const std::optional<FlightMoment> &moment)
{
    return moment ? MomentText(moment->date, moment->time) : QString();
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
