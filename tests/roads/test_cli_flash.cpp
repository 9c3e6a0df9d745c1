// korvel-cli flash against the simulated instrument's bootstrap loader over a pseudo-terminal: the
// trail, the records the loader took and the memory image at each speed. Its failures are rows of
// the fault matrix.

#include "sim/SimEngine.h"
#include "support/TestSupport.h"

#include <QtTest>

using namespace korvel;
using namespace korvel::sim;

namespace {

// The trail's lines, progress left out.
QStringList WithoutProgress(const QString &trail)
{
    QStringList out;
    for (const QString &line : trail.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (!line.startsWith(QLatin1String("progress: ")))
            out << line;
    return out;
}

// 300 bytes from 8000 in S1 records of 16 bytes (the last one shorter).
QByteArray Program(QByteArray *image)
{
    QByteArray text = test::SRecord('0', 0, 2, "HDR");
    for (int offset = 0; offset < 300; offset += 16) {
        QByteArray data;
        for (int k = 0; k < std::min(16, 300 - offset); ++k)
            data.append(char((offset + k) * 11 % 256));
        text += test::SRecord('1', 0x8000 + offset, 2, data);
        *image += data;
    }
    return text + test::SRecord('9', 0x8000, 2, {});
}

QByteArray Memory(const SimEngine &engine, quint32 from, int size)
{
    const QMap<quint32, quint8> memory = engine.memory();
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(char(memory.value(from + quint32(i), 0xEE)));
    return bytes;
}

} // namespace

class TestCliFlash : public QObject {
    Q_OBJECT

private:
    test::IsolatedSettings m_settings; // the child reads the store under XDG_CONFIG_HOME
    QTemporaryDir m_dir;
    QString m_init, m_program;
    QByteArray m_image;

private slots:
    void initTestCase()
    {
        m_init = test::WriteFile(m_dir, QStringLiteral("init.B"),
                                 "; registers\r\nFFFFF0000118 config\r\nFFFFF3000140\r\n0000800000 never sent\r\n");
        m_program = test::WriteFile(m_dir, QStringLiteral("prog.S19"), Program(&m_image));
    }

    // Every speed, through adapters of every latency (the switch record's last echo character also
    // in a packet of its own, or lost), and a loader whose handshake test comes back garbled once.
    void burnsAtEachSpeed_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("echoHandshake");
        QTest::addColumn<int>("latencyMs");
        QTest::addColumn<bool>("switchEchoAlone");
        QTest::addColumn<bool>("loseSwitchEcho");
        QTest::addColumn<QString>("connected");
        const char *connected[] = {"status: Connected at: 19200,N,8,1", "status: Connected at: 38400,N,8,1",
                                   "status: Connected at: 115200,N,8,1"};
        for (const int latency : {0, 1, 4, 16}) {
            for (int speed = 0; speed <= 2; ++speed) {
                QTest::addRow("%d, %d ms", speed, latency)
                    << speed << (speed == 1) << latency << false << false << connected[speed];
                if (speed > 0 && latency > 0)
                    QTest::addRow("%d, %d ms, switch echo alone", speed, latency)
                        << speed << false << latency << true << false << connected[speed];
            }
        }
        QTest::newRow("2, switch echo lost") << 2 << false << 0 << false << true << connected[2];
        QTest::newRow("2, 16 ms, switch echo lost") << 2 << true << 16 << false << true << connected[2];
    }
    void burnsAtEachSpeed()
    {
        QFETCH(int, speed);
        QFETCH(bool, echoHandshake);
        QFETCH(int, latencyMs);
        QFETCH(bool, switchEchoAlone);
        QFETCH(bool, loseSwitchEcho);
        QFETCH(QString, connected);
        SimEngine engine;
        QVERIFY(engine.open());
        LoaderOptions options;
        options.echoHandshake = echoHandshake;
        options.burnReplyMs = 20;
        options.latencyMs = latencyMs;
        options.switchEchoAlone = switchEchoAlone;
        options.loseSwitchEcho = loseSwitchEcho;
        // A loader that echoes the handshake: its first echo test comes back wrong, and the link
        // tries the handshake again instead of counting it as contact.
        options.garbleEchoTest = echoHandshake ? 1 : 0;
        engine.setLoader(options);

        // korvel-cli runs while the engine answers on this thread.
        const test::CliRun run = test::RunCli({QStringLiteral("flash"), QStringLiteral("--port"), engine.slavePath(),
                                               QStringLiteral("--speed"), QString::number(speed),
                                               QStringLiteral("--init"), m_init, m_program});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(WithoutProgress(run.trail),
                 QStringList({"status: Disconnected", "step: Waiting...", "done: Waiting...", connected,
                              "step: Loading New Program", "step: Burning Code into Flash", "step: Burning Flash",
                              "done: Finished"}));
        QCOMPARE(Memory(engine, 0x8000, m_image.size()), m_image);

        // The records the loader took: each speed switch, the register file without its comments,
        // the program, the start record.
        QList<QByteArray> expected;
        if (speed >= 1)
            expected << "FFFFF9020100";
        if (speed >= 2)
            expected << "FFFFF9030138";
        expected << "FFFFF0000118" << "FFFFF3000140";
        const QList<QByteArray> sent = engine.records();
        QCOMPARE(sent.mid(0, expected.size()), expected);
        QCOMPARE(sent.size(), expected.size() + 19 + 1);
        QCOMPARE(sent.last(), QByteArray("0000800000"));
        QCOMPARE(engine.received().count('x'), echoHandshake ? 2 : 1);
    }
};

QTEST_GUILESS_MAIN(TestCliFlash)
#include "test_cli_flash.moc"
