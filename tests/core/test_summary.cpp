// The flight summary on small tables worked out by hand, and the CSV export's rows and quoting.
// (korvel-cli summary's exact JSON covers the midnight flight figure by figure.)

#include "core/flight/FlightCsv.h"
#include "core/flight/FlightSummary.h"
#include "core/flight/Statistics.h"
#include "core/flight/TimeAxis.h"
#include "core/flight/SummaryText.h"
#include "support/SummaryFlights.h"

#include <QtTest>

#include <cmath>

using namespace korvel;
using korvel::test::DataLine;

namespace {

std::string Csv(const FlightData &data)
{
    std::string out;
    WriteFlightCsv(data, [&out](std::string_view piece) {
        out.append(piece);
        return true;
    });
    return out;
}

// Runs over a limit as "CYL n from-to (first record-last record) peak; ...".
QString Spans(const std::vector<ChtSpan> &spans)
{
    QStringList out;
    for (const ChtSpan &s : spans)
        out << QStringLiteral("CYL %1 %2-%3 (%4-%5) %6")
                   .arg(s.cylinder)
                   .arg(s.from.toString(u"HH:mm:ss"), s.to.toString(u"HH:mm:ss"))
                   .arg(s.firstRecord)
                   .arg(s.lastRecord)
                   .arg(s.peak);
    return out.join(QStringLiteral("; "));
}

} // namespace

class TestSummary : public QObject {
    Q_OBJECT
private slots:
    // A record without a number ends a run; runs are listed by their first record, then by cylinder;
    // the trace the dialog keeps finds the same runs as the one pass.
    void chtSpans()
    {
        const FlightData data = ParseFlightData("FLIGHT\r\n" + DataLine("06/14/26 10:00:00", {{23, "410"}}) +
                                                DataLine("06/14/26 10:00:06", {{22, "405"}, {23, "abc"}}) +
                                                DataLine("06/14/26 10:00:12", {{22, "420"}, {23, "415"}}) +
                                                DataLine("06/14/26 10:00:18", {{22, "399"}, {23, "400"}}));
        QCOMPARE(Spans(SummarizeFlight(data, 400.0).chtOver),
                 QStringLiteral("CYL 2 10:00:00-10:00:00 (0-0) 410; CYL 1 10:00:06-10:00:12 (1-2) 420; "
                                "CYL 2 10:00:12-10:00:18 (2-3) 415"));

        const ChtTrace trace = TraceCylinderHeads(data);
        for (const double limit : {0.0, 400.0, 410.0, 416.0, 421.0})
            QCOMPARE(Spans(FindChtOver(trace, limit)), Spans(SummarizeFlight(data, limit).chtOver));
        QVERIFY(FindChtOver(trace, 421).empty());
    }

