#include "core/records/HexText.h"

#include <cmath>
#include <limits>

namespace korvel {

namespace {

template <typename Text> std::int32_t hexToLong(Text text)
{
    qsizetype first = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'X' || c == u'x') {
            first = i + 1;
            break;
        }
    }
    // Each digit adds value x 16^(digits to its right); the running sum must stay a signed 32-bit
    // number after every step. A place beyond the range of a double (a text of hundreds of
    // digits) is an overflow as well, even for a 0 digit: the sum becomes NaN and fails the test.
    const qsizetype digits = text.size() - first;
    double sum = 0.0;
    for (qsizetype i = 0; i < digits; ++i) {
        const double place = std::ldexp(1.0, int(4 * (digits - 1 - i)));
        sum += HexDigitValue(text[first + i].unicode()) * place;
        if (!(sum >= double(std::numeric_limits<std::int32_t>::min()) &&
              sum <= double(std::numeric_limits<std::int32_t>::max())))
            throw HexOverflowError(text.toString());
    }
    return std::int32_t(sum);
}

template <typename Text> bool isHexText(Text text)
{
    if (text.isEmpty())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (HexDigitValue(text[i].unicode()) < 0)
            return false;
    }
    return true;
}

} // namespace

HexOverflowError::HexOverflowError(const QString &text)
    : std::overflow_error("hexadecimal value out of range: " + text.toStdString()), m_text(text)
{
}

std::int32_t HexToLong(QStringView text)
{
    return hexToLong(text);
}
std::int32_t HexToLong(QLatin1StringView text)
{
    return hexToLong(text);
}

QString PadHex(std::int32_t value, std::int16_t width)
{
    if (width <= 0)
        return QString();
    const QString digits = QString::number(std::uint32_t(value), 16).toUpper();
    if (digits.size() < width)
        return QString(width - digits.size(), QLatin1Char('0')) + digits;
    return digits.right(width);
}

bool IsHexText(QStringView text)
{
    return isHexText(text);
}
bool IsHexText(QLatin1StringView text)
{
    return isHexText(text);
}

QString ShortenPath(const QString &path, QChar separator)
{
    const qsizetype at = path.lastIndexOf(separator);
    if (at < 0)
        return path;
    return QLatin1String("...") + separator + path.mid(at + 1);
}

} // namespace korvel
