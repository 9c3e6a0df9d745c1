// The capture protocol on sequences of chunks: what reaches the file, the state, the status.

#include "capture/CaptureSession.h"
#include "support/TestSupport.h"

#include <QtTest>

using namespace korvel;

class TestCaptureSession : public QObject {
    Q_OBJECT
private slots:
    void chunks_data();
    void chunks();
    void rearmAndFailures();
};

void TestCaptureSession::chunks_data()
{
    QTest::addColumn<QByteArrayList>("beforeArming");
    QTest::addColumn<QByteArrayList>("afterArming");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("done");

    QTest::newRow("flight") << QByteArrayList{"FLIGHT noise\r\n"}
                            << QByteArrayList{"idle text\r\n", "x FLIGHT 1\r\n", "12/04/26 10:00:00,1\r\n", "END\r\n",
                                              "FLIGHT again\r\n"}
                            << QByteArray("x FLIGHT 1\r\n12/04/26 10:00:00,1\r\nEND\r\n") << 0 << true;
    QTest::newRow("lower case, still arriving")
        << QByteArrayList{} << QByteArrayList{"flight\r\n", "12/04/26 10:00:00,1\r\n"}
        << QByteArray("flight\r\n12/04/26 10:00:00,1\r\n") << 2 << false;
    QTest::newRow("start and end in one chunk") << QByteArrayList{} << QByteArrayList{"a FLIGHT b END c", "more"}
                                                << QByteArray("a FLIGHT b END c") << 0 << true;
    QTest::newRow("flight wins over cal") << QByteArrayList{} << QByteArrayList{"CAL FLIGHT\r\n", "end\r\n"}
                                          << QByteArray("CAL FLIGHT\r\nend\r\n") << 0 << true;
    QTest::newRow("LOCAL starts a calibration")
        << QByteArrayList{} << QByteArrayList{"LOCAL\r\n", "END END\r\n", "END\r\n", "END\r\n", "END\r\n"}
        << QByteArray("LOCAL\r\nEND END\r\nEND\r\nEND\r\nEND\r\n") << 3 << false;
    QTest::newRow("calibration ends at the fifth END chunk")
        << QByteArrayList{} << QByteArrayList{"CAL END\r\n", "1\r\n", "END\r\n", "END\r\n", "END\r\n", "END\r\n", "x"}
        << QByteArray("CAL END\r\n1\r\nEND\r\nEND\r\nEND\r\nEND\r\n") << 0 << true;
}

void TestCaptureSession::chunks()
{
    QFETCH(QByteArrayList, beforeArming);
    QFETCH(QByteArrayList, afterArming);
    QFETCH(QByteArray, file);
    QFETCH(int, state);
    QFETCH(bool, done);

    QTemporaryDir dir;
    const QString path = test::WriteFile(dir, QStringLiteral("capture.txt"), QByteArray(500, 'o')); // emptied
    test::RecordingUi ui;
    {
        CaptureSession session(ui);
        for (const QByteArray &chunk : beforeArming)
            QVERIFY(session.receive(chunk));
        QCOMPARE(session.CaptureState(), 0);
        QVERIFY(session.arm(path));
        QCOMPARE(session.CaptureState(), 1);
        for (const QByteArray &chunk : afterArming)
            QVERIFY(session.receive(chunk));
        QCOMPARE(session.CaptureState(), state);
        // Whatever has arrived is on the disk already, before any close.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), file);
    }
    QStringList expected{QStringLiteral("Capture Data To:") + path};
    if (done)
        expected << QStringLiteral("Done");
    QCOMPARE(ui.statuses, expected);
}

void TestCaptureSession::rearmAndFailures()
{
    QTemporaryDir dir;
    test::RecordingUi ui;
    CaptureSession session(ui);
    const QString first = dir.filePath(QStringLiteral("first.txt"));
    const QString second = dir.filePath(QStringLiteral("second.txt"));
    QVERIFY(session.arm(first));
    QVERIFY(session.receive("FLIGHT\r\n"));
    QVERIFY(session.arm(second)); // the earlier file is closed, keeping its bytes
    QVERIFY(session.receive("FLIGHT 2\r\nEND\r\n"));
    QFile a(first), b(second);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(a.readAll(), QByteArray("FLIGHT\r\n"));
    QCOMPARE(b.readAll(), QByteArray("FLIGHT 2\r\nEND\r\n"));

    QString error;
    QVERIFY(!session.arm(dir.filePath(QStringLiteral("no/such/folder.txt")), &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(session.CaptureState(), 0);
    QVERIFY(session.receive("FLIGHT\r\n")); // idle: shown only
    QVERIFY(!session.fileOpen());
}

QTEST_GUILESS_MAIN(TestCaptureSession)
#include "test_capture_session.moc"
