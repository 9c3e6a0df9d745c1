#pragma once
// The report module's commands (built into korvel-cli-report, loaded by korvel-cli for them alone).

#include <QString>
#include <QStringList>

namespace korvel::cli {

class Trail;

int RunReport(const QStringList &args, Trail &trail);
int RunReportCard(const QStringList &args, Trail &trail);

} // namespace korvel::cli
