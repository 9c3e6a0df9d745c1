// The streaming reader against the whole-file loader: the same records from odd files at every
// buffer size, lines longer than the buffer, block boundaries, and a file that fails half-way.

#include "core/flight/FlightData.h"
#include "core/flight/FlightJson.h"
#include "core/flight/FlightStream.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <cmath>
#include <limits>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace korvel;

namespace {

// A record as "line: date time|slot 0|...|slot 27".
QString Describe(const FlightRecord &r)
{
    QStringList out{r.LogDate().toString(Qt::ISODate) + u' ' + r.LogTime().toString(u"HH:mm:ss")};
    for (int k = 0; k < kFlightSlots; ++k)
        out << QString(r.Values(k));
    return out.join(u'|');
}

QStringList Whole(const QByteArray &text)
{
    const FlightData data = ParseFlightData(text);
    QStringList out;
    for (int k = 0; k < data.FlightRecordCount.value_or(0); ++k)
        out << Describe(data.FlightRecords[k]);
    return out;
}

// Every record streamed, checking that blocks follow one another without a gap and that the bytes
// handed to a tap are the file's, each once and in order.
QStringList Streamed(const QString &path, std::size_t buffer, int *blocks = nullptr)
{
    QStringList out;
    int handed = 0;
    QByteArray tapped;
    const qint64 count = StreamFlightDataFile(
        path,
        [&](const FlightRecordBlock &block) {
            [&] {
                QVERIFY(block.records() > 0);
                QCOMPARE(block.firstRecord(), qint64(out.size()));
            }();
            for (int k = 0; k < block.records(); ++k)
                out << Describe(block[k]);
            ++handed;
        },
        buffer, [&](const char *bytes, std::size_t size) { tapped.append(bytes, qsizetype(size)); });
    if (tapped != test::ReadAll(path))
        out << QStringLiteral("the tap saw %1 bytes, not the file's").arg(tapped.size());
    if (count != out.size())
        out << QStringLiteral("count %1 for %2 records").arg(count).arg(out.size());
    if (blocks)
        *blocks = handed;
    return out;
}

QByteArray Record(int second, const QByteArray &rest)
{
    return "12/04/26 10:" + QByteArray::number(second / 60 % 60).rightJustified(2, '0') + ':' +
           QByteArray::number(second % 60).rightJustified(2, '0') + rest;
}

// LF lines (records when the file is split at LF) up to a first CR LF whose CR stands at `at`.
QByteArray FirstCrLfAt(qsizetype at)
{
    QByteArray text = "FLIGHT\n";
    for (int i = 0; text.size() + 40 < at; ++i)
        text += Record(i % 3600, ",lf\n");
    text += QByteArray(at - text.size(), 'x') + "\r\n";
    return text + Record(1, ",a\n") + Record(2, ",b\n");
}

QString StreamMessage(const QString &path, std::size_t buffer = 1 << 22)
{
    try {
        StreamFlightDataFile(
            path, [](const FlightRecordBlock &) {}, buffer);
    } catch (const FlightDataError &error) {
        return QString::fromUtf8(error.what());
    }
    return QString();
}

QString LoadMessage(const QString &path)
{
    FlightData data;
    test::RecordingUi ui;
    try {
        LoadFlightDataFile(path, data, ui);
    } catch (const FlightDataError &error) {
        return QString::fromUtf8(error.what());
    }
    return QString();
}

} // namespace

