// The bootstrap-loader link and the burn against a scripted loader: the echo check, progress,
// time-outs, the handshake in both modes, the speed switch, and each way a burn ends.
#include "core/link/FlashBurn.h"
#include "core/link/TargetLink.h"
#include "core/records/HexText.h"
#include "core/settings/Settings.h"
#include "support/ScriptedLine.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace korvel;
using namespace korvel::test;

namespace {

struct Rig {
    ScriptedLine line;
    RecordingUi ui;
    std::optional<bool> windowClosed;
    TargetLink link{line, ui, ui, ui, [this] { return windowClosed.value_or(false); }};
    FlashBurn burn{link, ui, ui, ui};
    ScriptedLoader loader;

    explicit Rig(int timeoutMs = 200)
    {
        line.answer = [this](const QByteArray &bytes) { return loader(bytes); };
        link.setDevice(QStringLiteral("/dev/ttyTEST"));
        link.setSpeedIndex(0);
        link.timing = {timeoutMs, 20, 5};
    }
    void openLine()
    {
        line.open();
        line.sent.clear();
    }
};

const QString kTimeoutText =
    QStringLiteral("Timeout occured while sending data\r\nI have to abort since this will corrupt the send.");
const QString kResetText = QStringLiteral("Please reset target and press OK to try again.\r\nCancel to not connect.");
const QString kLineGoneText = QStringLiteral("The line to the instrument went away (hang-up, or the adapter was "
                                             "removed).\r\nCheck the cable and the adapter, reset the instrument "
                                             "and burn again.");

QStringList Texts(const RecordingUi &ui)
{
    QStringList out;
    for (const auto &m : ui.messages)
        out << m.text;
    return out;
}

QString ValidSRecord(const QString &kind, quint32 address, const QByteArray &data)
{
    return QString::fromLatin1(SRecord(kind.at(1).toLatin1(), address, kind == QLatin1String("S1") ? 2 : 4, data))
        .trimmed();
}

} // namespace

class TestTargetLink : public QObject {
    Q_OBJECT

private slots:
    void percentagesRoundHalvesToEven()
    {
        QCOMPARE(RoundedPercent(0, 8), 0);
        QCOMPARE(RoundedPercent(1, 8), 12); // 12.5
        QCOMPARE(RoundedPercent(3, 8), 38); // 37.5
        QCOMPARE(RoundedPercent(5, 8), 62); // 62.5
        QCOMPARE(RoundedPercent(2, 3), 67);
        QCOMPARE(RoundedPercent(8, 8), 100);
        QCOMPARE(RoundedPercent(1, 30), 3);
        QCOMPARE(RoundedPercent(0, 0), 100); // a list of one line
    }

