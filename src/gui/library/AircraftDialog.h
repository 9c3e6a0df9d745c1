#pragma once
// Asks which aircraft: the registrations offered first, any other typed; one that is not a
// registration is refused with its reason and the dialog stays.

#include "core/library/FlightLibrary.h"

#include <QDialog>

#include <optional>

class QComboBox;
class QLabel;

namespace korvel {

// The aircraft last given to flights in the library window, offered first the next time.
std::optional<QString> LastAircraft();
void KeepLastAircraft(const QString &registration);

// Why a registration was refused, as a sentence of its own.
QString RegistrationRefusal(const Registration &reg);

class AircraftDialog : public QDialog {
public:
    AircraftDialog(QWidget *parent, const QString &title, const QString &question, const QStringList &offered,
                   const std::optional<QString> &initial);
    // The registration chosen, or none.
    std::optional<QString> aircraft() const { return m_aircraft; }

private:
    void check();

    QComboBox *m_choice = nullptr;
    QLabel *m_reason = nullptr;
    std::optional<QString> m_aircraft;
};

} // namespace korvel