class TestFlightStream : public QObject {
    Q_OBJECT
private slots:
    void sameRecordsAsTheWholeLoader_data()
    {
        QTest::addColumn<QByteArray>("text");
        QByteArray flight = "FLIGHT\r\n";
        for (int i = 0; i < 40; ++i)
            flight += Record(i, "," + QByteArray::number(i) + ",2,3\r\n");
        QTest::newRow("captured flight") << flight + "END\r\n";
        QTest::newRow("LF only") << QByteArray(flight).replace("\r\n", "\n");
        QTest::newRow("no final line end") << flight + Record(59, ",last");
        QTest::newRow("CR only: one piece") << QByteArray(flight).replace("\r\n", "\r");
        QTest::newRow("lone LF inside CR LF lines")
            << "FLIGHT\r\n" + Record(1, ",a\nb,c\r\n") + "x\n" + Record(2, ",d\r\n") + Record(3, ",e\n");
        // Only the first CR LF, far into the file, makes the LF lines before it one piece.
        QTest::newRow("first CR LF late")
            << QByteArray(flight).replace("\r\n", "\n") + QByteArray(300, 'x') + "\r\n" + Record(9, ",after\r\n");
        QTest::newRow("first line dated, records after END")
            << Record(0, ",first\r\n") + Record(1, ",1\r\nEND\r\n") + Record(2, ",2\r\n");
        QTest::newRow("fields: few, many, no comma after column 17, blanks")
            << "FLIGHT\r\n" + Record(1, ",1,2\r\n") + Record(2, "," + QByteArray("f,").repeated(40) + "\r\n") +
                   "12/04/26  9:05:06,1,2\r\n12/04/26 10:00:00\r\n" + Record(4, "  junk,v\r\n") + "\r\n   \r\n";
        QTest::newRow("line past a byte of offsets")
            << "FLIGHT\r\n" + Record(1, "," + QByteArray(300, 'w') + ",2,3\r\n") + Record(2, ",1,2\r\n");
        QTest::newRow("odd dates") << QByteArray("FLIGHT\n5/1/2026 9:00:00,1\n05-01-26  9:05:06,2\n13/45/26 10:00:00,3\n"
                                                 "02/29/24 23:59:59,4\n02/29/23 10:00:00,5\n");
        // A CR LF cut by the first buffer (16 bytes), or by the look for one past it (1 MiB at a
        // time from that buffer's last byte), still makes the file one of CR LF lines.
        QTest::newRow("CR LF cut by the first buffer") << FirstCrLfAt(15);
        QTest::newRow("CR LF cut by the look-ahead") << FirstCrLfAt(15 + (1 << 20) - 1);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one line") << Record(0, ",1");
    }

    // Every buffer size from the smallest up cuts lines, CR LF pairs and blocks at other places;
    // the records are always the whole loader's.
    void sameRecordsAsTheWholeLoader()
    {
        QFETCH(QByteArray, text);
        QTemporaryDir dir;
        const QString path = test::WriteFile(dir, QStringLiteral("f.txt"), text);
        const QStringList expected = Whole(text);
        for (const std::size_t buffer : {16, 17, 18, 31, 64, 100, 257, 4096, 1 << 22})
            QCOMPARE(Streamed(path, buffer), expected);
        int blocks = -1;
        QCOMPARE(Streamed(path, 1 << 22, &blocks), expected);
        QCOMPARE(blocks, expected.isEmpty() ? 0 : 1);
    }

    // A dated line longer than the buffer is read whole; an undated one is passed over as it is
    // read; a CR LF cut by the buffer still ends its line.
    void linesLongerThanTheBuffer()
    {
        const QByteArray longRecord = Record(1, "," + QByteArray(5000, 'a') + ",b," + QByteArray(3000, 'c') + "\r\n");
        const QByteArray text = "FLIGHT" + QByteArray(10000, '-') + "\r\n" + QByteArray(7000, 'z') + "\r\n" +
                                longRecord + Record(2, ",short\r\n") + QByteArray(9000, '\n') + "\r\n" +
                                Record(3, ",end");
        QTemporaryDir dir;
        const QString path = test::WriteFile(dir, QStringLiteral("f.txt"), text);
        const QStringList expected = Whole(text);
        QCOMPARE(expected.size(), 3);
        QVERIFY(expected[0].contains(QStringLiteral("|b|") + QString(3000, u'c') + u'|'));
        for (const std::size_t buffer : {16, 100, 1000, 4095, 4096, 8191})
            QCOMPARE(Streamed(path, buffer), expected);
    }

    // Blocks hold a bounded number of records, so a file of short lines hands on several from one
    // buffer, in order and without a gap.
    void blockBoundaries()
    {
        QByteArray text = "FLIGHT\n";
        for (int i = 0; i < 20000; ++i)
            text += Record(i % 3600, "," + QByteArray::number(i) + "\n");
        QTemporaryDir dir;
        const QString path = test::WriteFile(dir, QStringLiteral("f.txt"), text);
        int blocks = 0;
        const QStringList streamed = Streamed(path, 1 << 22, &blocks);
        QCOMPARE(streamed.size(), 20000);
        QVERIFY2(blocks >= 3, qPrintable(QString::number(blocks)));
        QCOMPARE(streamed, Whole(text));
    }

