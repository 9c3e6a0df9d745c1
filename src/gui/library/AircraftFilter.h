#pragma once
// The library window's aircraft filter: every aircraft of the library, and the flights with none
// when there are some besides; the choice made stays while it is there.

#include <QComboBox>

#include <optional>

namespace korvel {

class AircraftFilter : public QComboBox {
public:
    explicit AircraftFilter(QWidget *parent = nullptr);

    // Offers these registrations; false when the choice made is no longer there (every flight is
    // then shown).
    bool offer(const QStringList &registrations, bool someWithout);
    // The choice as the list's filter takes it: every aircraft, a registration, or none (empty).
    QString chosen() const;
    // The one registration chosen, if one is.
    std::optional<QString> registration() const;
    // The registrations offered, in order.
    QStringList registrations() const;
};

} // namespace korvel
