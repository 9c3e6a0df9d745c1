#include "core/records/RecordReaders.h"

#include "core/records/HexText.h"
#include "core/ui/UiInterfaces.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QLatin1StringView>

#include <cstring>
#include <optional>

namespace korvel {

namespace {

// Why a read failed, in the words shown after "There was an error: ".
struct ReadFailure {
    QString description;
};

// One line of the file's bytes; never owns them.
struct Line {
    const char *data;
    qsizetype size;

    // Characters [from, from + count) as far as the line has them, 0-based.
    Line mid(qsizetype from, qsizetype count) const
    {
        if (from >= size)
            return {data + size, 0};
        return {data + from, std::min(count, size - from)};
    }
    QLatin1StringView text() const { return QLatin1StringView(data, size); }
};

// Walks a file's lines: at each CR LF, or at each LF when the file holds no CR LF at all.
// The piece after the last separator is a line too (empty when the file ends with one).
class LineSplitter {
public:
    explicit LineSplitter(const QByteArray &bytes)
        : m_pos(bytes.constData()), m_end(bytes.constData() + bytes.size()),
          m_crlf(bytes.contains(QByteArrayView("\r\n", 2))), m_done(bytes.isEmpty())
    {
    }

    bool next(Line &line)
    {
        if (m_done)
            return false;
        const char *from = m_pos;
        const char *lf = from;
        for (;;) {
            lf = static_cast<const char *>(std::memchr(lf, '\n', size_t(m_end - lf)));
            if (!lf) {
                line = {from, m_end - from};
                m_done = true;
                return true;
            }
            if (!m_crlf) {
                line = {from, lf - from};
                break;
            }
            if (lf > from && lf[-1] == '\r') {
                line = {from, lf - 1 - from};
                break;
            }
            ++lf; // a lone LF inside a CR LF file belongs to the line
        }
        m_pos = lf + 1;
        return true;
    }

private:
    const char *m_pos;
    const char *m_end;
    bool m_crlf;
    bool m_done;
};

// The whole file as bytes, or why it could not be had.
QByteArray readWholeFile(const QString &fileName)
{
    // Only a regular file is read: a device never ends, and opening a pipe waits for a writer
    // that may never come. Asked before the open, so neither is touched.
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile())
        throw ReadFailure{QStringLiteral("not a regular file (a device, a pipe or a folder); choose the file itself")};
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw ReadFailure{file.errorString()};
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw ReadFailure{file.errorString()};
    return bytes;
}

QStringList reportFailure(Prompter &prompter, const QString &fileName, const QString &description)
{
    prompter.showMessage(QStringLiteral("Error opening file!"),
                         QLatin1String("There was an error: ") + description + QLatin1String(" Opening ") + fileName,
                         MessageIcon::Exclamation, MessageButtons::Ok);
    return QStringList{QString()};
}

inline void appendLatin1(QChar *&out, Line piece)
{
    for (qsizetype i = 0; i < piece.size; ++i)
        *out++ = QChar(char16_t(static_cast<unsigned char>(piece.data[i])));
}

// An S-record line: "S", the type digit, then in hexadecimal the byte count, the address, the
// data and the checksum. Both the reader and the checksum pre-check take lines apart here.
struct SRecordLine {
    char type;   // '0' to '9'
    Line fields; // everything after the type
};

std::optional<SRecordLine> splitSRecord(Line line)
{
    if (line.size < 2 || line.data[0] != 'S' || line.data[1] < '0' || line.data[1] > '9')
        return std::nullopt;
    return SRecordLine{line.data[1], line.mid(2, line.size - 2)};
}

// One S1, S2 or S3 record as a B-record line; nullopt for a line of any other kind.
std::optional<QString> convertDataRecord(Line line, qsizetype lineNumber)
{
    const std::optional<SRecordLine> record = splitSRecord(line);
    if (!record)
        return std::nullopt;
    qsizetype addressDigits;
    switch (record->type) {
    case '1':
        addressDigits = 4;
        break;
    case '2':
        addressDigits = 6;
        break;
    case '3':
        addressDigits = 8;
        break;
    default:
        return std::nullopt;
    }
    // The byte count covers address, data and checksum.
    const int count = HexToLong(record->fields.mid(0, 2).text());
    const int dataBytes = count - int(addressDigits / 2) - 1;
    if (dataBytes < 0)
        throw ReadFailure{QStringLiteral("byte count too small at line %1").arg(lineNumber)};

    const Line address = record->fields.mid(2, addressDigits);
    const Line data = record->fields.mid(2 + addressDigits, qsizetype(dataBytes) * 2);
    static const char hex[] = "0123456789ABCDEF";

    QString out(8 - addressDigits + address.size + 2 + data.size, Qt::Uninitialized);
    QChar *p = out.data();
    for (qsizetype i = addressDigits; i < 8; ++i)
        *p++ = QLatin1Char('0');
    appendLatin1(p, address);
    *p++ = QLatin1Char(hex[(dataBytes >> 4) & 15]);
    *p++ = QLatin1Char(hex[dataBytes & 15]);
    appendLatin1(p, data);
    return out;
}

// True when a record's fields are whole bytes, its count matches them and its checksum is right.
bool checksumHolds(const SRecordLine &record)
{
    const Line fields = record.fields;
    if (fields.size < 2 || fields.size % 2 != 0)
        return false;
    unsigned sum = 0;
    for (qsizetype k = 0; k < fields.size; k += 2) {
        const int hi = HexDigitValue(uchar(fields.data[k]));
        const int lo = HexDigitValue(uchar(fields.data[k + 1]));
        if (hi < 0 || lo < 0)
            return false;
        sum += unsigned(hi * 16 + lo);
    }
    // The count covers address, data and checksum; the checksum makes the byte sum FF.
    const unsigned count = unsigned(HexDigitValue(uchar(fields.data[0])) * 16 + HexDigitValue(uchar(fields.data[1])));
    return qsizetype(count) == fields.size / 2 - 1 && (sum & 0xFF) == 0xFF;
}

} // namespace