    // A record line is at most 64 KiB: one of that length reads at every buffer size, an undated
    // line of any length is passed over, and a longer dated line fails both readers alike, at its
    // line, whatever the buffer (so a line without end never fills the memory).
    void recordLinesHaveALimit()
    {
        const QByteArray head = Record(1, ",a,");
        const QByteArray longest = head + QByteArray(65536 - head.size() - 2, 'x') + ",b";
        QTemporaryDir dir;
        for (const QByteArray &end : {QByteArray("\r\n"), QByteArray("\n")}) {
            const QByteArray text =
                "FLIGHT" + end + longest + end + QByteArray(200000, 'u') + end + Record(2, ",c") + end + longest + end;
            const QString path = test::WriteFile(dir, QStringLiteral("f.txt"), text);
            const QStringList expected = Whole(text);
            QCOMPARE(expected.size(), 3);
            for (const std::size_t buffer : {16, 4096, 65536, 65537, 65538, 65539, 1 << 22})
                QCOMPARE(Streamed(path, buffer), expected);

            // One byte more at line 4, as the last line or with more after it.
            for (const QByteArray &rest : {QByteArray(), end + Record(3, ",d") + end}) {
                const QByteArray tooLong =
                    "FLIGHT" + end + longest + end + Record(2, ",c") + end + longest + 'y' + rest;
                const QString bad = test::WriteFile(dir, QStringLiteral("bad.txt"), tooLong);
                QCOMPARE(LoadMessage(bad), QStringLiteral("line 4 is dated but longer than a record can be (more than "
                                                          "65536 bytes); the file is damaged or is not a flight file"));
                for (const std::size_t buffer : {16, 4096, 65537, 65538, 65539, 1 << 22})
                    QCOMPARE(StreamMessage(bad, buffer), LoadMessage(bad));
            }
        }
        // Without its time of day a long line says that first, as a short one does.
        const QString noTime =
            test::WriteFile(dir, QStringLiteral("t.txt"), "FLIGHT\n12/04/26 1x:00:00," + QByteArray(300000, 'x'));
        QCOMPARE(LoadMessage(noTime), QStringLiteral("no time of day in columns 10 to 17 of line 2"));
        for (const std::size_t buffer : {16, 65538, 1 << 22})
            QCOMPARE(StreamMessage(noTime, buffer), LoadMessage(noTime));

        // A dated line that runs to the end of a large file fails within the first buffer's worth
        // read, not after the reader has taken the whole line in.
        const QString endless = dir.filePath(QStringLiteral("endless.txt"));
        {
            QFile file(endless);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("FLIGHT\r\n12/04/26 10:00:00,");
            if (!file.resize(qint64(256) << 20)) // sparse: no disk is used
                QSKIP("this file system cannot hold a 256 MiB sparse file");
        }
        std::size_t read = 0;
        try {
            StreamFlightDataFile(
                endless, [](const FlightRecordBlock &) {}, [&](const char *, std::size_t n) { read += n; });
            QFAIL("a line of 256 MiB was read as a record");
        } catch (const FlightDataError &error) {
            QVERIFY2(QByteArray(error.what()).startsWith("line 2 is dated but longer"), error.what());
        }
        QVERIFY2(read < (std::size_t(5) << 20), qPrintable(QString::number(read))); // the 4 MiB buffer and line 1
    }

