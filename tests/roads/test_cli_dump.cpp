// korvel-cli dump: the JSON lines, the count, the trail and the exit status.

#include "support/TestSupport.h"

#include <QProcess>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#endif

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
        QVERIFY2(run.err.contains("No such file or directory"), run.err.constData());

        run = cli({QStringLiteral("dump"), test::WriteFile(dir, QStringLiteral("bad.txt"), "x\n12/04/26 1\n")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.isEmpty());

        QCOMPARE(cli({QStringLiteral("dump")}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("dump"), QStringLiteral("--fast"), path}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("nonsense")}).exitCode, 2);
        QCOMPARE(cli({}).exitCode, 2);
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

    // A flight whose JSON is six times its size: the output is written as it goes, so the process
    // never holds it all.
    void writesAsItGoes()
    {
#if !defined(Q_OS_LINUX)
        QSKIP("reads the child's peak memory through getrusage");
#elif defined(KORVEL_ADDRESS_SANITIZER)
        QSKIP("the sanitizer's own memory swamps the figure");
#else
        QTemporaryDir dir;
        QByteArray text = "FLIGHT\r\n";
        const QByteArray line = "12/04/26 10:00:00," + QByteArray(2000, '\x01') + "\r\n";
        for (int i = 0; i < 2500; ++i)
            text += line;
        const QString path = test::WriteFile(dir, QStringLiteral("big.txt"), text);
        QProcess p;
        p.setStandardOutputFile(dir.filePath(QStringLiteral("out.json")));
        p.start(test::BinDir() + QStringLiteral("/korvel-cli"), {QStringLiteral("dump"), path});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const qint64 written = QFileInfo(dir.filePath(QStringLiteral("out.json"))).size();
        QVERIFY(written > 6 * text.size());
        rusage usage{};
        QCOMPARE(getrusage(RUSAGE_CHILDREN, &usage), 0);
        const qint64 peak = qint64(usage.ru_maxrss) * 1024;
        QVERIFY2(peak < written, qPrintable(QStringLiteral("peak %1 bytes for %2 written").arg(peak).arg(written)));
#endif
    }
};

QTEST_GUILESS_MAIN(TestCliDump)
#include "test_cli_dump.moc"