    void echoesAreComparedWhole()
    {
        Rig rig;
        rig.openLine();
        // The echo comes back without its CR; more than asked for is read and dropped.
        QCOMPARE(rig.link.SendLineAwaitEcho(QStringLiteral("0000800002AB12")), QStringLiteral("0000800002AB12"));
        QCOMPARE(rig.line.sent, QByteArray("\r0000800002AB12"));
        rig.line.answer = [](const QByteArray &bytes) { return bytes + "junk"; };
        QCOMPARE(rig.link.SendLineAwaitEcho(QStringLiteral("ECHOTEST")), QStringLiteral("ECHOTEST"));
        QCOMPARE(rig.line.waiting(), qint64(0));
        // An expected length shorter than the line: the rest is not waited for.
        rig.line.answer = [](const QByteArray &bytes) { return bytes; };
        QCOMPARE(rig.link.SendLineAwaitEcho(QStringLiteral("FFFFF9020100"), 11), QStringLiteral("FFFFF902010"));

        // A list of two lines shows 0 for the first and 100 for the second, then 0.
        rig.line.sent.clear();
        rig.ui.progress.clear();
        QStringList two{QStringLiteral("0000800001AA ; first"), QStringLiteral("0000800101BB")};
        QVERIFY(rig.link.SendRecords(two));
        QCOMPARE(two.first(), QStringLiteral("0000800001AA")); // trimmed in place
        QCOMPARE(rig.line.sent, QByteArray("\r0000800001AA\r0000800101BB"));
        QCOMPARE(rig.ui.progress, QList<int>({0, 0, 100, 0}));

        // One line shows 100 while it goes; an empty list sends nothing and fails.
        rig.ui.progress.clear();
        QStringList one{QStringLiteral("FFFFF0000118")};
        QVERIFY(rig.link.SendRecords(one));
        QCOMPARE(rig.ui.progress, QList<int>({0, 100, 0}));
        rig.line.sent.clear();
        rig.ui.progress.clear();
        QStringList none;
        QVERIFY(!rig.link.SendRecords(none));
        QVERIFY(rig.line.sent.isEmpty());
        QVERIFY(rig.ui.progress.isEmpty());

        // One character changed: false at that line, the bar keeps its value, no message, the
        // link stays open.
        rig.line.answer = [&rig](const QByteArray &bytes) { return rig.loader(bytes); };
        rig.loader.records = 0;
        rig.loader.garbleRecord = 2;
        QStringList three{QStringLiteral("0000800001AA"), QStringLiteral("0000800101BB"),
                          QStringLiteral("0000800201CC")};
        rig.ui.progress.clear();
        QVERIFY(!rig.link.SendRecords(three));
        QCOMPARE(rig.ui.progress, QList<int>({0, 0, 50}));
        QVERIFY(rig.ui.messages.isEmpty());
        QVERIFY(rig.line.isOpen());
        QVERIFY(!rig.link.AbortSend);
    }

    // A long list moves the bar once per whole percent, not once per record.
    void theBarMovesOnlyWhenItsPercentageDoes()
    {
        Rig rig;
        rig.openLine();
        QStringList lines;
        for (int i = 0; i < 250; ++i)
            lines << QStringLiteral("0000%1").arg(PadHex(0x8000 + i, 4)) + QStringLiteral("01AA");
        QVERIFY(rig.link.SendRecords(lines));
        QCOMPARE(rig.line.sent.count('\r'), 250);
        QList<int> expected{0};
        for (int i = 0; i < 250; ++i)
            if (RoundedPercent(i, 249) != expected.last() || expected.size() == 1)
                expected << RoundedPercent(i, 249);
        expected << 0;
        QCOMPARE(expected.size(), 1 + 101 + 1);
        QCOMPARE(rig.ui.progress, expected);
    }

    void aMissingEchoAbortsAndDisconnects()
    {
        Rig rig(60);
        rig.openLine();
        rig.loader.silentFrom = 2;
        QStringList lines{QStringLiteral("0000800001AA"), QStringLiteral("0000800101BB"),
                          QStringLiteral("0000800201CC")};
        QVERIFY(!rig.link.SendRecords(lines));
        QCOMPARE(rig.ui.messages.size(), 1);
        QCOMPARE(rig.ui.messages.first().text, kTimeoutText);
        QCOMPARE(rig.ui.messages.first().caption, AppTitle());
        QCOMPARE(rig.ui.messages.first().icon, MessageIcon::Critical);
        QVERIFY(rig.link.AbortSend);
        QVERIFY(!rig.line.isOpen());
        QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Disconnected"));
        // Nothing more is sent until the flag is cleared.
        rig.line.open();
        rig.line.sent.clear();
        QVERIFY(!rig.link.SendRecords(lines));
        QVERIFY(rig.line.sent.isEmpty());

        // The raw primitive reports the time-out but leaves the link alone.
        rig.link.AbortSend = false;
        rig.loader.handshake = ScriptedLoader::Silent;
        QCOMPARE(rig.link.SendRawAwaitReply(QStringLiteral("x")), QString());
        QCOMPARE(rig.ui.messages.size(), 2);
        QVERIFY(rig.line.isOpen());
        QVERIFY(!rig.link.AbortSend);
    }

