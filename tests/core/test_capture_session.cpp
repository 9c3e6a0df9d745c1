// The capture protocol on sequences of chunks: what reaches the file, the state, the status.

#include "core/capture/CaptureSession.h"
#include "core/flight/StartMarker.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

using namespace korvel;

class TestCaptureSession : public QObject {
    Q_OBJECT
private slots:
    void chunks_data()
    {
        QTest::addColumn<QByteArrayList>("beforeArming");
        QTest::addColumn<QByteArrayList>("afterArming");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("done");

        QTest::newRow("flight") << QByteArrayList{"FLIGHT noise\r\n"}
                                << QByteArrayList{"idle text\r\n", "x FLIGHT 1\r\n", "12/04/26 10:00:00,1\r\n",
                                                  "END\r\n", "FLIGHT again\r\n"}
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
            << QByteArrayList{}
            << QByteArrayList{"CAL END\r\n", "1\r\n", "END\r\n", "END\r\n", "END\r\n", "END\r\n", "x"}
            << QByteArray("CAL END\r\n1\r\nEND\r\nEND\r\nEND\r\nEND\r\n") << 0 << true;
    }

    // The start-marker rule in its two cases on the same text: the capture takes a chunk that holds
    // FLIGHT anywhere for a flight; a file is what its first marker says, however far into it and
    // however its bytes come in pieces.
    void startMarkerForAChunkAndForAFile()
    {
        using M = RecordMarker;
        const struct {
            QByteArray text;
            M chunk, file;
        } cases[] = {
            {"FLIGHT 0002\r\nCAL", M::Flight, M::Flight},
            {"xxFlIgHt then cal", M::Flight, M::Flight},
            {"junk\r\nlocal cal\r\nFLIGHT\r\n", M::Flight, M::Calibration},
            {"\r\n\r\nnotes\r\nthe flight", M::Flight, M::Flight},
            {"LOCAL", M::Calibration, M::Calibration},
            {"FLIGH CA flighCAL", M::Calibration, M::Calibration},
            {"FLIGH\xc6 \xe7\x61l", M::None, M::None},
            {"", M::None, M::None},
        };
        for (const auto &c : cases) {
            const char *text = c.text.constData();
            QVERIFY2(ChunkStartMarker(std::string_view(text, size_t(c.text.size()))) == c.chunk, text);
            for (qsizetype piece : {c.text.size(), qsizetype(1), qsizetype(2), qsizetype(5)}) {
                StartMarker file;
                for (qsizetype from = 0; from < c.text.size(); from += piece)
                    file.add(text + from, size_t(std::min(piece, c.text.size() - from)));
                QVERIFY2(file.first() == c.file, qPrintable(QStringLiteral("%1 in pieces of %2").arg(text).arg(piece)));
            }

            QTemporaryDir dir;
            test::RecordingUi ui;
            CaptureSession session(ui);
            QVERIFY(session.arm(dir.filePath(QStringLiteral("c.txt"))));
            QVERIFY(session.receive(c.text));
            QCOMPARE(session.CaptureState(), c.chunk == M::Flight        ? int(CaptureSession::ReceivingFlight)
                                             : c.chunk == M::Calibration ? int(CaptureSession::ReceivingCalibration)
                                                                         : int(CaptureSession::Armed));
        }
    }

    void chunks()
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

    void rearmKeepsTheEarlierFileAndCountsAnew()
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

        // Each calibration counts its own five ENDs, whatever the one before it counted.
        for (const char *name : {"cal1.txt", "cal2.txt"}) {
            QVERIFY(session.arm(dir.filePath(QLatin1String(name))));
            QVERIFY(session.receive("CAL\r\n"));
            for (int end = 1; end <= 5; ++end) {
                QCOMPARE(session.CaptureState(), 3);
                QVERIFY(session.receive("END\r\n"));
            }
            QCOMPARE(session.CaptureState(), 0);
        }
        // (A file that cannot be created is a row of the fault matrix.)
    }

    // The chunk that fills the disk is taken in part, without an error: the capture must still stop
    // with the system's reason, keeping exactly the bytes the disk took.
    void aChunkThatFillsTheDiskSaysWhy()
    {
#ifndef Q_OS_LINUX
        QSKIP("needs a file-size limit or a small tmpfs");
#else
        const QByteArray first = "FLIGHT\r\n" + QByteArray(3000, 'a');
        const QByteArray second(3000, 'b');

        // A file-size limit: the kernel takes the chunk up to the limit, then refuses the rest. (A disk
        // that is really full is a row of the fault matrix.)
        {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("limited.txt"));
            test::RecordingUi ui;
            CaptureSession session(ui);
            QVERIFY(session.arm(path));
            rlimit saved{};
            QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
            const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit limited = saved;
            limited.rlim_cur = 4096;
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
            const bool firstTaken = session.receive(first);
            const bool secondTaken = session.receive(second);
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, oldHandler);
            QVERIFY(firstTaken);
            QVERIFY(!secondTaken);
            QCOMPARE(session.writeError(), QString::fromLocal8Bit(std::strerror(EFBIG)));
            QCOMPARE(session.CaptureState(), 0);
            QVERIFY(!session.fileOpen());
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), (first + second).left(4096));
        }

#endif
    }
};

QTEST_GUILESS_MAIN(TestCaptureSession)
#include "test_capture_session.moc"
