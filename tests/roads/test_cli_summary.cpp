// korvel-cli summary and csv as whole processes: the exact JSON and CSV, nulls, and failures.

#include "support/SummaryFlights.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QtTest>

using namespace korvel;

namespace {

using Run = test::CliRun;
const auto cli = [](const QStringList &args) { return test::RunCli(args); };

const QByteArray kNoCylinder = "\"egt_max\":null,\"egt_time\":null,\"cht_max\":null,\"cht_time\":null}";

} // namespace

class TestCliSummary : public QObject {
    Q_OBJECT
private slots:
    void summary()
    {
        QTemporaryDir dir;
        const QString path = test::WriteFile(dir, QStringLiteral("f.txt"), test::MidnightFlight());
        Run run = cli({QStringLiteral("summary"), QStringLiteral("--cht-limit"), QStringLiteral("390"), path});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, "status: Data File: " + path.toUtf8() + "  Loaded for Edit\n");
        QCOMPARE(run.out,
                 QByteArray("{\"records\":3,\"first\":\"2025-12-31T23:59:50\",\"last\":\"2026-01-01T00:00:02\","
                     "\"duration_s\":12,\"fields\":["
                     "{\"field\":0,\"count\":3,\"min\":10,\"max\":30,\"mean\":20},"
                     "{\"field\":1,\"count\":2,\"min\":5,\"max\":7,\"mean\":6},"
                     "{\"field\":2,\"count\":1,\"min\":10,\"max\":10,\"mean\":10},"
                     "{\"field\":16,\"count\":3,\"min\":1300,\"max\":1400,\"mean\":1366.6666666666667},"
                     "{\"field\":17,\"count\":3,\"min\":1300,\"max\":1350,\"mean\":1333.3333333333333},"
                     "{\"field\":20,\"count\":1,\"min\":1250,\"max\":1250,\"mean\":1250},"
                     "{\"field\":21,\"count\":1,\"min\":1400,\"max\":1400,\"mean\":1400},"
                     "{\"field\":22,\"count\":3,\"min\":380,\"max\":400,\"mean\":390},"
                     "{\"field\":23,\"count\":2,\"min\":380,\"max\":395,\"mean\":387.5}],"
                     "\"cylinders\":["
                     "{\"cyl\":1,\"egt_max\":1400,\"egt_time\":\"23:59:56\",\"cht_max\":400,\"cht_time\":\"00:00:02\"},"
                     "{\"cyl\":2,\"egt_max\":1350,\"egt_time\":\"23:59:50\",\"cht_max\":395,\"cht_time\":\"23:59:56\"},"
                     "{\"cyl\":3," + kNoCylinder + ",{\"cyl\":4," + kNoCylinder + ","
                     "{\"cyl\":5,\"egt_max\":1250,\"egt_time\":\"23:59:50\",\"cht_max\":null,\"cht_time\":null},"
                     "{\"cyl\":6,\"egt_max\":1400,\"egt_time\":\"23:59:50\",\"cht_max\":null,\"cht_time\":null}],"
                     "\"egt_spread\":{\"max\":150,\"time\":\"23:59:50\"},"
                     "\"cht_spread\":{\"max\":20,\"time\":\"00:00:02\"},"
                     "\"cht_over\":[{\"cyl\":1,\"from\":\"23:59:56\",\"to\":\"00:00:02\",\"peak\":400},"
                     "{\"cyl\":2,\"from\":\"23:59:56\",\"to\":\"23:59:56\",\"peak\":395}]}\n"));

        // Without a limit the spans are an empty list.
        run = cli({QStringLiteral("summary"), path});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.endsWith("\"cht_over\":[]}\n"));

        // No record: nothing to describe.
        const QString none = test::WriteFile(dir, QStringLiteral("none.txt"), "FLIGHT\r\nEND\r\n");
        run = cli({QStringLiteral("summary"), QStringLiteral("--cht-limit"), QStringLiteral("400.5"), none});
        QCOMPARE(run.exitCode, 0);
        QByteArray expected =
            "{\"records\":0,\"first\":null,\"last\":null,\"duration_s\":null,\"fields\":[],\"cylinders\":[";
        for (int c = 1; c <= 6; ++c)
            expected += (c > 1 ? ",{\"cyl\":" : "{\"cyl\":") + QByteArray::number(c) + "," + kNoCylinder;
        expected += "],\"egt_spread\":{\"max\":null,\"time\":null},\"cht_spread\":{\"max\":null,\"time\":null},"
                    "\"cht_over\":[]}\n";
        QCOMPARE(run.out, expected);

        run = cli({QStringLiteral("summary"), dir.filePath(QStringLiteral("missing.txt"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(korvel::test::MissingFileWords().toUtf8()), run.err.constData());

        QCOMPARE(cli({"summary", "--cht-limit", "hot", path}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("summary"), QStringLiteral("--cht-limit")}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("summary")}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("summary"), path, path}).exitCode, 2);
    }

    // Sums past the double's range: the mean is null, never the non-JSON inf.
    void hugeValues()
    {
        QTemporaryDir dir;
        const QString path = test::WriteFile(dir, QStringLiteral("f.txt"),
                                             "FLIGHT\r\n12/04/26 10:00:00,1.7e308,-1.7e308\r\n"
                                             "12/04/26 10:00:01,1.7e308,-1.7e308\r\n");
        const Run run = cli({QStringLiteral("summary"), path});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith("{\"records\":2,\"first\":\"2026-12-04T10:00:00\",\"last\":\"2026-12-04T10:00:01\","
                                    "\"duration_s\":1,\"fields\":["
                                    "{\"field\":0,\"count\":2,\"min\":1.7e+308,\"max\":1.7e+308,\"mean\":null},"
                                    "{\"field\":1,\"count\":2,\"min\":-1.7e+308,\"max\":-1.7e+308,\"mean\":null}],"),
                 run.out.constData());
        QVERIFY(!run.out.contains("inf") && !run.out.contains("nan"));
    }

    void csv()
    {
        QTemporaryDir dir;
        const QString path = test::WriteFile(dir, QStringLiteral("f.txt"),
                                             "FLIGHT\r\n"
                                             "12/04/26 09:05:07,2410,say \"hi\",a\nb\r\n"
                                             "END\r\n");
        Run run = cli({QStringLiteral("csv"), path});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, "status: Data File: " + path.toUtf8() + "  Loaded for Edit\n");
        QCOMPARE(run.out, QByteArray("date,time,field0,field1,field2,field3,field4,field5,field6,field7,field8,field9,"
                                     "field10,field11,field12,field13,field14,field15,EGT1,EGT2,EGT3,EGT4,EGT5,EGT6,"
                                     "CHT1,CHT2,CHT3,CHT4,CHT5,CHT6\r\n"
                                     "2026-12-04,09:05:07,2410,\"say \"\"hi\"\"\",\"a\nb\"") +
                              QByteArray(25, ',') + "\r\n");

        run = cli({QStringLiteral("csv"), test::WriteFile(dir, QStringLiteral("bad.txt"), "x\n12/04/26 1\n")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(cli({QStringLiteral("csv")}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("csv"), QStringLiteral("--quoted"), path}).exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(TestCliSummary)
#include "test_cli_summary.moc"
