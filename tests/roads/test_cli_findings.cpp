// korvel-cli findings as a whole process: the exact lines, the limit, and failures.

#include "support/FlightPlans.h"
#include "support/FlightText.h"
#include "support/TestSupport.h"

#include <QtTest>

using namespace korvel;

class TestCliFindings : public QObject {
    Q_OBJECT
private slots:
    void findings()
    {
        QTemporaryDir dir;
        // A head falls 60 in a minute across midnight while CHT6 passes 400.
        const QByteArray flight =
            "FLIGHT\r\n"
            "12/31/25 23:59:00,0,2400,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1400,1400,1400,1400,1400,1400,350,350,350,350,350,350\r\n"
            "12/31/25 23:59:59,0,2400,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1400,1400,1400,1400,1400,1400,350,350,350,350,350,350\r\n"
            "01/01/26 00:00:00,0,2400,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1400,1400,1400,1400,1400,1400,290,350,350,350,350,410.5\r\n"
            "END\r\n";
        const QString path = test::WriteFile(dir, QStringLiteral("f.txt"), flight);
        test::CliRun run = test::RunCli({QStringLiteral("findings"), path});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray("{\"kind\":\"cht_high\",\"cyl\":6,\"from\":\"00:00:00\",\"to\":\"00:00:00\","
                                     "\"record\":2,\"value\":410.5}\n"
                                     "{\"kind\":\"shock_cooling\",\"cyl\":1,\"from\":\"00:00:00\",\"to\":\"00:00:00\","
                                     "\"record\":2,\"value\":60}\n"
                                     "{\"count\":2}\n"));
        run = test::RunCli({QStringLiteral("findings"), QStringLiteral("--cht-limit"), QStringLiteral("420"), path});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith("{\"kind\":\"shock_cooling\""));
        QVERIFY(run.out.endsWith("{\"count\":1}\n"));

        // EGT 3 drops 150 for 20 s every 40 s for four minutes: each dip alone is a transient, but
        // they are joined first, so the cylinder is found once.
        test::FlightText dips = test::FlightText::Steady();
        dips.step = 2;
        const QByteArray intermittent = dips.make(240, [](int k, QList<QByteArray> &f) {
            const int t = 2 * k;
            if (t >= 120 && t < 360 && (t - 120) % 40 < 20)
                f[18] = "1250";
        });
        run = test::RunCli({QStringLiteral("findings"),
                            test::WriteFile(dir, QStringLiteral("intermittent.txt"), intermittent)});
        QCOMPARE(run.out, QByteArray("{\"kind\":\"egt_drop\",\"cyl\":3,\"from\":\"10:02:00\",\"to\":\"10:05:38\","
                                     "\"record\":60,\"value\":150}\n{\"count\":1}\n"));

        // A clean generated flight of an hour and more: nothing to say.
        const QString clean = test::WriteFile(dir, QStringLiteral("clean.txt"), test::MakeFlight({}));
        run = test::RunCli({QStringLiteral("findings"), clean});
        QCOMPARE(run.out, QByteArray("{\"count\":0}\n"));

        run = test::RunCli({QStringLiteral("findings"), dir.filePath(QStringLiteral("missing.txt"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.out.isEmpty());
        QVERIFY(run.err.contains("missing.txt"));
        run = test::RunCli({QStringLiteral("findings"), QStringLiteral("--cht-limit"), QStringLiteral("hot"), path});
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(test::RunCli({QStringLiteral("findings")}).exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(TestCliFindings)
#include "test_cli_findings.moc"
