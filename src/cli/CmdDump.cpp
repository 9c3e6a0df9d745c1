// korvel-cli dump: the loader's table as one JSON object per record, then the count.

#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/flight/FlightData.h"

#include <cstdio>
#include <string>

namespace korvel::cli {

namespace {

const char *const kDumpUsage = "usage: korvel-cli dump [--count] FILE\n";

// A Latin-1 field as a JSON string (UTF-8 out).
void appendJsonString(std::string &out, QLatin1StringView text)
{
    static const char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (c < 0x20) {
            out.append("\\u00");
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        } else if (c < 0x80) {
            out.push_back(char(c));
        } else {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    out.push_back('"');
}

void appendTwoDigits(std::string &out, int v)
{
    out.push_back(char('0' + v / 10));
    out.push_back(char('0' + v % 10));
}

} // namespace

int RunDump(const QStringList &args, Trail &trail)
{
    const auto parsed = ParseArguments(args, {QStringLiteral("--count")}, {});
    if (!parsed)
        return UsageError(QString(), kDumpUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("dump takes one FILE"), kDumpUsage);
    const QString fileName = parsed->operands.front();

    FlightData data;
    if (!LoadForCommand(fileName, data, trail))
        return kExitFailed;

    const int count = data.FlightRecordCount.value_or(0);
    // Written as it goes: a large flight's JSON is many times the size of the file.
    constexpr size_t kChunk = size_t(1) << 16;
    std::string out;
    out.reserve(kChunk + 4096);
    bool written = true;
    auto flush = [&] {
        written = written && std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
        out.clear();
    };
    if (!parsed->has(QStringLiteral("--count"))) {
        for (int k = 0; k < count && written; ++k) {
            const FlightRecord record = data.FlightRecords[k];
            const QDate date = record.LogDate();
            const QTime time = record.LogTime();
            out.append("{\"date\":\"");
            appendTwoDigits(out, date.year() / 100);
            appendTwoDigits(out, date.year() % 100);
            out.push_back('-');
            appendTwoDigits(out, date.month());
            out.push_back('-');
            appendTwoDigits(out, date.day());
            out.append("\",\"time\":\"");
            appendTwoDigits(out, time.hour());
            out.push_back(':');
            appendTwoDigits(out, time.minute());
            out.push_back(':');
            appendTwoDigits(out, time.second());
            out.append("\",\"values\":[");
            for (int n = 0; n < kFlightFields; ++n) {
                if (n > 0)
                    out.push_back(',');
                appendJsonString(out, record.Values(n));
            }
            out.append("]}\n");
            if (out.size() >= kChunk)
                flush();
        }
    }
    out.append("{\"count\":" + std::to_string(count) + "}\n");
    flush();
    return std::fflush(stdout) == 0 && written ? kExitOk : kExitFailed;
}

} // namespace korvel::cli
