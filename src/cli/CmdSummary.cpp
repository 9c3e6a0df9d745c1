// korvel-cli summary: the flight summary as one JSON object on stdout.

#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/flight/FlightData.h"
#include "core/flight/FlightSummary.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace korvel::cli {

namespace {

const char *const kSummaryUsage = "usage: korvel-cli summary [--cht-limit N] FILE\n";

// The shortest text that reads back as the same double.
void appendNumber(std::string &out, double v)
{
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, v);
    out.append(text, error == std::errc() ? end : text);
}

void appendTwoDigits(std::string &out, int v)
{
    out.push_back(char('0' + v / 10));
    out.push_back(char('0' + v % 10));
}

void appendTimeDigits(std::string &out, QTime time)
{
    appendTwoDigits(out, time.hour());
    out.push_back(':');
    appendTwoDigits(out, time.minute());
    out.push_back(':');
    appendTwoDigits(out, time.second());
}

// "HH:MM:SS"
void appendTime(std::string &out, QTime time)
{
    out.push_back('"');
    appendTimeDigits(out, time);
    out.push_back('"');
}

// "YYYY-MM-DDTHH:MM:SS", or null
void appendMoment(std::string &out, const std::optional<FlightMoment> &moment)
{
    if (!moment) {
        out.append("null");
        return;
    }
    const QDate date = moment->date;
    const std::string year = std::to_string(date.year());
    out.push_back('"');
    out.append(4 - std::min<size_t>(4, year.size()), '0');
    out.append(year);
    out.push_back('-');
    appendTwoDigits(out, date.month());
    out.push_back('-');
    appendTwoDigits(out, date.day());
    out.push_back('T');
    appendTimeDigits(out, moment->time);
    out.push_back('"');
}

// "KEY":VALUE,"KEY2":TIME for a value with its time, or both null.
void appendTimed(std::string &out, const char *valueKey, const char *timeKey, const std::optional<TimedValue> &v)
{
    out.append("\"").append(valueKey).append("\":");
    if (v)
        appendNumber(out, v->value);
    else
        out.append("null");
    out.append(",\"").append(timeKey).append("\":");
    if (v)
        appendTime(out, v->time);
    else
        out.append("null");
}

std::string SummaryJson(const FlightSummary &s)
{
    std::string out = "{\"records\":" + std::to_string(s.records) + ",\"first\":";
    appendMoment(out, s.first);
    out.append(",\"last\":");
    appendMoment(out, s.last);
    out.append(",\"duration_s\":");
    out.append(s.durationSeconds ? std::to_string(*s.durationSeconds) : std::string("null"));

    out.append(",\"fields\":[");
    for (size_t i = 0; i < s.fields.size(); ++i) {
        const FieldFigures &f = s.fields[i];
        if (i > 0)
            out.push_back(',');
        out.append("{\"field\":" + std::to_string(f.field) + ",\"count\":" + std::to_string(f.count) + ",\"min\":");
        appendNumber(out, f.minimum);
        out.append(",\"max\":");
        appendNumber(out, f.maximum);
        out.append(",\"mean\":");
        appendNumber(out, f.mean);
        out.push_back('}');
    }

    out.append("],\"cylinders\":[");
    for (int c = 0; c < kCylinders; ++c) {
        if (c > 0)
            out.push_back(',');
        out.append("{\"cyl\":" + std::to_string(c + 1) + ",");
        appendTimed(out, "egt_max", "egt_time", s.cylinders[size_t(c)].egt);
        out.push_back(',');
        appendTimed(out, "cht_max", "cht_time", s.cylinders[size_t(c)].cht);
        out.push_back('}');
    }

    out.append("],\"egt_spread\":{");
    appendTimed(out, "max", "time", s.egtSpread);
    out.append("},\"cht_spread\":{");
    appendTimed(out, "max", "time", s.chtSpread);
    out.append("},\"cht_over\":[");
    for (size_t i = 0; i < s.chtOver.size(); ++i) {
        const ChtSpan &span = s.chtOver[i];
        if (i > 0)
            out.push_back(',');
        out.append("{\"cyl\":" + std::to_string(span.cylinder) + ",\"from\":");
        appendTime(out, span.from);
        out.append(",\"to\":");
        appendTime(out, span.to);
        out.append(",\"peak\":");
        appendNumber(out, span.peak);
        out.push_back('}');
    }
    out.append("]}\n");
    return out;
}

} // namespace

int RunSummary(const QStringList &args, Trail &trail)
{
    const auto parsed = ParseArguments(args, {}, {QStringLiteral("--cht-limit")});
    if (!parsed)
        return UsageError(QString(), kSummaryUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("summary takes one FILE"), kSummaryUsage);
    std::optional<double> limit;
    if (parsed->has(QStringLiteral("--cht-limit"))) {
        bool ok = false;
        const double value = parsed->options.value(QStringLiteral("--cht-limit")).toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return UsageError(QStringLiteral("--cht-limit takes a number"), kSummaryUsage);
        limit = value;
    }
    const QString fileName = parsed->operands.front();

    FlightData data;
    if (!LoadForCommand(fileName, data, trail))
        return kExitFailed;

    const std::string out = SummaryJson(SummarizeFlight(data, limit));
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

} // namespace korvel::cli
