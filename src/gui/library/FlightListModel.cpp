#include "gui/library/FlightListModel.h"

#include "core/flight/TimeText.h"

#include <QDateTime>

#include <algorithm>

namespace korvel {

namespace {

QStandardItem *Item(const QVariant &sortValue, const QString &text = QString(), const QString &tip = QString())
{
    auto *item = new QStandardItem;
    item->setData(text.isNull() ? sortValue : QVariant(text), Qt::DisplayRole);
    item->setData(sortValue, FlightListModel::SortRole);
    if (!tip.isEmpty())
        item->setData(tip, Qt::ToolTipRole);
    item->setEditable(false);
    return item;
}

QVariant Number(const std::optional<double> &v)
{
    return v ? QVariant(*v) : QVariant();
}

// A peak and the cylinder that reached it, read together: "412 (cyl 2)".
QStandardItem *PeakItem(const std::optional<double> &value, const std::optional<int> &cylinder)
{
    if (!value)
        return Item(QVariant());
    const QString number = QString::number(*value, 'g', 10);
    return cylinder ? Item(*value, QStringLiteral("%1 (cyl %2)").arg(number).arg(*cylinder),
                           QStringLiteral("cylinder %1").arg(*cylinder))
                    : Item(*value, number);
}

// The same flights, as the table shows them: nothing to show again.
bool SameList(const std::vector<LibraryFlight> &a, const std::vector<LibraryFlight> &b)
{
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(), [](const LibraryFlight &x, const LibraryFlight &y) {
        return x.id == y.id && x.sha256 == y.sha256 && x.source == y.source && x.findings == y.findings &&
               x.first == y.first && x.aircraft == y.aircraft;
    });
}

QList<QStandardItem *> Row(const LibraryFlight &f)
{
    const QDateTime first = QDateTime::fromString(f.first, Qt::ISODate);
    QList<QStandardItem *> row;
    const QString when = MomentText(first.date(), first.time());
    QStandardItem *whenItem = Item(when, when, f.sha256);
    whenItem->setData(f.id, FlightListModel::IdRole);
    whenItem->setData(first.date(), FlightListModel::DayRole);
    row << whenItem;
    const qint64 s = f.durationSeconds.value_or(0);
    row << Item(f.durationSeconds ? QVariant(s) : QVariant(), f.durationSeconds ? DurationText(s) : QString());
    row << Item(f.records);
    row << PeakItem(f.egtMax, f.egtCylinder) << PeakItem(f.chtMax, f.chtCylinder);
    row << Item(Number(f.egtSpreadMax)) << Item(Number(f.chtSpreadMax)) << Item(f.findings);
    QStandardItem *aircraft = Item(f.aircraft.value_or(QString()));
    aircraft->setData(f.aircraft.value_or(QString()), FlightListModel::AircraftRole);
    row << aircraft << Item(f.source, f.source, f.source);
    return row;
}

} // namespace

const QString FlightListFilter::AllAircraft = QStringLiteral("*");

FlightListModel::FlightListModel(QObject *parent) : QStandardItemModel(0, ColumnCount, parent)
{
    setHorizontalHeaderLabels({QStringLiteral("First record"), QStringLiteral("Duration"), QStringLiteral("Records"),
                               QStringLiteral("Peak EGT (°F)"), QStringLiteral("Peak CHT (°F)"),
                               QStringLiteral("EGT spread (°F)"), QStringLiteral("CHT spread (°F)"),
                               QStringLiteral("Findings"), QStringLiteral("Aircraft"), QStringLiteral("Source")});
    const QString spread = QStringLiteral("The largest difference between the hottest and the coolest cylinder");
    horizontalHeaderItem(ColEgtSpread)->setToolTip(spread);
    horizontalHeaderItem(ColChtSpread)->setToolTip(spread);
}

bool FlightListModel::shows(const std::vector<LibraryFlight> &flights) const
{
    return m_listed && SameList(flights, m_flights);
}

void FlightListModel::setFlights(std::vector<LibraryFlight> flights)
{
    m_listed = true;
    m_flights = std::move(flights);
    removeRows(0, rowCount());
    for (const LibraryFlight &f : m_flights)
        appendRow(Row(f));
}

void FlightListModel::clear()
{
    m_flights.clear();
    m_listed = false;
    removeRows(0, rowCount());
}

const LibraryFlight *FlightListModel::flight(qint64 id) const
{
    const auto at =
        std::find_if(m_flights.cbegin(), m_flights.cend(), [id](const LibraryFlight &f) { return f.id == id; });
    return at == m_flights.cend() ? nullptr : &*at;
}

QStringList FlightListModel::registrations() const
{
    QStringList registrations;
    for (const LibraryFlight &f : m_flights)
        if (f.aircraft && !registrations.contains(*f.aircraft))
            registrations << *f.aircraft;
    registrations.sort();
    return registrations;
}

bool FlightListModel::someWithoutAircraft() const
{
    return std::any_of(m_flights.cbegin(), m_flights.cend(), [](const LibraryFlight &f) { return !f.aircraft; });
}

void FlightListFilter::setRange(std::optional<std::pair<QDate, QDate>> range, const QString &aircraft)
{
    m_range = range;
    m_aircraft = aircraft;
    invalidateFilter();
}

qint64 FlightListFilter::idAt(int row) const
{
    return index(row, FlightListModel::ColFirst).data(FlightListModel::IdRole).toLongLong();
}

int FlightListFilter::rowOf(qint64 id) const
{
    for (int r = 0; r < rowCount(); ++r)
        if (idAt(r) == id)
            return r;
    return -1;
}

bool FlightListFilter::filterAcceptsRow(int row, const QModelIndex &parent) const
{
    if (m_aircraft != AllAircraft && sourceModel()
                                             ->index(row, FlightListModel::ColAircraft, parent)
                                             .data(FlightListModel::AircraftRole)
                                             .toString() != m_aircraft)
        return false;
    if (!m_range)
        return true;
    const QDate day =
        sourceModel()->index(row, FlightListModel::ColFirst, parent).data(FlightListModel::DayRole).toDate();
    return day >= m_range->first && day <= m_range->second;
}

} // namespace korvel
