// The simulator's engine over a real pseudo-terminal: what leaves equals the record, markers
// arrive as chunks of their own, and the hang-up fault drops the line mid-record.

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

} // namespace

class TestSim : public QObject {
    Q_OBJECT
private slots:
    void flightAndCalibration();
    void hangUp();
};

void TestSim::flightAndCalibration()
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

void TestSim::hangUp()
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

QTEST_GUILESS_MAIN(TestSim)
#include "test_sim.moc"
