// korvel-cli report as a whole process, read back as a mechanic's tools read a PDF: the text through
// pdftotext, the page through pdfinfo. The peaks are checked against the summary's, the findings'
// times against the findings command's, so the page says what the other commands say.

#include "support/FlightPlans.h"
#include "support/FlightText.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

using namespace korvel;

namespace {

// KORVEL_KEEP_REPORTS=DIR keeps a copy of each page tested, to look at as a mechanic would.
void Keep(const QString &pdf, const QString &name)
{
    const QString folder = qEnvironmentVariable("KORVEL_KEEP_REPORTS");
    if (!folder.isEmpty()) {
        QFile::remove(folder + QLatin1Char('/') + name);
        QFile::copy(pdf, folder + QLatin1Char('/') + name);
    }
}

QString PdfText(const QString &pdf)
{
    return korvel::test::LinuxTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
}

QString PdfInfo(const QString &pdf)
{
    return korvel::test::LinuxTool(QStringLiteral("pdfinfo"), {pdf});
}

test::CliRun Report(const QStringList &args)
{
    return test::RunCli(QStringList{QStringLiteral("report")} + args);
}

// The text holds the line, blanks between its words of any width.
bool HasLine(const QString &text, const QStringList &words)
{
    QStringList escaped;
    for (const QString &w : words)
        escaped << QRegularExpression::escape(w);
    const QRegularExpression line(QStringLiteral("(^|\\n)\\s*") + escaped.join(QStringLiteral("\\s+")) +
                                  QStringLiteral("\\s*(\\n|$)"));
    return line.match(text).hasMatch();
}

QString Degrees(const QJsonValue &v)
{
    return QString::number(v.toDouble()) + QStringLiteral("\u00b0");
}

// Files left in a folder besides those named: a failed report leaves neither PDF nor temporary file.
QStringList Leftovers(const QTemporaryDir &dir, const QStringList &inputs)
{
    QStringList names = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &input : inputs)
        names.removeAll(input);
    return names;
}

// A flight of two records: every cylinder head at 300 but the first at chtMax, the oil as given
// (in tenths, as recorded).
QByteArray CardFlight(int day, int chtMax, int oilPressure, int oilTemperature = 1800)
{
    test::FlightText text;
    text.date = QDate(2026, 3, day);
    text.marker = "FLIGHT";
    text.withEnd = false;
    for (int k = 0; k < 28; ++k) {
        const int v = k == 7 ? oilPressure : k == 8 ? oilTemperature : k == 22 ? chtMax : k > 22 ? 300 : k >= 16 ? 1300 : 100;
        // No oil pressure: an engine without oil gauges, both oil fields empty.
        text.fields[k] = oilPressure < 0 && (k == 7 || k == 8) ? QByteArray() : QByteArray::number(v);
    }
    return text.make(2);
}

} // namespace

