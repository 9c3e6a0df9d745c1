#include "core/flight/FlightCsv.h"

#include "core/flight/FlightFields.h"
#include "core/flight/FlightText.h"

#include <algorithm>

namespace korvel {

namespace {

constexpr size_t kPiece = 64 * 1024;

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
        AppendLatin1AsUtf8(out, ch);
    }
    if (quoted)
        out.push_back('"');
}

FlightCsvWriter::FlightCsvWriter(std::function<bool(std::string_view)> write)
    : m_write(std::move(write)), m_piece(FlightCsvHeader())
{
    m_piece.reserve(kPiece + 4096);
}

bool FlightCsvWriter::flush()
{
    if (m_ok && !m_piece.empty())
        m_ok = m_write(m_piece);
    m_piece.clear();
    return m_ok;
}

bool FlightCsvWriter::add(const FlightRecord &record)
{
    if (!m_ok)
        return false;
    const QDate date = record.LogDate();
    if (!m_dated || date != m_lastDate) {
        m_dated = true;
        m_lastDate = date;
        m_dateText.clear();
        AppendIsoDate(m_dateText, date);
        m_dateText.push_back(',');
    }
    m_piece.append(m_dateText);
    AppendClockTime(m_piece, record.LogTime());
    for (int f = 0; f < kFlightFields; ++f) {
        m_piece.push_back(',');
        AppendCsvField(m_piece, record.Values(f));
    }
    m_piece.append("\r\n");
    return m_piece.size() < kPiece || flush();
}

bool FlightCsvWriter::finish()
{
    return flush();
}

bool WriteFlightCsv(const FlightData &data, const std::function<bool(std::string_view)> &write)
{
    FlightCsvWriter csv(write);
    const int records =
        data.FlightRecordCount ? std::clamp(*data.FlightRecordCount, 0, data.FlightRecords.records()) : 0;
    for (int k = 0; k < records; ++k) {
        if (!csv.add(data.FlightRecords[k]))
            return false;
    }
    return csv.finish();
}

} // namespace korvel
