#include "core/flight/CountText.h"

#include <QLocale>

namespace korvel {

QString CountText(qint64 count)
{
    return QLocale().toString(count);
}

QString CountText(qint64 count, const QString &one, const QString &many)
{
    return CountText(count) + QLatin1Char(' ') + (count == 1 ? one : many);
}

} // namespace korvel