QStringList ReadSRecordFile(const QString &fileName, Prompter &prompter)
{
    try {
        const QByteArray bytes = readWholeFile(fileName);
        QStringList records;
        LineSplitter lines(bytes);
        Line line;
        for (qsizetype number = 1; lines.next(line); ++number) {
            if (std::optional<QString> record = convertDataRecord(line, number))
                records.append(std::move(*record));
        }
        if (records.isEmpty())
            throw ReadFailure{QStringLiteral("no S1, S2 or S3 record")};
        return records;
    } catch (const ReadFailure &failure) {
        return reportFailure(prompter, fileName, failure.description);
    } catch (const HexOverflowError &error) {
        return reportFailure(prompter, fileName, QString::fromStdString(error.what()));
    }
}

qint64 FirstBadSRecordLine(const QString &fileName)
{
    QByteArray bytes;
    try {
        bytes = readWholeFile(fileName);
    } catch (const ReadFailure &) {
        return 0;
    }
    LineSplitter lines(bytes);
    Line line;
    for (qint64 number = 1; lines.next(line); ++number) {
        while (line.size > 0 && (line.data[line.size - 1] == ' ' || line.data[line.size - 1] == '\t' ||
                                 line.data[line.size - 1] == '\r'))
            --line.size;
        if (line.size < 4)
            continue;
        if (const std::optional<SRecordLine> record = splitSRecord(line); record && !checksumHolds(*record))
            return number;
    }
    return 0;
}

QStringList ReadBRecordFile(const QString &fileName, Prompter &prompter)
{
    try {
        const QByteArray bytes = readWholeFile(fileName);
        if (bytes.isEmpty())
            throw ReadFailure{QStringLiteral("the file is empty")};
        QStringList records;
        LineSplitter lines(bytes);
        Line line;
        while (lines.next(line)) {
            // Execute records are never taken from a file: the burn sends its own.
            if (IsHexText(line.mid(0, 8).text()) && line.mid(8, 2).text() != QLatin1StringView("00"))
                records.append(QString(line.text()));
        }
        return records;
    } catch (const ReadFailure &failure) {
        return reportFailure(prompter, fileName, failure.description);
    }
}

void TrimRecordLines(QStringList &lines)
{
    for (QString &line : lines) {
        const qsizetype blank = line.indexOf(QLatin1Char(' '));
        if (blank >= 0)
            line.truncate(blank);
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab >= 0)
            line.truncate(tab);
    }
}

} // namespace korvel
