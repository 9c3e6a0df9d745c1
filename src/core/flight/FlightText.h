#pragma once
// The text forms every writer of a flight uses: its dates, its times of day, and its bytes, which
// are Latin-1 characters one for one, as UTF-8.

#include <QDate>
#include <QLatin1StringView>
#include <QTime>

#include <string>

namespace korvel {

// "YYYY-MM-DD", the year with four digits (0999).
void AppendIsoDate(std::string &out, QDate date);
// "HH:MM:SS".
void AppendClockTime(std::string &out, QTime time);

// One Latin-1 character as UTF-8.
inline void AppendLatin1AsUtf8(std::string &out, char ch)
{
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
        out.push_back(ch);
    } else {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

void AppendLatin1AsUtf8(std::string &out, QLatin1StringView text);

} // namespace korvel
