// korvel-cli dump: the JSON lines, the count, the trail and the exit status.

#include "support/TestSupport.h"

#include <QProcess>
#include <QtTest>


using namespace korvel;

namespace {

using Run = test::CliRun;
const auto cli = [](const QStringList &args) { return test::RunCli(args); };

} // namespace

class TestCliDump : public QObject {
    Q_OBJECT
private slots:
    void records()
    {
        QTemporaryDir dir;
        const QString path = test::WriteFile(dir, QStringLiteral("f.txt"),
                                             "FLIGHT 12/04/26\r\n"
                                             "12/04/26 09:05:07,2410,245,24,a\"b,c\\d,\xb0" "F\r\n"
                                             "1/5/2026 14:00   ,1,2\r\n"
                                             "END\r\n");
        const Run run = cli({QStringLiteral("dump"), path});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, "status: Data File: " + path.toUtf8() + "  Loaded for Edit\n");
        // Every field as text, the 28 always there, escaped as JSON, Latin-1 read as such.
        const auto blanks = [](int n) { return QByteArray(",\"\"").repeated(n); };
        const QByteArray first = "{\"date\":\"2026-12-04\",\"time\":\"09:05:07\",\"values\":[\"2410\",\"245\",\"24\","
                                 "\"a\\\"b\",\"c\\\\d\",\"\xc2\xb0" "F\"" + blanks(22) + "]}\n";
        const QByteArray second =
            "{\"date\":\"2026-01-05\",\"time\":\"14:00:00\",\"values\":[\"1\",\"2\"" + blanks(26) + "]}\n";
        QCOMPARE(run.out, first + second + "{\"count\":2}\n");
    }

    void countAndFailures()
    {
        QTemporaryDir dir;
        const QString path = test::WriteFile(dir, QStringLiteral("f.txt"), "FLIGHT\n12/04/26 10:00:00,1\nEND\n");
        Run run = cli({QStringLiteral("dump"), QStringLiteral("--count"), path});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("{\"count\":1}\n"));

        run = cli({QStringLiteral("dump"), test::WriteFile(dir, QStringLiteral("empty.txt"), QByteArray())});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("{\"count\":0}\n"));

        run = cli({QStringLiteral("dump"), dir.filePath(QStringLiteral("missing.txt"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(korvel::test::MissingFileWords().toUtf8()), run.err.constData());

        run = cli({QStringLiteral("dump"), test::WriteFile(dir, QStringLiteral("bad.txt"), "x\n12/04/26 1\n")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.isEmpty());

        QCOMPARE(cli({QStringLiteral("dump")}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("dump"), QStringLiteral("--fast"), path}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("nonsense")}).exitCode, 2);
        QCOMPARE(cli({}).exitCode, 2);

        // The installed program's version, as the setup program and its check see it.
        run = cli({QStringLiteral("--version")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QStringLiteral("korvel-cli %1.%2.%3\n")
                              .arg(KORVEL_VERSION_MAJOR).arg(KORVEL_VERSION_MINOR).arg(KORVEL_VERSION_PATCH).toUtf8());
    }

    void yearsAndShortHours()
    {
        QTemporaryDir dir;
        const Run run = cli({QStringLiteral("dump"), test::WriteFile(dir, QStringLiteral("f.txt"),
                                                                     "FLIGHT\r\n"
                                                                     "1/5/0999 10:00:00,1\r\n"
                                                                     "02/03/26 1:23:45,a\r\n"
                                                                     "02/03/26  1:23:45,b\r\n")});
        QCOMPARE(run.exitCode, 0);
        const QList<QByteArray> lines = run.out.split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY2(lines[0].startsWith("{\"date\":\"0999-01-05\",\"time\":\"10:00:00\""), lines[0].constData());
        QVERIFY2(lines[1].startsWith("{\"date\":\"2026-02-03\",\"time\":\"01:23:45\",\"values\":[\"a\","),
                 lines[1].constData());
        QVERIFY2(lines[2].startsWith("{\"date\":\"2026-02-03\",\"time\":\"01:23:45\",\"values\":[\"b\","),
                 lines[2].constData());
    }

    // A flight larger than what the commands may hold: each reads it as it goes, and says its own
    // peak (KORVEL_REPORT_PEAK: the process's VmHWM as it exits), which stays far below the file.
    void memoryStaysFlat()
    {
#if !defined(Q_OS_LINUX)
        QSKIP("the peak is read from /proc");
#elif defined(KORVEL_ADDRESS_SANITIZER)
        QSKIP("the sanitizer's own memory swamps the figure");
#else
        QTemporaryDir dir;
        QByteArray line = "12/04/26 10:00:00";
        for (int k = 0; k < 28; ++k)
            line += ",1234";
        line += "\r\n";
        const int records = 48 * 1024 * 1024 / int(line.size());
        const QString path = test::WriteFile(dir, QStringLiteral("big.txt"), "FLIGHT\r\n" + line.repeated(records));
        for (const QStringList &command : {QStringList{QStringLiteral("dump"), QStringLiteral("--count")},
                                           QStringList{QStringLiteral("dump")}, QStringList{QStringLiteral("summary")},
                                           QStringList{QStringLiteral("csv")}}) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("KORVEL_REPORT_PEAK"), QStringLiteral("1"));
            p.setProcessEnvironment(env);
            p.setStandardOutputFile(QProcess::nullDevice());
            p.start(test::BinDir() + QStringLiteral("/korvel-cli"), command + QStringList{path});
            QVERIFY(p.waitForFinished(120000));
            QCOMPARE(p.exitCode(), 0);
            const QByteArray err = p.readAllStandardError();
            const qsizetype at = err.lastIndexOf("peak-memory: ");
            QVERIFY2(at >= 0, err.constData());
            const qint64 peakKiB = err.mid(at + 13).split(' ').front().toLongLong();
            QVERIFY2(peakKiB > 0 && peakKiB <= 32 * 1024,
                     qPrintable(command.join(u' ') + QStringLiteral(": %1 KiB").arg(peakKiB)));
        }
#endif
    }

    // The file shrinks while dump writes it out: the reason on stderr, exit 1, and what stdout
    // already has ends on a whole record line. The reader is held up by a full pipe, so the file is
    // cut while the first of several read buffers is being written.
    void fileShrinksWhileDumped()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("truncates the file under the process");
