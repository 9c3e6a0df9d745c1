// Hexadecimal helpers, the S-record and B-record readers, and the readers against files made and
// read back by binutils and srecord.

#include "core/records/HexText.h"
#include "core/records/RecordReaders.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>

#include <optional>

using namespace korvel;

namespace {

// A sixteen-byte data run and an S1 record of it at address 0000 (checksum not checked by anyone).
const QByteArray kData = "000102030405060708090A0B0C0D0E0F";
const QByteArray kS1 = "S1130000" + kData + "EC";

// The bytes a list of B-record lines writes, laid out from the lowest address; nullopt when a
// line is malformed or the runs are not contiguous.
std::optional<QByteArray> memoryImage(const QStringList &lines, quint32 &base)
{
    QByteArray image;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        bool ok1 = false, ok2 = false;
        const quint32 address = line.left(8).toUInt(&ok1, 16);
        const int count = line.mid(8, 2).toInt(&ok2, 16);
        if (!ok1 || !ok2 || line.size() != 10 + 2 * count)
            return std::nullopt;
        if (i == 0)
            base = address;
        if (address != base + quint32(image.size()))
            return std::nullopt;
        image += QByteArray::fromHex(line.mid(10).toLatin1());
    }
    return image;
}

QString toolPath(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

bool run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning() << program << args << process.readAllStandardError();
        return false;
    }
    return true;
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT
private slots:
    void hexToLong_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("lower case") << "ffff" << 65535;
        QTest::newRow("0x prefix") << "0x10" << 16;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("five digits") << "FFFFF" << 1048575;
        QTest::newRow("text after X") << "1FX1F" << 31;
        QTest::newRow("lower-case x") << "0x1f" << 31;
        QTest::newRow("only the first X") << "1X2X3" << 2 * 256 - 16 + 3; // "2X3": the second X counts -1
        QTest::newRow("trailing X") << "1FX" << 0;
        QTest::newRow("largest") << "7FFFFFFF" << 2147483647;
        QTest::newRow("leading zeros") << "0000000000000000000000000000000000000001" << 1;
        QTest::newRow("non-hex alone") << "G" << -1;
        QTest::newRow("non-hex last") << "1G" << 15;
        QTest::newRow("non-hex first") << "G0" << -16;
        QTest::newRow("blank inside") << "F F" << 15 * 256 - 16 + 15;
        QTest::newRow("register prefix of a comment") << "Regis" << -0x10000 + 14 * 0x1000 - 0x100 - 0x10 - 1;
        QTest::newRow("negative sum in range") << "G0000000" << -268435456;
    }

    void hexToLong()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(HexToLong(text), value);
        QCOMPARE(HexToLong(QLatin1StringView(text.toLatin1())), value);
    }

    void hexToLongOverflow_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("just past the top") << "80000000";
        QTest::newRow("all ones") << "FFFFFFFF";
        QTest::newRow("nine digits") << "100000000";
        QTest::newRow("past the bottom") << "G00000000";
        QTest::newRow("after 0x") << "0x80000000";
        // A place value beyond any double: an overflow, never a NaN cast to an integer.
        QTest::newRow("hundreds of zeros") << QString(300, QLatin1Char('0'));
    }

    void hexToLongOverflow()
    {
        QFETCH(QString, text);
        QVERIFY_THROWS_EXCEPTION(HexOverflowError, HexToLong(text));
        try {
            HexToLong(text);
        } catch (const HexOverflowError &error) {
            QCOMPARE(error.text(), text);
        }
    }

    void padHex_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("text");
        QTest::newRow("16") << 16 << 2 << "10";
        QTest::newRow("10") << 10 << 2 << "0A";
        QTest::newRow("address") << 0x2000 << 8 << "00002000";
        QTest::newRow("cut to width") << 0x1FF << 2 << "FF";
        QTest::newRow("5") << 5 << 2 << "05";
        QTest::newRow("12345") << 0x12345 << 2 << "45";
        QTest::newRow("-1 width 2") << -1 << 2 << "FF";
        QTest::newRow("-1 width 8") << -1 << 8 << "FFFFFFFF";
        QTest::newRow("-1 width 10") << -1 << 10 << "00FFFFFFFF";
        QTest::newRow("lowest") << int(0x80000000) << 8 << "80000000";
        QTest::newRow("zero") << 0 << 2 << "00";
        QTest::newRow("width 0") << 0xAB << 0 << "";
    }

    void padHex()
    {
        QFETCH(int, value);
        QFETCH(int, width);
        QFETCH(QString, text);
        QCOMPARE(PadHex(value, std::int16_t(width)), text);
    }

    void isHexText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hex");
        QTest::newRow("mixed case") << "0000a0ff" << true;
        QTest::newRow("S-record") << "S1130000" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("register") << "FFFFF902" << true;
        QTest::newRow("leading blank") << " 0" << false;
        QTest::newRow("0x prefix") << "0x10" << false;
        QTest::newRow("just past F") << "G" << false;
        QTest::newRow("semicolon") << ";0000000" << false;
    }

    void isHexText()
    {
        QFETCH(QString, text);
        QFETCH(bool, hex);
        QCOMPARE(IsHexText(text), hex);
        QCOMPARE(IsHexText(QLatin1StringView(text.toLatin1())), hex);
    }

    void shortenPath()
    {
        const std::pair<const char *, const char *> cases[] = {
            {"C:\\x.s19", "...\\x.s19"}, {"x.s19", "x.s19"},       {"C:\\Tools\\Edit\\notepad.exe", "...\\notepad.exe"},
            {"*.S19", "*.S19"},          {"C:\\Tools\\", "...\\"}, {"/home/pilot/prog.s19", "/home/pilot/prog.s19"}};
        for (const auto &[path, shown] : cases)
            QCOMPARE(ShortenPath(QString::fromLatin1(path)), QString::fromLatin1(shown));
        // At another separator, the same rule.
        QCOMPARE(ShortenPath(QStringLiteral("/home/pilot/prog.s19"), u'/'), QStringLiteral(".../prog.s19"));
        QCOMPARE(ShortenPath(QStringLiteral("C:\\x.s19"), u'/'), QStringLiteral("C:\\x.s19"));
    }

    void sRecordReader_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("failure"); // the reader's reason; the lines are then one empty line
        const QString line0 = QString::fromLatin1("0000000010" + kData);

        QTest::newRow("S1, CR LF") << QByteArray("S00600004844521B\r\n" + kS1 + "\r\nS9030000FC\r\n")
                                   << QStringList{line0} << "";
        QTest::newRow("LF only") << QByteArray("S00600004844521B\n" + kS1 + "\nS9030000FC\n") << QStringList{line0}
                                 << "";
        QTest::newRow("no line end") << kS1 << QStringList{line0} << "";
        QTest::newRow("S1, S2, S3 same address")
            << QByteArray(kS1 + "\r\nS214000000" + kData + "00\r\nS31500000000" + kData + "00\r\n")
            << QStringList{line0, line0, line0} << "";
        QTest::newRow("widened addresses") << QByteArray("S1041234AB00\r\nS205123456AB00\r\nS3061234ABCDEF00\r\n")
                                           << QStringList{"0000123401AB", "0012345601AB", "1234ABCD01EF"} << "";
        QTest::newRow("lower-case type skipped")
            << QByteArray("s1130000" + kData + "EC\r\nS1040010AA00\r\n") << QStringList{"0000001001AA"} << "";
        QTest::newRow("other types skipped")
            << QByteArray("S0030000FC\r\nS1040010AA00\r\nS5030001FB\r\nS4040010AA00\r\nS705000080007A\r\n"
                          "S804008000FB\r\nS9038000FC\r\n\r\nxyz\r\n")
            << QStringList{"0000001001AA"} << "";
        QTest::newRow("wrong checksum") << QByteArray("S1040010AA77\r\n") << QStringList{"0000001001AA"} << "";
        QTest::newRow("no data bytes") << QByteArray("S1031234C6\r\n") << QStringList{"0000123400"} << "";
        QTest::newRow("case kept, count upper case") << QByteArray("S10fabcd000102030405060708090a0bzz\r\n")
                                                     << QStringList{"0000abcd0C000102030405060708090a0b"} << "";
        QTest::newRow("line shorter than its count")
            << QByteArray("S11300000102\r\n") << QStringList{"00000000100102"} << "";
        QTest::newRow("address cut short") << QByteArray("S10512\r\n") << QStringList{"00001202"} << "";
        // With any CR LF in the file, a lone LF stays inside its line.
        QTest::newRow("lone LF in a CR LF file")
            << QByteArray("S1050000AB00\nS1050010CD00\r\n") << QStringList{"0000000002AB00"} << "";
        QTest::newRow("CR in an LF file") << QByteArray("S1050010AA\rB\n") << QStringList{"0000001002AA\rB"} << "";

        const QStringList failed{QString()};
        QTest::newRow("header and start only")
            << QByteArray("S00600004844521B\r\nS9030000FC\r\n") << failed << "no S1, S2 or S3 record";
        QTest::newRow("empty file") << QByteArray() << failed << "no S1, S2 or S3 record";
        QTest::newRow("only lower-case records")
            << QByteArray("s1040010AA00\r\n") << failed << "no S1, S2 or S3 record";
        QTest::newRow("S1 count 02") << QByteArray("S0030000FC\r\nS1020000\r\n") << failed
                                     << "byte count too small at line 2";
        QTest::newRow("S2 count 03") << QByteArray("S203000000\r\n") << failed << "byte count too small at line 1";
        QTest::newRow("S3 count 04") << QByteArray("S30400000000\r\n") << failed << "byte count too small at line 1";
        QTest::newRow("count missing") << QByteArray("S1") << failed << "byte count too small at line 1";
        QTest::newRow("non-hex count") << QByteArray("S1G0000000\r\n") << failed << "byte count too small at line 1";
        QTest::newRow("earlier records dropped")
            << QByteArray(kS1 + "\r\n" + kS1 + "\r\nS1\r\n") << failed << "byte count too small at line 3";
    }

    void sRecordReader()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QFETCH(QString, failure);
        test::RecordingUi ui;
        const QString file = test::WriteFile(m_dir, QStringLiteral("prog.s19"), bytes);
        QCOMPARE(ReadSRecordFile(file, ui), lines);
        if (failure.isEmpty()) {
            QVERIFY(ui.messages.isEmpty());
            return;
        }
        QCOMPARE(ui.messages.size(), 1);
        QCOMPARE(ui.messages[0].caption, QStringLiteral("Error opening file!"));
        QCOMPARE(ui.messages[0].text, "There was an error: " + failure + " Opening " + file);
        QCOMPARE(ui.messages[0].icon, MessageIcon::Exclamation);
        QCOMPARE(ui.messages[0].buttons, MessageButtons::Ok);
    }

    void readersReportMissingFile()
    {
        const QString file = m_dir.filePath(QStringLiteral("missing.s19"));
        const QString text = "There was an error: " + test::MissingFileWords() + " Opening " + file;
        test::RecordingUi ui;
        QCOMPARE(ReadSRecordFile(file, ui), QStringList{QString()});
        QCOMPARE(ReadBRecordFile(file, ui), QStringList{QString()});
        QCOMPARE(ui.events, QStringList(2, "message: Error opening file!: " + text + " -> OK"));
        QCOMPARE(ui.messages[1].icon, MessageIcon::Exclamation);

        // Only regular files are read: a folder, a device that never ends, a pipe that would wait for
        // a writer for ever. Each fails at once with its reason, from both readers.
        QStringList others{m_dir.path()};
        if (QFileInfo::exists(QStringLiteral("/dev/zero")))
            others << QStringLiteral("/dev/zero");
#ifdef Q_OS_UNIX
        const QString pipe = m_dir.filePath(QStringLiteral("pipe.s19"));
        QCOMPARE(QProcess::execute(QStringLiteral("mkfifo"), {pipe}), 0);
        others << pipe;
#endif
        for (const QString &other : others) {
            ui.messages.clear();
            QCOMPARE(ReadSRecordFile(other, ui), QStringList{QString()});
            QCOMPARE(ReadBRecordFile(other, ui), QStringList{QString()});
            QCOMPARE(ui.messages.size(), 2);
            for (const auto &message : ui.messages)
                QCOMPARE(message.text,
                         "There was an error: not a regular file (a device, a pipe or a folder); choose the "
                         "file itself Opening " +
                             other);
        }
    }

    void bRecordReader_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("failure");
        QTest::newRow("register records keep comments")
            << QByteArray("FFFFF9020100 speed\r\nFFFFF9030138\tdivider\r\n")
            << QStringList{"FFFFF9020100 speed", "FFFFF9030138\tdivider"} << "";
        QTest::newRow("execute record dropped")
            << QByteArray("0000800000\r\nFFFFF9020100\r\n") << QStringList{"FFFFF9020100"} << "";
        QTest::newRow("comment lines dropped")
            << QByteArray("; init\r\nRegister setup\r\n\r\n  FFFFF9020100\r\nFFFFF9020100\r\n")
            << QStringList{"FFFFF9020100"} << "";
        QTest::newRow("short hex lines kept") << QByteArray("FFFF\r\n12345678\r\n12345678 00\r\n")
                                              << QStringList{"FFFF", "12345678", "12345678 00"} << "";
        // Nine characters: 9 and 10 read "0", not "00", so it is no execute record and is kept.
        QTest::newRow("nine hex characters kept")
            << QByteArray("123456780\r\n1234567800\r\n") << QStringList{"123456780"} << "";
        QTest::newRow("lower case kept") << QByteArray("fffff9020100\n") << QStringList{"fffff9020100"} << "";
        QTest::newRow("LF only, no last line end")
            << QByteArray("FFFFF9020100\nFFFFF9030138") << QStringList{"FFFFF9020100", "FFFFF9030138"} << "";
        QTest::newRow("Latin-1 comment") << QByteArray("FFFFF9020100 d\xe9j\xe0\r\n")
                                         << QStringList{QString::fromLatin1("FFFFF9020100 d\xe9j\xe0")} << "";
        QTest::newRow("nothing sendable") << QByteArray("; only comments\r\n0000800000\r\n") << QStringList{} << "";
        QTest::newRow("only a line end") << QByteArray("\r\n") << QStringList{} << "";
        QTest::newRow("empty file") << QByteArray() << QStringList{QString()} << "the file is empty";
    }

    void bRecordReader()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QFETCH(QString, failure);
        test::RecordingUi ui;
        const QString file = test::WriteFile(m_dir, QStringLiteral("init.B"), bytes);
        QCOMPARE(ReadBRecordFile(file, ui), lines);
        if (failure.isEmpty()) {
            QVERIFY(ui.messages.isEmpty());
        } else {
            QCOMPARE(ui.events, QStringList{"message: Error opening file!: There was an error: " + failure +
                                            " Opening " + file + " -> OK"});
        }
    }

    void trimRecordLines_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("trimmed");
        QTest::newRow("comments") << QStringList{"FFFFF9020100 speed", "FFFFF9030138\tdivider", "00008000"}
                                  << QStringList{"FFFFF9020100", "FFFFF9030138", "00008000"};
        QTest::newRow("tab before blank") << QStringList{"AB\tCD EF"} << QStringList{"AB"};
        QTest::newRow("leading blank or tab") << QStringList{" AB", "\tAB", ""} << QStringList{"", "", ""};
    }

    void trimRecordLines()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, trimmed);
        TrimRecordLines(lines);
        QCOMPARE(lines, trimmed);
    }

    void sRecordsFromObjcopy_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("S1") << 4000 << QStringList{} << QByteArray("S1");
        QTest::newRow("S1, short last record") << 1001 << QStringList{} << QByteArray("S1");
        QTest::newRow("S2") << 70000 << QStringList{} << QByteArray("S2");
        QTest::newRow("S3") << 4099 << QStringList{"--srec-forceS3"} << QByteArray("S3");
    }

    void sRecordsFromObjcopy()
    {
        QFETCH(int, size);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, type);
        const QString objcopy = toolPath("objcopy");
        if (objcopy.isEmpty())
            QSKIP("objcopy (binutils) is not installed");

        QByteArray binary(size, Qt::Uninitialized);
        QRandomGenerator generator{quint32(size)};
        for (char &byte : binary)
            byte = char(generator.bounded(256));
        const QString bin = test::WriteFile(m_dir, QStringLiteral("prog.bin"), binary);
        const QString s19 = m_dir.filePath(QStringLiteral("prog.s19"));
        QVERIFY(run(objcopy, QStringList{"-I", "binary", "-O", "srec", "--change-addresses", "0x8000"} + options +
                                 QStringList{bin, s19}));
        QFile made(s19);
        QVERIFY(made.open(QIODevice::ReadOnly));
        QVERIFY(made.readAll().contains("\n" + type));

        test::RecordingUi ui;
        const QStringList lines = ReadSRecordFile(s19, ui);
        QVERIFY(ui.messages.isEmpty());
        quint32 base = 0;
        const std::optional<QByteArray> image = memoryImage(lines, base);
        QVERIFY(image);
        QCOMPARE(base, 0x8000u);
        QCOMPARE(*image, binary);

        const QString srecCat = toolPath("srec_cat");
        if (srecCat.isEmpty())
            QSKIP("srec_cat (srecord) is not installed");
        const QString ref = m_dir.filePath(QStringLiteral("ref.b"));
        QVERIFY(run(srecCat, {s19, "-o", ref, "-B-Record", "-Output_Block_Size", "16"}));
        QStringList expected = readLines(ref);
        // srec_cat ends with the start address as an execute record; the reader leaves that to the burn.
        QVERIFY(!expected.isEmpty());
        QCOMPARE(expected.takeLast(), QStringLiteral("0000800000"));
        QCOMPARE(lines, expected);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
