// The library window's commands on the flights selected: export, remove, and giving them to an
// aircraft; this PC's aircraft, and the aircraft offered when asked.

#include "gui/library/FrmLibrary.h"
#include "core/library/LibraryPlace.h"

#include "core/flight/CountText.h"
#include "core/settings/Settings.h"
#include "core/ui/UiInterfaces.h"
#include "gui/common/LibrarySession.h"
#include "gui/library/AircraftDialog.h"
#include "gui/library/AircraftFilter.h"
#include "gui/library/FlightListModel.h"

#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTableView>

namespace korvel {

std::vector<LibraryFlight> FrmLibrary::chosenFlights()
{
    const QList<qint64> ids = selectedIds();
    if (!m_session->isOpen() || ids.isEmpty()) {
        say(QStringLiteral("Choose a flight in the table first."));
        return {};
    }
    std::vector<LibraryFlight> flights;
    if (!guarded([&] {
            flights = m_session->call([ids](FlightLibrary &library) {
                std::vector<LibraryFlight> found;
                for (const qint64 id : ids)
                    if (std::optional<LibraryFlight> flight = library.flight(id))
                        found.push_back(std::move(*flight));
                return found;
            });
        }))
        return {};
    if (flights.size() < size_t(ids.size())) {
        say(ids.size() == 1 ? QStringLiteral("That flight is no longer in the library (another program removed it); "
                                             "the list was read again.")
                            : QStringLiteral("A flight chosen is no longer in the library (another program removed "
                                             "it); the list was read again. Choose the flights once more."));
        refresh();
        return {};
    }
    return flights;
}

// A flight exported into a folder is named as it was imported; a name taken there gets the flight's
// number.
namespace {
QString ExportName(const QDir &folder, const LibraryFlight &flight, const QStringList &taken)
{
    QString name = QFileInfo(flight.source).fileName();
    if (name.isEmpty())
        name = QStringLiteral("Flight %1.txt").arg(flight.id);
    if (taken.contains(name) || folder.exists(name)) {
        const QFileInfo parts(name);
        name = QStringLiteral("%1 (flight %2)").arg(parts.completeBaseName()).arg(flight.id) +
               (parts.suffix().isEmpty() ? QString() : QLatin1Char('.') + parts.suffix());
    }
    return name;
}

} // namespace

void FrmLibrary::exportSelected()
{
    const std::vector<LibraryFlight> flights = chosenFlights();
    if (flights.empty())
        return;
    // One flight to a file; several into a folder, each under the name it was imported by.
    FileDialogRequest request{flights.size() == 1 ? QStringLiteral("Export Flight") : QStringLiteral("Export Flights"),
                              QStringLiteral("*.txt"), QStringLiteral("txt"),
                              QStringLiteral("Flight %1.txt").arg(flights.front().first.left(10)), dialogFolder()};
    request.save = flights.size() == 1;
    request.chooseFolder = flights.size() > 1;
    if (request.chooseFolder)
        request.initialFileName.clear();
    const std::optional<QString> chosen = m_context.files.chooseFile(request);
    if (!chosen)
        return;
    rememberFolder(request.chooseFolder ? *chosen : QFileInfo(*chosen).absolutePath());
    // The library's own folder is no place for a flight: said as what is wrong with the choice,
    // not as a failure of the library.
    if (!LibraryPlace(m_folder).isServer()) {
        const QString inside = QDir(m_folder).relativeFilePath(*chosen);
        if (inside == QLatin1String(".") ||
            (!inside.startsWith(QLatin1String("..")) && !QDir::isAbsolutePath(inside))) {
            say(QStringLiteral("Nothing was written: %1 lies inside the flight library's own folder (%2). Choose a "
                               "place outside it.")
                    .arg(QDir::toNativeSeparators(*chosen), QDir::toNativeSeparators(m_folder)));
            return;
        }
    }
    std::vector<std::pair<qint64, QString>> files;
    QStringList taken;
    for (const LibraryFlight &flight : flights) {
        const QString name = request.chooseFolder ? ExportName(QDir(*chosen), flight, taken) : *chosen;
        taken << QFileInfo(name).fileName();
        files.emplace_back(flight.id, request.chooseFolder ? QDir(*chosen).filePath(name) : name);
    }
    int written = 0;
    if (!guarded([&] {
            written = m_session->call([files](FlightLibrary &library) {
                int count = 0;
                for (const auto &[id, file] : files)
                    count += library.exportFlight(id, file) ? 1 : 0;
                return count;
            });
        }))
        return;
    if (written < int(files.size()))
        say(QStringLiteral("A flight is no longer in the library (another program removed it); nothing was written "
                           "for it."));
    else if (files.size() == 1)
        say(QStringLiteral("Flight of %1 written to %2")
                .arg(QString(flights.front().first).replace(QLatin1Char('T'), QLatin1Char(' ')), *chosen));
    else
        say(QStringLiteral("%1 written to %2")
                .arg(CountText(written, QStringLiteral("flight"), QStringLiteral("flights")),
                     QDir::toNativeSeparators(*chosen)));
}

void FrmLibrary::removeSelected()
{
    if (importing()) {
        say(QStringLiteral("An import is running: remove the flight once it has ended (or Cancel it)."));
        return;
    }
    const std::vector<LibraryFlight> flights = chosenFlights();
    if (flights.empty())
        return;
    const QString when = QString(flights.front().first).replace(QLatin1Char('T'), QLatin1Char(' '));
    qint64 records = 0;
    QList<qint64> ids;
    for (const LibraryFlight &flight : flights) {
        records += flight.records;
        ids << flight.id;
    }
    // One question for all the flights chosen.
    const QString text =
        flights.size() == 1
            ? QStringLiteral("Remove the flight of %1 (%2) from the library? Its copy in the library is "
                             "deleted; the file it came from is not touched.")
                  .arg(when, CountText(records, QStringLiteral("record"), QStringLiteral("records")))
            : QStringLiteral(
                  "Remove these %1 flights (%2 records in all) from the library? Their copies in the library "
                  "are deleted; the files they came from are not touched.")
                  .arg(CountText(qint64(flights.size())), CountText(records));
    if (m_context.prompter.showMessage(AppTitle(), text, MessageIcon::Question, MessageButtons::OkCancel) !=
        MessageAnswer::Ok)
        return;
    int removed = 0;
    if (guarded([&] {
            removed = m_session->call([ids](FlightLibrary &library) {
                int count = 0;
                for (const qint64 id : ids)
                    count += library.remove(id) ? 1 : 0;
                return count;
            });
        })) {
        if (flights.size() == 1)
            say(removed ? QStringLiteral("The flight of %1 was removed from the library.").arg(when)
                        : QStringLiteral("The flight of %1 was no longer in the library.").arg(when));
        else
            say(QStringLiteral("%1 flights were removed from the library.").arg(CountText(removed)));
    }
    refresh();
}

std::optional<QString> FrmLibrary::importAircraft() const
{
    if (const std::optional<QString> filtered = m_aircraft->registration())
        return filtered;
    return LastAircraft();
}

QStringList FrmLibrary::aircraftOffered() const
{
    QStringList offered;
    if (const std::optional<QString> last = LastAircraft())
        offered << *last;
    for (const QString &reg : m_aircraft->registrations())
        if (!offered.contains(reg))
            offered << reg;
    return offered;
}

std::optional<std::optional<QString>> FrmLibrary::askAircraft(const QString &title, const QString &question,
                                                              const std::optional<QString> &initial)
{
    AircraftDialog dialog(this, title, question, aircraftOffered(), initial);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.aircraft();
}

void FrmLibrary::askSetAircraft()
{
    const QList<qint64> ids = selectedIds();
    if (ids.isEmpty()) {
        say(QStringLiteral("Choose the flights in the table first."));
        return;
    }
    std::optional<QString> current;
    if (const LibraryFlight *first = m_model->flight(ids.first()))
        current = first->aircraft;
    const auto aircraft = askAircraft(
        QStringLiteral("Set Aircraft"),
        ids.size() == 1 ? QStringLiteral("Which aircraft is this flight from?")
                        : QStringLiteral("Which aircraft are these %1 flights from?").arg(CountText(ids.size())),
        current ? current : (aircraftOffered().isEmpty() ? std::nullopt : std::optional(aircraftOffered().first())));
    if (aircraft)
        setAircraftOfSelection(aircraft->value_or(QString()));
}

bool FrmLibrary::setAircraftOfSelection(const QString &text)
{
    const QList<qint64> ids = selectedIds();
    if (!m_session->isOpen() || ids.isEmpty()) {
        say(QStringLiteral("Choose the flights in the table first."));
        return false;
    }
    std::optional<QString> aircraft;
    if (!text.trimmed().isEmpty()) {
        const Registration reg = FlightLibrary::CheckRegistration(text);
        if (!reg) {
            say(RegistrationRefusal(reg) + QStringLiteral(" Nothing was changed."));
            return false;
        }
        aircraft = reg.text;
        KeepLastAircraft(*aircraft);
    }
    int changed = 0;
    if (!guarded([&] {
            changed =
                m_session->call([ids, aircraft](FlightLibrary &library) { return library.assign(ids, aircraft); });
        }))
        return false;
    const QString flights = CountText(changed, QStringLiteral("flight"), QStringLiteral("flights"));
    say(aircraft ? QStringLiteral("%1 given to %2.").arg(flights, *aircraft)
                 : QStringLiteral("%1 without an aircraft now.").arg(flights));
    refresh();
    // The flights stay chosen, wherever the new aircraft sorts them.
    m_table->clearSelection();
    for (int r = 0; r < m_proxy->rowCount(); ++r)
        if (ids.contains(m_proxy->idAt(r)))
            m_table->selectionModel()->select(m_proxy->index(r, FlightListModel::ColFirst),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    return changed > 0;
}

void FrmLibrary::askThisPcsAircraft()
{
    const auto aircraft = askAircraft(QStringLiteral("This PC's Aircraft"),
                                      QStringLiteral("Which aircraft are the flights downloaded on this PC from? "
                                                     "They are given it as they are added to the library."),
                                      ThisPcsAircraft());
    if (aircraft)
        setThisPcsAircraft(aircraft->value_or(QString()));
}

bool FrmLibrary::setThisPcsAircraft(const QString &text)
{
    std::optional<QString> aircraft;
    if (!text.trimmed().isEmpty()) {
        const Registration reg = FlightLibrary::CheckRegistration(text);
        if (!reg) {
            say(RegistrationRefusal(reg) + QStringLiteral(" This PC's aircraft stays as it was."));
            return false;
        }
        aircraft = reg.text;
    }
    SetThisPcsAircraft(aircraft);
    showThisPcsAircraft();
    say(aircraft ? QStringLiteral("Flights downloaded on this PC are given %1.").arg(*aircraft)
                 : QStringLiteral("Flights downloaded on this PC are given no aircraft."));
    return true;
}

void FrmLibrary::showThisPcsAircraft()
{
    const std::optional<QString> aircraft = ThisPcsAircraft();
    m_thisPc->setToolTip(aircraft ? QStringLiteral("Flights downloaded on this PC are given %1").arg(*aircraft)
                                  : QStringLiteral("Flights downloaded on this PC are given no aircraft"));
}

void FrmLibrary::updateAircraftChoices()
{
    if (!m_aircraft->offer(m_model->registrations(), m_model->someWithoutAircraft()))
        applyFilter();
    m_reportCard->setEnabled(m_aircraft->registration().has_value());
}

} // namespace korvel
