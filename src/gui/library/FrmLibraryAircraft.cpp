// The library window's commands on aircraft: giving the selected flights to one, this PC's
// aircraft, and the aircraft offered when asked.

#include "gui/library/FrmLibrary.h"

#include "core/settings/Settings.h"
#include "gui/common/LibrarySession.h"
#include "gui/library/AircraftDialog.h"
#include "gui/library/AircraftFilter.h"
#include "gui/library/FlightListModel.h"

#include <QPushButton>
#include <QTableView>

namespace korvel {

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
                        : QStringLiteral("Which aircraft are these %1 flights from?").arg(ids.size()),
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
    const QString flights = changed == 1 ? QStringLiteral("1 flight") : QStringLiteral("%1 flights").arg(changed);
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
