// The simulator's engine over a real pseudo-terminal: what leaves equals the record, markers
// arrive as chunks of their own, and the hang-up fault drops the line mid-record. The bootstrap
// loader, driven through the program's own serial line: handshakes, echo, memory image, speed
// switch, faults, reset on close, the burn's reply, and the capture giving way to it.

#include "core/serial/SerialLine.h"
#include "sim/SimEngine.h"

#include <QtTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace korvel::sim;

namespace {

// The program's end of the line, raw at 19200 like the capture window's.
struct Reader {
    int fd = -1;
    QList<QByteArray> chunks;
    bool lost = false;
    explicit Reader(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, B19200);
        cfsetospeed(&t, B19200);
        tcsetattr(fd, TCSANOW, &t);
    }
    ~Reader() { ::close(fd); }
    void poll()
    {
        char buffer[65536];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            chunks.append(QByteArray(buffer, n));
        else if (n == 0 || errno != EAGAIN)
            lost = true;
    }
    QByteArray all() const { return chunks.join(); }
};

void runUntil(SimEngine &engine, Reader &reader, const std::function<bool()> &done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        reader.poll();
    }
    Q_UNUSED(engine);
}

// The program's end for the loader: its serial line on the slave path.
struct Program {
    korvel::SerialPortLine line;
    explicit Program(const QString &path, const QString &settings = QStringLiteral("19200,N,8,1"))
    {
        line.setDevice(path);
        line.setSettings(settings);
        QVERIFY(line.open());
    }
    // Everything that arrives until n bytes are in or the time is up.
    QByteArray take(qsizetype n, int ms = 2000)
    {
        QByteArray got = line.read();
        QElapsedTimer t;
        t.start();
        while (got.size() < n && t.elapsed() < ms) {
            QTest::qWait(1);
            got += line.read();
        }
        return got;
    }
    QByteArray exchange(const QByteArray &text, qsizetype n = -1, int ms = 2000)
    {
        line.read();
        line.send(text);
        return take(n < 0 ? text.size() : n, ms);
    }
    // Nothing comes back within a short while.
    bool unanswered(const QByteArray &text) { return exchange(text, 1, 150).isEmpty(); }
    QByteArray echo(const QByteArray &record) { return exchange('\r' + record); }
};

LoaderOptions quickLoader()
{
    LoaderOptions o;
    o.burnReplyMs = 50;
    return o;
}

} // namespace

class TestSim : public QObject {
    Q_OBJECT
private slots:
    void flightAndCalibration()
    {
        SimEngine engine;
        QVERIFY(engine.open());
        Reader reader(engine.slavePath());
        QSignalSpy configured(&engine, &SimEngine::lineConfigured);
        QTRY_COMPARE(engine.lineBaud(), 19200);

        const QByteArray flight = GenerateFlight(50);
        QVERIFY(flight.startsWith("FLIGHT") && flight.endsWith("END\r\n"));
        QSignalSpy sent(&engine, &SimEngine::recordSent);
        engine.sendCapture({flight, "hello\r\n", false});
        runUntil(engine, reader, [&] { return sent.count() == 1 && reader.all().size() >= flight.size() + 7; });
        QCOMPARE(reader.all(), "hello\r\n" + flight);

        reader.chunks.clear();
        const QByteArray cal = GenerateCalibration();
        QCOMPARE(cal.count("END"), 5);
        engine.sendCapture({cal, QByteArray(), false});
        runUntil(engine, reader, [&] { return sent.count() == 2 && reader.all().size() >= cal.size(); });
        QCOMPARE(reader.all(), cal);
        int endChunks = 0;
        for (const QByteArray &chunk : reader.chunks)
            endChunks += chunk.contains("END") ? 1 : 0;
        QCOMPARE(endChunks, 5); // each END line reaches the reader in a chunk of its own
    }

    void hangUp()
    {
        SimEngine engine;
        QVERIFY(engine.open());
        Reader reader(engine.slavePath());
        QSignalSpy hung(&engine, &SimEngine::hungUp);
        CaptureScript script{GenerateFlight(50), QByteArray(), false};
        script.hangUpAfter = 300;
        engine.sendCapture(script);
        runUntil(engine, reader, [&] { return hung.count() == 1 && reader.lost; });
        QCOMPARE(hung.count(), 1);
        QCOMPARE(reader.all(), script.record.left(300));
    }

