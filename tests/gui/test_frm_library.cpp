// The flight library window offscreen: import on the worker with progress, the table sorted and
// filtered by date, the trend and its click, double-click loading, export and remove (asked first),
// and the menu that opens it.

#include "gui/library/FrmLibrary.h"
#include "gui/shell/MainOstrel.h"
#include "support/FlightPlans.h"
#include "support/WindowSupport.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include <qcustomplot.h>

using namespace korvel;

namespace {

void MakeFlights(const QTemporaryDir &dir, int count)
{
    QDir(dir.path()).mkpath(QStringLiteral("in"));
    for (int i = 0; i < count; ++i) {
        test::FlightPlan plan;
        plan.seed = unsigned(i + 1);
        plan.scale = 0.2;
        plan.start = QDateTime(QDate(2026, 1, 1).addDays(i * 7), QTime(9, 0));
        if (i == 2)
            plan.anomalies = {{test::Anomaly::ChtHot, 1, 300, 400}};
        test::WriteFile(dir, QStringLiteral("in/%1.txt").arg(i), test::MakeFlight(plan));
    }
    test::WriteFile(dir, QStringLiteral("in/notes.txt"), "not a flight\n");
}

} // namespace

class TestFrmLibrary : public QObject {
    Q_OBJECT
private slots:
    void window()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        MakeFlights(dir, 5);
        test::Front front;
        FrmLibrary window(front.context());
        window.show();
        QCOMPARE(window.folder(), settings.path() + QStringLiteral("/library"));
        auto *table = window.findChild<QTableView *>(QStringLiteral("tblFlights"));
        QVERIFY(table);
        QCOMPARE(table->model()->rowCount(), 0);
        // An empty library's trend says so over the last month, not over 1970.
        auto *plot = window.findChild<QCustomPlot *>(QStringLiteral("plotTrend"));
        auto *note = plot->findChild<QCPItemText *>(QStringLiteral("lblTrendNote"));
        QVERIFY(note && note->visible());
        QVERIFY(note->text().startsWith(QLatin1String("No flight in the library yet")));
        QVERIFY(plot->xAxis->range().contains(double(QDateTime::currentSecsSinceEpoch())));

        QSignalSpy done(&window, &FrmLibrary::importFinished);
        window.importPaths({dir.filePath(QStringLiteral("in"))});
        QVERIFY(window.importing());
        QVERIFY(done.wait(20000));
        QCOMPARE(table->model()->rowCount(), 5);
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("lblMessage"))->text().contains(
            QLatin1String("5 added, 0 already in the library, 1 skipped")));

        // Sorted by findings, the flight with the hot head comes last.
        table->sortByColumn(7, Qt::AscendingOrder);
        QVERIFY(table->model()->index(4, 7).data().toInt() > table->model()->index(3, 7).data().toInt());
        QCOMPARE(table->model()->index(4, 0).data(Qt::UserRole + 1).toInt(), 3);

        // The date filter keeps January's first two weeks.
        window.findChild<QDateEdit *>(QStringLiteral("dtFrom"))->setDate(QDate(2026, 1, 1));
        window.findChild<QDateEdit *>(QStringLiteral("dtTo"))->setDate(QDate(2026, 1, 14));
        window.findChild<QCheckBox *>(QStringLiteral("chkDateFilter"))->setChecked(true);
        QCOMPARE(table->model()->rowCount(), 2);
        window.findChild<QCheckBox *>(QStringLiteral("chkDateFilter"))->setChecked(false);
        QCOMPARE(table->model()->rowCount(), 5);

        // A point a flight; a click on one selects its row.
        QVERIFY(!note->visible());
        window.findChild<QComboBox *>(QStringLiteral("cboMeasure"))->setCurrentText(QStringLiteral("findings"));
        QCOMPARE(plot->graph(0)->dataCount(), 5);
        const double hot = plot->graph(0)->data()->at(2)->value;
        QCOMPARE(hot, table->model()->index(4, 7).data().toDouble());
        plot->replot();
        const QPointF at(plot->xAxis->coordToPixel(plot->graph(0)->data()->at(2)->key),
                         plot->yAxis->coordToPixel(hot));
        QTest::mouseClick(plot, Qt::LeftButton, {}, at.toPoint());
        QCOMPARE(window.selectedId(), 3);

        // Double-click: loaded as from disk, its status text included.
        const QModelIndex row = table->selectionModel()->selectedRows().first();
        const QPoint cell = table->visualRect(row).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
        QVERIFY(front.state.flightData.FlightRecordCount.value_or(0) > 100);
        QVERIFY(front.ui.statuses.last().startsWith(QLatin1String("Data File: ")));
        QVERIFY(front.ui.statuses.last().endsWith(QLatin1String(".txt  Loaded for Edit")));

        const QString out = dir.filePath(QStringLiteral("out.txt"));
        front.files.answers = {out};
        window.exportSelected();
        QCOMPARE(test::ReadAll(out), test::ReadAll(dir.filePath(QStringLiteral("in/2.txt"))));

        // Remove asks first: Cancel keeps the flight, OK removes it.
        front.ui.answers = {MessageAnswer::Cancel, MessageAnswer::Ok};
        window.removeSelected();
        QCOMPARE(table->model()->rowCount(), 5);
        QCOMPARE(front.ui.messages.size(), 1);
        QVERIFY(front.ui.messages[0].text.startsWith(QLatin1String("Remove the flight of 2026-01-15 09:00:00")));
        window.removeSelected();
        QCOMPARE(table->model()->rowCount(), 4);
    }

    // A large import can be cancelled and leaves the window usable.
    void cancel()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        MakeFlights(dir, 30);
        test::Front front;
        FrmLibrary window(front.context());
        QSignalSpy done(&window, &FrmLibrary::importFinished);
        window.importPaths({dir.filePath(QStringLiteral("in"))});
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdCancel")), Qt::LeftButton);
        QVERIFY(done.wait(20000));
        QVERIFY(!window.importing());
        const int kept = window.findChild<QTableView *>(QStringLiteral("tblFlights"))->model()->rowCount();
        QVERIFY(kept < 30);
        QVERIFY(window.findChild<QPushButton *>(QStringLiteral("cmdImport"))->isEnabled());
    }

    void menu()
    {
        test::IsolatedSettings settings;
        test::Front front;
        MainOstrel main(front.state, front.ui, front.files);
        auto *item = main.findChild<QAction *>(QStringLiteral("mnuFlightLibrary"));
        QVERIFY(item);
        QCOMPARE(item->text(), QStringLiteral("Flight Library..."));
        QVERIFY(main.findChild<QMenu *>(QStringLiteral("mnuAnalysis")));
        item->trigger();
        auto *window = main.findChild<FrmLibrary *>(QStringLiteral("FrmLibrary"));
        QVERIFY(window);
        // The library's item comes before the analysis view's.
        const QList<QAction *> items = main.findChild<QMenu *>(QStringLiteral("mnuAnalysis"))->actions();
        QCOMPARE(items.first(), item);
        QCOMPARE(items[1]->objectName(), QStringLiteral("mnuAnalysisView"));
    }
};

QTEST_MAIN(TestFrmLibrary)
#include "test_frm_library.moc"
