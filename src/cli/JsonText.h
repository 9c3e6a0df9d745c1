#pragma once
// The pieces of korvel-cli's JSON lines: numbers that read back as the same double (null when not
// finite), times, moments and strings.

#include <QDate>
#include <QString>
#include <QTime>

#include <string>

namespace korvel::cli {

void AppendJsonNumber(std::string &out, double v);
// "HH:MM:SS"
void AppendJsonTime(std::string &out, QTime time);
// "YYYY-MM-DDTHH:MM:SS"
void AppendJsonMoment(std::string &out, QDate date, QTime time);
// A string with JSON's escapes; the text as UTF-8.
void AppendJsonString(std::string &out, const QString &text);
// Writes out to stdout; false when it could not be written.
bool WriteOut(const std::string &out);

} // namespace korvel::cli
