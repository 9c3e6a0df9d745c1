#pragma once
// The short form of a stored path that the windows' file labels show.

#include "core/records/HexText.h"

#include <QString>

namespace korvel {

// Only the file's name, after "...\"; a path written with forward slashes is shortened as one
// with backslashes is.
inline QString ShortPathText(QString path)
{
    return ShortenPath(path.replace(QLatin1Char('/'), QLatin1Char('\\')));
}

} // namespace korvel
