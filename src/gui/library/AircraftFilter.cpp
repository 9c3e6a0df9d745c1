#include "gui/library/AircraftFilter.h"

#include "gui/library/FlightListModel.h"

#include <QSignalBlocker>

namespace korvel {

AircraftFilter::AircraftFilter(QWidget *parent) : QComboBox(parent)
{
    setObjectName(QStringLiteral("cboAircraft"));
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    addItem(QStringLiteral("All aircraft"), FlightListFilter::AllAircraft);
}

bool AircraftFilter::offer(const QStringList &registrations, bool someWithout)
{
    const QString before = chosen();
    const QSignalBlocker quiet(this);
    clear();
    addItem(QStringLiteral("All aircraft"), FlightListFilter::AllAircraft);
    for (const QString &reg : registrations)
        addItem(reg, reg);
    if (someWithout && !registrations.isEmpty())
        addItem(QStringLiteral("No aircraft given"), QString());
    const int at = findData(before);
    setCurrentIndex(at < 0 ? 0 : at);
    setEnabled(!registrations.isEmpty());
    return at >= 0 || before == FlightListFilter::AllAircraft;
}

QString AircraftFilter::chosen() const
{
    return currentIndex() < 0 ? FlightListFilter::AllAircraft : currentData().toString();
}

std::optional<QString> AircraftFilter::registration() const
{
    const QString reg = chosen();
    return reg == FlightListFilter::AllAircraft || reg.isEmpty() ? std::nullopt : std::optional(reg);
}

QStringList AircraftFilter::registrations() const
{
    QStringList regs;
    for (int k = 0; k < count(); ++k) {
        const QString reg = itemData(k).toString();
        if (reg != FlightListFilter::AllAircraft && !reg.isEmpty())
            regs << reg;
    }
    return regs;
}

} // namespace korvel
