#include "paint/ReportWriter.h"

#include "core/report/FlightReportData.h"
#include "core/report/ReportCardData.h"
#include "paint/ReportCard.h"

#include <QFileInfo>
#include <QPainter>

namespace korvel {

std::optional<FlightReportInput> ReadFlightForReport(const QString &path, const FindingRules &rules, int columns,
                                                     QString *error)
{
    FlightReportInput in;
    in.sketch = std::make_unique<FlightSketch>(columns);
    std::optional<FlightReportData> data =
        ReadFlightReportData(path, rules, [&](const RecordReadings &record) { in.sketch->add(record); }, error);
    if (!data)
        return std::nullopt;
    static_cast<FlightReportData &>(in.report) = std::move(*data);
    in.report.sketch = in.sketch.get();
    return in;
}

bool WriteFlightReports(const std::vector<ReportFlight> &flights, const QString &outFile, const FindingRules &rules,
                        QString *error, const std::function<bool(int done)> &progress)
{
    for (const ReportFlight &flight : flights)
        if (QFileInfo(outFile).exists() && QFileInfo(outFile).canonicalFilePath() == QFileInfo(flight.path).canonicalFilePath()) {
            *error = QStringLiteral("%1 is the flight itself; name another file for its report").arg(outFile);
            return false;
        }
    // The file is made first, so one that cannot be written is said before a long read.
    ReportPdf pdf;
    if (!pdf.open(outFile, flights.size() == 1 ? QStringLiteral("Flight report") : QStringLiteral("Flight reports"),
                  error)) {
        *error += QStringLiteral("; choose another file");
        return false;
    }
    const int columns = SketchColumns(ReportChartArea(pdf.page()));
    int done = 0;
    for (const ReportFlight &flight : flights) {
        auto in = ReadFlightForReport(flight.path, rules, columns, error);
        if (!in) {
            pdf.cancel();
            return false;
        }
        if (!flight.expectedSha256.isEmpty() && in->report.sha256 != flight.expectedSha256) {
            pdf.cancel();
            *error = QStringLiteral("the library's copy of flight %1 is damaged (its SHA-256 no longer matches); "
                                    "import the flight's file again")
                         .arg(flight.libraryId);
            return false;
        }
        in->report.aircraft = flight.aircraft;
        if (!flight.shownName.isEmpty())
            in->report.fileName = flight.shownName;
        PaintFlightReport(pdf.nextPage(), pdf.page(), in->report);
        if (progress && !progress(++done)) {
            pdf.cancel();
            error->clear();
            return false;
        }
    }
    return pdf.commit(error);
}

bool WriteReportCard(const QString &folder, const QString &aircraft, int flights, const QString &outFile,
                     QString *error)
{
    const std::optional<ReportCardPage> card = ReadReportCard(folder, aircraft, flights, error);
    return card && WriteReportCardPage(*card, outFile, error);
}

bool WriteReportCardPage(const ReportCardPage &card, const QString &outFile, QString *error)
{
    ReportPdf pdf;
    if (!pdf.open(outFile, QStringLiteral("Report card %1").arg(card.aircraft), error)) {
        *error += QStringLiteral("; choose another file");
        return false;
    }
    PaintReportCard(pdf.nextPage(), pdf.page(), card);
    return pdf.commit(error);
}

} // namespace korvel
