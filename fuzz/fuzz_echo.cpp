// The bootstrap-loader link fed random replies: the handshake at a random speed index, a list of
// records, the execute record. Each send takes the next reply from the input: a length byte, then
// that many bytes (mod 64); 0xFE echoes what was sent, 0xFD echoes it with its last byte changed,
// 0xFC hangs the line up. Once the input is spent the loader is silent.
// Properties: the link never claims a contact or a record the replies did not give, every outcome
// leaves the status line and the port in agreement, the bar stays within 0..100, and it ends.
#include "core/link/TargetLink.h"
#include "FuzzSupport.h"
#include "support/ScriptedLine.h"

#include <QTimer>

using namespace korvel;
using namespace korvel::fuzz;

namespace {

struct Exchange {
    QByteArray sent;
    QByteArray reply;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    EnsureApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int speedIndex = data[0] % 4; // 3: an index the dialog cannot give
    size_t pos = 1;

    test::ScriptedLine line;
    CountingUi ui;
    int prompts = 0;
    ui.answerOkCancel = [&] { return ++prompts <= 3 ? MessageAnswer::Ok : MessageAnswer::Cancel; };
    TargetLink link(line, ui, ui, ui);
    link.setDevice(QStringLiteral("/dev/ttyFUZZ"));
    link.setSpeedIndex(speedIndex);
    link.timing = {1, 1, 2};

    std::vector<Exchange> exchanges;
    line.answer = [&](const QByteArray &sent) {
        QByteArray reply;
        if (pos < size) {
            const uint8_t code = data[pos++];
            if (code == 0xFE) {
                reply = sent;
            } else if (code == 0xFD) {
                reply = sent;
                reply[reply.size() - 1] = char(reply.back() ^ 1);
            } else if (code == 0xFC) {
                QTimer::singleShot(0, &line, [&line] { line.lose(); });
            } else {
                const size_t n = std::min<size_t>(code % 64, size - pos);
                reply = QByteArray(reinterpret_cast<const char *>(data + pos), qsizetype(n));
                pos += n;
            }
        }
        exchanges.push_back({sent, reply});
        return reply;
    };

    const bool connected = link.ConnectTarget();
    FUZZ_CHECK(connected == link.IsConnected);
    FUZZ_CHECK(!link.IsConnecting);
    if (connected) {
        FUZZ_CHECK(speedIndex <= 2);
        FUZZ_CHECK(line.isOpen());
        FUZZ_CHECK(ui.lastStatus == QStringLiteral("Connected at: ") + line.settings());
        // The last exchange was the final check, and its reply held ECHOTEST.
        FUZZ_CHECK(!exchanges.empty() && exchanges.back().sent == "\rECHOTEST");
        FUZZ_CHECK(exchanges.back().reply.contains("ECHOTEST"));
    } else {
        FUZZ_CHECK(!line.isOpen());
        FUZZ_CHECK(ui.lastStatus == QStringLiteral("Connection Error"));
        if (speedIndex == 3)
            FUZZ_CHECK(exchanges.empty());
    }
    FUZZ_CHECK(prompts <= 4);

    QStringList records{QStringLiteral("FFFFF0000118 ; a register"), QStringLiteral("0000800004DEADBEEF"),
                        QStringLiteral("0000800402CAFE"), QStringLiteral("00008006010A")};
    const size_t first = exchanges.size();
    const bool sentAll = link.SendRecords(records);
    if (sentAll) {
        FUZZ_CHECK(line.isOpen() && !link.AbortSend);
        FUZZ_CHECK(exchanges.size() == first + size_t(records.size()));
        for (qsizetype i = 0; i < records.size(); ++i) {
            const Exchange &e = exchanges[first + size_t(i)];
            const QByteArray expected = records[i].toLatin1();
            FUZZ_CHECK(e.sent == "\r" + expected);
            FUZZ_CHECK(e.reply.mid(1, expected.size()) == expected);
        }
        FUZZ_CHECK(ui.lastProgress == 0);
    } else if (!line.isOpen()) {
        FUZZ_CHECK(link.AbortSend || exchanges.size() == first);
    }
    link.SendExecuteRecord(QStringLiteral("8000"));
    return 0;
}
