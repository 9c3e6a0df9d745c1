// The graph window's "Flight Summary..." and "Export CSV...", offscreen through object names.

#include "core/flight/FlightCsv.h"
#include "gui/graphs/FrmGraph.h"
#include "gui/graphs/FrmSummary.h"
#include "support/SummaryFlights.h"
#include "support/TestSupport.h"
#include "support/WindowSupport.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using namespace korvel;
using namespace korvel::test;

namespace {

QString Cell(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

QAction *Command(const FrmGraph &window, const char *name)
{
    return window.findChild<QAction *>(QLatin1String(name));
}

} // namespace

class TestFrmSummary : public QObject {
    Q_OBJECT
private slots:
    // Both commands say so instead of showing empty tables or asking for a file.
    void noFlightLoaded()
    {
        IsolatedSettings settings;
        Front front;
        front.files.answers << QStringLiteral("/tmp/never.csv");
        FrmGraph window(front.context());

        // Every graph's context menu carries them.
        for (int g = 1; g <= 3; ++g) {
            QStringList texts;
            for (const QAction *action : window.graphView(g)->actions())
                texts << action->text();
            QCOMPARE(texts, (QStringList{QStringLiteral("Flight Summary..."), QStringLiteral("Export CSV..."),
                                         QStringLiteral("Analysis View...")}));
        }

        Command(window, "mnuFlightSummary")->trigger();
        Command(window, "mnuExportCsv")->trigger();
        QVERIFY(!window.findChild<FrmSummary *>());
        QVERIFY(front.files.requests.isEmpty());
        QCOMPARE(front.ui.messages.size(), 2);
        for (const RecordingUi::Message &m : front.ui.messages) {
            QCOMPARE(m.caption, QStringLiteral("Korvel Engine Monitor"));
            QCOMPARE(m.text, NoFlightLoadedText());
        }
    }

