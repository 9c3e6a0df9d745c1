#include "cli/JsonText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace korvel::cli {

namespace {

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

} // namespace

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

void AppendJsonTime(std::string &out, QTime time)
{
    out.push_back('"');
    appendTimeDigits(out, time);
    out.push_back('"');
}

void AppendJsonMoment(std::string &out, QDate date, QTime time)
{
    const std::string year = std::to_string(date.year());
    out.push_back('"');
    out.append(4 - std::min<size_t>(4, year.size()), '0');
    out.append(year);
    out.push_back('-');
    appendTwoDigits(out, date.month());
    out.push_back('-');
    appendTwoDigits(out, date.day());
    out.push_back('T');
    appendTimeDigits(out, time);
    out.push_back('"');
}

void AppendJsonString(std::string &out, const QString &text)
{
    out.push_back('"');
    for (const char c : text.toStdString()) {
        switch (c) {
        case '"':
            out.append("\\\"");
            break;
        case '\\':
            out.append("\\\\");
            break;
        case '\n':
            out.append("\\n");
            break;
        case '\r':
            out.append("\\r");
            break;
        case '\t':
            out.append("\\t");
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
                out.append(escaped);
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
}

bool WriteOut(const std::string &out)
{
    return std::fwrite(out.data(), 1, out.size(), stdout) == out.size() && std::fflush(stdout) == 0;
}

} // namespace korvel::cli
