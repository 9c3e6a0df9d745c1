// The reports as the windows write them (several flights into one PDF, a page each, with progress
// and Cancel), read back through pdfinfo and pdftotext.

#include "core/library/FlightLibrary.h"
#include "gui/common/ReportCommands.h"
#include "paint/ReportWriter.h"
#include "support/FlightPlans.h"
#include "support/TestSupport.h"
#include "support/WindowSupport.h"

#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

#include <QtTest>

using namespace korvel;

namespace {

} // namespace

class TestReportPages : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!korvel::test::HaveLinuxTool(QStringLiteral("pdftotext")))
            QSKIP("poppler-utils (pdftotext, pdfinfo) is not installed");
    }

    void pageEachWithProgressAndCancel()
    {
        QTemporaryDir dir;
        std::vector<ReportFlight> flights;
        for (int i = 0; i < 3; ++i) {
            test::FlightPlan plan;
            plan.start = QDateTime(QDate(2026, 4, 1 + i), QTime(10, 0, 0));
            plan.scale = 0.3;
            const QString path = test::WriteFile(dir, QStringLiteral("f%1.txt").arg(i), test::MakeFlight(plan));
            flights.push_back({path, QString(), i == 1 ? std::optional<QString>(QStringLiteral("G-ABCD")) : std::nullopt,
                               QString(), 0});
        }
        const QString pdf = dir.filePath(QStringLiteral("three.pdf"));
        QList<int> seen;
        QString error;
        QVERIFY2(WriteFlightReports(flights, pdf, {}, &error, [&](int done) {
                     seen << done;
                     return true;
                 }),
                 qPrintable(error));
        QCOMPARE(seen, QList<int>({1, 2, 3}));
        QVERIFY(QRegularExpression(QStringLiteral("Pages:\\s+3\\n"))
                    .match(korvel::test::LinuxTool(QStringLiteral("pdfinfo"), {pdf}))
                    .hasMatch());
        const QString text =
            korvel::test::LinuxTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        const QStringList pages = text.split(QLatin1Char('\f'), Qt::SkipEmptyParts);
        QVERIFY(pages.size() >= 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(pages[i].contains(QStringLiteral("f%1.txt").arg(i)));
            QVERIFY(pages[i].contains(QStringLiteral("2026-04-0%1").arg(1 + i)));
            QCOMPARE(pages[i].contains(QStringLiteral("G-ABCD")), i == 1);
        }

        // Cancelled after the first page: the old PDF stays as it was, and nothing else is left.
        const QByteArray before = test::ReadAll(pdf);
        QVERIFY(!WriteFlightReports(flights, pdf, {}, &error, [](int done) { return done < 1; }));
        QVERIFY(error.isEmpty());
        QCOMPARE(test::ReadAll(pdf), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);

        // A flight that is no flight among them: its reason, and no PDF.
        flights.push_back({test::WriteFile(dir, QStringLiteral("cal.txt"), "CAL\r\n"), QString(), std::nullopt, QString(), 0});
        const QString other = dir.filePath(QStringLiteral("other.pdf"));
        QVERIFY(!WriteFlightReports(flights, other, {}, &error));
        QVERIFY(error.contains(QStringLiteral("cal.txt")));
        QVERIFY(!QFile::exists(other));
    }

    // The windows' commands: the library's selected flights with their aircraft, Cancel on the
    // progress bar leaving no PDF, the report card, a flight that is no flight told to the user.
    void windowCommands()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("lib"));
        QList<qint64> ids;
        {
            FlightLibrary library(folder);
            for (int i = 0; i < 3; ++i) {
                test::FlightPlan plan;
                plan.start = QDateTime(QDate(2026, 5, 1 + i), QTime(8, 0, 0));
                plan.scale = 0.2;
                const QString path = test::WriteFile(dir, QStringLiteral("may%1.txt").arg(i + 1), test::MakeFlight(plan));
                ids << library.importFile(path).id;
            }
            library.assign(ids, QStringLiteral("N123AB"));
        }
        test::Front front;
        QWidget parent;
        FlightLibrary library(folder, FlightLibrary::Opening::Existing);
        const std::vector<ReportFlight> flights = LibraryReportFlights(library, ids + QList<qint64>{99});
        QCOMPARE(flights.size(), size_t(3));

        const QString pdf = dir.filePath(QStringLiteral("may.pdf"));
        front.files.answers = {pdf};
        QTimer::singleShot(0, &parent, [&] {
            if (auto *progress = parent.findChild<QProgressDialog *>(QStringLiteral("dlgReportProgress")))
                progress->cancel();
        });
        QVERIFY(!SaveReportsCommand(front.context(), &parent, flights));
        QVERIFY(!QFile::exists(pdf));
        QVERIFY(front.ui.messages.isEmpty());

        front.files.answers = {pdf};
        QVERIFY(SaveReportsCommand(front.context(), &parent, flights));
        QCOMPARE(front.files.requests.last().filter, QStringLiteral("*.pdf"));
        QVERIFY(QRegularExpression(QStringLiteral("Pages:\\s+3\\n"))
                    .match(korvel::test::LinuxTool(QStringLiteral("pdfinfo"), {pdf}))
                    .hasMatch());
        const QString text =
            korvel::test::LinuxTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QCOMPARE(text.count(QStringLiteral("N123AB")), 3);
        QVERIFY(text.contains(QStringLiteral("may2.txt")));

        const QString card = dir.filePath(QStringLiteral("card.pdf"));
        front.files.answers = {card};
        const auto readCard = [&](const QString &aircraft) {
            return [&folder, aircraft](QString *error) { return ReadReportCard(folder, aircraft, 25, error); };
        };
        QVERIFY(SaveReportCardCommand(front.context(), QStringLiteral("N123AB"), readCard(QStringLiteral("N123AB"))));
        QVERIFY(korvel::test::LinuxTool(QStringLiteral("pdftotext"), {card, QStringLiteral("-")})
                    .contains(QStringLiteral("Report card")));
        // A card that cannot be read is said, and no file is left.
        QFile::remove(card);
        front.files.answers = {card};
        QVERIFY(!SaveReportCardCommand(front.context(), QStringLiteral("G-NONE"), readCard(QStringLiteral("G-NONE"))));
        QVERIFY(!QFile::exists(card));
        QCOMPARE(front.ui.messages.size(), 1);
        QVERIFY(front.ui.messages.last().text.contains(QStringLiteral("no flight of aircraft G-NONE")));
        front.ui.messages.clear();

        const QString cal = test::WriteFile(dir, QStringLiteral("cal.txt"), "CAL\r\n");
        front.files.answers = {dir.filePath(QStringLiteral("cal.pdf"))};
        QVERIFY(!SaveReportCommand(front.context(), {cal, QString(), std::nullopt, QString(), 0}));
        QCOMPARE(front.ui.messages.size(), 1);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("cal.pdf"))));
    }
};

QTEST_MAIN(TestReportPages)
#include "test_report_pages.moc"