    void oneRecordAndNone()
    {
        const FlightData one =
            ParseFlightData("FLIGHT\r\n" + DataLine("06/14/26 10:00:00", {{16, "1300"}, {17, "1290"}, {22, "350"}}));
        const FlightSummary s = SummarizeFlight(one, 300.0);
        QCOMPARE(s.records, 1);
        QCOMPARE(s.first->time, s.last->time);
        QCOMPARE(*s.durationSeconds, std::int64_t(0));
        QCOMPARE(s.egtSpread->value, 10.0);
        QVERIFY(!s.chtSpread); // one cylinder head alone has no spread

        // A reading at or below 0 is a failing probe's: it counts in no spread, though the peaks and the
        // field's figures keep it as recorded.
        const FlightData dead = ParseFlightData(
            "FLIGHT\r\n" + DataLine("06/14/26 10:00:00", {{16, "1300"}, {17, "0"}, {18, "1290"}, {22, "350"}, {23, "-1"}}) +
            DataLine("06/14/26 10:00:06", {{16, "1310"}, {17, "0"}, {22, "0"}, {23, "360"}, {24, "340"}}));
        const FlightSummary d = SummarizeFlight(dead);
        QCOMPARE(d.egtSpread->value, 10.0);
        QCOMPARE(d.egtSpread->time, QTime(10, 0, 0));
        QCOMPARE(d.chtSpread->value, 20.0);
        QCOMPARE(d.chtSpread->time, QTime(10, 0, 6));
        QCOMPARE(d.fields[1].field, 17);
        QCOMPARE(d.fields[1].maximum, 0.0);
        const double probes[] = {0, -5, 1400, NAN, 0, 0};
        QVERIFY(!CylinderSpread(probes));
        const float apart[] = {1400, 1390.5f, -1, NAN, 1420, 0};
        QCOMPARE(*CylinderSpread(apart), 29.5);
        QCOMPARE(Spans(s.chtOver), QStringLiteral("CYL 1 10:00:00-10:00:00 (0-0) 350"));

        for (const FlightData &empty : {ParseFlightData("FLIGHT\r\nEND\r\n"), FlightData()}) {
            const FlightSummary none = SummarizeFlight(empty, 300.0);
            QCOMPARE(none.records, 0);
            QVERIFY(!none.first && !none.last && !none.durationSeconds);
            QVERIFY(none.fields.empty());
            QVERIFY(!none.egtSpread && !none.chtSpread);
            QVERIFY(none.chtOver.empty());
            for (const CylinderPeaks &c : none.cylinders)
                QVERIFY(!c.egt && !c.cht);
        }
    }

    // The window's cells: the instrument's own figures, times to the second, a flight over midnight
    // or running backwards, and "-" where a cylinder never gave a number.
    void figuresAsText()
    {
        QCOMPARE(DurationText(0), QStringLiteral("0:00:00"));
        QCOMPARE(DurationText(90061), QStringLiteral("25:01:01"));
        QCOMPARE(DurationText(-61), QStringLiteral("-0:01:01"));
        QCOMPARE(MomentText(FlightMoment{QDate(2026, 1, 2), QTime(3, 4, 5)}), QStringLiteral("2026-01-02 03:04:05"));
        QCOMPARE(MomentText(std::nullopt), QString());
        QCOMPARE(TimeOfDayText(QTime()), QString());
        // The library's form of a moment, four digits of year however early.
        QCOMPARE(MomentIsoText(QDate(999, 1, 2), QTime(3, 4, 5)), QStringLiteral("0999-01-02T03:04:05"));
        QCOMPARE(MomentText(QDate(2026, 1, 2), QTime(23, 4, 5)), QStringLiteral("2026-01-02 23:04:05"));
        QCOMPARE(FigureText(1400), QStringLiteral("1400"));
        QCOMPARE(FigureText(-12.5), QStringLiteral("-12.5"));
        QCOMPARE(FigureText(123456789012), QStringLiteral("123456789012"));
        QCOMPARE(FigureText(1e300), QStringLiteral("1e+300"));
        QCOMPARE(MeanText(1366.66), QStringLiteral("1366.7"));
        QCOMPARE(MeanText(0), QStringLiteral("0.0"));

        CylinderPeaks peaks;
        peaks.cht = TimedValue{401, QTime(23, 59, 58)};
        QCOMPARE(CylinderPeakCells(peaks), (QStringList{"-", "", "401", "23:59:58"}));
        QCOMPARE(SpreadCells(std::nullopt), (QStringList{"-", ""}));
        QCOMPARE(SpreadCells(TimedValue{150, QTime(0, 0, 2)}), (QStringList{"150", "00:00:02"}));
        QCOMPARE(FieldFigureCells(FieldFigures{17, 3, 1290, 1300.5, 1295.24}),
                 (QStringList{"EGT2", "3", "1290", "1300.5", "1295.2"}));
        QCOMPARE(ChtSpanCells(ChtSpan{6, QTime(10, 0), QTime(10, 1, 6), 415, 0, 11}),
                 (QStringList{"CYL 6", "10:00:00", "10:01:06", "415"}));
    }