    void loaderHandshakesAndRecords()
    {
        SimEngine engine;
        QVERIFY(engine.open());
        engine.setLoader(quickLoader());
        Program program(engine.slavePath());
        QVERIFY(program.unanswered("\rjunk")); // nothing but the handshake wakes it
        QCOMPARE(program.exchange("x", 1), QByteArray("@"));

        // Each character echoed, CR included, at the line's pace: 13 characters written at once
        // are back whole after 14 character times at 19200 (7.3 ms).
        QElapsedTimer t;
        t.start();
        QCOMPARE(program.echo("000080000401a2B3ff"), QByteArray("\r000080000401a2B3ff"));
        QVERIFY2(t.nsecsElapsed() > 19 * 520'000, qPrintable(QString::number(t.nsecsElapsed())));
        QCOMPARE(program.echo("ECHOTEST"), QByteArray("\rECHOTEST"));
        // A record is acted on when its characters are in, with no CR after it; what follows it is
        // only echoed.
        QCOMPARE(program.echo("00008004020506"), QByteArray("\r00008004020506"));
        QCOMPARE(program.exchange("77"), QByteArray("77"));

        const QMap<quint32, quint8> memory = engine.memory();
        QCOMPARE(memory.keys(), QList<quint32>({0x8000, 0x8001, 0x8002, 0x8003, 0x8004, 0x8005}));
        QCOMPARE(memory.values(), QList<quint8>({0x01, 0xA2, 0xB3, 0xFF, 0x05, 0x06}));
        QCOMPARE(engine.records(), QList<QByteArray>({"000080000401a2B3ff", "00008004020506"}));
        QVERIFY(engine.registers().isEmpty());

        // The other mode echoes the handshake; the program then tests the echo.
        SimEngine echoing;
        QVERIFY(echoing.open());
        LoaderOptions o = quickLoader();
        o.echoHandshake = true;
        echoing.setLoader(o);
        Program other(echoing.slavePath());
        QCOMPARE(other.exchange("x", 1), QByteArray("x"));
        QCOMPARE(other.echo("ECHOTEST"), QByteArray("\rECHOTEST"));
    }

    void loaderSpeedSwitch()
    {
        SimEngine engine;
        QVERIFY(engine.open());
        engine.setLoader(quickLoader());
        QSignalSpy switched(&engine, &SimEngine::speedSwitched);
        Program program(engine.slavePath());
        QCOMPARE(program.exchange("x", 1), QByteArray("@"));
        QCOMPARE(program.echo("FFFFF9020100"), QByteArray("\rFFFFF9020100")); // the last echo at 19200
        QTRY_COMPARE(engine.loaderBaud(), 38400);
        QCOMPARE(engine.registers().value(0xFFFFF902, 0xAA), quint8(0x00));
        QVERIFY(engine.memory().isEmpty());

        // Still at 19200, the program is garbage to the loader, and its answer garbage to the program.
        const QByteArray garbage = program.exchange("\rx", 2);
        QCOMPARE(garbage.size(), 2);
        QVERIFY(!garbage.contains('\r') && !garbage.contains('x') && !garbage.contains('@'));
        QVERIFY(program.line.setSettings(QStringLiteral("38400,N,8,1")));
        QCOMPARE(program.echo("ECHOTEST"), QByteArray("\rECHOTEST"));

        QCOMPARE(program.echo("FFFFF9030138"), QByteArray("\rFFFFF9030138"));
        QTRY_COMPARE(engine.loaderBaud(), 115200);
        QVERIFY(program.line.setSettings(QStringLiteral("115200,N,8,1")));
        QCOMPARE(program.echo("ECHOTEST"), QByteArray("\rECHOTEST"));
        QCOMPARE(switched.count(), 2);
        QCOMPARE(switched.at(1).at(0).toInt(), 115200);
    }

    void loaderFaults()
    {
        SimEngine engine;
        QVERIFY(engine.open());
        LoaderOptions o = quickLoader();
        o.notReset = 2;
        o.garbleAt = 2;
        o.silentFrom = 4;
        engine.setLoader(o);
        QSignalSpy faults(&engine, &SimEngine::faultStruck);
        Program program(engine.slavePath());
        // An instrument running its firmware ignores the first two handshakes.
        QVERIFY(program.unanswered("x"));
        QVERIFY(program.unanswered("x"));
        QCOMPARE(program.exchange("x", 1), QByteArray("@"));

        QCOMPARE(program.echo("0000800001AA"), QByteArray("\r0000800001AA"));
        QCOMPARE(program.echo("0000800101BB"), QByteArray("\r0000800101B?")); // record 2: garbled
        QCOMPARE(program.echo("ECHOTEST"), QByteArray("\rECHOTEST"));      // not a record
        QCOMPARE(program.echo("FFFFF0000101"), QByteArray("\rFFFFF0000101")); // record 3, a register
        QCOMPARE(program.exchange("\r0000800201CC", 12), QByteArray("\r0000800201C")); // record 4: silence
        QVERIFY(program.unanswered("x"));
        QCOMPARE(engine.memory().value(0x8002), quint8(0xCC)); // received all the same
        QCOMPARE(faults.count(), 4);

        // Hang-up: the line drops on record 2, before its last echo.
        SimEngine dropping;
        QVERIFY(dropping.open());
        o = quickLoader();
        o.hangUpAt = 2;
        dropping.setLoader(o);
        QSignalSpy hung(&dropping, &SimEngine::hungUp);
        Program second(dropping.slavePath());
        QSignalSpy lost(&second.line, &korvel::SerialLine::lineLost);
        QCOMPARE(second.exchange("x", 1), QByteArray("@"));
        QCOMPARE(second.echo("0000800001AA"), QByteArray("\r0000800001AA"));
        second.line.send("\r0000800101BB");
        QCOMPARE(second.take(12), QByteArray("\r0000800101B"));
        QTRY_COMPARE(hung.count(), 1);
        QTRY_COMPARE(lost.count(), 1);
    }

    void loaderBurnResetAndImage()
    {
        SimEngine engine;
        QVERIFY(engine.open());
        engine.setLoader(quickLoader());
        QSignalSpy executed(&engine, &SimEngine::executed);
        QSignalSpy reset(&engine, &SimEngine::loaderReset);
        Program program(engine.slavePath());
        QCOMPARE(program.exchange("x", 1), QByteArray("@"));
        QCOMPARE(program.echo("FFFFF9020100"), QByteArray("\rFFFFF9020100"));
        QTRY_COMPARE(engine.loaderBaud(), 38400);
        QVERIFY(program.line.setSettings(QStringLiteral("38400,N,8,1")));
        QCOMPARE(program.echo("00008000021234"), QByteArray("\r00008000021234"));
        QCOMPARE(program.echo("0000800401ab"), QByteArray("\r0000800401ab"));

        // The execute record is echoed; the burn's reply comes after its delay, and then the
        // processor hears nothing more.
        QCOMPARE(program.echo("0000800000"), QByteArray("\r0000800000"));
        QTRY_COMPARE(executed.count(), 1);
        QCOMPARE(executed.at(0).at(0).value<quint32>(), quint32(0x8000));
        QCOMPARE(program.take(1, 1000), QByteArray("B"));
        QVERIFY(program.unanswered("x"));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("image.bin"));
        quint32 lowest = 0;
        QVERIFY(engine.saveImage(path, nullptr, &lowest));
        QCOMPARE(lowest, quint32(0x8000));
        QFile image(path);
        QVERIFY(image.open(QIODevice::ReadOnly));
        QCOMPARE(image.readAll(), QByteArray("\x12\x34\xFF\xFF\xAB", 5));

        // The burn closes and at once reopens the line (at its last speed): the instrument is back in
        // its loader at 19200, its memory kept.
        program.line.close();
        QVERIFY(program.line.open());
        QVERIFY(program.line.setSettings(QStringLiteral("19200,N,8,1")));
        QCOMPARE(program.exchange("x", 1), QByteArray("@"));
        QCOMPARE(engine.loaderBaud(), 19200);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(engine.memory().size(), 3);

        // And a burn that never replies.
        LoaderOptions silent = quickLoader();
        silent.burnReplyMs = -1;
        engine.setLoader(silent);
        QCOMPARE(program.echo("0000800000"), QByteArray("\r0000800000"));
        QVERIFY(program.take(1, 200).isEmpty());
        QCOMPARE(executed.count(), 2);
    }

