#pragma once
// The reports written whole: each flight read as it goes (core's report data), its page laid out,
// and the PDF put in place only when it is complete. korvel-cli and the windows call these, so a page is the same
// whichever made it. They draw with QtGui: a QGuiApplication (the offscreen platform will do) must
// exist.

#include "core/flight/Findings.h"
#include "core/report/ReportCardData.h"
#include "paint/FlightReport.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace korvel {

// A flight read once for its report: the page's content and the charts' columns it points to.
struct FlightReportInput {
    FlightReport report;
    std::unique_ptr<FlightSketch> sketch;
};

// Reads path as it goes; nullopt with the reason for a file that cannot be read, holds a
// calibration record or no record.
std::optional<FlightReportInput> ReadFlightForReport(const QString &path, const FindingRules &rules, int columns,
                                                     QString *error);

// One flight of a report: its file, and what the library knows of it.
struct ReportFlight {
    QString path;                    // the file read (a library's copy)
    QString shownName;               // the name the page gives it; the file's own when empty
    std::optional<QString> aircraft; // when known
    QString expectedSha256;          // a library's copy must still match it; empty: not checked
    qint64 libraryId = 0;            // for the message when it does not
};

// The flights into one PDF, a page each, in order. progress(done) after each page (done of
// flights.size()); returning false cancels. False with the reason (empty when cancelled); nothing is
// left at outFile then, and an older file there stays as it was.
bool WriteFlightReports(const std::vector<ReportFlight> &flights, const QString &outFile, const FindingRules &rules,
                        QString *error, const std::function<bool(int done)> &progress = {});

// The report card of aircraft (a normalised registration) from the library in folder: its last
// `flights` flights against the other aircraft. False with the reason; nothing left at outFile then.
bool WriteReportCard(const QString &folder, const QString &aircraft, int flights, const QString &outFile,
                     QString *error);
// A card read already into outFile.
bool WriteReportCardPage(const ReportCardPage &card, const QString &outFile, QString *error);

} // namespace korvel
