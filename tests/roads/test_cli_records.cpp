// korvel-cli srec and brec: the lines on stdout, the message box on the trail, the exit status.

#include "support/TestSupport.h"

#include <QtTest>

class TestCliRecords : public QObject {
    Q_OBJECT
private slots:
    void records_data()
    {
        QTest::addColumn<QStringList>("args"); // FILE stands for the file made from bytes
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("trail"); // %1 stands for the file's path
        QTest::addColumn<int>("exitCode");

        const QString opening =
            QStringLiteral("message: Error opening file!: There was an error: %2 Opening %1 -> OK\n");
        QTest::newRow("srec") << QStringList{"srec", "FILE"}
                              << QByteArray("S0030000FC\r\nS1041234AB00\r\nS205123456cd00\r\nS9030000FC\r\n")
                              << QByteArray("0000123401AB\n0012345601cd\n") << "" << 0;
        QTest::newRow("srec without data records") << QStringList{"srec", "FILE"} << QByteArray("S9030000FC\r\n")
                                                   << QByteArray() << opening.arg("%1", "no S1, S2 or S3 record") << 1;
        QTest::newRow("srec missing file") << QStringList{"srec", "FILE"} << QByteArray() << QByteArray()
                                           << opening.arg("%1", korvel::test::MissingFileWords()) << 1;

        const QByteArray init("FFFFF9020100 speed\r\n; divider\r\nFFFFF9030138\td\xe9j\xe0\r\n0000800000\r\n");
        QTest::newRow("brec") << QStringList{"brec", "FILE"} << init
                              << QByteArray("FFFFF9020100 speed\nFFFFF9030138\td\xe9j\xe0\n") << "" << 0;
        QTest::newRow("brec --trim") << QStringList{"brec", "--trim", "FILE"} << init
                                     << QByteArray("FFFFF9020100\nFFFFF9030138\n") << "" << 0;
        QTest::newRow("brec nothing sendable")
            << QStringList{"brec", "FILE"} << QByteArray("; none\r\n0000800000\r\n") << QByteArray() << "" << 0;
        QTest::newRow("brec empty file") << QStringList{"brec", "--trim", "FILE"} << QByteArray("") << QByteArray()
                                         << opening.arg("%1", "the file is empty") << 1;
    }

    void records()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, out);
        QFETCH(QString, trail);
        QFETCH(int, exitCode);

        QString file = m_dir.filePath(QStringLiteral("missing"));
        if (!QByteArray(QTest::currentDataTag()).endsWith("missing file"))
            file = korvel::test::WriteFile(m_dir, QStringLiteral("records.txt"), bytes);
        args.replace(args.indexOf(QStringLiteral("FILE")), file);

        const korvel::test::CliRun run = korvel::test::RunCli(args);
        QCOMPARE(run.out, out);
        QCOMPARE(run.trail, trail.arg(file));
        QCOMPARE(run.exitCode, exitCode); // -1 for a crash
    }

    void badUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("srec without file") << QStringList{"srec"};
        QTest::newRow("srec two files") << QStringList{"srec", "a.s19", "b.s19"};
        QTest::newRow("srec --trim") << QStringList{"srec", "--trim", "a.s19"};
        QTest::newRow("brec without file") << QStringList{"brec", "--trim"};
        QTest::newRow("brec unknown option") << QStringList{"brec", "--all", "init.B"};
    }

    void badUsage()
    {
        QFETCH(QStringList, args);
        const korvel::test::CliRun run = korvel::test::RunCli(args);
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY(run.err.contains("usage: korvel-cli"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestCliRecords)
#include "test_cli_records.moc"