    void failures()
    {
        QTemporaryDir dir;
        const auto messageOf = [](const QString &path, std::size_t buffer = 1 << 22) {
            return StreamMessage(path, buffer);
        };
        const auto loaderMessageOf = LoadMessage;
        // The same refusals as the loader, before anything is read.
        const QString missing = dir.filePath(QStringLiteral("missing.txt"));
        QVERIFY(!messageOf(missing).isEmpty());
        QCOMPARE(messageOf(missing), loaderMessageOf(missing));
        QCOMPARE(messageOf(dir.path()), loaderMessageOf(dir.path()));
        QVERIFY(messageOf(dir.path()).contains(u"not a regular file"));
#ifdef Q_OS_UNIX
        const QString fifo = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(messageOf(fifo), loaderMessageOf(fifo));
#endif

        // A capture cut off inside its last record's time is refused still, but said as what it is,
        // by both readers whatever their buffer; the same line with its line end is no cut.
        QByteArray cut = "FLIGHT\r\n";
        for (int i = 0; i < 300; ++i)
            cut += Record(i % 50, ",1\r\n");
        const QString cutFile = test::WriteFile(dir, QStringLiteral("cut.txt"), cut + "12/04/26 10:0");
        QCOMPARE(LoadMessage(cutFile),
                 QStringLiteral("the file ends inside a record at line 302: the capture was cut off; download it again"));
        for (const std::size_t buffer : {64, 4096, 1 << 22})
            QCOMPARE(messageOf(cutFile, buffer), LoadMessage(cutFile));
        const QString ended = test::WriteFile(dir, QStringLiteral("ended.txt"), cut + "12/04/26 10:0\r\n");
        QCOMPARE(messageOf(ended, 64), QStringLiteral("no time of day in columns 10 to 17 of line 302"));
        QCOMPARE(LoadMessage(ended), messageOf(ended, 64));

        // A dated line without a time fails with its line number, past blocks already handed on;
        // the block it stands in is not.
        QByteArray text = "FLIGHT\r\n";
        for (int i = 0; i < 50; ++i)
            text += Record(i, ",1\r\n");
        text += "12/04/26 ab\r\n" + Record(59, ",2\r\n");
        const QString bad = test::WriteFile(dir, QStringLiteral("bad.txt"), text);
        QCOMPARE(messageOf(bad, 64), loaderMessageOf(bad));
        QCOMPARE(messageOf(bad, 64), QStringLiteral("no time of day in columns 10 to 17 of line 52"));
        qint64 seen = 0;
        try {
            StreamFlightDataFile(bad, [&](const FlightRecordBlock &block) { seen += block.records(); }, 256);
            QFAIL("no error");
        } catch (const FlightDataError &) {
        }
        QVERIFY(seen > 0 && seen < 50);
    }

#ifdef Q_OS_UNIX
    // The file shrinks while it is read (a capture saved over it): the reader says so rather than
    // ending early as though the file were complete.
    void fileShrinksMidStream()
    {
        QTemporaryDir dir;
        QByteArray text = "FLIGHT\r\n";
        for (int i = 0; i < 2000; ++i)
            text += Record(i % 3600, ",1,2,3\r\n");
        const QString path = test::WriteFile(dir, QStringLiteral("f.txt"), text);
        int blocks = 0;
        QString message;
        try {
            StreamFlightDataFile(
                path,
                [&](const FlightRecordBlock &) {
                    if (++blocks == 1)
                        QCOMPARE(truncate(QFile::encodeName(path).constData(), 5000), 0);
                },
                4096);
        } catch (const FlightDataError &error) {
            message = QString::fromUtf8(error.what());
        }
        QCOMPARE(blocks, 1);
        QVERIFY2(message.startsWith(u"the file shrank while it was read"), qPrintable(message));
    }
#endif

    // JSON has no infinity: a sum that overflows near the double's range gives a null mean.
    void nonFiniteNumbersAreNull()
    {
        std::string out;
        for (const double v : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN(), 1.7e308, 0.1}) {
            AppendJsonNumber(out, v);
            out.push_back(' ');
        }
        QCOMPARE(QByteArray::fromStdString(out), QByteArray("null null null 1.7e+308 0.1 "));

        const FlightData data = ParseFlightData("FLIGHT\r\n" + Record(0, ",1.7e308,-1.7e308,1e308\r\n") +
                                                Record(1, ",1.7e308,-1.7e308,-1e308\r\n"));
        const std::string json = FlightSummaryJson(SummarizeFlight(data));
        QVERIFY2(json.find("{\"field\":0,\"count\":2,\"min\":1.7e+308,\"max\":1.7e+308,\"mean\":null}") !=
                     std::string::npos,
                 json.c_str());
        QVERIFY(json.find("\"field\":1,\"count\":2,\"min\":-1.7e+308,\"max\":-1.7e+308,\"mean\":null}") !=
                std::string::npos);
        QVERIFY(json.find("\"field\":2,\"count\":2,\"min\":-1e+308,\"max\":1e+308,\"mean\":0}") != std::string::npos);
        QVERIFY(json.find("inf") == std::string::npos && json.find("nan") == std::string::npos);
    }
};

QTEST_GUILESS_MAIN(TestFlightStream)
#include "test_flightstream.moc"
