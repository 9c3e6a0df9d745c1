// The hexadecimal and path helpers on any text: no crash, and the values agree with each other.
#include "core/records/HexText.h"
#include "FuzzSupport.h"

#include <QLatin1StringView>

using namespace korvel;
using namespace korvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const std::int16_t width = std::int16_t(data[0] | (data[1] << 8));
    const QLatin1StringView latin(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const QString text(latin);

    std::optional<std::int32_t> value;
    try {
        value = HexToLong(text);
    } catch (const HexOverflowError &) {
    }
    // The Latin-1 and the UTF-16 forms read alike.
    std::optional<std::int32_t> latinValue;
    try {
        latinValue = HexToLong(latin);
    } catch (const HexOverflowError &) {
    }
    FUZZ_CHECK(value == latinValue);
    FUZZ_CHECK(IsHexText(text) == IsHexText(latin));

    const QString padded = PadHex(value.value_or(0), width);
    FUZZ_CHECK(padded.size() == std::max<int>(width, 0));
    FUZZ_CHECK(padded.isEmpty() || IsHexText(padded));
    FUZZ_CHECK(padded.toUpper() == padded);

    // A clean text of up to 7 digits is its own value, and PadHex writes it back.
    if (IsHexText(text) && text.size() <= 7) {
        FUZZ_CHECK(value.has_value());
        FUZZ_CHECK(*value == std::int32_t(text.toLongLong(nullptr, 16)));
        FUZZ_CHECK(PadHex(*value, std::int16_t(text.size())) == text.toUpper());
    }

    const QString shortened = ShortenPath(text);
    const qsizetype slash = text.lastIndexOf(QLatin1Char('\\'));
    FUZZ_CHECK(slash < 0 ? shortened == text : shortened == QStringLiteral("...\\") + text.mid(slash + 1));
    return 0;
}
