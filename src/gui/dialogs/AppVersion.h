#pragma once
// The release's version as the windows show it: major, minor and revision joined by ".".

#include <QString>

namespace korvel {

inline QString AppVersionText()
{
    return QStringLiteral("%1.%2.%3").arg(KORVEL_VERSION_MAJOR).arg(KORVEL_VERSION_MINOR).arg(KORVEL_VERSION_PATCH);
}

} // namespace korvel