#else
        QTemporaryDir dir;
        QByteArray line = "12/04/26 10:00:00";
        for (int k = 0; k < 28; ++k)
            line += ",987";
        line += "\r\n";
        const QString path =
            test::WriteFile(dir, QStringLiteral("f.txt"), "FLIGHT\r\n" + line.repeated(16 * 1024 * 1024 / line.size()));
        QProcess p;
        p.start(test::BinDir() + QStringLiteral("/korvel-cli"), {QStringLiteral("dump"), path});
        QVERIFY(p.waitForReadyRead(30000));
        QVERIFY(QFile::resize(path, 100000));
        QByteArray out;
        while (p.state() != QProcess::NotRunning || p.bytesAvailable() > 0) {
            p.waitForReadyRead(1000);
            out += p.readAllStandardOutput();
        }
        QCOMPARE(p.exitCode(), 1);
        const QByteArray err = p.readAllStandardError();
        QVERIFY2(err.contains("the file shrank while it was read"), err.constData());
        QVERIFY(!out.isEmpty());
        QVERIFY(out.endsWith("]}\n"));
        QVERIFY(!out.contains("{\"count\""));
        const QList<QByteArray> lines = out.split('\n');
        QVERIFY(lines.last().isEmpty());
        QVERIFY(lines[lines.size() - 2].startsWith("{\"date\":\"2026-12-04\""));
#endif
    }
};

QTEST_GUILESS_MAIN(TestCliDump)
#include "test_cli_dump.moc"
