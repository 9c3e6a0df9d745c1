// The flight summary on small tables worked out by hand, and the CSV export's rows and quoting.

#include "flightdata/FlightCsv.h"
#include "flightdata/FlightSummary.h"
#include "flightdata/GraphBuilders.h"
#include "flightdata/SummaryFlights.h"

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

} // namespace

class TestSummary : public QObject {
    Q_OBJECT
private slots:
    void midnightFlight();
    void chtSpans();
    void oneRecordAndNone();
    void numbersAsTheGraphsSeeThem();
    void csvRowsAndQuoting();
    void csvWrittenAsItGoes();
};

void TestSummary::midnightFlight()
{
    const FlightData data = ParseFlightData(test::MidnightFlight());
    const FlightSummary s = SummarizeFlight(data, 390.0);

    QCOMPARE(s.records, 3);
    QCOMPARE(s.first->date, QDate(2025, 12, 31));
    QCOMPARE(s.first->time, QTime(23, 59, 50));
    QCOMPARE(s.last->date, QDate(2026, 1, 1));
    QCOMPARE(s.last->time, QTime(0, 0, 2));
    QCOMPARE(*s.durationSeconds, std::int64_t(12));

    // Fields with a number only; empty and non-numeric texts count nowhere.
    QList<int> fields;
    for (const FieldFigures &f : s.fields)
        fields << f.field;
    QCOMPARE(fields, (QList<int>{0, 1, 2, 16, 17, 20, 21, 22, 23}));
    const FieldFigures &f0 = s.fields[0], &f1 = s.fields[1], &f2 = s.fields[2], &egt1 = s.fields[3];
    QCOMPARE(f0.count, 3);
    QCOMPARE(f0.minimum, 10.0);
    QCOMPARE(f0.maximum, 30.0);
    QCOMPARE(f0.mean, 20.0);
    QCOMPARE(f1.count, 2);
    QCOMPARE(f1.minimum, 5.0);
    QCOMPARE(f1.maximum, 7.0);
    QCOMPARE(f1.mean, 6.0);
    QCOMPARE(f2.count, 1);
    QCOMPARE(f2.mean, 10.0);
    QCOMPARE(egt1.mean, 4100.0 / 3);

    // Peaks with the first record that reaches them; a cylinder without a number has none.
    const auto &c = s.cylinders;
    QCOMPARE(c[0].egt->value, 1400.0);
    QCOMPARE(c[0].egt->time, QTime(23, 59, 56));
    QCOMPARE(c[1].egt->value, 1350.0);
    QCOMPARE(c[1].egt->time, QTime(23, 59, 50));
    QVERIFY(!c[2].egt);
    QVERIFY(!c[3].egt);
    QCOMPARE(c[4].egt->value, 1250.0);
    QCOMPARE(c[5].egt->value, 1400.0);
    QCOMPARE(c[0].cht->value, 400.0);
    QCOMPARE(c[0].cht->time, QTime(0, 0, 2));
    QCOMPARE(c[1].cht->value, 395.0);
    QCOMPARE(c[1].cht->time, QTime(23, 59, 56));
    for (int k = 2; k < kCylinders; ++k)
        QVERIFY(!c[size_t(k)].cht);

    QCOMPARE(s.egtSpread->value, 150.0);
    QCOMPARE(s.egtSpread->time, QTime(23, 59, 50));
    QCOMPARE(s.chtSpread->value, 20.0);
    QCOMPARE(s.chtSpread->time, QTime(0, 0, 2));

    // At or above 390: both runs open on the second record, listed by cylinder.
    QCOMPARE(int(s.chtOver.size()), 2);
    QCOMPARE(s.chtOver[0].cylinder, 1);
    QCOMPARE(s.chtOver[0].from, QTime(23, 59, 56));
    QCOMPARE(s.chtOver[0].to, QTime(0, 0, 2));
    QCOMPARE(s.chtOver[0].peak, 400.0);
    QCOMPARE(s.chtOver[1].cylinder, 2);
    QCOMPARE(s.chtOver[1].from, QTime(23, 59, 56));
    QCOMPARE(s.chtOver[1].to, QTime(23, 59, 56));
    QCOMPARE(s.chtOver[1].peak, 395.0);

    QVERIFY(SummarizeFlight(data).chtOver.empty());
}