class TestCliReport : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!korvel::test::HaveLinuxTool(QStringLiteral("pdftotext")))
            QSKIP("poppler-utils (pdftotext, pdfinfo) is not installed");
        qputenv("LC_ALL", "de_DE.UTF-8");
    }

    // A flight with a hot head and a cylinder whose exhaust fell alone: the heading, every
    // cylinder's peaks as the summary gives them, each finding with its times, the limits.
    void flightWithFindings()
    {
        QTemporaryDir dir;
        test::FlightPlan plan;
        plan.anomalies = {{test::Anomaly::ChtHot, 3, 1500, 1900}, {test::Anomaly::EgtDrop, 2, 2600, 2700}};
        const QByteArray bytes = test::MakeFlight(plan);
        const QString flight = test::WriteFile(dir, QStringLiteral("n123ab-0314.txt"), bytes);
        const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
        const test::CliRun run = Report({flight, pdf});
        QVERIFY2(run.exitCode == 0, run.err.constData());

        Keep(pdf, QStringLiteral("findings.pdf"));
        const QString info = PdfInfo(pdf);
        QVERIFY(HasLine(info, {QStringLiteral("Pages:"), QStringLiteral("1")}));
        QVERIFY2(info.contains(QStringLiteral("595 x 842 pts (A4)")), qPrintable(info));
        const QString text = PdfText(pdf);
        QVERIFY(text.contains(QStringLiteral("Flight report")));
        const QJsonObject summary =
            QJsonDocument::fromJson(test::RunCli({QStringLiteral("summary"), flight}).out).object();
        const QString first = summary[QStringLiteral("first")].toString();
        const QString last = summary[QStringLiteral("last")].toString();
        const qint64 seconds = summary[QStringLiteral("duration_s")].toInteger();
        const QString duration = QStringLiteral("%1:%2:%3")
                                     .arg(seconds / 3600)
                                     .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                     .arg(seconds % 60, 2, 10, QLatin1Char('0'));
        // The records counted as a person reads counts here (German: "1.201"); the summary keeps plain digits.
        const int records = summary[QStringLiteral("records")].toInt();
        QVERIFY(records >= 1000);
        QVERIFY2(
            HasLine(text, {QStringLiteral("Date"), first.left(10), QStringLiteral("First"), QStringLiteral("record"),
                           first.mid(11), QStringLiteral("Last"), QStringLiteral("record"), last.mid(11),
                           QStringLiteral("Duration"), duration, QStringLiteral("Records"),
                           QLocale(QLocale::German, QLocale::Germany).toString(records)}),
            qPrintable(text));
        QVERIFY(HasLine(text, {QStringLiteral("File"), QStringLiteral("n123ab-0314.txt")}));
        const QString sha = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        QVERIFY(HasLine(text, {QStringLiteral("SHA-256"), sha}));

        // No probe failed, so the library's peaks are the summary's.
        const QJsonArray cylinders = summary[QStringLiteral("cylinders")].toArray();
        QCOMPARE(cylinders.size(), 6);
        for (const QJsonValue &c : cylinders) {
            const QJsonObject o = c.toObject();
            QVERIFY2(HasLine(text, {QString::number(o[QStringLiteral("cyl")].toInt()), Degrees(o[QStringLiteral("egt_max")]),
                                    o[QStringLiteral("egt_time")].toString(), Degrees(o[QStringLiteral("cht_max")]),
                                    o[QStringLiteral("cht_time")].toString()}),
                     qPrintable(QJsonDocument(o).toJson(QJsonDocument::Compact)));
        }
        const QJsonObject egtSpread = summary[QStringLiteral("egt_spread")].toObject();
        const QJsonObject chtSpread = summary[QStringLiteral("cht_spread")].toObject();
        QVERIFY(HasLine(text, {QStringLiteral("Largest"), QStringLiteral("spread"), Degrees(egtSpread[QStringLiteral("max")]),
                               egtSpread[QStringLiteral("time")].toString(), Degrees(chtSpread[QStringLiteral("max")]),
                               chtSpread[QStringLiteral("time")].toString()}));

        // Every finding the findings command lists, in the view's words with its times.
        const QList<QByteArray> lines = test::RunCli({QStringLiteral("findings"), flight}).out.split('\n');
        int found = 0;
        for (const QByteArray &line : lines) {
            const QJsonObject f = QJsonDocument::fromJson(line).object();
            if (!f.contains(QStringLiteral("kind")))
                continue;
            ++found;
            const QString kind = f[QStringLiteral("kind")].toString();
            const QString cyl = QString::number(f[QStringLiteral("cyl")].toInt());
            const QString value = QString::number(f[QStringLiteral("value")].toDouble());
            const QString what = kind == QLatin1String("cht_high") ? QStringLiteral("CHT %1 hot: %2\u00b0 peak").arg(cyl, value)
                                 : kind == QLatin1String("egt_drop")
                                     ? QStringLiteral("EGT %1 fell alone: %2\u00b0/min").arg(cyl, value)
                                     : QStringLiteral("CHT %1 shock cooling: %2\u00b0/min").arg(cyl, value);
            const QString from = f[QStringLiteral("from")].toString(), to = f[QStringLiteral("to")].toString();
            const QString when = from == to ? QStringLiteral("at %1").arg(from) : QStringLiteral("%1 to %2").arg(from, to);
            QVERIFY2(text.contains(what + QStringLiteral(", ") + when), qPrintable(what + QStringLiteral(", ") + when));
        }
        QVERIFY(found >= 2);
        QVERIFY(text.contains(QStringLiteral("CHT 3 hot:")));
        QVERIFY(text.contains(QStringLiteral("EGT 2 fell alone:")));
        QVERIFY(text.contains(QStringLiteral("CHT hot at or above 400\u00b0")));

        // Another limit: fewer findings, and the page says which limit it used.
        QVERIFY(Report({QStringLiteral("--cht-limit"), QStringLiteral("500"), flight, pdf}).exitCode == 0);
        const QString higher = PdfText(pdf);
        QVERIFY(!higher.contains(QStringLiteral("CHT 3 hot:")));
        QVERIFY(higher.contains(QStringLiteral("CHT hot at or above 500\u00b0")));
    }

    // A failing probe is a finding and counts in no peak: the summary's spike is not the page's.
    void faultyReadingsInNoFigure()
    {
        QTemporaryDir dir;
        test::FlightPlan plan;
        plan.anomalies = {{test::Anomaly::EgtSpike, 5, 2000, 2000}};
        const QString flight = test::WriteFile(dir, QStringLiteral("spike.txt"), test::MakeFlight(plan));
        const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
        QCOMPARE(Report({flight, pdf}).exitCode, 0);
        Keep(pdf, QStringLiteral("spike.pdf"));
        const QString text = PdfText(pdf);
        const QJsonObject summary =
            QJsonDocument::fromJson(test::RunCli({QStringLiteral("summary"), flight}).out).object();
        const QJsonObject cyl5 = summary[QStringLiteral("cylinders")].toArray()[4].toObject();
        const QRegularExpression row(QStringLiteral("\\n\\s*5\\s+(\\d+)\u00b0"));
        const QRegularExpressionMatch m = row.match(text);
        QVERIFY(m.hasMatch());
        QVERIFY(m.captured(1).toDouble() < cyl5[QStringLiteral("egt_max")].toDouble() - 300);
        QVERIFY(text.contains(QStringLiteral("EGT 5 probe fault: read %1, at ").arg(cyl5[QStringLiteral("egt_max")].toDouble())));
    }

    // 200 faults of one probe before a hot head and a shock cooling of four heads: the page lists by
    // what matters (hot, shock cooling, then the probe's faults on one line with their count); a
    // group of heads hot together ends where its last member ends.
    void findingsByWhatMatters()
    {
        QTemporaryDir dir;
        const test::FlightText flight = test::FlightText::Steady();
        const QByteArray text = flight.make(2600, [](int k, QList<QByteArray> &f) {
            if (k < 2400 && k % 12 == 5)
                f[16] = "0"; // EGT 1, a fault every 72 s
            if (k >= 2450 && k < 2460)
                f[24] = "412"; // CHT 3
            if (k >= 50 && k <= 70)
                f[22] = "401"; // CHT 1
            if (k >= 52 && k <= 90)
                f[23] = "402"; // CHT 2
            for (int c = 0; c < 4 && k >= 2500; ++c)
                f[22 + c] = "280";
        });
        const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
        const test::CliRun run = Report({test::WriteFile(dir, QStringLiteral("faults.txt"), text), pdf});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        Keep(pdf, QStringLiteral("by-what-matters.pdf"));
        const QString page = PdfText(pdf).simplified();
        const QStringList lines = {
            QStringLiteral("CHT 1-2 hot: 401-402° peak, 10:05:00 to 10:09:00"),
            QStringLiteral("CHT 3 hot: 412° peak, 14:05:00 to 14:05:54"),
            QStringLiteral("CHT 1-4 shock cooling: 70°/min, 14:10:00 to 14:10:54"),
            QStringLiteral("EGT 1 probe fault: read 0, 200 times, 10:00:30 to 13:59:18"),
        };
        qsizetype at = 0;
        for (const QString &line : lines) {
            const qsizetype next = page.indexOf(line);
            QVERIFY2(next > at, qPrintable(line + QStringLiteral("\n") + page));
            at = next;
        }
    }

    // The table: a rise of 320 then a fall of 240 is no spike, so 1620 is EGT 1's peak; a cylinder
    // whose EGT probe reads 0 all flight keeps its row, its CHT beside a "-".
    void tableRows()
    {
        QTemporaryDir dir;
        test::FlightText flight = test::FlightText::Steady();
        flight.step = 10;
        for (int c = 0; c < 6; ++c)
            flight.fields[16 + c] = c == 5 ? "0" : "1300"; // EGT 6's probe reads 0 all flight
        const QByteArray text = flight.make(5, [](int k, QList<QByteArray> &f) {
            const char *egt1[] = {"1300", "1300", "1620", "1380", "1380"};
            f[16] = egt1[k];
        });
        const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
        // A name longer than the page is wide is cut at its edge with an ellipsis.
        const QString name = QStringLiteral("n123ab-") + QStringLiteral("very-long-flight-name-").repeated(7) +
                             QStringLiteral(".txt");
        const test::CliRun run = Report({test::WriteFile(dir, name, text), pdf});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        const QString page = PdfText(pdf);
        QVERIFY(page.contains(QStringLiteral("File n123ab-very-long-flight-name-")));
        QVERIFY(page.contains(QStringLiteral("\u2026")) && !page.contains(name));
        QVERIFY2(HasLine(page, {QStringLiteral("1"), QStringLiteral("1620°"), QStringLiteral("10:00:20"),
                                QStringLiteral("350°"), QStringLiteral("10:00:00")}),
                 qPrintable(page));
        QVERIFY(HasLine(page, {QStringLiteral("6"), QStringLiteral("-"), QStringLiteral("350°"), QStringLiteral("10:00:00")}));
        QVERIFY(page.contains(QStringLiteral("EGT 6 probe fault: read 0, 10:00:00 to 10:00:40")));
        QVERIFY(!page.contains(QStringLiteral("EGT 1 probe")));
    }

    // A clean flight across midnight on a four-cylinder engine, on Letter paper under a US locale.
    void cleanFourCylindersAcrossMidnight()
    {
        QTemporaryDir dir;
        test::FlightPlan plan;
        plan.start = QDateTime(QDate(2026, 3, 14), QTime(23, 40, 0));
        QByteArray bytes = test::MakeFlight(plan);
        // Cylinders 5 and 6 are not there: their fields stay empty.
        QList<QByteArray> lines = bytes.split('\n');
        for (QByteArray &line : lines) {
            QList<QByteArray> fields = line.split(',');
            if (fields.size() == 29) {
                for (int k : {21, 22, 27, 28})
                    fields[k] = k == 28 ? QByteArray("\r") : QByteArray();
                line = fields.join(',');
            }
        }
        bytes = lines.join('\n');
        const QString flight = test::WriteFile(dir, QStringLiteral("four.txt"), bytes);
        const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
        qputenv("LC_ALL", "en_US.UTF-8");
        const test::CliRun run = Report({flight, pdf});
        qputenv("LC_ALL", "de_DE.UTF-8");
        QVERIFY2(run.exitCode == 0, run.err.constData());
        Keep(pdf, QStringLiteral("four-midnight.pdf"));
        QVERIFY(PdfInfo(pdf).contains(QStringLiteral("612 x 792 pts (letter)")));
        const QString text = PdfText(pdf);
        QVERIFY2(HasLine(text, {QStringLiteral("No findings.")}), qPrintable(text));
        // The flight spans two days: its heading gives both, every time on the page its date, in the
        // locale's time format as the charts' axis writes it.
        QVERIFY2(text.contains(QStringLiteral("First record 2026-03-14 11:40:00 PM")), qPrintable(text));
        QVERIFY(QRegularExpression(QStringLiteral("Last record 2026-03-15 \\d+:\\d\\d:\\d\\d [AP]M")).match(text).hasMatch());
        QVERIFY(text.contains(QStringLiteral("Date 2026-03-14")));
        const QRegularExpression peakRow(
            QStringLiteral("\\n\\s*1\\s+\\d+°\\s+2026-03-1[45] \\d+:\\d\\d:\\d\\d [AP]M\\s+\\d+°\\s+2026-03-1[45] "));
        QVERIFY2(peakRow.match(text).hasMatch(), qPrintable(text));
        QVERIFY(HasLine(text.section(QStringLiteral("Cylinder"), 1), {QStringLiteral("4")}) ||
                QRegularExpression(QStringLiteral("\\n\\s*4\\s+\\d+\u00b0")).match(text).hasMatch());
        QVERIFY(!QRegularExpression(QStringLiteral("\\n\\s*5\\s+\\d+\u00b0")).match(text).hasMatch());
        QVERIFY(!text.contains(QStringLiteral("EGT 5")));
        QVERIFY(text.contains(QStringLiteral("EGT 4")));
    }

    // From the library by id: its aircraft and the name it was imported by.
    void fromTheLibrary()
    {
        QTemporaryDir dir;
        const QString flight = test::WriteFile(dir, QStringLiteral("first-solo.txt"), test::MakeFlight({}));
        const QString library = dir.filePath(QStringLiteral("lib"));
        QCOMPARE(test::RunCli({QStringLiteral("library"), QStringLiteral("--library"), library, QStringLiteral("import"),
                               QStringLiteral("--aircraft"), QStringLiteral("g-abcd"), flight})
                     .exitCode,
                 0);
        const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
        const test::CliRun run = Report({QStringLiteral("--library"), library, QStringLiteral("--id"), QStringLiteral("1"), pdf});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        Keep(pdf, QStringLiteral("library.pdf"));
        const QString text = PdfText(pdf);
        QVERIFY(HasLine(text, {QStringLiteral("Flight report"), QStringLiteral("G-ABCD")}));
        QVERIFY(HasLine(text, {QStringLiteral("File"), QStringLiteral("first-solo.txt")}));

        QFile::remove(pdf);
        const test::CliRun unknown =
            Report({QStringLiteral("--library"), library, QStringLiteral("--id"), QStringLiteral("7"), pdf});
        QCOMPARE(unknown.exitCode, 1);
        QVERIFY(unknown.err.contains("no flight 7"));
        QVERIFY(!QFile::exists(pdf));
    }

    // The report card's percentiles and sentences: medians outside the fleet's middle half said in
    // whole numbers rounded half away from zero (oil in the view's units, tenths read as whole).
    void reportCard()
    {
        QTemporaryDir dir;
        const QString library = dir.filePath(QStringLiteral("lib"));
        const auto import = [&](const QString &reg, int day, int cht, int oil) {
            const QString f = test::WriteFile(dir, QStringLiteral("%1-%2.txt").arg(reg).arg(day), CardFlight(day, cht, oil));
            return test::RunCli({QStringLiteral("library"), QStringLiteral("--library"), library, QStringLiteral("import"),
                                 QStringLiteral("--aircraft"), reg, f})
                .exitCode;
        };
        // Alone: its own months, and no sentence.
        QCOMPARE(import(QStringLiteral("N123AB"), 1, 330, 500), 0);
        const QString pdf = dir.filePath(QStringLiteral("card.pdf"));
        const auto card = [&](const QStringList &more) {
            return test::RunCli(QStringList{QStringLiteral("report-card"), QStringLiteral("--library"), library} + more);
        };
        QCOMPARE(card({QStringLiteral("--aircraft"), QStringLiteral("n123ab"), pdf}).exitCode, 0);
        Keep(pdf, QStringLiteral("card-alone.pdf"));
        QString text = PdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("No other aircraft in the library")), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("percentile")));
        QVERIFY(text.contains(QStringLiteral("2026-03")));

        // Fleet peak CHTs 300, 310, 325, 331: 75th percentile 325 + 0.25 x 6 = 326.5, written 327;
        // oil pressures 60, 65, 70, 70.5: 25th percentile 63.75, written 64; CHT spreads 0, 10, 25,
        // 31: 75th percentile 26.5, written 27 (half away from zero).
        QCOMPARE(import(QStringLiteral("G-FLEE"), 2, 300, 600), 0);
        QCOMPARE(import(QStringLiteral("G-FLEE"), 3, 310, 650), 0);
        QCOMPARE(import(QStringLiteral("D-EFGH"), 4, 325, 700), 0);
        QCOMPARE(import(QStringLiteral("D-EFGH"), 5, 331, 705), 0);
        QCOMPARE(import(QStringLiteral("N123AB"), 6, 340, 520), 0);
        QCOMPARE(import(QStringLiteral("N123AB"), 7, 350, 540), 0);
        QCOMPARE(card({QStringLiteral("--aircraft"), QStringLiteral("N123AB"), pdf}).exitCode, 0);
        Keep(pdf, QStringLiteral("card-fleet.pdf"));
        QVERIFY(HasLine(PdfInfo(pdf), {QStringLiteral("Pages:"), QStringLiteral("1")}));
        text = PdfText(pdf);
        QVERIFY(HasLine(text, {QStringLiteral("Report"), QStringLiteral("card"), QStringLiteral("N123AB")}));
        QVERIFY(text.contains(QStringLiteral("its last 3 flights, 2026-03-01 to 2026-03-07")));
        QVERIFY(text.contains(QStringLiteral("2 other aircraft, 4 flights")));
        QVERIFY2(text.contains(QStringLiteral("Peak CHT: median 340 is above the fleet's 75th percentile 327")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("CHT spread: median 40 is above the fleet's 75th percentile 27")));
        QVERIFY(text.contains(QStringLiteral("Oil pressure: median 52 is below the fleet's 25th percentile 64")));
        QVERIFY(!text.contains(QStringLiteral("Peak EGT: median")));
        QVERIFY(!text.contains(QStringLiteral("Oil temperature: median")));
        QVERIFY(text.contains(QStringLiteral("300 \u00b7 308 \u00b7 318 \u00b7 327 \u00b7 331")));

        // Its last two flights only.
        QCOMPARE(card({QStringLiteral("--flights"), QStringLiteral("2"), QStringLiteral("--aircraft"), QStringLiteral("N123AB"), pdf})
                     .exitCode,
                 0);
        QVERIFY(PdfText(pdf).contains(QStringLiteral("Peak CHT: median 345 is above the fleet's 75th percentile 327")));

        // An aircraft the library does not know, a registration that is none, a bad count.
        QFile::remove(pdf);
        test::CliRun run = card({QStringLiteral("--aircraft"), QStringLiteral("N999ZZ"), pdf});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains("N999ZZ"));
        QVERIFY(!QFile::exists(pdf));
        QCOMPARE(card({QStringLiteral("--aircraft"), QStringLiteral("N 1"), pdf}).exitCode, 2);
        QCOMPARE(card({QStringLiteral("--flights"), QStringLiteral("0"), QStringLiteral("--aircraft"), QStringLiteral("N123AB"), pdf})
                     .exitCode,
                 2);
        QCOMPARE(card({pdf}).exitCode, 2);
        QVERIFY(card({QStringLiteral("--aircraft"), QStringLiteral("N123AB"), dir.filePath(QStringLiteral("no/r.pdf"))})
                    .exitCode == 1);
        QVERIFY(!QFile::exists(pdf));
    }

    // An aircraft without oil gauges and with one flight: its oil measures say so (never zeros); one
    // flight and one day said as such. Its peak CHT's median lies below the fleet's middle half,
    // which is no warning, but the page does not claim every median lies within it.
    void reportCardAbsentMeasures()
    {
        QTemporaryDir dir;
        const QString library = dir.filePath(QStringLiteral("lib"));
        const auto import = [&](const QString &reg, int day, int cht, int oil) {
            const QString f = test::WriteFile(dir, QStringLiteral("%1-%2.txt").arg(reg).arg(day), CardFlight(day, cht, oil));
            return test::RunCli({QStringLiteral("library"), QStringLiteral("--library"), library, QStringLiteral("import"),
                                 QStringLiteral("--aircraft"), reg, f})
                .exitCode;
        };
        QCOMPARE(import(QStringLiteral("G-FLEE"), 2, 300, 600), 0);
        QCOMPARE(import(QStringLiteral("G-FLEE"), 3, 310, 650), 0);
        QCOMPARE(import(QStringLiteral("N1"), 9, 295, -1), 0);
        const QString pdf = dir.filePath(QStringLiteral("card.pdf"));
        const test::CliRun run = test::RunCli(
            {QStringLiteral("report-card"), QStringLiteral("--library"), library, QStringLiteral("--aircraft"),
             QStringLiteral("N1"), pdf});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        Keep(pdf, QStringLiteral("card-absent.pdf"));
        const QString text = PdfText(pdf).simplified();
        QVERIFY2(text.contains(QStringLiteral("N1: its last flight, 2026-03-09 ")), qPrintable(text));
        QCOMPARE(text.count(QStringLiteral("N1: no flight has this figure")), 2);
        QVERIFY(!text.contains(QStringLiteral("(0 flights)")));
        QVERIFY(text.contains(QStringLiteral("N1: lowest 300, median 300, highest 300 (1 flight)")));
        QVERIFY(text.contains(QStringLiteral("other aircraft, 2 flights in the library")));
        QVERIFY(!text.contains(QStringLiteral("Every median")));
        QVERIFY(!text.contains(QStringLiteral("percentile 3")));
    }

    // Every bad input: a reason, exit 1, and nothing left where the PDF would have gone.
    void badInputs()
    {
        QTemporaryDir dir;
        const QString good = test::WriteFile(dir, QStringLiteral("good.txt"), test::MakeFlight({}));
        const QString cal = test::WriteFile(
            dir, QStringLiteral("cal.txt"),
            "CAL\r\n06/02/26 08:15:00,1,663,308,808,98,148,192,748,118,439,76,176,888,856,143,492,185,869,121,253,457,"
            "126,812,101,452,95,272,593\r\n");
        const QString empty = test::WriteFile(dir, QStringLiteral("empty.txt"), "FLIGHT\r\nEND\r\n");
        // A flight that breaks off after thousands of records, while they are still being worked on.
        const QString broken = test::WriteFile(
            dir, QStringLiteral("broken.txt"),
            test::MakeFlight({}) + "06/02/26 08:15:00," + QByteArray(70000, '7') + "\r\n");
        // A capture cut off inside its last record's time.
        const QString cut = test::WriteFile(dir, QStringLiteral("cut.txt"), test::MakeFlight({}) + "06/02/26 08:1");
        const QStringList inputs = {QStringLiteral("good.txt"), QStringLiteral("cal.txt"), QStringLiteral("empty.txt"),
                                    QStringLiteral("broken.txt"), QStringLiteral("cut.txt")};
        const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
        const struct {
            QStringList args;
            const char *says;
        } cases[] = {
            {{dir.filePath(QStringLiteral("missing.txt")), pdf}, "missing.txt"},
            {{cal, pdf}, "calibration record"},
            {{empty, pdf}, "no flight record"},
            {{broken, pdf}, "cannot read"},
            {{cut, pdf}, "the file ends inside a record at line"},
            {{good, dir.filePath(QStringLiteral("no/such/folder/r.pdf"))}, "cannot write"},
            {{good, dir.path()}, "cannot write"},
            {{good, good}, "the flight itself"},
            {{QStringLiteral("--library"), dir.filePath(QStringLiteral("nolib")), QStringLiteral("--id"),
              QStringLiteral("1"), pdf},
             "no flight library"},
        };
        for (const auto &c : cases) {
            const test::CliRun run = Report(c.args);
            QVERIFY2(run.exitCode == 1, qPrintable(c.args.join(QLatin1Char(' '))));
            QVERIFY2(run.err.contains(c.says), run.err.constData());
            QCOMPARE(Leftovers(dir, inputs), QStringList());
        }
        QCOMPARE(test::ReadAll(good), test::MakeFlight({}));
        QCOMPARE(Report({good}).exitCode, 2);
        QCOMPARE(Report({QStringLiteral("--cht-limit"), QStringLiteral("hot"), good, pdf}).exitCode, 2);
        QCOMPARE(Report({QStringLiteral("--id"), QStringLiteral("x"), pdf}).exitCode, 2);
    }

    // A pipe or a device is written into, never replaced by a file: a FIFO another program reads,
    // and /dev/stdout into korvel-cli's own pipe.
    void intoPipes()
    {
#if !defined(Q_OS_UNIX)
        QSKIP("FIFOs and /dev/stdout");
#else
        QTemporaryDir dir;
        const QString flight = test::WriteFile(dir, QStringLiteral("f.txt"), test::MakeFlight({}));
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(QProcess::execute(QStringLiteral("mkfifo"), {fifo}), 0);
        QProcess reader;
        const QString read = dir.filePath(QStringLiteral("read.pdf"));
        reader.setStandardOutputFile(read);
        reader.start(QStringLiteral("cat"), {fifo});
        QVERIFY(reader.waitForStarted());
        const test::CliRun run = Report({flight, fifo});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY(reader.state() == QProcess::NotRunning || reader.waitForFinished(30000));
        const QByteArray pdf = test::ReadAll(read);
        QVERIFY(QFile::remove(read));
        QVERIFY(pdf.startsWith("%PDF") && pdf.trimmed().endsWith("%%EOF"));
        QVERIFY(QFileInfo::exists(fifo) && !QFileInfo(fifo).isFile());
        QCOMPARE(Leftovers(dir, {QStringLiteral("f.txt")}), QStringList());

        const test::CliRun out = Report({flight, QStringLiteral("/dev/stdout")});
        QVERIFY2(out.exitCode == 0, out.err.constData());
        QVERIFY(out.out.startsWith("%PDF") && out.out.trimmed().endsWith("%%EOF"));
#endif
    }

    // korvel-report draws beside korvel-cli. A copy of the two whose Qt finds no platform plugin says
    // so in words, exit 1 (not a silent abort); without korvel-report beside it, korvel-cli says that.
    void drawingProgramMissingOrBroken()
    {
#if !defined(Q_OS_LINUX)
        QSKIP("copies the programs with a qt.conf that hides Qt's plugins");
#else
        QTemporaryDir dir;
        const QString good = test::WriteFile(dir, QStringLiteral("good.txt"), test::MakeFlight({}));
        const QString bin = dir.filePath(QStringLiteral("bin"));
        QVERIFY(QDir().mkpath(bin));
        for (const QString name : {QStringLiteral("korvel-cli"), QStringLiteral("korvel-report")})
            QVERIFY(QFile::copy(test::BinDir() + QLatin1Char('/') + name, bin + QLatin1Char('/') + name));
        test::WriteFile(dir, QStringLiteral("bin/qt.conf"), "[Paths]\nPlugins=nowhere\n");
        const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
        const auto run = [&] {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove(QStringLiteral("QT_PLUGIN_PATH"));
            p.setProcessEnvironment(env);
            p.start(bin + QStringLiteral("/korvel-cli"), {QStringLiteral("report"), good, pdf});
            p.waitForFinished(60000);
            return std::pair{p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
        };
        auto [status, err] = run();
        QCOMPARE(status, 1);
        QVERIFY2(err.contains(QStringLiteral("platform plugin could not be loaded")), qPrintable(err));
        QVERIFY(!QFile::exists(pdf));
        QVERIFY(QFile::remove(bin + QStringLiteral("/korvel-report")));
        std::tie(status, err) = run();
        QCOMPARE(status, 1);
        QVERIFY2(err.contains(QStringLiteral("korvel-report is missing")), qPrintable(err));
#endif
    }
};

QTEST_GUILESS_MAIN(TestCliReport)
#include "test_cli_report.moc"
