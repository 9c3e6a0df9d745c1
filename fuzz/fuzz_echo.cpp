// The bootstrap-loader link fed random replies: the handshake at a random speed index, then a list
// of records, then the execute record.
// Contact: each send takes the next reply from the input: a length byte, then that many bytes
// (mod 64); 0xFE echoes what was sent, 0xFD echoes it with its last byte changed, 0xFC hangs the
// line up. Once the input is spent the loader is silent. Properties: a contact needs a final check
// whose echo holds ECHOTEST, and a final check echoed right gives one; status and port agree.
// Records: three input bytes a record choose its echo (right, one byte changed, cut short, or
// right with bytes after it), how many pieces it arrives in over turns of the event loop, and
// whether bytes after it come late, at the start of the next record's reply. A small model of the
// loader's line says which echo the link must take as right; the link must agree both ways.
#include "core/link/TargetLink.h"
#include "FuzzSupport.h"
#include "support/ScriptedLine.h"

#include <QTimer>

#include <algorithm>
#include <vector>

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
    link.timing.settleMs = 0; // the scripted line holds nothing back after the switch echo

    std::vector<Exchange> exchanges;
    std::vector<QByteArrayList> pieceReplies;
    bool hungUp = false;
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
                hungUp = true;
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
    // The other way: a final check answered with its own echo, on a line that stayed, is contact.
    if (!hungUp && !exchanges.empty() && exchanges.back().sent == "\rECHOTEST" && exchanges.back().reply.size() >= 9 &&
        exchanges.back().reply.mid(1, 8) == "ECHOTEST")
        FUZZ_CHECK(connected);

    if (!connected)
        return 0;

    // The records. The model: what reaches the link for a record is what came late from the one
    // before, then its own reply; the link reads it once CR and the line's length are in, and the
    // pieces are cut inside that span, so that the last piece holds everything after it.
    const QStringList lines{QStringLiteral("FFFFF0000118"), QStringLiteral("0000800004DEADBEEF"),
                            QStringLiteral("0000800402CAFE"), QStringLiteral("00008006010A"),
                            QStringLiteral("00008007010B")};
    auto nextByte = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };
    QByteArray late;
    int expectedSent = 0;
    bool expectedRight = true, expectedTimeout = false;
    for (const QString &text : lines) {
        const QByteArray record = text.toLatin1();
        const qsizetype n = record.size();
        const uint8_t control = nextByte(), a = nextByte(), b = nextByte();
        QByteArray reply = "\r" + record, after;
        switch (control & 3) {
        case 1:
            reply[a % reply.size()] = char(reply.at(a % reply.size()) ^ (b | 1));
            break;
        case 2:
            reply.chop(a % 3 + 1);
            break;
        case 3:
            after = QByteArray(b % 8 + 1, char(a));
            break;
        }
        const QByteArray stream = late + reply + ((control & 0x20) ? QByteArray() : after);
        late = (control & 0x20) ? after : QByteArray();
        ++expectedSent;
        expectedTimeout = stream.size() < n + 1;
        expectedRight = !expectedTimeout && stream.mid(1, n) == record;
        // Cut points inside [1, n], so the piece that completes the echo is the last one.
        QList<qsizetype> cuts;
        const int pieces = ((control >> 2) & 7) + 1;
        const qsizetype span = std::min<qsizetype>(n, stream.size() - 1);
        for (int k = 1; k < pieces && span >= 1; ++k)
            cuts << 1 + (qsizetype(a) * 7 * k + qsizetype(b) * 3 + k) % span;
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        QByteArrayList split;
        qsizetype from = 0;
        for (qsizetype cut : cuts) {
            split << stream.mid(from, cut - from);
            from = cut;
        }
        split << stream.mid(from);
        pieceReplies.push_back(split);
        if (!expectedRight)
            break;
    }
    // Late bytes of the last record, and the execute record's echo, come whole.
    pieceReplies.push_back({late});

    exchanges.clear();
    size_t piece = 0;
    line.answerInPieces = [&](const QByteArray &sent) {
        QByteArrayList pieces = piece < pieceReplies.size() ? pieceReplies[piece] : QByteArrayList{};
        if (piece + 1 == pieceReplies.size())
            pieces << sent;
        ++piece;
        exchanges.push_back({sent, pieces.join()});
        return pieces;
    };
    link.timing.replyTimeoutMs = 20; // pieces arrive in turns, not in a millisecond
    const int messagesBefore = ui.messages;
    QStringList records = lines;
    const bool sentAll = link.SendRecords(records);
    FUZZ_CHECK(sentAll == (expectedRight && expectedSent == lines.size()));
    FUZZ_CHECK(exchanges.size() == size_t(expectedSent));
    for (size_t i = 0; i < exchanges.size(); ++i)
        FUZZ_CHECK(exchanges[i].sent == "\r" + lines[qsizetype(i)].toLatin1());
    if (sentAll || !expectedTimeout) {
        // A wrong echo stops the list with the link open and nothing said.
        FUZZ_CHECK(line.isOpen() && !link.AbortSend);
        FUZZ_CHECK(ui.messages == messagesBefore);
    } else {
        FUZZ_CHECK(!line.isOpen() && link.AbortSend);
    }
    if (sentAll)
        FUZZ_CHECK(ui.lastProgress == 0);
    link.SendExecuteRecord(QStringLiteral("8000"));
    return 0;
}
