#include "core/flight/FlightJson.h"

#include "core/flight/FlightText.h"
#include "core/library/FlightLibrary.h"

#include <charconv>
#include <cmath>

namespace korvel {

namespace {

const char kHex[] = "0123456789abcdef";

void AppendControlEscape(std::string &out, unsigned char c)
{
    out.append("\\u00");
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
}

} // namespace

void AppendJsonString(std::string &out, QLatin1StringView text)
{
    out.push_back('"');
    const char *p = text.data();
    const char *const end = p + text.size();
    while (p < end) {
        // Plain printable ASCII goes out as it stands, a run at a time.
        const char *run = p;
        while (run < end) {
            const auto c = static_cast<unsigned char>(*run);
            if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\')
                break;
            ++run;
        }
        out.append(p, size_t(run - p));
        if (run == end)
            break;
        const auto c = static_cast<unsigned char>(*run);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (c < 0x20) {
            AppendControlEscape(out, c);
        } else {
            AppendLatin1AsUtf8(out, char(c));
        }
        p = run + 1;
    }
    out.push_back('"');
}

void AppendJsonString(std::string &out, const QString &text)
{
    out.push_back('"');
    // UTF-8 passes through; only quotes, backslashes and control characters need escapes.
    for (const char ch : text.toStdString()) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(ch);
        } else if (c < 0x20) {
            AppendControlEscape(out, c);
        } else {
            out.push_back(ch);
        }
    }
    out.push_back('"');
}

void AppendJsonTime(std::string &out, QTime time)
{
    out.push_back('"');
    AppendClockTime(out, time);
    out.push_back('"');
}

void AppendJsonNumber(std::string &out, double v)
{
    if (!std::isfinite(v)) {
        out.append("null");
        return;
    }
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, v);
    out.append(text, error == std::errc() ? end : text);
}

void AppendJsonNumber(std::string &out, const std::optional<double> &v)
{
    if (v)
        AppendJsonNumber(out, *v);
    else
        out.append("null");
}

void AppendRecordJson(std::string &out, const FlightRecord &record)
{
    out.append("{\"date\":\"");
    AppendIsoDate(out, record.LogDate());
    out.append("\",\"time\":\"");
    AppendClockTime(out, record.LogTime());
    out.append("\",\"values\":[");
    for (int n = 0; n < kFlightFields; ++n) {
        if (n > 0)
            out.push_back(',');
        AppendJsonString(out, record.Values(n));
    }
    out.append("]}\n");
}

namespace {

// "YYYY-MM-DDTHH:MM:SS", or null
void AppendMoment(std::string &out, const std::optional<FlightMoment> &moment)
{
    if (!moment) {
        out.append("null");
        return;
    }
    out.push_back('"');
    AppendIsoDate(out, moment->date);
    out.push_back('T');
    AppendClockTime(out, moment->time);
    out.push_back('"');
}

// "KEY":VALUE,"KEY2":TIME for a value with its time, or both null.
void AppendTimed(std::string &out, const char *valueKey, const char *timeKey, const std::optional<TimedValue> &v)
{
    out.append("\"").append(valueKey).append("\":");
    if (v)
        AppendJsonNumber(out, v->value);
    else
        out.append("null");
    out.append(",\"").append(timeKey).append("\":");
    if (v)
        AppendJsonTime(out, v->time);
    else
        out.append("null");
}

} // namespace

std::string FlightSummaryJson(const FlightSummary &s)
{
    std::string out = "{\"records\":" + std::to_string(s.records) + ",\"first\":";
    AppendMoment(out, s.first);
    out.append(",\"last\":");
    AppendMoment(out, s.last);
    out.append(",\"duration_s\":");
    AppendJsonInteger(out, s.durationSeconds);

    out.append(",\"fields\":[");
    for (size_t i = 0; i < s.fields.size(); ++i) {
        const FieldFigures &f = s.fields[i];
        if (i > 0)
            out.push_back(',');
        out.append("{\"field\":" + std::to_string(f.field) + ",\"count\":" + std::to_string(f.count) + ",\"min\":");
        AppendJsonNumber(out, f.minimum);
        out.append(",\"max\":");
        AppendJsonNumber(out, f.maximum);
        out.append(",\"mean\":");
        AppendJsonNumber(out, f.mean);
        out.push_back('}');
    }

    out.append("],\"cylinders\":[");
    for (int c = 0; c < kCylinders; ++c) {
        if (c > 0)
            out.push_back(',');
        out.append("{\"cyl\":" + std::to_string(c + 1) + ",");
        AppendTimed(out, "egt_max", "egt_time", s.cylinders[size_t(c)].egt);
        out.push_back(',');
        AppendTimed(out, "cht_max", "cht_time", s.cylinders[size_t(c)].cht);
        out.push_back('}');
    }

    out.append("],\"egt_spread\":{");
    AppendTimed(out, "max", "time", s.egtSpread);
    out.append("},\"cht_spread\":{");
    AppendTimed(out, "max", "time", s.chtSpread);
    out.append("},\"cht_over\":[");
    for (size_t i = 0; i < s.chtOver.size(); ++i) {
        const ChtSpan &span = s.chtOver[i];
        if (i > 0)
            out.push_back(',');
        out.append("{\"cyl\":" + std::to_string(span.cylinder) + ",\"from\":");
        AppendJsonTime(out, span.from);
        out.append(",\"to\":");
        AppendJsonTime(out, span.to);
        out.append(",\"peak\":");
        AppendJsonNumber(out, span.peak);
        out.push_back('}');
    }
    out.append("]}\n");
    return out;
}

