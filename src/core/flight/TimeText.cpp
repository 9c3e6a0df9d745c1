#include "core/flight/TimeText.h"

#include <cstdlib>

namespace korvel {

QString TimeOfDayText(QTime time)
{
    return time.isValid() ? time.toString(QStringLiteral("HH:mm:ss")) : QString();
}

QString DateText(QDate date)
{
    return date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

QString MomentText(QDate date, QTime time)
{
    return DateText(date) + QLatin1Char(' ') + TimeOfDayText(time);
}

QString MomentIsoText(QDate date, QTime time)
{
    // Four digits of year however early (Qt's own text would leave out the leading zeros).
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d", date.year(), date.month(), date.day(), time.hour(),
                             time.minute(), time.second());
}

QString DurationText(std::int64_t seconds)
{
    const QString sign = seconds < 0 ? QStringLiteral("-") : QString();
    seconds = std::abs(seconds);
    return sign + QStringLiteral("%1:%2:%3")
                      .arg(seconds / 3600)
                      .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString TimeOfDayFormat(const QLocale &locale)
{
    // The long format carries the seconds; its time zone ("t") means nothing for a flight's clock.
    QString format = locale.timeFormat(QLocale::LongFormat);
    QString kept;
    bool quoted = false;
    for (const QChar c : std::as_const(format)) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (quoted || c != QLatin1Char('t'))
            kept += c;
    }
    kept.remove(QStringLiteral("()"));
    return kept.simplified();
}

QString LocalTimeText(int seconds)
{
    const QLocale locale = QLocale::system();
    return locale.toString(QTime::fromMSecsSinceStartOfDay(seconds * 1000), TimeOfDayFormat(locale));
}

QString DayText(QDate date)
{
    return QLocale::system().toString(date, QStringLiteral("d MMM"));
}

} // namespace korvel