    // Records placed on the time axis: a clock set back costs one usual step and its labels read as
    // recorded from there; midnight without dates is the next day; with dates, the date decides.
    void timeAxis()
    {
        TimeAxis axis;
        const QDate day(2026, 6, 15);
        QCOMPARE(axis.place(day, QTime(10, 0, 0)), 0.0);
        QCOMPARE(axis.place(day, QTime(10, 0, 6)), 6.0);
        QCOMPARE(axis.place(day, QTime(9, 0, 0)), 12.0); // set back an hour: one usual step
        QCOMPARE(axis.place(day, QTime()), 12.0);         // no time: where the one before stands
        QCOMPARE(axis.place(day, QTime(9, 0, 6)), 18.0);
        QCOMPARE(axis.timeOfDayAt(7), 10 * 3600 + 7);
        QCOMPARE(axis.timeOfDayAt(13), 9 * 3600 + 1);
        QCOMPARE(axis.timeOfDayAt(18), 9 * 3600 + 6);
        QVERIFY(!axis.spansDays());
        QCOMPARE(axis.problems().size(), 2);
        QVERIFY(axis.problems()[0].startsWith(QLatin1String("The clock goes back at record 3 (")));
        QVERIFY(axis.problems()[1].startsWith(QLatin1String("1 records carry no time of day")));
        QCOMPARE(axis.ticks(0, 18, 5), (std::vector<double>{0, 5, 10, 15}));

        TimeAxis night; // no dates: a smaller time is the next day
        QCOMPARE(night.place(QDate(), QTime(23, 59, 54)), 0.0);
        QCOMPARE(night.place(QDate(), QTime(0, 0, 6)), 12.0);
        QVERIFY(night.spansDays());
        QCOMPARE(night.dayTextAt(12), QStringLiteral("day 2"));
        QCOMPARE(night.timeOfDayAt(12), 6);
        QCOMPARE(night.label(0, 86400), QStringLiteral("day 1"));

        TimeAxis dated; // the date turns over two days later: the axis follows the date
        QCOMPARE(dated.place(day, QTime(23, 59, 54)), 0.0);
        QCOMPARE(dated.place(day.addDays(2), QTime(0, 0, 6)), 86400.0 + 12);
        QCOMPARE(dated.dateAt(86412), day.addDays(2));
        QCOMPARE(dated.firstDate(), day);
    }

    // One name, unit and scale per field: field 2 is the manifold pressure in tenths of an inch, the
    // oil's fields tenths too, the cylinders whole degrees, the rest plain numbers.
    void fieldCatalogue()
    {
        QCOMPARE(QString::fromUtf8(FieldInfoOf(2).name), QStringLiteral("Manifold"));
        QCOMPARE(QString::fromUtf8(FieldInfoOf(2).unit), QStringLiteral("inHg"));
        QCOMPARE(FieldInfoOf(2).scale, 0.1);
        QCOMPARE(QString::fromUtf8(FieldInfoOf(8).name), QStringLiteral("Oil temperature"));
        QCOMPARE(FieldInfoOf(7).scale, 0.1);
        QCOMPARE(QString::fromUtf8(FieldInfoOf(23).name), QStringLiteral("CHT 2"));
        QCOMPARE(QString::fromUtf8(FieldInfoOf(23).unit), QStringLiteral("\u00b0F"));
        QCOMPARE(QString::fromUtf8(FieldInfoOf(5).name), QStringLiteral("Field 5"));
        QCOMPARE(FieldInfoOf(5).scale, 1.0);
        QCOMPARE(QByteArray(FieldMeasureKey(8, FieldStatistic::Max)), QByteArray("field8.max"));
        QCOMPARE(QByteArray(FieldMeasureKey(27, FieldStatistic::Mean)), QByteArray("field27.mean"));
        int manifold = 0;
        for (const FieldInfo &f : NamedFields())
            manifold += f.field == kManifoldField ? 1 : 0;
        QCOMPARE(manifold, 1);
    }

