#pragma once
// How a count reads where a person reads it, in the windows and on the report pages: with the
// grouping of the user's locale ("1,201 records"; "1.201" in German). What the files and the headless
// front end write keeps plain digits, so a script reads it whatever the locale.

#include <QString>
#include <QtGlobal>

namespace korvel {

// "1,201".
QString CountText(qint64 count);
// The count with its noun, one or many: "1 flight", "1,201 flights".
QString CountText(qint64 count, const QString &one, const QString &many);

} // namespace korvel