    void captureGivesWayToTheLoader()
    {
        SimEngine engine;
        QVERIFY(engine.open());
        engine.setLoader(quickLoader());
        QSignalSpy spoke(&engine, &SimEngine::programSpoke);
        Program program(engine.slavePath());
        const QByteArray flight = GenerateFlight(200);
        engine.sendCapture({flight, QByteArray(), true});
        const QByteArray start = program.take(40);
        QVERIFY(flight.startsWith(start.left(40)));
        QVERIFY(engine.sending());

        QCOMPARE(program.exchange("x", 1).right(1), QByteArray("@"));
        // The engine hears of it on its next turn.
        QTRY_COMPARE(spoke.count(), 1);
        QVERIFY(!engine.sending());
        QVERIFY(program.take(1, 150).isEmpty()); // the flight does not go on
        QCOMPARE(program.echo("ECHOTEST"), QByteArray("\rECHOTEST"));
        QCOMPARE(spoke.count(), 1);

        // Closing the line ends a capture too, and what the program had not read does not wait for
        // the next opening.
        QSignalSpy closed(&engine, &SimEngine::programClosed);
        program.line.close();
        QTRY_COMPARE(closed.count(), 1);
        QVERIFY(program.line.open());
        engine.sendCapture({flight, QByteArray(), true});
        QVERIFY(program.take(40).startsWith("FLIGHT"));
        program.line.close();
        QTRY_VERIFY(!engine.sending());
        QVERIFY(program.line.open());
        QCOMPARE(program.exchange("x", 1, 300), QByteArray("@"));
        QTRY_COMPARE(spoke.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
