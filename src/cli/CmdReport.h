#pragma once
// The report commands, built into korvel-report (which korvel-cli runs for them).

#include <QString>
#include <QStringList>

namespace korvel::cli {

class Trail;

int RunReport(const QStringList &args, Trail &trail);
int RunReportCard(const QStringList &args, Trail &trail);

} // namespace korvel::cli
