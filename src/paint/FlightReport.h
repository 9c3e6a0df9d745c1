#pragma once
// The report an owner hands a mechanic: one page a flight, laid out in the page's own units (96 to
// the inch, the painter scaled to the device), so text stays text and lines stay lines on a PDF.
// Top to bottom: the heading (with the file's SHA-256, so the receiver can check the file), the
// whole flight as the analysis view's three charts, each cylinder's peaks and the largest spreads,
// the findings in the view's words, and the limits the rules used.

#include "core/report/FlightReportData.h"
#include "paint/FlightSketch.h"

#include <QPageSize>
#include <QSizeF>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class QPainter;
class QPdfWriter;
class QFileDevice;

namespace korvel {

// The page's content and the charts' columns it draws.
struct FlightReport : FlightReportData {
    const FlightSketch *sketch = nullptr;
};

// Whether the flight's first and last records fall on different days: every time on its page then
// carries its date.
bool SpansDays(const FlightReport &report);
// A moment as the page writes it: the time of day in the locale's format, as the charts' time axis
// writes it, after its date (YYYY-MM-DD) when the flight spans days; "-" when unknown.
QString PageMomentText(const FlightReport &report, const QDate &date, QTime time);

// Letter where the system's locale measures in US units, else A4.
QPageSize ReportPageSize();
// A page's size in the report's units (96 to the inch), portrait.
QSizeF PageUnits(const QPageSize &size);
// Where a flight report draws its charts on a page of that size: the sketch is gathered for it.
QRect ReportChartArea(const QSizeF &page);

void PaintFlightReport(QPainter &painter, const QSizeF &page, const FlightReport &report);

// A PDF of report pages written beside its file and put in its place only when whole, so a
// failure leaves neither a half PDF nor a changed old one. A pipe or a device (/dev/stdout) is
// written into as it goes.
class ReportPdf {
public:
    ReportPdf();
    ~ReportPdf();
    ReportPdf(const ReportPdf &) = delete;
    ReportPdf &operator=(const ReportPdf &) = delete;

    // False with the reason when the file cannot be written there.
    bool open(const QString &fileName, const QString &title, QString *error);
    // The painter of the next page, scaled to the report's units; the first call begins page one.
    QPainter &nextPage();
    QSizeF page() const { return m_page; }
    // Ends the document and renames it into place; false with the reason.
    bool commit(QString *error);
    // Leaves nothing behind.
    void cancel();

private:
    std::unique_ptr<QFileDevice> m_file; // a QSaveFile for a regular file
    std::unique_ptr<QPdfWriter> m_writer;
    std::unique_ptr<QPainter> m_painter;
    QSizeF m_page;
    bool m_begun = false;
};

} // namespace korvel