// A record without a number ends a run; runs are listed by their first record, then by cylinder;
// the trace the dialog keeps finds the same runs as the one pass.
void TestSummary::chtSpans()
{
    const FlightData data = ParseFlightData("FLIGHT\r\n" + DataLine("06/14/26 10:00:00", {{23, "410"}}) +
                                            DataLine("06/14/26 10:00:06", {{22, "405"}, {23, "abc"}}) +
                                            DataLine("06/14/26 10:00:12", {{22, "420"}, {23, "415"}}) +
                                            DataLine("06/14/26 10:00:18", {{22, "399"}, {23, "400"}}));
    const std::vector<ChtSpan> spans = SummarizeFlight(data, 400.0).chtOver;
    QCOMPARE(int(spans.size()), 3);
    const struct {
        int cylinder;
        QTime from, to;
        double peak;
    } expected[3] = {{2, QTime(10, 0, 0), QTime(10, 0, 0), 410},
                     {1, QTime(10, 0, 6), QTime(10, 0, 12), 420},
                     {2, QTime(10, 0, 12), QTime(10, 0, 18), 415}};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(spans[size_t(i)].cylinder, expected[i].cylinder);
        QCOMPARE(spans[size_t(i)].from, expected[i].from);
        QCOMPARE(spans[size_t(i)].to, expected[i].to);
        QCOMPARE(spans[size_t(i)].peak, expected[i].peak);
    }

    const ChtTrace trace = TraceCylinderHeads(data);
    for (const double limit : {0.0, 400.0, 410.0, 416.0, 421.0}) {
        const std::vector<ChtSpan> once = SummarizeFlight(data, limit).chtOver;
        const std::vector<ChtSpan> again = FindChtOver(trace, limit);
        QCOMPARE(again.size(), once.size());
        for (size_t i = 0; i < once.size(); ++i) {
            QCOMPARE(again[i].cylinder, once[i].cylinder);
            QCOMPARE(again[i].firstRecord, once[i].firstRecord);
            QCOMPARE(again[i].lastRecord, once[i].lastRecord);
            QCOMPARE(again[i].peak, once[i].peak);
        }
    }
    QVERIFY(FindChtOver(trace, 421).empty());
}

void TestSummary::oneRecordAndNone()
{
    const FlightData one =
        ParseFlightData("FLIGHT\r\n" + DataLine("06/14/26 10:00:00", {{16, "1300"}, {17, "1290"}, {22, "350"}}));
    const FlightSummary s = SummarizeFlight(one, 300.0);
    QCOMPARE(s.records, 1);
    QCOMPARE(s.first->time, s.last->time);
    QCOMPARE(*s.durationSeconds, std::int64_t(0));
    QCOMPARE(s.egtSpread->value, 10.0);
    QVERIFY(!s.chtSpread); // one cylinder head alone has no spread
    QCOMPARE(int(s.chtOver.size()), 1);
    QCOMPARE(s.chtOver[0].from, QTime(10, 0, 0));

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

// Every text counts as the number the graphs would plot, or not at all.
void TestSummary::numbersAsTheGraphsSeeThem()
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

void TestSummary::csvRowsAndQuoting()
{
    QCOMPARE(FlightCsvHeader(), std::string("date,time,field0,field1,field2,field3,field4,field5,field6,field7,"
                                            "field8,field9,field10,field11,field12,field13,field14,field15,"
                                            "EGT1,EGT2,EGT3,EGT4,EGT5,EGT6,CHT1,CHT2,CHT3,CHT4,CHT5,CHT6\r\n"));

    // A lone LF or CR stays inside its line in a CR LF file, so a field can hold one.
    const FlightData data =
        ParseFlightData("FLIGHT\r\n"
                        "1/5/0999 07:05:09,a\"b,line\nbreak,cr\rhere, spaced ,\xb0" "F,\"\"\r\n"
                        "12/04/26 10:00:00,1\r\n");
    const std::string rows = Csv(data).substr(FlightCsvHeader().size());
    const std::string empties(22, ',');
    QCOMPARE(rows, "0999-01-05,07:05:09,\"a\"\"b\",\"line\nbreak\",\"cr\rhere\", spaced ,\xc2\xb0" "F,\"\"\"\"\"\"" +
                       empties + "\r\n" + "2026-12-04,10:00:00,1" + std::string(27, ',') + "\r\n");

    QCOMPARE(Csv(FlightData()), FlightCsvHeader());
}

void TestSummary::csvWrittenAsItGoes()
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

QTEST_GUILESS_MAIN(TestSummary)
#include "test_summary.moc"
