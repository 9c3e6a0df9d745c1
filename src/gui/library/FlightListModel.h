#pragma once
// The library's flights as the library window's table shows them, a row a flight, and the filter
// that keeps the rows of the days and the aircraft chosen. The window reads the list; these only
// hold and show it.

#include "core/library/FlightLibrary.h"

#include <QDate>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>

#include <optional>
#include <utility>
#include <vector>

namespace korvel {

class FlightListModel : public QStandardItemModel {
public:
    enum Column {
        ColFirst,
        ColDuration,
        ColRecords,
        ColEgt,
        ColCht,
        ColEgtSpread,
        ColChtSpread,
        ColFindings,
        ColAircraft,
        ColSource,
        ColumnCount
    };
    static constexpr int DayRole = Qt::UserRole;          // the first record's day (ColFirst)
    static constexpr int IdRole = Qt::UserRole + 1;       // the flight's id (ColFirst)
    static constexpr int SortRole = Qt::UserRole + 2;     // what the column sorts by
    static constexpr int AircraftRole = Qt::UserRole + 3; // the registration, empty for none (ColAircraft)

    explicit FlightListModel(QObject *parent = nullptr);

    // Whether these are the flights shown already (nothing to show again).
    bool shows(const std::vector<LibraryFlight> &flights) const;
    void setFlights(std::vector<LibraryFlight> flights);
    // Another library: nothing of the one before stays.
    void clear();
    const std::vector<LibraryFlight> &flights() const { return m_flights; }
    const LibraryFlight *flight(qint64 id) const;
    // The aircraft of the flights, by registration, and whether some flights have none.
    QStringList registrations() const;
    bool someWithoutAircraft() const;

private:
    std::vector<LibraryFlight> m_flights;
    bool m_listed = false; // a list was shown once (an empty one included)
};

// Rows whose first record lies within the chosen days, when a range is given, of the aircraft chosen.
class FlightListFilter : public QSortFilterProxyModel {
public:
    // The aircraft choice that keeps every flight.
    static const QString AllAircraft;

    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setRange(std::optional<std::pair<QDate, QDate>> range, const QString &aircraft);
    // The flight of a row as shown.
    qint64 idAt(int row) const;
    // The row showing a flight; -1 when it is not shown.
    int rowOf(qint64 id) const;

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override;

private:
    std::optional<std::pair<QDate, QDate>> m_range;
    QString m_aircraft = AllAircraft;
};

} // namespace korvel
