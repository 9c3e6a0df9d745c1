// The B-record reader and the trim on any file: no crash; every kept line is a record (8
// hexadecimal digits, a count that is not 00), and after the trim no line holds a blank or a tab.
#include "core/records/HexText.h"
#include "core/records/RecordReaders.h"
#include "FuzzSupport.h"

using namespace korvel;
using namespace korvel::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static MemoryFile file;
    file.set(data, size);
    CountingUi ui;
    QStringList lines = ReadBRecordFile(file.name(), ui);

    if (ui.messages > 0) {
        FUZZ_CHECK(ui.messages == 1);
        FUZZ_CHECK(size == 0);
        FUZZ_CHECK(lines == QStringList{QString()});
        return 0;
    }
    const qsizetype kept = lines.size();
    for (const QString &line : lines) {
        FUZZ_CHECK(IsHexText(line.left(8)));
        FUZZ_CHECK(line.mid(8, 2) != QLatin1String("00"));
    }
    const QStringList before = lines;
    TrimRecordLines(lines);
    FUZZ_CHECK(lines.size() == kept);
    for (qsizetype i = 0; i < kept; ++i) {
        FUZZ_CHECK(!lines[i].contains(QLatin1Char(' ')) && !lines[i].contains(QLatin1Char('\t')));
        FUZZ_CHECK(before[i].startsWith(lines[i]));
    }
    return 0;
}
