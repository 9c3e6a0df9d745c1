// korvel-cli dump: the JSON lines, the count, the trail and the exit status.

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

using namespace korvel;

namespace {

struct Run {
    int exitCode;
    QByteArray out, err;
};

Run cli(const QStringList &args)
{
    QProcess p;
    p.start(test::BinDir() + QStringLiteral("/korvel-cli"), args);
    if (!p.waitForFinished(30000))
        qFatal("korvel-cli did not finish");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

} // namespace

class TestCliDump : public QObject {
    Q_OBJECT
private slots:
    void records();
    void countAndFailures();
};

void TestCliDump::records()
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
    const QList<QByteArray> lines = run.out.split('\n');
    QCOMPARE(lines.size(), 4); // two records, the count, the empty piece after the last LF
    QCOMPARE(lines[2], QByteArray("{\"count\":2}"));
    QCOMPARE(lines[3], QByteArray());

    const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(first.value("date").toString(), QStringLiteral("2026-12-04"));
    QCOMPARE(first.value("time").toString(), QStringLiteral("09:05:07"));
    const QJsonArray values = first.value("values").toArray();
    QCOMPARE(values.size(), 28);
    QCOMPARE(values[0].toString(), QStringLiteral("2410"));
    QCOMPARE(values[3].toString(), QStringLiteral("a\"b"));
    QCOMPARE(values[4].toString(), QStringLiteral("c\\d"));
    QCOMPARE(values[5].toString(), QString::fromUtf8("\xc2\xb0" "F"));
    QCOMPARE(values[27].toString(), QString());

    const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(second.value("date").toString(), QStringLiteral("2026-01-05"));
    QCOMPARE(second.value("time").toString(), QStringLiteral("14:00:00"));
    QCOMPARE(second.value("values").toArray()[1].toString(), QStringLiteral("2"));
}

void TestCliDump::countAndFailures()
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

QTEST_GUILESS_MAIN(TestCliDump)
#include "test_cli_dump.moc"