    void handshakesAndSpeedSwitch()
    {
        IsolatedSettings settings;
        // ("@" at once: one echo test, connected at 19200, as the burn below shows.)
        {
            // A loader that echoes: the handshake's own echo test, then the final one.
            Rig rig;
            rig.loader.handshake = ScriptedLoader::Echo;
            QVERIFY(rig.link.ConnectTarget());
            QCOMPARE(rig.line.sent, QByteArray("x\rECHOTEST\rECHOTEST"));
        }
        {
            // Index 2: handshake, check, switch to 38400, check, switch to 115200, check.
            Rig rig;
            rig.link.setSpeedIndex(2);
            QVERIFY(rig.link.ConnectTarget());
            QCOMPARE(rig.line.sent, QByteArray("x\rECHOTEST\rFFFFF9020100\rECHOTEST\rFFFFF9030138\rECHOTEST"));
            QCOMPARE(rig.line.settingsLog, QStringList({"19200,N,8,1", "38400,N,8,1", "115200,N,8,1"}));
            QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Connected at: 115200,N,8,1"));
        }
        {
            // The stored speed rounds halves to even: 1.5 is index 2; 3 names no speed.
            SaveSetting(AppTitle(), QStringLiteral("Configuration"), QStringLiteral("COMMSPEED"),
                        QStringLiteral("1.5"));
            Rig rig;
            rig.link.setSpeedIndex(std::nullopt);
            QVERIFY(rig.link.ConnectTarget());
            QCOMPARE(rig.line.settings(), QStringLiteral("115200,N,8,1"));
            SaveSetting(AppTitle(), QStringLiteral("Configuration"), QStringLiteral("COMMSPEED"), QStringLiteral("3"));
            rig.line.sent.clear();
            QVERIFY(!rig.link.ConnectTarget());
            QVERIFY(rig.line.sent.isEmpty());
            QVERIFY(!rig.line.isOpen());
            QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Connection Error"));
        }
        {
            // A speed switch that is not echoed ends the attempt.
            Rig rig(60);
            rig.link.setSpeedIndex(1);
            rig.loader.silentFrom = 2;
            QVERIFY(!rig.link.ConnectTarget());
            QCOMPARE(rig.ui.messages.size(), 1);
            QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Connection Error"));
            QCOMPARE(rig.line.sent, QByteArray("x\rECHOTEST\rFFFFF9020100"));
        }
    }

    // A loader that answers, but not as it should, is not taken at its word; one that keeps back
    // the last character of a speed switch is not waited for.
    void aMisbehavingLoaderGetsNoContact()
    {
        IsolatedSettings settings;
        {
            // The final check comes back, without the test line: no contact, and no prompt either.
            Rig rig;
            rig.loader.garbledFinalCheck = true;
            QVERIFY(!rig.link.ConnectTarget());
            QCOMPARE(rig.line.sent, QByteArray("x\rECHOTEST"));
            QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Connection Error"));
            QVERIFY(rig.ui.messages.isEmpty());
            QVERIFY(!rig.line.isOpen());
        }
        {
            // An echoing loader that garbles its first test line is asked again from the "x".
            Rig rig;
            rig.loader.handshake = ScriptedLoader::Echo;
            rig.loader.garbledHandshakeEchoes = 1;
            QVERIFY(rig.link.ConnectTarget());
            QCOMPARE(rig.line.sent, QByteArray("x\rECHOTESTx\rECHOTEST\rECHOTEST"));
            QVERIFY(rig.ui.messages.isEmpty());
        }
        {
            // The switch records' last characters never come: both switches go through all the same.
            Rig rig;
            rig.link.setSpeedIndex(2);
            rig.loader.losesSwitchLastCharacter = true;
            QVERIFY(rig.link.ConnectTarget());
            QVERIFY(rig.ui.messages.isEmpty());
            QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Connected at: 115200,N,8,1"));
            QCOMPARE(rig.line.sent, QByteArray("x\rECHOTEST\rFFFFF9020100\rECHOTEST\rFFFFF9030138\rECHOTEST"));
        }
    }

