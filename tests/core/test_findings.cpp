// The findings on whole generated flights: a clean flight with power and mixture changes has none;
// each anomaly laid in is found where it happens, once.

#include "core/flight/Findings.h"
#include "support/FlightPlans.h"
#include "support/FlightText.h"

#include <QtTest>

using namespace korvel;
using test::Anomaly;
using test::FlightPlan;

namespace {

std::vector<Finding> FindingsOf(const FlightPlan &plan, const FindingRules &rules = {})
{
    return FindFlightFindings(ParseFlightData(test::MakeFlight(plan)), rules);
}

QString Describe(const std::vector<Finding> &findings)
{
    QStringList out;
    for (const Finding &f : findings)
        out << QStringLiteral("%1 cyl %2 %3-%4 #%5 %6")
                   .arg(QLatin1String(FindingKindName(f.kind)))
                   .arg(f.cylinder)
                   .arg(f.from.toString(u"HH:mm:ss"), f.to.toString(u"HH:mm:ss"))
                   .arg(f.record)
                   .arg(f.value);
    return out.join(QLatin1String("; "));
}

FlightPlan Plan(int step, std::vector<Anomaly> anomalies = {}, QTime start = QTime(9, 30))
{
    FlightPlan plan;
    plan.step = step;
    plan.start = QDateTime(QDate(2026, 3, 14), start);
    plan.anomalies = std::move(anomalies);
    return plan;
}

constexpr int kCruise = 1000; // seconds into the flight: steady cruise

} // namespace