namespace {

void AppendOptionalString(std::string &out, const std::optional<QString> &text)
{
    if (text)
        AppendJsonString(out, *text);
    else
        out.append("null");
}

} // namespace

std::string LibraryFlightJson(const LibraryFlight &f)
{
    std::string out = "{\"id\":" + std::to_string(f.id) + ",\"first\":";
    AppendJsonString(out, f.first);
    out.append(",\"last\":");
    AppendJsonString(out, f.last);
    out.append(",\"records\":" + std::to_string(f.records) + ",\"duration_s\":");
    AppendJsonInteger(out, f.durationSeconds);
    out.append(",\"egt_max\":");
    AppendJsonNumber(out, f.egtMax);
    out.append(",\"egt_cyl\":");
    AppendJsonInteger(out, f.egtCylinder);
    out.append(",\"cht_max\":");
    AppendJsonNumber(out, f.chtMax);
    out.append(",\"cht_cyl\":");
    AppendJsonInteger(out, f.chtCylinder);
    out.append(",\"egt_spread_max\":");
    AppendJsonNumber(out, f.egtSpreadMax);
    out.append(",\"cht_spread_max\":");
    AppendJsonNumber(out, f.chtSpreadMax);
    out.append(",\"findings\":" + std::to_string(f.findings) + ",\"sha256\":");
    AppendJsonString(out, f.sha256);
    out.append(",\"source\":");
    AppendJsonString(out, f.source);
    out.append(",\"aircraft\":");
    AppendOptionalString(out, f.aircraft);
    out.append("}\n");
    return out;
}

std::string ImportResultJson(const ImportResult &r)
{
    if (r.outcome == ImportResult::Missing)
        return "{\"id\":" + std::to_string(r.id) + ",\"result\":\"missing\"}\n";
    std::string out = "{\"file\":";
    AppendJsonString(out, r.file);
    switch (r.outcome) {
    case ImportResult::Added:
        out.append(",\"result\":\"added\",\"id\":" + std::to_string(r.id) + "}\n");
        break;
    case ImportResult::Known:
        out.append(",\"result\":\"known\",\"id\":" + std::to_string(r.id) + "}\n");
        break;
    case ImportResult::Repaired:
        out.append(",\"result\":\"repaired\",\"id\":" + std::to_string(r.id) + "}\n");
        break;
    case ImportResult::Damaged:
        out.append(",\"result\":\"damaged\"}\n");
        break;
    case ImportResult::Missing:
        break;
    case ImportResult::Skipped:
        out.append(",\"result\":\"skipped\",\"reason\":");
        AppendJsonString(out, r.reason);
        out.append("}\n");
        break;
    }
    return out;
}

std::string ImportTotalsJson(int added, int known, int skipped)
{
    return "{\"added\":" + std::to_string(added) + ",\"known\":" + std::to_string(known) +
           ",\"skipped\":" + std::to_string(skipped) + "}\n";
}

std::string TrendPointJson(const TrendPoint &p)
{
    std::string out = "{\"id\":" + std::to_string(p.id) + ",\"first\":";
    AppendJsonString(out, p.first);
    out += ",\"value\":";
    AppendJsonNumber(out, p.value);
    out += "}\n";
    return out;
}

std::string AircraftJson(const AircraftSummary &a)
{
    std::string out = "{\"aircraft\":";
    AppendOptionalString(out, a.aircraft);
    out.append(",\"flights\":" + std::to_string(a.flights) + ",\"first\":");
    AppendJsonString(out, a.first);
    out.append(",\"last\":");
    AppendJsonString(out, a.last);
    out.append("}\n");
    return out;
}

} // namespace korvel
