#include "core/flight/FlightText.h"

namespace korvel {

namespace {

void AppendTwoDigits(std::string &out, int v)
{
    out.push_back(char('0' + v / 10));
    out.push_back(char('0' + v % 10));
}

} // namespace

void AppendIsoDate(std::string &out, QDate date)
{
    const int year = date.year();
    AppendTwoDigits(out, year / 100 % 100);
    AppendTwoDigits(out, year % 100);
    out.push_back('-');
    AppendTwoDigits(out, date.month());
    out.push_back('-');
    AppendTwoDigits(out, date.day());
}

void AppendClockTime(std::string &out, QTime time)
{
    AppendTwoDigits(out, time.hour());
    out.push_back(':');
    AppendTwoDigits(out, time.minute());
    out.push_back(':');
    AppendTwoDigits(out, time.second());
}

void AppendLatin1AsUtf8(std::string &out, QLatin1StringView text)
{
    for (const char ch : text)
        AppendLatin1AsUtf8(out, ch);
}

} // namespace korvel
