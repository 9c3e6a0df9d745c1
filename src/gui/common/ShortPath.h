#pragma once
// The short form of a stored path that the windows' file labels show.

#include "core/records/HexText.h"

#include <QDir>
#include <QString>

namespace korvel {

// Only the file's name, after "..." and the platform's separator: ".../v31.S19" here, where a
// backslash is part of a name, "...\v31.S19" on Windows, where a path may be written with either.
inline QString ShortPathText(const QString &path)
{
    return ShortenPath(QDir::toNativeSeparators(path), QDir::separator());
}

} // namespace korvel
