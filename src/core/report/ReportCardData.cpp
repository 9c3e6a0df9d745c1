#include "core/report/ReportCardData.h"

#include "core/flight/FlightFields.h"
#include "core/flight/Statistics.h"
#include "core/library/FlightLibrary.h"

#include <QDate>
#include <QHash>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <map>

namespace korvel {

const std::vector<CardMeasure> &CardMeasures()
{
    static const std::vector<CardMeasure> measures = {
        {"cht_max", "Peak CHT", 1, false},
        {"egt_max", "Peak EGT", 1, false},
        {"cht_spread_max", "CHT spread", 1, false},
        {"egt_spread_max", "EGT spread", 1, false},
        {FieldMeasureKey(kOilTemperatureField, FieldStatistic::Max), FieldInfoOf(kOilTemperatureField).name,
         FieldInfoOf(kOilTemperatureField).scale, false},
        {FieldMeasureKey(kOilPressureField, FieldStatistic::Min), FieldInfoOf(kOilPressureField).name,
         FieldInfoOf(kOilPressureField).scale, true},
    };
    return measures;
}

QString WholeText(double v)
{
    // std::round takes halves away from zero; -0 reads as 0.
    const double r = std::round(v);
    return QString::number(qint64(r == 0 ? 0 : r));
}

FiveNumbers Summarize(std::vector<double> values)
{
    FiveNumbers f;
    f.count = int(values.size());
    if (values.empty())
        return f;
    std::sort(values.begin(), values.end());
    f.min = values.front();
    f.max = values.back();
    f.p25 = Percentile(values, 0.25);
    f.median = Percentile(values, 0.5);
    f.p75 = Percentile(values, 0.75);
    return f;
}

std::optional<QString> CardSentence(const CardMeasure &measure, const FiveNumbers &own, const FiveNumbers &fleet)
{
    if (!own.count || !fleet.count)
        return std::nullopt;
    const QString label = QString::fromLatin1(measure.label);
    if (measure.lowIsBad) {
        if (own.median < fleet.p25)
            return QStringLiteral("%1: median %2 is below the fleet's 25th percentile %3")
                .arg(label, WholeText(own.median), WholeText(fleet.p25));
    } else if (own.median > fleet.p75) {
        return QStringLiteral("%1: median %2 is above the fleet's 75th percentile %3")
            .arg(label, WholeText(own.median), WholeText(fleet.p75));
    }
    return std::nullopt;
}

QStringList CardSentences(const ReportCardPage &card)
{
    QStringList sentences;
    bool allWithin = true;
    for (const CardRow &row : card.rows) {
        if (const auto s = CardSentence(row.measure, row.own, row.fleet))
            sentences << *s;
        if (row.own.count && row.fleet.count && (row.own.median < row.fleet.p25 || row.own.median > row.fleet.p75))
            allWithin = false;
    }
    if (sentences.isEmpty() && allWithin)
        sentences << QStringLiteral("Every median lies within the fleet's middle half.");
    return sentences;
}

std::optional<ReportCardPage> ReadReportCard(const QString &folder, const QString &aircraft, int flights,
                                             QString *error)
{
    try {
        FlightLibrary library(folder, FlightLibrary::Opening::Existing);
        return ReadReportCard(library, aircraft, flights, error);
    } catch (const LibraryError &e) {
        *error = QStringLiteral("flight library %1: %2").arg(FlightLibrary::Shown(folder), e.message());
        return std::nullopt;
    }
}

std::optional<ReportCardPage> ReadReportCard(FlightLibrary &library, const QString &aircraft, int flights,
                                             QString *error)
{
    ReportCardPage card;
    card.aircraft = aircraft;
    std::vector<LibraryFlight> own = library.list(aircraft);
    if (own.empty()) {
        *error = QStringLiteral("no flight of aircraft %1 in the flight library %2; its aircraft are: %3")
                     .arg(aircraft, library.folder(),
                          library.registrations().isEmpty() ? QStringLiteral("none")
                                                            : library.registrations().join(QStringLiteral(", ")));
        return std::nullopt;
    }
    if (int(own.size()) > flights)
        own.erase(own.begin(), own.end() - flights);
    card.flights = int(own.size());
    card.first = own.front().first.left(10);
    card.last = own.back().last.left(10);
    QHash<qint64, QString> month; // of the flights drawn
    for (const LibraryFlight &f : own)
        month.insert(f.id, f.first.left(7));
    // The fleet: every flight of another aircraft (those without one belong to none).
    QSet<qint64> fleet;
    QSet<QString> others;
    for (const LibraryFlight &f : library.list())
        if (f.aircraft && *f.aircraft != aircraft) {
            fleet.insert(f.id);
            others.insert(*f.aircraft);
        }
    card.fleetAircraft = int(others.size());
    card.fleetFlights = int(fleet.size());

    for (const CardMeasure &measure : CardMeasures()) {
        CardRow row{measure, {}, {}, {}};
        std::vector<double> mine, theirs;
        std::map<QString, std::vector<double>> byMonth;
        for (const TrendPoint &p : library.trend(QString::fromLatin1(measure.key))) {
            if (!p.value)
                continue;
            const double v = *p.value * measure.scale;
            if (month.contains(p.id)) {
                mine.push_back(v);
                byMonth[month.value(p.id)].push_back(v);
            } else if (fleet.contains(p.id)) {
                theirs.push_back(v);
            }
        }
        row.own = Summarize(mine);
        row.fleet = Summarize(theirs);
        if (card.fleetAircraft == 0) {
            // Every month from the first flight drawn to the last, an empty one kept in its place.
            QDate m = QDate::fromString(card.first.left(7) + QStringLiteral("-01"), Qt::ISODate);
            const QDate end = QDate::fromString(card.last.left(7) + QStringLiteral("-01"), Qt::ISODate);
            for (; m.isValid() && m <= end; m = m.addMonths(1)) {
                const QString key = m.toString(QStringLiteral("yyyy-MM"));
                row.months.push_back({key, Summarize(byMonth[key])});
            }
        }
        card.rows.push_back(row);
    }
    return card;
}

} // namespace korvel
