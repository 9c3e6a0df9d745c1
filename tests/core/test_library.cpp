// The flight library in process: import and its outcomes, the stored figures against the summary,
// trend, export and remove, and libraries it must refuse without touching them.

#include "core/flight/Findings.h"
#include "core/flight/StartMarker.h"
#include "core/flight/FlightSummary.h"
#include "core/flight/FlightFields.h"
#include "core/library/FlightLibrary.h"
#include "core/library/Sha256.h"
#include "support/FlightPlans.h"
#include "support/TestSupport.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using namespace korvel;

class TestLibrary : public QObject {
    Q_OBJECT
private slots:
    void importListTrendExportRemove()
    {
        QTemporaryDir dir;
        test::FlightPlan late;
        late.start = QDateTime(QDate(2026, 5, 2), QTime(23, 50));
        late.anomalies = {{test::Anomaly::EgtProbeDead, 2, 1000, 1100}};
        test::FlightPlan early;
        early.start = QDateTime(QDate(2026, 4, 1), QTime(8, 0));
        early.step = 6;
        early.seed = 2;
        const QByteArray lateBytes = test::MakeFlight(late);
        for (const char *sub : {"in/a", "in/b", "in/c"})
            QDir(dir.path()).mkpath(QLatin1String(sub));
        const QString lateFile = test::WriteFile(dir, QStringLiteral("in/b/late.txt"), lateBytes);
        const QString earlyFile = test::WriteFile(dir, QStringLiteral("in/a/early.txt"), test::MakeFlight(early));
        test::WriteFile(dir, QStringLiteral("in/a/cal.txt"), "junk\r\nlocal CAL\r\n04/01/26 08:00:00,1\r\nEND\r\n");
        test::WriteFile(dir, QStringLiteral("in/c/empty.txt"), "");
        test::WriteFile(dir, QStringLiteral("in/c/words.txt"), "FLIGHT\r\nno records here\r\n");
        test::WriteFile(dir, QStringLiteral("in/c/badtime.txt"), "FLIGHT\r\n04/01/26 xx\r\n");

        const QString folder = dir.filePath(QStringLiteral("lib"));
        FlightLibrary library(folder);
        const QStringList files = FlightLibrary::CollectFiles({dir.filePath(QStringLiteral("in")), lateFile});
        QCOMPARE(files.size(), 7);
        QVERIFY(files[0].endsWith(QLatin1String("a/cal.txt")) && files[1] == earlyFile);
        QStringList outcomes;
        for (const QString &f : files) {
            const ImportResult r = library.importFile(f);
            outcomes << QStringLiteral("%1 %2 %3").arg(QFileInfo(f).fileName()).arg(int(r.outcome)).arg(r.id) +
                            (r.reason.isEmpty() ? QString() : QLatin1Char(' ') + r.reason);
        }
        QCOMPARE(outcomes, QStringList({QStringLiteral("cal.txt 2 0 a calibration record, not a flight"),
                                        QStringLiteral("early.txt 0 1"), QStringLiteral("late.txt 0 2"),
                                        QStringLiteral("badtime.txt 2 0 not a flight file: no time of day in "
                                                       "columns 10 to 17 of line 2"),
                                        QStringLiteral("empty.txt 2 0 empty file"),
                                        QStringLiteral("words.txt 2 0 no flight records in it"),
                                        QStringLiteral("late.txt 1 2")}));

        // Figures as the summary and the findings have them, read back without the file.
        const FlightData data = ParseFlightData(lateBytes);
        const FlightSummary summary = SummarizeFlight(data);
        QFile::remove(lateFile);
        const auto flights = library.list();
        QCOMPARE(flights.size(), size_t(2));
        QCOMPARE(flights[0].id, 1); // earlier date first
        const LibraryFlight &f = flights[1];
        QCOMPARE(f.first, QStringLiteral("2026-05-02T23:50:00"));
        QCOMPARE(f.last, QStringLiteral("2026-05-03T01:08:00"));
        QCOMPARE(f.records, summary.records);
        QCOMPARE(*f.durationSeconds, *summary.durationSeconds);
        // The dead probe's readings of 0 count in no figure of the library, while the summary keeps them.
        double spread = 0;
        for (int k = 0; k < data.FlightRecords.records(); ++k) {
            double lo = 1e9, hi = -1e9;
            for (int c = 0; c < 6; ++c) {
                const double v = FieldReading(data.FlightRecords[k].Values(16 + c));
                if (v > 0)
                    lo = std::min(lo, v), hi = std::max(hi, v);
            }
            spread = std::max(spread, hi - lo);
        }
        QCOMPARE(*f.egtSpreadMax, spread);
        QVERIFY(summary.egtSpread->value > spread + 500);
        QCOMPARE(f.findings, int(FindFlightFindings(data).size()));
        QCOMPARE(f.findings, 1);
        double hottest = 0;
        int cylinder = 0;
        for (int c = 0; c < 6; ++c)
            if (summary.cylinders[size_t(c)].cht->value > hottest)
                hottest = summary.cylinders[size_t(c)].cht->value, cylinder = c + 1;
        QCOMPARE(*f.chtMax, hottest);
        QCOMPARE(*f.chtCylinder, cylinder);
        QCOMPARE(f.source, QFileInfo(lateFile).absoluteFilePath());

        const auto trend = library.trend(QStringLiteral("field16.mean"));
        QCOMPARE(trend.size(), size_t(2));
        QCOMPARE(trend[1].id, 2);
        QCOMPARE(summary.fields[16].field, 16);
        QCOMPARE(*trend[1].value, summary.fields[16].mean);
        QVERIFY_THROWS_EXCEPTION(LibraryError, library.trend(QStringLiteral("field28.min")));

        // The copy is byte for byte what came in, and outlives the owner's file.
        const QString out = dir.filePath(QStringLiteral("out.txt"));
        QVERIFY(library.exportFlight(2, out));
        QCOMPARE(test::ReadAll(out), lateBytes);
        QVERIFY(!library.exportFlight(7, out));

        QVERIFY(library.remove(1));
        QVERIFY(!library.remove(1));
        QCOMPARE(library.list().size(), size_t(1));
        QCOMPARE(QDir(folder + QStringLiteral("/flights")).entryList(QDir::Files).size(), 1);
        // Ids are never given twice.
        QCOMPARE(library.importFile(earlyFile).id, 3);

        // A capture held in memory goes in the same way.
        const ImportResult captured = library.importBytes(lateBytes, QStringLiteral("capture"));
        QCOMPARE(captured.outcome, ImportResult::Known);
    }

