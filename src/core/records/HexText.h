#pragma once
// Hexadecimal and path text helpers shared by the record formats, the record sending and the
// windows. They hold no state.

#include <QString>
#include <QStringView>

#include <cstdint>
#include <stdexcept>

namespace korvel {

// A hexadecimal text whose value does not fit a signed 32-bit number (80000000 and above).
class HexOverflowError : public std::overflow_error {
public:
    explicit HexOverflowError(const QString &text);
    const QString &text() const { return m_text; }

private:
    QString m_text;
};

// The value of a hexadecimal text, case-insensitive. Anything up to and including the first "X"
// is dropped ("0x1F" and "1FX1F" are both 1F). A character that is not a hexadecimal digit counts
// as the digit -1 in its place, so such a text gives a value no clean text of its length gives.
// An empty text is 0. Throws HexOverflowError when the running sum leaves the signed 32-bit range.
std::int32_t HexToLong(QStringView text);
std::int32_t HexToLong(QLatin1StringView text);

// The value in upper-case hexadecimal, exactly width characters: zero-padded on the left, or cut
// to its rightmost width digits. Negative values are their 32-bit two's complement (-1 is FFFFFFFF).
// A width of 0 or less gives an empty text.
QString PadHex(std::int32_t value, std::int16_t width);

// A hexadecimal digit's value, either case: its place in "0123456789ABCDEF"; -1 for anything else.
constexpr int HexDigitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

// True when the text is not empty and holds only hexadecimal digits (either case).
bool IsHexText(QStringView text);
bool IsHexText(QLatin1StringView text);

// A path for display in a label: "...\" and the part after its last backslash
// (C:\Tools\Edit\notepad.exe shows as ...\notepad.exe); a path without a backslash as it is.
// Another separator ("/") shortens the same way at its last one.
QString ShortenPath(const QString &path, QChar separator = QLatin1Char('\\'));

} // namespace korvel
