#include "core/flight/TimeAxis.h"

#include "core/flight/TimeText.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace korvel {

void TimeAxis::setFirstDay(QDate date)
{
    m_firstDay = date.isValid() ? date.toJulianDay() : 0;
    m_firstDaySet = true;
}

double TimeAxis::stampOf(QDate date, int timeOfDay) const
{
    return timeOfDay >= 0 && date.isValid() && m_firstDay != 0
               ? double(date.toJulianDay() - m_firstDay) * 86400 + timeOfDay
               : std::nan("");
}

double TimeAxis::place(QDate date, QTime time)
{
    if (!m_firstDaySet)
        setFirstDay(date);
    const int timeOfDay = time.isValid() ? time.msecsSinceStartOfDay() / 1000 : -1;
    return place(timeOfDay, stampOf(date, timeOfDay));
}

double TimeAxis::place(int time, double stamp)
{
    m_firstDaySet = true;
    const qint64 record = m_records++;
    double x = m_lastX;
    if (time < 0) {
        ++m_untimed;
        return x;
    }
    if (m_lastTime < 0) {
        m_anchors.push_back({x, time});
    } else {
        double step = !std::isnan(stamp) && !std::isnan(m_lastStamp) ? stamp - m_lastStamp : double(time - m_lastTime);
        // Past midnight, on a clock whose date did not turn over with it (or that has none).
        if (step < -43200)
            step += 86400;
        if (step < 0) {
            if (m_firstBack < 0) {
                m_firstBack = record;
                m_backFrom = m_lastTime;
                m_backTo = time;
            }
            ++m_setBack;
            step = m_usualStep;
            x = m_lastX + step;
            m_anchors.push_back({x, time});
        } else {
            if (step > 0)
                m_usualStep = step;
            x = m_lastX + step;
        }
    }
    m_lastTime = time;
    m_lastStamp = stamp;
    m_lastX = x;
    return x;
}

int TimeAxis::timeOfDayAt(double x) const
{
    if (m_anchors.empty())
        return -1;
    // The last anchor at or before x (the first when x lies before them all).
    auto at = std::upper_bound(m_anchors.begin(), m_anchors.end(), x,
                               [](double v, const Anchor &a) { return v < a.x; });
    if (at != m_anchors.begin())
        --at;
    const qint64 seconds = at->timeOfDay + qint64(std::floor(x - at->x));
    return int(((seconds % 86400) + 86400) % 86400);
}

bool TimeAxis::spansDays() const
{
    return m_records > 0 && firstTimeOfDay() + m_lastX >= 86400;
}

QDate TimeAxis::dateAt(double x) const
{
    if (m_firstDay == 0)
        return QDate();
    return QDate::fromJulianDay(m_firstDay + qint64(std::floor((firstTimeOfDay() + x) / 86400)));
}

QString TimeAxis::dayTextAt(double x) const
{
    const QDate date = dateAt(x);
    if (date.isValid())
        return DayText(date);
    return QStringLiteral("day %1").arg(qint64(std::floor((firstTimeOfDay() + x) / 86400)) + 1);
}

QString TimeAxis::timeTextAt(double x, bool withDay) const
{
    const int t = timeOfDayAt(x);
    if (t < 0)
        return QString();
    return withDay ? dayTextAt(x) + QLatin1Char(' ') + LocalTimeText(t) : LocalTimeText(t);
}

QString TimeAxis::label(double x, int step) const
{
    return step >= 86400 ? dayTextAt(x) : timeTextAt(x, spansDays());
}

std::vector<double> TimeAxis::ticks(double x0, double x1, int step) const
{
    // Place x is the first record's time of day plus x seconds: round there, and the labels read
    // the clock's own times (so a flight whose clock went back still reads as recorded).
    std::vector<double> list;
    if (step <= 0)
        return list;
    const int first = firstTimeOfDay();
    for (double t = std::ceil((x0 + first) / step) * step - first; t <= x1; t += step)
        list.push_back(t);
    return list;
}

const std::vector<int> &TimeAxis::Steps()
{
    static const std::vector<int> steps = {1,   2,    5,    10,   15,    30,    60,    120,   300,    600,
                                           900, 1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800};
    return steps;
}

QStringList TimeAxis::problems() const
{
    QStringList list;
    if (m_firstBack >= 0)
        list << QStringLiteral("The clock goes back at record %1 (%2 after %3)%4: from there the time axis "
                               "runs on as if it had not, and the labels show the times as recorded.")
                    .arg(m_firstBack + 1)
                    .arg(LocalTimeText(m_backTo), LocalTimeText(m_backFrom),
                         m_setBack > 1 ? QStringLiteral(" and %1 times more").arg(m_setBack - 1) : QString());
    if (m_untimed > 0)
        list << QStringLiteral("%1 records carry no time of day: each is drawn at the time of the one before.")
                    .arg(m_untimed);
    return list;
}

} // namespace korvel