    // A fleet's percentiles, worked by hand: (n - 1) q = k + f between sorted neighbours.
    void percentiles()
    {
        const std::vector<double> pressures = {60, 65, 70, 70.5};
        QCOMPARE(Percentile(pressures, 0.25), 63.75); // 3 * 0.25 = 0.75: 60 + 0.75 * 5
        QCOMPARE(Percentile(pressures, 0.5), 67.5);
        QCOMPARE(Percentile(pressures, 0.75), 70.125);
        QCOMPARE(Percentile(pressures, 1.0), 70.5);
        QCOMPARE(Percentile(pressures, 0.0), 60.0);
        QCOMPARE(Percentile({412}, 0.75), 412.0);
        QCOMPARE(Percentile({}, 0.5), 0.0);
    }

    // Every text counts as the number the graphs would plot, or not at all.
    void numbersAsTheGraphsSeeThem()
    {
        const char *const texts[] = {"12",   " 12", "12 ", "\t12", " -7 ", "-0",   "+12",  "+-12", "0012",
                                     "1e3",  "1.5", ".5",  "5.",   "0x10", "inf",  "nan",  "12a",  "1 2",
                                     "-",    " ",   "",    "--1",  "9999999999999999999", "123456789012345",
                                     "1234567890123456", "\xb0"};
        for (const char *text : texts) {
            const FlightData data = ParseFlightData("FLIGHT\r\n" + DataLine("06/14/26 10:00:00", {{5, text}}));
            const FlightSummary s = SummarizeFlight(data);
            const std::optional<double> plotted = FieldNumber(QLatin1StringView(text));
            QVERIFY2(s.fields.empty() != plotted.has_value(), text);
            if (plotted) {
                QCOMPARE(s.fields[0].field, 5);
                QCOMPARE(s.fields[0].minimum, *plotted);
                QCOMPARE(std::signbit(s.fields[0].minimum), std::signbit(*plotted));
            }
        }
    }

    void csvRowsAndQuoting()
    {
        // A lone LF or CR stays inside its line in a CR LF file, so a field can hold one.
        const FlightData data =
            ParseFlightData("FLIGHT\r\n"
                            "1/5/0999 07:05:09,a\"b,line\nbreak,cr\rhere, spaced ,\xb0" "F,\"\"\r\n"
                            "12/04/26 10:00:00,1\r\n");
        const std::string rows = Csv(data).substr(FlightCsvHeader().size());
        const std::string empties(22, ',');
        QCOMPARE(rows, "0999-01-05,07:05:09,\"a\"\"b\",\"line\nbreak\",\"cr\rhere\", spaced ,\xc2\xb0"
                       "F,\"\"\"\"\"\"" +
                           empties + "\r\n" + "2026-12-04,10:00:00,1" + std::string(27, ',') + "\r\n");

        QCOMPARE(Csv(FlightData()), FlightCsvHeader());
    }

    void csvWrittenAsItGoes()
    {
        QByteArray text = "FLIGHT\r\n";
        for (int i = 0; i < 5000; ++i)
            text += DataLine("06/14/26 10:00:00", {{0, QByteArray::number(i)}, {27, "399"}});
        const FlightData data = ParseFlightData(text);

        std::string whole;
        int pieces = 0;
        size_t largest = 0;
        QVERIFY(WriteFlightCsv(data, [&](std::string_view piece) {
            ++pieces;
            largest = std::max(largest, piece.size());
            whole.append(piece);
            return true;
        }));
        QVERIFY(pieces > 3);
        QVERIFY(largest < 80 * 1024);
        QCOMPARE(std::count(whole.begin(), whole.end(), '\n'), qsizetype(5001));
        QVERIFY(whole.ends_with("2026-06-14,10:00:00,4999" + std::string(27, ',') + "399\r\n"));

        int calls = 0;
        QVERIFY(!WriteFlightCsv(data, [&calls](std::string_view) { return ++calls, false; }));
        QCOMPARE(calls, 1);
    }
};

QTEST_GUILESS_MAIN(TestSummary)
#include "test_summary.moc"