    void summaryDialog()
    {
        IsolatedSettings settings;
        Front front;
        AppState &state = front.state;
        RecordingUi &ui = front.ui;
        state.flightData = ParseFlightData(MidnightFlight());
        FrmGraph window(front.context());

        Command(window, "mnuFlightSummary")->trigger();
        auto *dialog = window.findChild<FrmSummary *>(QStringLiteral("FrmSummary"));
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(ui.messages.isEmpty());

        const auto *overview = dialog->findChild<QTableWidget *>(QStringLiteral("tblOverview"));
        QCOMPARE(Cell(overview, 0, 0), QStringLiteral("3"));
        QCOMPARE(Cell(overview, 1, 0), QStringLiteral("2025-12-31 23:59:50"));
        QCOMPARE(Cell(overview, 3, 0), QStringLiteral("0:00:12"));

        const auto *cylinders = dialog->findChild<QTableWidget *>(QStringLiteral("tblCylinders"));
        QCOMPARE(cylinders->rowCount(), 6);
        QCOMPARE(Cell(cylinders, 0, 0), QStringLiteral("1400"));
        QCOMPARE(Cell(cylinders, 0, 1), QStringLiteral("23:59:56"));
        QCOMPARE(Cell(cylinders, 0, 2), QStringLiteral("400"));
        QCOMPARE(Cell(cylinders, 2, 0), QStringLiteral("-")); // a cylinder with no number
        QCOMPARE(Cell(cylinders, 2, 1), QString());
        // The hottest cylinder head stands out.
        QVERIFY(cylinders->item(0, 2)->font().bold());
        QVERIFY(!cylinders->item(1, 2)->font().bold());

        const auto *spread = dialog->findChild<QTableWidget *>(QStringLiteral("tblSpread"));
        QCOMPARE(Cell(spread, 0, 0), QStringLiteral("150"));
        QCOMPARE(Cell(spread, 1, 1), QStringLiteral("00:00:02"));

        const auto *fields = dialog->findChild<QTableWidget *>(QStringLiteral("tblFields"));
        QCOMPARE(fields->rowCount(), 9);
        // Named as the library names them, in the view's units: no raw "fieldN" beside "OIL Temp".
        QCOMPARE(Cell(fields, 3, 0), QStringLiteral("EGT 1 (°F)"));
        QCOMPARE(Cell(fields, 3, 4), QStringLiteral("1366.7"));
        for (int row = 0; row < fields->rowCount(); ++row)
            QVERIFY2(!Cell(fields, row, 0).startsWith(QLatin1String("field")), qPrintable(Cell(fields, row, 0)));

        // The limit recomputes the spans as it is typed; without one there is no table.
        auto *limit = dialog->findChild<QLineEdit *>(QStringLiteral("txtChtLimit"));
        const auto *over = dialog->findChild<QTableWidget *>(QStringLiteral("tblChtOver"));
        const auto *note = dialog->findChild<QLabel *>(QStringLiteral("lblChtOver"));
        QVERIFY(!over->isVisibleTo(dialog));
        limit->setText(QStringLiteral("390"));
        QVERIFY(over->isVisibleTo(dialog));
        QCOMPARE(over->rowCount(), 2);
        QCOMPARE(Cell(over, 0, 0), QStringLiteral("CYL 1"));
        QCOMPARE(Cell(over, 0, 2), QStringLiteral("00:00:02"));
        QCOMPARE(Cell(over, 1, 3), QStringLiteral("395"));
        QCOMPARE(note->text(), QStringLiteral("2 spans at or above 390:"));
        limit->setText(QStringLiteral("401"));
        QVERIFY(!over->isVisibleTo(dialog));
        QCOMPARE(note->text(), QStringLiteral("No cylinder head reached 401."));
        limit->setText(QStringLiteral("400"));
        QCOMPARE(over->rowCount(), 1);

        // Copy All puts every table on the clipboard, tab-separated.
        dialog->findChild<QPushButton *>(QStringLiteral("cmdCopyAll"))->click();
        const QString copied = QGuiApplication::clipboard()->text();
        QCOMPARE(copied, dialog->tablesAsText());
        QVERIFY2(copied.contains(QStringLiteral("\tPeak EGT\tat\tPeak CHT\tat\n"
                                                "CYL 1\t1400\t23:59:56\t400\t00:00:02\n")),
                 qPrintable(copied));
        QVERIFY(copied.contains(QStringLiteral("CHT at or above the limit 400\nCylinder\tFrom\tTo\tPeak\n"
                                               "CYL 1\t00:00:02\t00:00:02\t400\n")));
        QVERIFY(copied.contains(QStringLiteral("EGT\t150\t23:59:50\n")));

        // A new load and a second summary: the old dialog gives way to one of the new flight.
        state.flightData = ParseFlightData("FLIGHT\r\n" + DataLine("06/14/26 10:00:00", {{22, "350"}}));
        Command(window, "mnuFlightSummary")->trigger();
        QVERIFY(!dialog->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const QList<FrmSummary *> open = window.findChildren<FrmSummary *>();
        QCOMPARE(open.size(), 1);
        QCOMPARE(Cell(open.first()->findChild<QTableWidget *>(QStringLiteral("tblOverview")), 0, 0),
                 QStringLiteral("1"));

        // A loaded file without records says so too.
        state.flightData = ParseFlightData("FLIGHT\r\nEND\r\n");
        Command(window, "mnuFlightSummary")->trigger();
        QCOMPARE(ui.messages.size(), 1);
        QCOMPARE(ui.messages.first().text, QStringLiteral("The loaded flight file holds no records."));
    }

    void exportCsv()
    {
        IsolatedSettings settings;
        Front front;
        RecordingUi &ui = front.ui;
        ScriptedFileChooser &files = front.files;
        QTemporaryDir dir;
        front.state.flightData = ParseFlightData(MidnightFlight());
        FrmGraph window(front.context());

        // A cancelled dialog writes nothing.
        Command(window, "mnuExportCsv")->trigger();
        QCOMPARE(files.requests.size(), 1);
        const FileDialogRequest &request = files.requests.first();
        QVERIFY(request.save);
        QCOMPARE(request.title, QStringLiteral("Export CSV"));
        QCOMPARE(request.filter, QStringLiteral("*.csv"));
        QCOMPARE(request.defaultExtension, QStringLiteral("csv"));

        // The same CSV as korvel-cli, replacing what stood there.
        const QString path = WriteFile(dir, QStringLiteral("out.csv"), "old contents that are longer than nothing");
        files.answers << path;
        Command(window, "mnuExportCsv")->trigger();
        QVERIFY(ui.messages.isEmpty());
        std::string expected;
        WriteFlightCsv(front.state.flightData, [&expected](std::string_view piece) {
            expected.append(piece);
            return true;
        });
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray::fromStdString(expected));

        // A folder that does not exist: the user is told, nothing is left behind.
        files.answers << dir.filePath(QStringLiteral("no/such/folder/out.csv"));
        Command(window, "mnuExportCsv")->trigger();
        QCOMPARE(ui.messages.size(), 1);
        QVERIFY(ui.messages.first().text.startsWith(QStringLiteral("The CSV file could not be written to ")));
        QCOMPARE(ui.messages.first().icon, MessageIcon::Exclamation);
    }
};

QTEST_MAIN(TestFrmSummary)
#include "test_frm_summary.moc"