    void aSilentTargetIsPromptedForAReset()
    {
        Rig rig(60);
        rig.loader.handshake = ScriptedLoader::Silent;
        rig.ui.answers = {MessageAnswer::Ok, MessageAnswer::Cancel};
        QVERIFY(!rig.link.ConnectTarget());
        QCOMPARE(rig.line.sent, QByteArray("xx"));
        QCOMPARE(rig.ui.messages.size(), 4); // time-out, prompt, time-out, prompt
        QCOMPARE(rig.ui.messages[1].caption, QStringLiteral("Target not reset"));
        QCOMPARE(rig.ui.messages[1].text, kResetText);
        QCOMPARE(rig.ui.messages[1].icon, MessageIcon::Exclamation);
        QCOMPARE(rig.ui.messages[1].buttons, MessageButtons::OkCancel);
        QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Connection Error"));
        QVERIFY(!rig.line.isOpen());

        // The window closes while the loader is silent: the wait returns at once, no prompt.
        Rig window(60000);
        window.loader.handshake = ScriptedLoader::Silent;
        QTimer::singleShot(30, [&] {
            window.windowClosed = true;
            window.link.windowClosed();
        });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!window.link.ConnectTarget());
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(window.ui.messages.isEmpty());
        QCOMPARE(window.ui.statuses.last(), QStringLiteral("Connection Error"));
    }

    void burnsAndEndsAsEachFailureSays()
    {
        IsolatedSettings settings;
        QTemporaryDir dir;
        const QString init = WriteFile(dir, QStringLiteral("init.B"), "; registers\r\nFFFFF0000118 config\r\n");
        const QString program = WriteFile(
            dir, QStringLiteral("p.S19"),
            (ValidSRecord("S1", 0x8000, "\x01\x02") + "\r\n" + ValidSRecord("S1", 0x8002, "\x03\x04") + "\r\n")
                .toLatin1());

        // Success: every step as the window shows it; the burn reply ends the wait at once.
        {
            Rig rig;
            rig.burn.setRegisterFile(init);
            rig.burn.setProgramFile(program);
            rig.line.answer = [&rig](const QByteArray &bytes) {
                QByteArray reply = rig.loader(bytes);
                if (bytes == "\r0000800000")
                    reply += "B";
                return reply;
            };
            QCOMPARE(rig.burn.run(), FlashBurn::Outcome::Finished);
            QCOMPARE(rig.ui.events,
                     Sequence("status: Disconnected; step: Waiting...; done: Waiting...; indicator: red; "
                              "status: Connected at: 19200,N,8,1; progress: 0; progress: 100; progress: 0; "
                              "step: Loading New Program; progress: 0; progress: 0; progress: 100; progress: 0; "
                              "step: Burning Code into Flash; step: Burning Flash; "
                              "progress: 20; progress: 40; progress: 60; progress: 80; progress: 100; "
                              "done: Finished; indicator: green"));
            QCOMPARE(rig.line.sent,
                     QByteArray("x\rECHOTEST\rFFFFF0000118\r00008000020102\r00008002020304\r0000800000"));
            QVERIFY(rig.line.isOpen()); // the link stays open after a burn
        }
        // (A loader that never answers ends in "Could Not Connect": a row of the fault matrix.)
        // A register record comes back wrong; the program is never read.
        {
            Rig rig;
            rig.loader.garbleRecord = 2;
            rig.burn.setRegisterFile(init);
            rig.burn.setProgramFile(dir.filePath(QStringLiteral("missing.S19")));
            QCOMPARE(rig.burn.run(), FlashBurn::Outcome::RegisterFailed);
            QCOMPARE(rig.ui.events.mid(rig.ui.events.size() - 3),
                     QStringList({"done: Error", "step: Uploading of B-Record Register File failed",
                                  "message: Korvel Engine Monitor: Could not load B-Record file -> OK"}));
        }
        // Nothing ever chosen: the pattern "*.S19" is no file.
        {
            Rig rig;
            rig.burn.setRegisterFile(init);
            QCOMPARE(rig.burn.programFile(), QStringLiteral("*.S19"));
            QCOMPARE(rig.burn.run(), FlashBurn::Outcome::ProgramFailed);
            QCOMPARE(rig.ui.messages.size(), 2);
            QCOMPARE(rig.ui.messages.first().caption, QStringLiteral("Error opening file!"));
            QVERIFY(rig.ui.events.contains(QStringLiteral("step: Loading New Program")));
            QCOMPARE(rig.ui.events.mid(rig.ui.events.size() - 2),
                     QStringList({"done: Error",
                                  "message: Korvel Engine Monitor: Uploading of Program to Flash Failed -> OK"}));
        }
        // An unanswered start record ends the burn with "Error" instead of a wait on a closed port;
        // a silent instrument after an answered one runs every interval and finishes.
        {
            Rig rig(40);
            rig.burn.setRegisterFile(init);
            rig.burn.setProgramFile(program);
            rig.loader.silentFrom = 5; // ECHOTEST, register, two program records, then the start record
            QCOMPARE(rig.burn.run(), FlashBurn::Outcome::Stopped);
            QCOMPARE(rig.ui.events.last(), QStringLiteral("done: Error"));
            rig.loader = ScriptedLoader();
            rig.ui.events.clear();
            QCOMPARE(rig.burn.run(), FlashBurn::Outcome::Finished);
            QCOMPARE(rig.ui.events.filter(QStringLiteral("progress: ")).mid(7),
                     QStringList({"progress: 20", "progress: 40", "progress: 60", "progress: 80", "progress: 100"}));
        }
    }

    // A program of one data record is no program: nothing goes out. Two records do.
    void aOneRecordProgramIsNotSent()
    {
        QTemporaryDir dir;
        const QByteArray header = "S00600004844521B\r\n", start = "S9030000FC\r\n";
        const QByteArray one = ValidSRecord("S1", 0x8000, "\x01\x02").toLatin1() + "\r\n";
        const QByteArray two = ValidSRecord("S1", 0x8002, "\x03\x04").toLatin1() + "\r\n";
        Rig rig;
        rig.openLine();
        QVERIFY(!rig.link.UploadSRecordFile(WriteFile(dir, QStringLiteral("one.S19"), header + one + start)));
        QVERIFY(rig.line.sent.isEmpty());
        QVERIFY(rig.ui.progress.isEmpty());
        QVERIFY(rig.ui.messages.isEmpty());
        QVERIFY(rig.link.UploadSRecordFile(WriteFile(dir, QStringLiteral("two.S19"), header + one + two + start)));
        QCOMPARE(rig.line.sent, QByteArray("\r00008000020102\r00008002020304"));
    }

    // An adapter hands the switch record's last echo character over late: the line settles, what
    // came at the old speed is dropped, and the check at the new speed passes. The same character
    // never coming at all is not waited for.
    void lateBytesAfterASpeedSwitchAreSettled()
    {
        for (const int lateMs : {-1, 1, 16, 40}) {
            Rig rig;
            rig.link.setSpeedIndex(2);
            rig.line.answer = [&rig, lateMs](const QByteArray &bytes) {
                if (!bytes.startsWith("\rFFFFF90"))
                    return rig.loader(bytes);
                if (lateMs >= 0)
                    QTimer::singleShot(lateMs, &rig.line, [&rig, bytes] { rig.line.arrive(bytes.right(1)); });
                return bytes.left(12);
            };
            QVERIFY2(rig.link.ConnectTarget(), qPrintable(QString::number(lateMs)));
            QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Connected at: 115200,N,8,1"));
            QVERIFY(rig.ui.messages.isEmpty());
        }
    }

    // The line going away is named at every step; once the start record has left, the instrument
    // may be burning: no reset is advised, and the status says the line is gone.
    void aLostLineIsNamedAndABurningInstrumentLeftAlone()
    {
        IsolatedSettings settings;
        QTemporaryDir dir;
        const QString init = WriteFile(dir, QStringLiteral("init.B"), "FFFFF0000118\r\n");
        const QString program = WriteFile(
            dir, QStringLiteral("p.S19"),
            (ValidSRecord("S1", 0x8000, "\x01\x02") + "\r\n" + ValidSRecord("S1", 0x8002, "\x03\x04") + "\r\n")
                .toLatin1());
        // The record is echoed as far as given, then the line goes ms later.
        const auto loseAfter = [&](Rig &rig, const QByteArray &record, int ms, qsizetype echoed) {
            rig.line.answer = [&rig, record, ms, echoed](const QByteArray &bytes) {
                if (bytes != '\r' + record)
                    return rig.loader(bytes);
                QTimer::singleShot(ms, &rig.line, [&rig] { rig.line.lose(); });
                return bytes.left(echoed);
            };
            rig.burn.setRegisterFile(init);
            rig.burn.setProgramFile(program);
        };
        // While the line settles after a speed switch.
        {
            Rig rig;
            rig.link.setSpeedIndex(1);
            loseAfter(rig, "FFFFF9020100", 5, 12);
            QCOMPARE(rig.burn.run(), FlashBurn::Outcome::ConnectFailed);
            QCOMPARE(Texts(rig.ui), QStringList({kLineGoneText, "Could Not Connect"}));
            QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Connection Error"));
        }
        // Right after the last program record's echo: the start record never leaves.
        {
            Rig rig;
            loseAfter(rig, "00008002020304", 0, 15);
            QCOMPARE(rig.burn.run(), FlashBurn::Outcome::ProgramFailed);
            QCOMPARE(Texts(rig.ui), QStringList({kLineGoneText, "Uploading of Program to Flash Failed"}));
            QVERIFY(!rig.line.sent.contains("0000800000"));
        }
        // After the start record's echo, or its echo never comes: leave it burning.
        {
            Rig rig;
            loseAfter(rig, "0000800000", 5, 11);
            QCOMPARE(rig.burn.run(), FlashBurn::Outcome::Stopped);
            QCOMPARE(Texts(rig.ui), QStringList{rig.link.burningAdvice(true)});
            QVERIFY(rig.ui.messages.first().text.startsWith(
                "The line to the instrument went away after the start record was sent: the instrument may still "
                "be burning its flash.\r\nLeave it powered for "));
            QCOMPARE(rig.ui.events.mid(rig.ui.events.size() - 2), QStringList({"status: Disconnected", "done: Error"}));
        }
        {
            Rig rig(60);
            rig.burn.setRegisterFile(init);
            rig.burn.setProgramFile(program);
            rig.link.timing.burnIntervalMs = 1000;
            rig.link.timing.burnIntervals = 30;
            rig.loader.silentFrom = 5; // ECHOTEST, register, two program records, then the start record
            QCOMPARE(rig.burn.run(), FlashBurn::Outcome::Stopped);
            QCOMPARE(Texts(rig.ui), QStringList({kTimeoutText, rig.link.burningAdvice(false)}));
            QVERIFY(rig.link.burningAdvice(false).contains(QLatin1String("Leave it powered for 30 seconds")));
            QVERIFY(!Texts(rig.ui).join(QString()).contains(QLatin1String("reset the instrument")));
            QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Disconnected"));
        }
        // After a finished burn the instrument is switched off: the status says the line went.
        {
            Rig rig;
            rig.burn.setRegisterFile(init);
            rig.burn.setProgramFile(program);
            QCOMPARE(rig.burn.run(), FlashBurn::Outcome::Finished);
            QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Connected at: 19200,N,8,1"));
            rig.line.lose();
            QCOMPARE(rig.ui.statuses.last(), QStringLiteral("Disconnected"));
            QVERIFY(!rig.link.IsConnected);
            QVERIFY(rig.ui.messages.isEmpty());
        }
    }

    // A wait that lasts says what it waits for, with the seconds left, each second; then clears.
    void longWaitsCountDown()
    {
        Rig rig(2600);
        rig.openLine();
        rig.loader.silentFrom = 1;
        QStringList shown;
        connect(&rig.link, &TargetLink::countdown, this, [&shown](const QString &text) { shown << text; });
        QCOMPARE(rig.link.SendLineAwaitEcho(QStringLiteral("0000800001AA")), QString());
        QCOMPARE(shown, QStringList({"Waiting for the instrument's echo: 2 s", "Waiting for the instrument's echo: 1 s",
                                     QString()}));
        QCOMPARE(Texts(rig.ui), QStringList{kTimeoutText});
        // A quick answer shows nothing.
        shown.clear();
        rig.line.open();
        QCOMPARE(rig.link.SendRawAwaitReply(QStringLiteral("x")), QStringLiteral("@"));
        QVERIFY(shown.isEmpty());
    }

    void aDamagedProgramIsOfferedBeforeAnythingIsSent()
    {
        QTemporaryDir dir;
        const QString good = ValidSRecord("S1", 0x8000, "\x01\x02");
        QString bad = ValidSRecord("S1", 0x8002, "\x03\x04");
        bad[bad.size() - 1] = bad.at(bad.size() - 1) == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
        const QString file =
            WriteFile(dir, QStringLiteral("bad.S19"), ("S00600004844521B\n" + good + "\n" + bad + "\n").toLatin1());
        QCOMPARE(FlashBurn::FirstBadChecksumLine(file), qint64(3));
        QCOMPARE(FlashBurn::FirstBadChecksumLine(
                     WriteFile(dir, QStringLiteral("ok.S19"),
                               (good + "\r\n" + good.toLower().replace('s', 'S') + " \r\n").toLatin1())),
                 qint64(0));
        QCOMPARE(FlashBurn::FirstBadChecksumLine(dir.filePath(QStringLiteral("none.S19"))), qint64(0));
        // A byte count one too large, with the checksum made to fit it: the sum alone would pass.
        QByteArray bytes = QByteArray::fromHex(ValidSRecord("S1", 0x8004, "\x05\x06").mid(2).toLatin1());
        ++bytes[0];
        --bytes[bytes.size() - 1];
        const QString countOff = QStringLiteral("S1") + QString::fromLatin1(bytes.toHex().toUpper());
        QCOMPARE(FlashBurn::FirstBadChecksumLine(
                     WriteFile(dir, QStringLiteral("count.S19"), (good + "\r\n" + countOff + "\r\n").toLatin1())),
                 qint64(2));

        Rig rig;
        rig.burn.setProgramFile(file);
        QCOMPARE(rig.burn.run(), FlashBurn::Outcome::Declined);
        QVERIFY(rig.line.sent.isEmpty());
        QCOMPARE(rig.ui.messages.size(), 1);
        QCOMPARE(rig.ui.messages.first().text,
                 QStringLiteral("The program file %1 has a wrong checksum in line 3: it may be damaged.\r\n"
                                "Press OK to burn it anyway, Cancel to stop.")
                     .arg(file));
        QCOMPARE(rig.ui.messages.first().buttons, MessageButtons::OkCancel);
        // Enter does not burn a damaged program.
        QCOMPARE(rig.ui.messages.first().defaultAnswer, MessageAnswer::Cancel);
    }
};

QTEST_GUILESS_MAIN(TestTargetLink)
#include "test_target_link.moc"
