#include "core/flight/FlightCsv.h"

#include "core/flight/FlightFields.h"

#include <algorithm>

namespace korvel {

namespace {

constexpr size_t kPiece = 64 * 1024;

void AppendDigits(std::string &out, int value, int width)
{
    char digits[12];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value > 0 && n < int(sizeof digits));
    for (int pad = n; pad < width; ++pad)
        out.push_back('0');
    while (n > 0)
        out.push_back(digits[--n]);
}

// Latin-1 in, UTF-8 out.
void AppendUtf8(std::string &out, char ch)
{
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
        out.push_back(ch);
    } else {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

} // namespace

std::string FlightCsvHeader()
{
    std::string header = "date,time";
    for (int f = 0; f < kFlightFields; ++f) {
        header.push_back(',');
        header.append(FlightFieldName(f).toStdString());
    }
    header.append("\r\n");
    return header;
}

void AppendCsvField(std::string &out, QLatin1StringView text)
{
    bool quoted = false;
    bool plain = true; // nothing to quote and nothing beyond ASCII: the text goes out as it stands
    for (const char ch : text) {
        if (ch == '"' || ch == ',' || ch == '\r' || ch == '\n')
            quoted = true;
        else if (static_cast<unsigned char>(ch) < 0x80)
            continue;
        plain = false;
    }
    if (plain) {
        out.append(text.data(), size_t(text.size()));
        return;
    }
    if (quoted)
        out.push_back('"');
    for (const char ch : text) {
        if (ch == '"')
            out.push_back('"');
        AppendUtf8(out, ch);
    }
    if (quoted)
        out.push_back('"');
}

bool WriteFlightCsv(const FlightData &data, const std::function<bool(std::string_view)> &write)
{
    std::string piece = FlightCsvHeader();
    piece.reserve(kPiece + 4096);
    const int records =
        data.FlightRecordCount ? std::clamp(*data.FlightRecordCount, 0, data.FlightRecords.records()) : 0;
    QDate lastDate;
    std::string dateText; // a flight's records share one or two dates: format each once
    for (int k = 0; k < records; ++k) {
        const FlightRecord record = data.FlightRecords[k];
        const QDate date = record.LogDate();
        const QTime time = record.LogTime();
        if (k == 0 || date != lastDate) {
            lastDate = date;
            dateText.clear();
            AppendDigits(dateText, date.year(), 4);
            dateText.push_back('-');
            AppendDigits(dateText, date.month(), 2);
            dateText.push_back('-');
            AppendDigits(dateText, date.day(), 2);
            dateText.push_back(',');
        }
        piece.append(dateText);
        AppendDigits(piece, time.hour(), 2);
        piece.push_back(':');
        AppendDigits(piece, time.minute(), 2);
        piece.push_back(':');
        AppendDigits(piece, time.second(), 2);
        for (int f = 0; f < kFlightFields; ++f) {
            piece.push_back(',');
            AppendCsvField(piece, record.Values(f));
        }
        piece.append("\r\n");
        if (piece.size() >= kPiece) {
            if (!write(piece))
                return false;
            piece.clear();
        }
    }
    return piece.empty() || write(piece);
}

} // namespace korvel
