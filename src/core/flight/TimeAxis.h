#pragma once
// A flight's time axis: where each record stands (seconds since the first record) and what the
// axis reads at any place. The analysis view and the report place their records and label their
// axes through it, so after midnight or a clock set back both draw and read the same.
//
// Records are placed by date where both records carry one, else by time of day (a smaller time is
// the next day); a clock that goes back costs one usual step, and from there the labels read the
// times as recorded. A record without a time of day stands where the one before it stands.

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

#include <vector>

namespace korvel {

class TimeAxis {
public:
    // The first record's day (invalid: the flight has no dates). place() sets it from its first
    // record; a reader that works the stamps out itself sets it first.
    void setFirstDay(QDate date);
    // A record's date and time as seconds since the first record's day began (NaN without both).
    double stampOf(QDate date, int timeOfDay) const;

    // Places the next record, in file order: its time of day in seconds (-1: none) and its stamp
    // (stampOf); returns its place on the axis.
    double place(int timeOfDay, double stamp);
    double place(QDate date, QTime time);

    qint64 records() const { return m_records; }
    // The last record's place.
    double end() const { return m_lastX; }
    // The first timed record's time of day in seconds, 0 without one; the first record's date.
    int firstTimeOfDay() const { return m_anchors.empty() ? 0 : m_anchors.front().timeOfDay; }
    QDate firstDate() const { return m_firstDay ? QDate::fromJulianDay(m_firstDay) : QDate(); }

    // The time of day at a place, in seconds from midnight (the clock as last set before it plus the
    // seconds since), -1 before any record with a time.
    int timeOfDayAt(double x) const;
    // The flight runs past midnight: a time of day alone does not say which day it is.
    bool spansDays() const;
    // The date at a place (invalid without dates), and as a label reads it: "16 Jun", or "day 2".
    QDate dateAt(double x) const;
    QString dayTextAt(double x) const;
    // The time at a place as the labels read it, with the day in front when asked.
    QString timeTextAt(double x, bool withDay) const;
    // A tick's label, ticks `step` seconds apart: days alone from a day up, else the time of day,
    // with the day when the flight spans more than one.
    QString label(double x, int step) const;
    // Round times of day between x0 and x1, `step` seconds apart.
    std::vector<double> ticks(double x0, double x1, int step) const;
    // The steps a tick may take, smallest first.
    static const std::vector<int> &Steps();

    // What the placing could not follow, as sentences for the user.
    QStringList problems() const;

private:
    // Where the clock was set: from x on, the time of day reads timeOfDay plus the seconds since.
    struct Anchor {
        double x;
        int timeOfDay;
    };
    qint64 m_firstDay = 0;
    bool m_firstDaySet = false;
    qint64 m_records = 0;
    double m_lastX = 0, m_lastStamp = 0, m_usualStep = 1;
    int m_lastTime = -1;
    std::vector<Anchor> m_anchors;
    qint64 m_untimed = 0, m_setBack = 0, m_firstBack = -1;
    int m_backFrom = 0, m_backTo = 0;
};

} // namespace korvel
