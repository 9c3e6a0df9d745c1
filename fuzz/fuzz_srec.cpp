// The S-record reader on any file: no crash, and either one failure message with the list of one
// empty text, or one B-record line per S1/S2/S3 line.
#include "core/records/RecordReaders.h"
#include "FuzzSupport.h"

using namespace korvel;
using namespace korvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static MemoryFile file;
    file.set(data, size);
    CountingUi ui;
    const QStringList lines = ReadSRecordFile(file.name(), ui);

    if (ui.messages > 0) {
        FUZZ_CHECK(ui.messages == 1);
        FUZZ_CHECK(lines == QStringList{QString()});
        return 0;
    }
    FUZZ_CHECK(!lines.isEmpty());
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray separator = bytes.contains("\r\n") ? QByteArray("\r\n") : QByteArray("\n");
    qsizetype dataRecords = 0;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = bytes.indexOf(separator, from);
        const QByteArray line = bytes.mid(from, at < 0 ? -1 : at - from);
        if (line.startsWith("S1") || line.startsWith("S2") || line.startsWith("S3"))
            ++dataRecords;
        if (at < 0)
            break;
        from = at + separator.size();
    }
    FUZZ_CHECK(lines.size() == dataRecords);
    // At most 8 address digits, 2 count digits and 254 data bytes (a count of FF less the address
    // and checksum); a short line gives a shorter one.
    for (const QString &line : lines)
        FUZZ_CHECK(line.size() >= 2 && line.size() <= 8 + 2 + 2 * 254);
    return 0;
}
