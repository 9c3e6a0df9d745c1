// The serial line over a pseudo-terminal: settings strings, speed seen by the far end, bytes
// both ways, read length, and a line that goes away. (A device that is not there is a row of the
// fault matrix.)
#include "core/link/TargetLink.h"
#include "core/serial/SerialLine.h"
#include "core/settings/Settings.h"
#include "sim/SimEngine.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>

using namespace korvel;
using namespace korvel::sim;
using namespace korvel::test;

namespace {
const QString kNoAnswerText =
    QStringLiteral("Timeout occured while sending data\r\nI have to abort since this will corrupt the send.");
const QString kResetText = QStringLiteral("Please reset target and press OK to try again.\r\nCancel to not connect.");
} // namespace

class TestSerialLine : public QObject {
    Q_OBJECT

private slots:
    void settingsStrings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("baud");
        QTest::addColumn<QString>("parity");
        QTest::newRow("capture") << "19200,n,8,1" << true << 19200 << "N";
        QTest::newRow("loader") << "115200,N,8,1" << true << 115200 << "N";
        QTest::newRow("even, blanks") << " 9600 , e , 7 , 2 " << true << 9600 << "E";
        QTest::newRow("one and a half") << "4800,O,8,1.5" << true << 4800 << "O";
        QTest::newRow("no speed") << ",N,8,1" << false << 0 << "";
        QTest::newRow("bad parity") << "9600,X,8,1" << false << 0 << "";
        QTest::newRow("bad bits") << "9600,N,9,1" << false << 0 << "";
        QTest::newRow("short") << "9600,N,8" << false << 0 << "";
        QTest::newRow("zero") << "0,N,8,1" << false << 0 << "";
    }
    void settingsStrings()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto s = ParseLineSettings(text);
        QCOMPARE(s.has_value(), valid);
        if (valid) {
            QFETCH(int, baud);
            QFETCH(QString, parity);
            QCOMPARE(s->baud, baud);
            QCOMPARE(QString(s->parity), parity);
        }
    }

    void talksOverAPseudoTerminal()
    {
        SimEngine engine;
        QVERIFY(engine.open());
        SerialPortLine line;
        line.setDevice(engine.slavePath());
        QCOMPARE(line.device(), engine.slavePath());
        QVERIFY(!line.isOpen());
        QVERIFY(line.setSettings(QStringLiteral("19200,n,8,1")));
        QString reason;
        QVERIFY2(line.open(&reason), qPrintable(reason));
        QTRY_COMPARE(engine.lineBaud(), 19200);

        // A new speed while open applies at once and reads back as set.
        QVERIFY(line.setSettings(QStringLiteral("38400,N,8,1")));
        QCOMPARE(line.settings(), QStringLiteral("38400,N,8,1"));
        QTRY_COMPARE(engine.lineBaud(), 38400);
        QVERIFY(!line.setSettings(QStringLiteral("fast")));
        QCOMPARE(line.settings(), QStringLiteral("38400,N,8,1"));

        line.send(QByteArray("B\xB5\r", 3));
        QTRY_COMPARE(engine.received(), QByteArray("B\xB5\r", 3));

        QSignalSpy arrived(&line, &SerialLine::dataArrived);
        engine.sendCapture({"FLIGHT 1\r\nEND\r\n", QByteArray(), false});
        QTRY_COMPARE(line.waiting(), qint64(15));
        QVERIFY(arrived.count() >= 1);
        line.setReadLength(4);
        QCOMPARE(line.read(), QByteArray("FLIG"));
        QCOMPARE(line.waiting(), qint64(11));
        line.setReadLength(0);
        QCOMPARE(line.read(), QByteArray("HT 1\r\nEND\r\n"));
        QCOMPARE(line.waiting(), qint64(0));

        // The far end hangs up: the line says so once and closes.
        QSignalSpy lost(&line, &SerialLine::lineLost);
        engine.hangUp();
        QTRY_COMPARE(lost.count(), 1);
        QVERIFY(!line.isOpen());
        QCOMPARE(line.read(), QByteArray());
        QCOMPARE(line.waiting(), qint64(0));
        line.send("ignored"); // a closed line takes nothing and does not fail
        QCOMPARE(line.read(), QByteArray());
    }

    void portNumbersResolveThroughTheSettings()
    {
        test::IsolatedSettings settings;
        SaveSetting(AppTitle(), QStringLiteral("Ports"), QStringLiteral("COM3"), QStringLiteral("/dev/ttyTEST3"));
        SerialPortLine line;
        line.setPortNumber(3);
        QCOMPARE(line.device(), QStringLiteral("/dev/ttyTEST3"));
    }

    void anInstrumentNotResetIsAskedFor()
    {
        // The simulated instrument over a pseudo-terminal ignores the first handshake, as one running
        // its firmware would: the time-out, the prompt, OK, and contact on the second try.
        sim::SimEngine engine;
        QVERIFY(engine.open());
        sim::LoaderOptions options;
        options.notReset = 1;
        options.paced = false;
        engine.setLoader(options);
        SerialPortLine line;
        RecordingUi ui;
        ui.answers = {MessageAnswer::Ok};
        TargetLink link(line, ui, ui, ui);
        link.timing.replyTimeoutMs = 150;
        link.setDevice(engine.slavePath());
        link.setSpeedIndex(2);
        QVERIFY(link.ConnectTarget());
        QCOMPARE(ui.messages.size(), 2);
        QCOMPARE(ui.messages[0].text, kNoAnswerText);
        QCOMPARE(ui.messages[1].text, kResetText);
        QCOMPARE(ui.statuses.last(), QStringLiteral("Connected at: 115200,N,8,1"));
        QCOMPARE(engine.loaderBaud(), 115200);
    }

    // The link asks the driver for low latency once its port is open, and the line puts the setting
    // back as it closes; a setting found low is left so. A port without the setting (this
    // pseudo-terminal, as the driver answers) is used as it is.
    void lowLatencyIsAskedForAndPutBack()
    {
        struct Driver : SerialPortLine::LatencyDriver {
            std::optional<bool> low = false;
            QList<bool> set;
            std::optional<bool> lowLatency(qintptr) override { return low; }
            bool setLowLatency(qintptr, bool on) override
            {
                set << on;
                low = on;
                return true;
            }
        };
        sim::SimEngine engine;
        QVERIFY(engine.open());
        sim::LoaderOptions options;
        options.paced = false;
        engine.setLoader(options);
        RecordingUi ui;
        {
            SerialPortLine line;
            line.setDevice(engine.slavePath());
            QVERIFY(line.open());
            QVERIFY(!line.requestLowLatency());
            QVERIFY(line.isOpen());
            line.send("x");
            QTRY_COMPARE(engine.received(), QByteArray("x"));
        }

        Driver driver;
        SerialPortLine line;
        line.setLatencyDriver(&driver);
        QVERIFY(!line.requestLowLatency()); // nothing open to ask for
        TargetLink link(line, ui, ui, ui);
        link.timing.replyTimeoutMs = 500;
        link.setDevice(engine.slavePath());
        link.setSpeedIndex(2);
        QVERIFY(link.ConnectTarget());
        QCOMPARE(driver.set, QList<bool>{true});
        QVERIFY(line.requestLowLatency()); // asked twice: put back once
        link.DisconnectTarget();
        QCOMPARE(driver.set, (QList<bool>{true, false}));

        // Found low already: left low.
        driver.set.clear();
        driver.low = true;
        QVERIFY(line.open());
        QVERIFY(line.requestLowLatency());
        line.close();
        QVERIFY(driver.set.isEmpty());

        // A driver without the setting, or one that refuses it: nothing to put back.
        for (const bool refuses : {false, true}) {
            struct Refusing : Driver {
                bool setLowLatency(qintptr, bool on) override
                {
                    set << on;
                    return false;
                }
            } other;
            if (!refuses)
                other.low.reset();
            line.setLatencyDriver(&other);
            QVERIFY(line.open());
            QVERIFY(!line.requestLowLatency());
            line.close();
            QCOMPARE(other.set, refuses ? QList<bool>{true} : QList<bool>{});
        }
        line.setLatencyDriver(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestSerialLine)
#include "test_serial_line.moc"