class TestFindings : public QObject {
    Q_OBJECT
private slots:
    void cleanFlightHasNone_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<QTime>("start");
        QTest::newRow("1 s") << 1 << QTime(9, 30);
        QTest::newRow("6 s") << 6 << QTime(9, 30);
        QTest::newRow("1 s across midnight") << 1 << QTime(23, 40);
        QTest::newRow("6 s across midnight") << 6 << QTime(23, 40);
    }
    void cleanFlightHasNone()
    {
        QFETCH(int, step);
        QFETCH(QTime, start);
        const auto findings = FindingsOf(Plan(step, {}, start));
        QVERIFY2(findings.empty(), qPrintable(Describe(findings)));
    }

    // Each anomaly alone, at one and six seconds a record: one finding, at the record where it
    // begins, for the cylinder it touches.
    void anomalyFoundOnce_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("cylinder");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("at"); // seconds from the start where the finding begins, within a step
        for (const int step : {1, 6}) {
            const QByteArray s = " " + QByteArray::number(step) + " s";
            QTest::newRow("EGT probe dead" + s) << step << int(Anomaly::EgtProbeDead) << 3 << 100
                                                << QStringLiteral("egt_probe") << kCruise;
            QTest::newRow("CHT probe dead" + s) << step << int(Anomaly::ChtProbeDead) << 5 << 30
                                                << QStringLiteral("cht_probe") << kCruise;
            QTest::newRow("EGT spike" + s) << step << int(Anomaly::EgtSpike) << 2 << 0 << QStringLiteral("egt_probe")
                                           << kCruise;
            QTest::newRow("EGT falls alone" + s) << step << int(Anomaly::EgtDrop) << 4 << 300
                                                 << QStringLiteral("egt_drop") << kCruise + 3;
            QTest::newRow("CHT hot" + s) << step << int(Anomaly::ChtHot) << 3 << 300 << QStringLiteral("cht_high")
                                         << kCruise + 60;
        }
    }
    void anomalyFoundOnce()
    {
        QFETCH(int, step);
        QFETCH(int, kind);
        QFETCH(int, cylinder);
        QFETCH(int, seconds);
        QFETCH(QString, expected);
        QFETCH(int, at);
        const FlightPlan plan =
            Plan(step, {{Anomaly::Kind(kind), cylinder, kCruise, kCruise + seconds}}, QTime(23, 30));
        const auto findings = FindingsOf(plan);
        QVERIFY2(findings.size() == 1, qPrintable(Describe(findings)));
        const Finding &f = findings.front();
        QCOMPARE(QLatin1String(FindingKindName(f.kind)), expected);
        QCOMPARE(f.cylinder, cylinder);
        const int second = f.record * step;
        QVERIFY2(second >= at - step - 60 && second <= at + step + 60, qPrintable(Describe(findings)));
        QCOMPARE(f.from, plan.start.addSecs(second).time());
        if (expected == QLatin1String("egt_probe") || expected == QLatin1String("cht_probe")) {
            QCOMPARE(f.record, (kCruise + step - 1) / step);
            if (kind == Anomaly::EgtSpike)
                QVERIFY(f.value > 1800); // the spike's own reading
            else
                QCOMPARE(f.value, kind == Anomaly::EgtProbeDead ? 0.0 : -1.0);
            const int last = kind == Anomaly::EgtSpike ? second : (kCruise + seconds) / step * step;
            QCOMPARE(f.to, plan.start.addSecs(last).time());
            QCOMPARE(f.last * step, last);
        }
        if (expected == QLatin1String("egt_drop"))
            QVERIFY2(f.value > 150 && f.value <= 215, qPrintable(Describe(findings)));
        if (expected == QLatin1String("cht_high"))
            QVERIFY2(f.value >= 400 && f.value < 460, qPrintable(Describe(findings)));
    }

    // Shock cooling touches every head: one finding each, by record and then cylinder; a dead EGT
    // probe later sorts after them. A lower CHT limit finds the climb's hot heads.
    void orderAndLimit()
    {
        const FlightPlan plan = Plan(1, {{Anomaly::ShockCool, 1, kCruise, kCruise}, {Anomaly::EgtProbeDead, 6, 1100, 1110}});
        const auto findings = FindingsOf(plan);
        QVERIFY2(findings.size() == 7, qPrintable(Describe(findings)));
        QSet<int> cylinders;
        for (size_t c = 0; c < 6; ++c) {
            QCOMPARE(findings[c].kind, FindingKind::ShockCooling);
            cylinders.insert(findings[c].cylinder);
            QVERIFY(findings[c].value > 50 && findings[c].value < 100);
            if (c > 0 && findings[c].record == findings[c - 1].record)
                QVERIFY(findings[c].cylinder > findings[c - 1].cylinder);
        }
        QCOMPARE(cylinders.size(), 6);
        QCOMPARE(findings[6].kind, FindingKind::EgtProbe);
        QVERIFY(findings[5].record < findings[6].record);

        FindingRules rules;
        rules.chtLimit = 375;
        const auto hot = FindingsOf(Plan(6), rules);
        QVERIFY(!hot.empty());
        for (const Finding &f : hot)
            QCOMPARE(f.kind, FindingKind::ChtHigh);
    }

    // A short dip is a transient; two faults of one probe less than a minute apart are one finding,
    // further apart two.
    void transientsAndJoins()
    {
        QVERIFY(FindingsOf(Plan(1, {{Anomaly::EgtDrop, 2, kCruise, kCruise + 10}})).empty());

        auto findings = FindingsOf(
            Plan(1, {{Anomaly::EgtProbeDead, 1, kCruise, kCruise + 5}, {Anomaly::EgtProbeDead, 1, kCruise + 40, kCruise + 45}}));
        QVERIFY2(findings.size() == 1, qPrintable(Describe(findings)));
        QCOMPARE(findings[0].record, kCruise);
        QCOMPARE(findings[0].to, QTime(9, 30).addSecs(kCruise + 45));

        findings = FindingsOf(
            Plan(1, {{Anomaly::EgtProbeDead, 1, kCruise, kCruise + 5}, {Anomaly::EgtProbeDead, 1, kCruise + 90, kCruise + 95}}));
        QVERIFY2(findings.size() == 2, qPrintable(Describe(findings)));
    }

    // A cylinder that drops out for 20 s every 40 s: each dip alone is a transient, but dips less
    // than a minute apart are joined first, so the whole stretch is one finding. One dip alone stays
    // a transient.
    void intermittentCylinder()
    {
        const auto flight = [](int dips) {
            test::FlightText text = test::FlightText::Steady();
            text.step = 2;
            return Describe(FindFlightFindings(ParseFlightData(text.make(240, [&](int k, QList<QByteArray> &f) {
                const int t = 2 * k;
                if (t >= 120 && t < 120 + dips * 40 && (t - 120) % 40 < 20)
                    f[18] = "1250";
            }))));
        };
        QCOMPARE(flight(6), QStringLiteral("egt_drop cyl 3 10:02:00-10:05:38 #60 150"));
        QCOMPARE(flight(1), QString());
    }

    // Hand-sized flights for the edges: a spike needs both neighbours; a reading at 0 on the last
    // record still counts; falls are measured by date and time across midnight, but not across a
    // clock set back in flight, after which the minute is measured afresh.
    void edges()
    {
        const auto line = [](const char *when, int egt1, int cht1, int rpm = 2400) {
            QByteArray l = when;
            for (int k = 0; k < 28; ++k) {
                int v = k == 1 ? rpm : k >= 16 && k < 22 ? 1400 : k >= 22 ? 350 : 0;
                if (k == 16)
                    v = egt1;
                if (k == 22)
                    v = cht1;
                l += ',' + QByteArray::number(v);
            }
            return l + "\r\n";
        };
        QByteArray text = "FLIGHT\r\n" + line("12/31/25 23:59:00", 2000, 350) + line("12/31/25 23:59:30", 1400, 350) +
                          line("12/31/25 23:59:59", 1400, 340) + line("01/01/26 00:00:00", 1400, 290) +
                          line("01/01/26 00:00:30", 1400, 0);
        const auto findings = FindFlightFindings(ParseFlightData(text));
        QCOMPARE(Describe(findings),
                 QStringLiteral("shock_cooling cyl 1 00:00:00-00:00:00 #3 60; cht_probe cyl 1 00:00:30-00:00:30 #4 0"));

        text = "FLIGHT\r\n" + line("03/14/26 10:00:00", 1400, 350) + line("03/14/26 10:00:30", 1400, 350) +
               line("03/14/26 10:01:00", 1400, 350) + line("03/14/26 09:00:00", 1400, 290) +
               line("03/14/26 09:00:30", 1400, 290) + line("03/14/26 09:01:00", 1400, 290) +
               line("03/14/26 09:01:30", 1400, 220);
        QCOMPARE(Describe(FindFlightFindings(ParseFlightData(text))),
                 QStringLiteral("shock_cooling cyl 1 09:01:30-09:01:30 #6 70"));
    }

    // The rules at their own edges, on records ten seconds apart: a power reduction moves one EGT
    // with the RPM, so it is no cylinder falling alone; a CHT at the limit is hot and one below is
    // not; findings go by record before kind.
    void rulesAtTheirEdges()
    {
        struct Reading {
            int rpm = 2400;
            std::array<int, 6> egt{1400, 1400, 1400, 1400, 1400, 1400};
            std::array<int, 6> cht{350, 350, 350, 350, 350, 350};
        };
        const auto flight = [](const std::vector<Reading> &records) {
            test::FlightText text = test::FlightText::Steady();
            text.step = 10;
            return FindFlightFindings(ParseFlightData(text.make(int(records.size()), [&](int i, QList<QByteArray> &f) {
                const Reading &r = records[size_t(i)];
                f[1] = QByteArray::number(r.rpm);
                for (int c = 0; c < 6; ++c) {
                    f[16 + c] = QByteArray::number(r.egt[size_t(c)]);
                    f[22 + c] = QByteArray::number(r.cht[size_t(c)]);
                }
            })));
        };

        // One exhaust falling while the others hold, against the others' median (the falling cylinder
        // itself left out, wherever it stands among them): with five others and with four (a failed
        // probe is left out too); and with the others' median moving, no cylinder falls alone.
        const auto drops = [&](std::array<int, 6> then, std::array<int, 6> now) {
            std::vector<Reading> r(16);
            for (size_t i = 0; i < r.size(); ++i)
                r[i].egt = i < 7 ? then : now;
            QStringList out;
            for (const Finding &f : flight(r))
                if (f.kind == FindingKind::EgtDrop)
                    out << QStringLiteral("%1 %2").arg(f.cylinder).arg(f.value);
            return out.join(u';');
        };
        QCOMPARE(drops({1450, 1300, 1310, 1400, 1500, 1510}, {1340, 1300, 1310, 1400, 1500, 1510}),
                 QStringLiteral("1 110"));
        QCOMPARE(drops({1450, 1300, 1310, 1400, 1500, 0}, {1340, 1300, 1310, 1400, 1500, 0}), QStringLiteral("1 110"));
        QCOMPARE(drops({1450, 1300, 1310, 1400, 1500, 1510}, {1340, 1300, 1310, 1360, 1500, 1510}), QString());

        std::vector<Reading> reduction(21);
        for (size_t i = 6; i < reduction.size(); ++i) {
            reduction[i].rpm = 2000;
            reduction[i].egt[0] = 1250;
        }
        auto findings = flight(reduction);
        QVERIFY2(findings.empty(), qPrintable(Describe(findings)));

        // A spike needs both jumps: 1300, 1620, 1380 jumps 320 up but only 240 down, so it is a
        // reading (the peak), no fault. Two faults of one head 20 s apart, a 0 and then a 900 spike,
        // are one finding with the first faulty reading.
        std::vector<Reading> rise(5);
        rise[1].egt[0] = 1300;
        rise[2].egt[0] = 1620;
        rise[3].egt[0] = 1380;
        rise[1].cht[1] = 0;
        rise[3].cht[1] = 900;
        QCOMPARE(Describe(flight(rise)), QStringLiteral("cht_probe cyl 2 10:00:10-10:00:30 #1 0"));

        std::vector<Reading> records(5);
        records[1].egt[1] = 0;
        records[2].cht[3] = 400;
        records[2].cht[4] = 399;
        records[3].cht[2] = 420;
        findings = flight(records);
        QCOMPARE(Describe(findings), QStringLiteral("egt_probe cyl 2 10:00:10-10:00:10 #1 0; "
                                                    "cht_high cyl 4 10:00:20-10:00:20 #2 400; "
                                                    "cht_high cyl 3 10:00:30-10:00:30 #3 420"));
    }
};

QTEST_GUILESS_MAIN(TestFindings)
#include "test_findings.moc"
