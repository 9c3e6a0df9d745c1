#pragma once
// The flight summary's figures as text, cell by cell, as the summary window shows them and copies
// them to a spreadsheet.

#include "core/flight/FlightSummary.h"
#include "core/flight/TimeText.h"

#include <QStringList>

namespace korvel {

// "yyyy-MM-dd HH:mm:ss" (MomentText); empty without a moment.
QString MomentText(const std::optional<FlightMoment> &moment);
// A figure as the instrument wrote it: whole numbers without decimals, up to 12 digits.
QString FigureText(double value);
// A mean to one decimal.
QString MeanText(double value);

// One cylinder's peak EGT and its time, then its peak CHT and its time; "-" for a peak never read.
QStringList CylinderPeakCells(const CylinderPeaks &peaks);
// A spread and its time, or "-" and nothing.
QStringList SpreadCells(const std::optional<TimedValue> &spread);
// Field name, count, minimum, maximum, mean.
QStringList FieldFigureCells(const FieldFigures &figures);
// "CYL n", from, to, peak.
QStringList ChtSpanCells(const ChtSpan &span);

} // namespace korvel
