#pragma once
// Every way the program writes a time, a day, a moment or a duration, in one place so that an owner
// reads each kind the same wherever it appears.
//
// Two kinds of text: what the files and the headless outputs carry (fixed forms, whatever the
// system's locale: "HH:mm:ss", "yyyy-MM-dd"), and what a person reads on a chart's axis (the
// system's own time format, with its seconds).

#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

#include <cstdint>

namespace korvel {

// "HH:mm:ss"; empty when the time is unknown.
QString TimeOfDayText(QTime time);
// "yyyy-MM-dd"; empty when the date is unknown.
QString DateText(QDate date);
// The two forms of a moment: the shown one with a space ("2026-06-14 09:00:00", the summary and the
// windows) and the interchange one with a 'T' ("2026-06-14T09:00:00", the library's JSON and its
// catalogue, which sort and compare it as text).
QString MomentText(QDate date, QTime time);
QString MomentIsoText(QDate date, QTime time);
// "h:mm:ss", the hours as many as there are, with a minus in front when the time runs backwards.
QString DurationText(std::int64_t seconds);

// The system's time format with its seconds and without its time zone (the locale's long format,
// its zone left out): what the graphs' labels show.
QString TimeOfDayFormat(const QLocale &locale);
// A time of day in seconds from midnight, as the graphs' labels show it.
QString LocalTimeText(int seconds);
// A day as a time axis names it: "16 Jun" in the system's language.
QString DayText(QDate date);

} // namespace korvel
