#include "gui/common/ReportCommands.h"

#include "core/library/FlightLibrary.h"
#include "core/settings/Settings.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>
#include <QStandardPaths>

namespace korvel {

namespace {

std::optional<QString> AskPdf(const WindowContext &context, const QString &title, const QString &name)
{
    FileDialogRequest request;
    request.title = title;
    request.filter = QStringLiteral("*.pdf");
    request.defaultExtension = QStringLiteral("pdf");
    request.initialFileName = name;
    request.folder = SaveDialogFolder();
    request.save = true;
    const std::optional<QString> chosen = context.files.chooseFile(request);
    if (chosen)
        RememberSaveFolder(*chosen);
    return chosen;
}

void Tell(const WindowContext &context, const QString &error)
{
    context.prompter.showMessage(AppTitle(), QStringLiteral("The report was not written: ") + error,
                                 MessageIcon::Exclamation, MessageButtons::Ok);
}

} // namespace

QString SaveDialogFolder()
{
    const QString last = LibraryDialogFolder();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

void RememberSaveFolder(const QString &file)
{
    if (!file.isEmpty())
        SetLibraryDialogFolder(QDir::toNativeSeparators(QFileInfo(file).absolutePath()));
}

std::vector<ReportFlight> LibraryReportFlights(FlightLibrary &library, const QList<qint64> &ids)
{
    std::vector<ReportFlight> flights;
    for (const qint64 id : ids) {
        const std::optional<LibraryFlight> flight = library.flight(id);
        const std::optional<QString> copy = flight ? library.copyPath(id) : std::nullopt;
        if (flight && copy)
            flights.push_back({*copy, QFileInfo(flight->source).fileName(), flight->aircraft, flight->sha256, id});
    }
    return flights;
}

bool SaveReportCommand(const WindowContext &context, const ReportFlight &flight, const FindingRules &rules)
{
    const QString shown = flight.shownName.isEmpty() ? QFileInfo(flight.path).fileName() : flight.shownName;
    const std::optional<QString> name =
        AskPdf(context, QStringLiteral("Save Report"), QFileInfo(shown).completeBaseName() + QStringLiteral(".pdf"));
    if (!name)
        return false;
    QString error;
    if (!WriteFlightReports({flight}, *name, rules, &error)) {
        Tell(context, error);
        return false;
    }
    return true;
}

bool SaveReportsCommand(const WindowContext &context, QWidget *parent, const std::vector<ReportFlight> &flights)
{
    if (flights.empty())
        return false;
    const std::optional<QString> name =
        AskPdf(context, QStringLiteral("Report"),
               flights.size() == 1 ? QFileInfo(flights.front().shownName).completeBaseName() + QStringLiteral(".pdf")
                                   : QStringLiteral("flights.pdf"));
    if (!name)
        return false;
    std::unique_ptr<QProgressDialog> progress;
    if (flights.size() > 1) {
        progress = std::make_unique<QProgressDialog>(QStringLiteral("Drawing the reports..."), QStringLiteral("Cancel"),
                                                     0, int(flights.size()), parent);
        progress->setObjectName(QStringLiteral("dlgReportProgress"));
        progress->setWindowTitle(AppTitle());
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(0);
        progress->setValue(0);
    }
    QString error;
    const bool written = WriteFlightReports(flights, *name, {}, &error, [&](int done) {
        if (!progress)
            return true;
        progress->setValue(done);
        QApplication::processEvents();
        return !progress->wasCanceled();
    });
    if (!written && !error.isEmpty())
        Tell(context, error);
    return written;
}

bool SaveReportCardCommand(const WindowContext &context, const QString &aircraft, const ReadCard &read)
{
    const std::optional<QString> name =
        AskPdf(context, QStringLiteral("Report Card"), QStringLiteral("%1.pdf").arg(aircraft));
    if (!name)
        return false;
    QString error;
    const std::optional<ReportCardPage> card = read(&error);
    if (!card || !WriteReportCardPage(*card, *name, &error)) {
        Tell(context, error);
        return false;
    }
    return true;
}

} // namespace korvel