    // A copy is written as its file is read, except for a file the size of a flight already kept:
    // that one is copied, and checked again, only when it proves new or its copy has gone. Parts a
    // killed import left behind go; one still being written stays.
    void copiesWhateverTheRoad()
    {
        QTemporaryDir dir;
        test::FlightPlan plan;
        const QByteArray first = test::MakeFlight(plan);
        QByteArray twin = first; // the same size, one reading changed
        const qsizetype at = twin.indexOf(",750,");
        QVERIFY(at > 0);
        twin[at + 1] = '8';
        const QString firstFile = test::WriteFile(dir, QStringLiteral("first.txt"), first);
        const QString twinFile = test::WriteFile(dir, QStringLiteral("twin.txt"), twin);

        const QString folder = dir.filePath(QStringLiteral("lib"));
        const QString flights = folder + QStringLiteral("/flights/");
        QDir().mkpath(flights);
        const QString stale = test::WriteFile(dir, QStringLiteral("lib/flights/import-1-1.part"), "half a flight");
        const QString fresh = test::WriteFile(dir, QStringLiteral("lib/flights/import-2-1.part"), "being written");
        {
            QFile part(stale);
            QVERIFY(part.open(QIODevice::ReadWrite));
            QVERIFY(part.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }
        FlightLibrary library(folder);
        QCOMPARE(library.importFile(firstFile).outcome, ImportResult::Added);
        QVERIFY(!QFile::exists(stale));
        QVERIFY(QFile::exists(fresh));
        QFile::remove(fresh);

        const ImportResult twinResult = library.importFile(twinFile);
        QCOMPARE(twinResult.outcome, ImportResult::Added);
        const QString out = dir.filePath(QStringLiteral("out.txt"));
        QVERIFY(library.exportFlight(twinResult.id, out));
        QCOMPARE(test::ReadAll(out), twin);

        // Records only past the first few MiB: not copied as read, but copied whole once a flight.
        QByteArray late;
        while (late.size() < (5 << 20))
            late += "no record in this line, only words of a long preamble\r\n";
        plan.seed = 3;
        late += test::MakeFlight(plan);
        const ImportResult lateResult = library.importFile(test::WriteFile(dir, QStringLiteral("late.txt"), late));
        QCOMPARE(lateResult.outcome, ImportResult::Added);
        QVERIFY(library.exportFlight(lateResult.id, out));
        QVERIFY(test::ReadAll(out) == late);

        // A kept flight whose copy was lost is made whole by importing it again.
        const QString firstCopy = *library.copyPath(1);
        QVERIFY(QFile::remove(firstCopy));
        const ImportResult again = library.importFile(firstFile);
        QCOMPARE(again.outcome, ImportResult::Known);
        QCOMPARE(test::ReadAll(firstCopy), first);
        QCOMPARE(QDir(flights).entryList(QDir::Files).size(), 3); // three copies, no part left
    }

    // A flight's name is the SHA-256 of its bytes whatever the pieces it is read in, the empty file's
    // and one past a block's length included; the hash starts again once read.
    void hashesInPieces()
    {
        QByteArray bytes;
        for (unsigned i = 0; i < 300000; ++i)
            bytes.append(char(i * 7919u % 251u));
        Sha256 hash;
        for (const qsizetype size : {0, 1, 55, 56, 64, 65, 4096, 300000}) {
            const QByteArray part = bytes.first(size);
            const QString expected = QString::fromLatin1(QCryptographicHash::hash(part, QCryptographicHash::Sha256).toHex());
            for (const qsizetype piece : {qsizetype(1), qsizetype(63), qsizetype(1) << 20}) {
                for (qsizetype from = 0; from < size; from += piece)
                    hash.add(part.constData() + from, std::size_t(std::min(piece, size - from)));
                QCOMPARE(hash.hex(), expected);
            }
        }
    }

    // An import stopped part-way keeps what it took, whole, and leaves no copy of a file it did not.
    void stoppedImport()
    {
        QTemporaryDir dir;
        QStringList files;
        for (int i = 0; i < 12; ++i) {
            test::FlightPlan plan;
            plan.seed = unsigned(i + 1);
            plan.scale = 0.2;
            files << test::WriteFile(dir, QStringLiteral("f%1.txt").arg(i), test::MakeFlight(plan));
        }
        const QString folder = dir.filePath(QStringLiteral("lib"));
        FlightLibrary library(folder);
        int asked = 0;
        QList<ImportResult> results;
        const bool whole = library.importFiles(
            files, [&](const ImportResult &r) { return results << r, true; }, [&] { return asked++ >= 3; });
        QVERIFY(!whole);
        QCOMPARE(results.size(), 3);
        QCOMPARE(library.list().size(), size_t(3));
        QCOMPARE(QDir(folder + QStringLiteral("/flights")).entryList(QDir::Files).size(), 3);

        // Importing again completes it.
        QVERIFY(library.importFiles(files, [](const ImportResult &) { return true; }));
        QCOMPARE(library.list().size(), size_t(12));
        QCOMPARE(QDir(folder + QStringLiteral("/flights")).entryList(QDir::Files).size(), 12);
    }

    // The first start marker decides, however the bytes come in pieces.
    void calibrationMarkerInPieces()
    {
        const QList<QPair<QByteArray, bool>> texts = {
            {"FLIGHT 0002\r\nCAL\r\n", false},  {"junk\r\nlocal cal\r\nFLIGHT\r\n", true},
            {"xxFlIgHt then CAL", false},        {"no marker at all", false},
            {"flighCAL FLIGHT", true},           {"FLIGH", false},
            {"ccaCAFLIGHTCAL", false},           {"CA", false},
        };
        for (const auto &[text, calibration] : texts) {
            StartMarker whole;
            whole.add(text.constData(), std::size_t(text.size()));
            QVERIFY2(whole.calibration() == calibration, text.constData());
            for (qsizetype piece = 1; piece <= text.size(); ++piece)
                for (qsizetype offset = 0; offset < piece; ++offset) {
                    StartMarker marker;
                    for (qsizetype from = 0; from < text.size();) {
                        const qsizetype end = std::min(text.size(), from == 0 ? offset + 1 : from + piece);
                        marker.add(text.constData() + from, std::size_t(end - from));
                        from = end;
                    }
                    QVERIFY2(marker.calibration() == calibration,
                             qPrintable(QStringLiteral("%1 in pieces of %2").arg(QLatin1String(text)).arg(piece)));
                }
        }
    }

    // A file that is no library, a library of a newer program, a folder that cannot be made: each
    // refused with its reason, and nothing changed.
    void refusals()
    {
        QTemporaryDir dir;
        const QString text = dir.filePath(QStringLiteral("t"));
        QDir().mkpath(text);
        test::WriteFile(dir, QStringLiteral("t/library.sqlite"), "my notes\n");
        try {
            FlightLibrary library(text);
            QFAIL("opened a text file as a library");
        } catch (const LibraryError &error) {
            QVERIFY2(error.message().contains(QLatin1String("is not a flight library")), qPrintable(error.message()));
        }
        QCOMPARE(test::ReadAll(text + QStringLiteral("/library.sqlite")), QByteArray("my notes\n"));

        const QString newer = dir.filePath(QStringLiteral("n"));
        { FlightLibrary library(newer); }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
            db.setDatabaseName(newer + QStringLiteral("/library.sqlite"));
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("UPDATE library_info SET schema_version = 9")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("raw"));
        try {
            FlightLibrary library(newer);
            QFAIL("opened a newer library");
        } catch (const LibraryError &error) {
            QVERIFY2(error.message().contains(QLatin1String("newer version")), qPrintable(error.message()));
        }

        test::WriteFile(dir, QStringLiteral("file"), "x");
        QVERIFY_THROWS_EXCEPTION(LibraryError, FlightLibrary(dir.filePath(QStringLiteral("file/lib"))));
    }
};

QTEST_GUILESS_MAIN(TestLibrary)
#include "test_library.moc"
