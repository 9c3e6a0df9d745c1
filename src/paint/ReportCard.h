#pragma once
// One aircraft's page drawn: for six measures its recent flights (lowest, median, highest) over the
// other aircraft's flights in the library (the fleet: lowest, quartiles, highest), with a line where
// its median lies outside the fleet's middle half. With no other aircraft, its own months instead.
// What it says is worked out in core (ReportCardData).

#include "core/report/ReportCardData.h"

#include <QSizeF>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QPainter;

namespace korvel {

void PaintReportCard(QPainter &painter, const QSizeF &page, const ReportCardPage &card);

} // namespace korvel
