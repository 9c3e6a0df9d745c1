// The flight-data loader: line splitting, data-line recognition, field scanning, dates and times,
// and what a failed load leaves behind.

#include "core/flight/FlightData.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QtTest>

using namespace korvel;
using korvel::test::RecordingUi;

namespace {


QByteArray fields(int n, const char *prefix = "v")
{
    QByteArrayList list;
    for (int k = 0; k < n; ++k)
        list << prefix + QByteArray::number(k);
    return list.join(',');
}

FlightData parse(const QByteArray &text) { return ParseFlightData(text); }

// A record as "date time|slot 0|slot 1|..." up to its last non-empty slot.
QString Describe(const FlightRecord &r)
{
    QStringList out{r.LogDate().toString(Qt::ISODate) + u' ' + r.LogTime().toString(u"HH:mm:ss")};
    for (int k = 0; k < kFlightSlots; ++k)
        out << QString(r.Values(k));
    while (out.last().isEmpty())
        out.removeLast();
    return out.join(u'|');
}

} // namespace

class TestFlightData : public QObject {
    Q_OBJECT
private slots:
    void dates_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QDate>("expected"); // invalid: not a date
        QTest::newRow("us two-digit year") << QByteArray("12/04/26") << QDate(2026, 12, 4);
        QTest::newRow("single digits, trailing blanks") << QByteArray("1/5/26  ") << QDate(2026, 1, 5);
        QTest::newRow("four-digit year") << QByteArray("1/5/2026") << QDate(2026, 1, 5);
        QTest::newRow("dashes") << QByteArray("07-14-99") << QDate(1999, 7, 14);
        QTest::newRow("dots") << QByteArray("7.14.29") << QDate(2029, 7, 14);
        QTest::newRow("30 is last century") << QByteArray("7/14/30") << QDate(1930, 7, 14);
        QTest::newRow("leap day") << QByteArray("02/29/24") << QDate(2024, 2, 29);
        QTest::newRow("no leap day") << QByteArray("02/29/23") << QDate();
        QTest::newRow("month 13") << QByteArray("13/01/26") << QDate();
        QTest::newRow("day 31 in april") << QByteArray("04/31/26") << QDate();
        QTest::newRow("mixed separators") << QByteArray("12/04-26") << QDate();
        QTest::newRow("three-digit year") << QByteArray("1/5/202") << QDate();
        QTest::newRow("leading blank") << QByteArray(" 1/5/26") << QDate();
        QTest::newRow("the marker line") << QByteArray("FLIGHT 1") << QDate();
        QTest::newRow("empty") << QByteArray("") << QDate();
        QTest::newRow("day zero") << QByteArray("12/00/26") << QDate();
    }

    void dates()
    {
        QFETCH(QByteArray, text);
        QFETCH(QDate, expected);
        const auto date = ParseFlightDate(QLatin1StringView(text));
        QCOMPARE(date.has_value(), expected.isValid());
        if (date)
            QCOMPARE(*date, expected);
    }

    void times_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QTime>("expected");
        QTest::newRow("HH:MM:SS") << QByteArray("14:05:07") << QTime(14, 5, 7);
        QTest::newRow("H:MM:SS, trailing blank") << QByteArray("9:05:07 ") << QTime(9, 5, 7);
        QTest::newRow("HH:MM") << QByteArray("23:59   ") << QTime(23, 59, 0);
        QTest::newRow("H:MM") << QByteArray("0:00") << QTime(0, 0, 0);
        QTest::newRow("hour 24") << QByteArray("24:00:00") << QTime();
        QTest::newRow("minute 60") << QByteArray("12:60:00") << QTime();
        QTest::newRow("one-digit minutes") << QByteArray("12:5:00") << QTime();
        QTest::newRow("comma inside") << QByteArray("12:05,00") << QTime();
        QTest::newRow("empty") << QByteArray("") << QTime();
        // A one-digit hour puts the first comma in column 17, or a blank in column 10.
        QTest::newRow("H:MM:SS then the comma") << QByteArray("1:23:45,") << QTime(1, 23, 45);
        QTest::newRow("blank-padded hour") << QByteArray(" 1:23:45") << QTime(1, 23, 45);
        QTest::newRow("H:MM, comma, blanks") << QByteArray("1:23,   ") << QTime(1, 23, 0);
        QTest::newRow("only one comma goes") << QByteArray("1:23:4,,") << QTime();
        QTest::newRow("comma before the blanks") << QByteArray("1:23, ,") << QTime();
        QTest::newRow("one-digit seconds") << QByteArray("12:05:0,") << QTime();
    }

    void times()
    {
        QFETCH(QByteArray, text);
        QFETCH(QTime, expected);
        const auto time = ParseFlightTime(QLatin1StringView(text));
        QCOMPARE(time.has_value(), expected.isValid());
        if (time)
            QCOMPARE(*time, expected);
    }

    void lineEnds_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("pieces");
        const QByteArray a = "12/04/26 10:00:00," + fields(28);
        const QByteArray b = "12/04/26 10:00:06," + fields(28);
        QTest::newRow("crlf") << "FLIGHT\r\n" + a + "\r\n" + b + "\r\nEND\r\n" << 2 << 5;
        QTest::newRow("lf alone") << "FLIGHT\n" + a + "\n" + b + "\nEND\n" << 2 << 5;
        QTest::newRow("cr alone is one piece") << "FLIGHT\r" + a + "\r" + b + "\rEND\r" << 0 << 1;
        // With at least one CR LF, a lone LF stays inside its line: "a\nb" is one line, dated by a.
        QTest::newRow("lone lf inside crlf text") << "FLIGHT\r\n" + a + "\n" + b + "\r\nEND" << 1 << 3;
        QTest::newRow("first line is never a record") << a + "\r\n" + b + "\r\n" << 1 << 3;
        QTest::newRow("dated lines after END count") << "FLIGHT\r\nEND\r\n" + a + "\r\n" << 1 << 4;
        QTest::newRow("no date line") << QByteArray("FLIGHT\r\nhello\r\n\r\nEND\r\n") << 0 << 5;
        QTest::newRow("zero length") << QByteArray() << 0 << 0;
    }

    void lineEnds()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, count);
        QFETCH(int, pieces);
        const FlightData data = parse(text);
        QCOMPARE(data.FlightRecordCount, std::optional<int>(count));
        QCOMPARE(data.FlightRecords.slotCount(), pieces);
        QCOMPARE(data.FlightRecords.records(), count);
    }

    void fieldScanning()
    {
        const FlightData data = parse("FLIGHT\r\n"
                                      "12/04/26 10:00:00," + fields(28) + "\r\n"        // exact
                                      "12/04/26 10:00:01," + fields(10) + "\r\n"        // short
                                      "12/04/26 10:00:02," + fields(40) + "\r\n"        // long
                                      "12/04/26 10:00:03 junk here," + fields(3) + "\r\n" // text before the comma
                                      "12/04/26 10:00:04 no comma at all\r\n"
                                      "12/04/26 9:05:07 ,x,y\r\n"                         // short time, blank
                                      "12/04/26 10:00:08,\xe9t\xe9,\r\n"                // Latin-1 bytes
                                      "02/03/26 1:23:45,a,b\r\n"                        // comma in column 17
                                      "02/03/26  1:23:45,c\r\n"                         // blank-padded hour
                                      "02/03/26,1:23,   ,d,e\r\n");                     // commas before column 17
        QCOMPARE(data.FlightRecordCount, std::optional<int>(10));
        const auto piped = [](int n) { return QString::fromLatin1(fields(n)).replace(u',', u'|'); };
        const QString expected[10] = {
            "2026-12-04 10:00:00|" + piped(28),
            "2026-12-04 10:00:01|" + piped(10),
            "2026-12-04 10:00:02|" + piped(28), // field 28 on is ignored
            "2026-12-04 10:00:03|" + piped(3),
            // Without a comma at or after column 17, field 0 starts at column 1 and runs to the line's end.
            "2026-12-04 10:00:04|12/04/26 10:00:04 no comma at all",
            "2026-12-04 09:05:07|x|y",
            QString::fromUtf8("2026-12-04 10:00:08|\xc3\xa9t\xc3\xa9"),
            "2026-02-03 01:23:45|a|b",
            "2026-02-03 01:23:45|c",
            // The commas in columns 9 and 14 are not field separators: the fields start after column 18's.
            "2026-02-03 01:23:00|d|e",
        };
        for (int i = 0; i < 10; ++i)
            QCOMPARE(Describe(data.FlightRecords[i]), expected[i]);
    }

    void longLines()
    {
        // A record line of the longest length, 64 KiB, keeps exact fields (past a byte of offsets);
        // an undated line of any length is passed over.
        const QByteArray head = "12/04/26 10:00:00,a,";
        const QByteArray big(65536 - head.size() - 2, 'x');
        const QByteArray text =
            "FLIGHT\r\n" + head + big + ",b\r\n" + QByteArray(200000, 'u') + "\r\n12/04/26 10:00:06,c\r\n";
        const FlightData data = parse(text);
        QCOMPARE(data.FlightRecordCount, std::optional<int>(2));
        QCOMPARE(Describe(data.FlightRecords[0]), "2026-12-04 10:00:00|a|" + QString::fromLatin1(big) + "|b");
        QCOMPARE(Describe(data.FlightRecords[1]), QStringLiteral("2026-12-04 10:00:06|c"));

        // One byte more is no record an instrument writes: the load fails at that line, and a
        // missing time of day is still said first.
        const auto messageOf = [](const QByteArray &bytes) {
            try {
                ParseFlightData(bytes);
            } catch (const FlightDataError &error) {
                return error.message();
            }
            return QString();
        };
        QCOMPARE(messageOf(QByteArray(text).insert(30, 'y')),
                 QStringLiteral("line 2 is dated but longer than a record can be (more than 65536 bytes); the file is "
                                "damaged or is not a flight file"));
        QCOMPARE(messageOf(QByteArray(text).insert(30, 'y').replace("10:00:00", "10:0x:00")),
                 QStringLiteral("no time of day in columns 10 to 17 of line 2"));
    }

    // The table keeps 32-bit places in the file: a larger file is refused at once, before anything is
    // read.
    void filesTooLargeForTheTable()
    {
        QTemporaryDir dir;
        FlightData data;
        RecordingUi ui;
        LoadFlightDataFile(
            korvel::test::WriteFile(dir, QStringLiteral("good.txt"), "FLIGHT\r\n12/04/26 10:00:00,7\r\n"), data, ui);

        const QString huge = dir.filePath(QStringLiteral("huge.txt"));
        {
            QFile file(huge);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (!file.resize(qint64(5) << 30)) // sparse: no disk is used
                QSKIP("this file system cannot hold a 5 GiB sparse file");
        }
        QElapsedTimer clock;
        clock.start();
        try {
            LoadFlightDataFile(huge, data, ui);
            QFAIL("a 5 GiB file loaded");
        } catch (const FlightDataError &error) {
            QCOMPARE(error.message(), QStringLiteral("the file is too large for the record table (5368709120 bytes; at "
                                                     "most 4294967293)"));
        }
        QVERIFY(clock.elapsed() < 2000);
        QCOMPARE(data.FlightRecordCount, std::optional<int>(1));
    }

    // Past 2^31 lines the line numbers in the messages still count right. A file of 2.2 GB, so only
    // when KORVEL_HUGE_TESTS is set.
    void lineNumbersPast2To31()
    {
        if (qEnvironmentVariableIsEmpty("KORVEL_HUGE_TESTS"))
            QSKIP("set KORVEL_HUGE_TESTS=1 for the file of 2^31 line ends (2.2 GB of disk and memory)");
        QTemporaryDir dir;
        FlightData data;
        RecordingUi ui;
        const qint64 lineEnds = (qint64(1) << 31) + 5;
        const QString many = dir.filePath(QStringLiteral("many.txt"));
        {
            QFile file(many);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("FLIGHT\n");
            const QByteArray block(1 << 24, '\n');
            qint64 left = lineEnds;
            while (left > 0) {
                const qint64 n = std::min<qint64>(left, block.size());
                QCOMPARE(file.write(block.constData(), n), n);
                left -= n;
            }
            file.write("12/04/26 xx\n");
        }
        try {
            LoadFlightDataFile(many, data, ui);
            QFAIL("a dated line without a time loaded");
        } catch (const FlightDataError &error) {
            QCOMPARE(error.message(),
                     QStringLiteral("no time of day in columns 10 to 17 of line %1").arg(lineEnds + 2));
        }
        QFile::remove(many);
    }

    void slotsAndBlankRecords()
    {
        const FlightData data = parse("FLIGHT\r\n12/04/26 10:00:00,1,2\r\nEND\r\n");
        QCOMPARE(data.FlightRecords.slotCount(), 4);
        const FlightRecord blank = data.FlightRecords[3];
        QVERIFY(!blank.LogDate().isValid());
        QVERIFY(blank.Values(0).isEmpty());
        QVERIFY(data.FlightRecords[-1].Values(5).isEmpty());
    }

    // A good load, then failed ones: each leaves the good load's table.
    void loadThenFailedLoadsKeepTheTable()
    {
        QTemporaryDir dir;
        FlightData data;
        RecordingUi ui;
        const QString good = korvel::test::WriteFile(dir, QStringLiteral("good.txt"),
                                                     "FLIGHT\r\n12/04/26 10:00:00,7\r\n12/04/26 10:00:06,8\r\n");
        LoadFlightDataFile(good, data, ui);
        QCOMPARE(ui.statuses, QStringList{QStringLiteral("Data File: ") + good + QStringLiteral("  Loaded for Edit")});
        QCOMPARE(data.FlightRecordCount, std::optional<int>(2));
        QCOMPARE(data.FlightRecords[0].Values(0), QLatin1StringView("7"));

        struct Case {
            QString name;
            QByteArray bytes; // empty: nothing written (the file is missing, or a folder)
            QString reason;
        };
        QList<Case> cases = {
            {QStringLiteral("missing.txt"), QByteArray(), korvel::test::MissingFileWords()},
            {QStringLiteral("folder.txt"), QByteArray(), QStringLiteral("not a regular file")},
            {QStringLiteral("short.txt"), "FLIGHT\r\n12/04/26\r\n", QStringLiteral("line 2")},
            {QStringLiteral("badtime.txt"), "FLIGHT\r\n12/04/26 10:00,05,a\r\n", QStringLiteral("line 2")},
            {QStringLiteral("late.txt"), "FLIGHT\r\n12/04/26 10:00:00,1\r\n12/04/26 xx\r\n", QStringLiteral("line 3")},
        };
        // (Pipes and devices, refused at once rather than read, are rows of the fault matrix.)
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.txt")));
        for (const Case &c : cases) {
            const QString path =
                c.bytes.isEmpty() ? dir.filePath(c.name) : korvel::test::WriteFile(dir, c.name, c.bytes);
            ui.statuses.clear();
            try {
                LoadFlightDataFile(path, data, ui);
                QFAIL(qPrintable(c.name + QStringLiteral(" loaded")));
            } catch (const FlightDataError &error) {
                QVERIFY2(error.message().contains(c.reason), qPrintable(error.message()));
            }
            // The status names the file even so; the table and count are the last good load's.
            QCOMPARE(ui.statuses.size(), 1);
            QVERIFY(ui.statuses.front().contains(c.name));
            QCOMPARE(data.FlightRecordCount, std::optional<int>(2));
            QCOMPARE(data.FlightRecords.records(), 2);
            QCOMPARE(data.FlightRecords[1].Values(0), QLatin1StringView("8"));
        }
    }
};

QTEST_GUILESS_MAIN(TestFlightData)
#include "test_flightdata.moc"
