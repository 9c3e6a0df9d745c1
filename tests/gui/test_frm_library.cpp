// The flight library window offscreen: import on the worker with progress and the files it skipped,
// the table sorted and filtered by date, the trend following the filter and the selection both
// ways, double-click loading, export and remove (asked first), reading the library again, errors
// said in words, the library chosen (a folder or a server the tests start), and the menu that
// opens it.

#include "core/settings/Settings.h"
#include "gui/capture/FrmCapture.h"
#include "gui/common/LibrarySession.h"
#include "gui/library/FrmLibrary.h"
#include "gui/library/LibraryLocationDialog.h"
#include "gui/shell/MainOstrel.h"
#include "gui/shell/StartPanel.h"
#include "support/FlightPlans.h"
#include "support/PgServer.h"
#include "support/ScriptedLine.h"
#include "support/WindowSupport.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

#include <qcustomplot.h>

using namespace korvel;

namespace {

void MakeFlights(const QTemporaryDir &dir, int count, const QString &sub = QStringLiteral("in"))
{
    QDir(dir.path()).mkpath(sub);
    for (int i = 0; i < count; ++i) {
        test::FlightPlan plan;
        plan.seed = unsigned(i + 1);
        plan.scale = 0.15 + 0.01 * (i % 10);
        plan.start = QDateTime(QDate(2026, 1, 1).addDays(i * 7), QTime(9, 0));
        if (i == 2)
            plan.anomalies = {{test::Anomaly::ChtHot, 1, 300, 400}};
        test::WriteFile(dir, QStringLiteral("%1/%2.txt").arg(sub).arg(i), test::MakeFlight(plan));
    }
    test::WriteFile(dir, sub + QStringLiteral("/notes.txt"), "not a flight\n");
}

// Short flights in a folder of their own, a day apart from firstDay, seeds from firstSeed.
void MakeMoreFlights(const QTemporaryDir &dir, const QString &sub, int count, unsigned firstSeed, QDate firstDay)
{
    QDir(dir.path()).mkpath(sub);
    for (int i = 0; i < count; ++i) {
        test::FlightPlan plan;
        plan.seed = firstSeed + unsigned(i);
        plan.scale = 0.1;
        plan.start = QDateTime(firstDay.addDays(i), QTime(10, 0));
        test::WriteFile(dir, QStringLiteral("%1/%2.txt").arg(sub).arg(i), test::MakeFlight(plan));
    }
}

QString MessageOf(const FrmLibrary &window)
{
    return window.findChild<QLabel *>(QStringLiteral("lblMessage"))->text();
}

// What the location dialog's Test found for text.
QString Tested(LibraryLocationDialog &dialog, const QString &text)
{
    dialog.findChild<QLineEdit *>(QStringLiteral("libraryLocationEdit"))->setText(text);
    QSignalSpy tested(&dialog, &LibraryLocationDialog::tested);
    dialog.findChild<QPushButton *>(QStringLiteral("testLibraryButton"))->click();
    if (!tested.wait(20000))
        return QStringLiteral("(no answer)");
    return dialog.findChild<QLabel *>(QStringLiteral("libraryTestResult"))->text();
}

// Library... in the window, answered with text, then OK or Cancel.
void ChooseLocation(FrmLibrary &window, const QString &text, bool ok)
{
    QTimer::singleShot(0, &window, [text, ok] {
        auto *dialog = qobject_cast<LibraryLocationDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->objectName(), QStringLiteral("libraryLocationDialog"));
        dialog->findChild<QLineEdit *>(QStringLiteral("libraryLocationEdit"))->setText(text);
        dialog->findChild<QDialogButtonBox *>()->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    });
    window.findChild<QPushButton *>(QStringLiteral("libraryButton"))->click();
}

QString Caption(const QString &name)
{
    return QStringLiteral("Flight Library - ") + name;
}

// Imports the folder and waits for the import to end.
bool Import(FrmLibrary &window, const QString &path)
{
    QSignalSpy done(&window, &FrmLibrary::importFinished);
    window.importPaths({path});
    return done.wait(30000);
}

// The pixel of a trend point.
QPoint PixelOf(QCustomPlot *plot, int k)
{
    plot->replot();
    return QPointF(plot->xAxis->coordToPixel(plot->graph(0)->data()->at(k)->key),
                   plot->yAxis->coordToPixel(plot->graph(0)->data()->at(k)->value))
        .toPoint();
}

} // namespace

// Set in the run of this program that plays a PC without Qt's PostgreSQL driver.
const char kNoSqlDrivers[] = "KORVEL_TEST_NO_SQL_DRIVERS";

class TestFrmLibrary : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Qt then finds no SQL driver: none has been looked for yet in a run that starts here.
        if (qEnvironmentVariableIsSet(kNoSqlDrivers))
            QCoreApplication::setLibraryPaths({m_noPlugins.path()});
    }

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
        // The list is read again off the window's thread once the import is done.
        QTRY_COMPARE(table->model()->rowCount(), 5);
        QVERIFY(MessageOf(window).contains(QLatin1String("5 added, 0 already in the library, 1 skipped")));
        // At the window's own size every column is in view, the source last.
        const int last = table->model()->columnCount() - 1;
        QCOMPARE(table->model()->headerData(last, Qt::Horizontal).toString(), QStringLiteral("Source"));
        const QHeaderView *header = table->horizontalHeader();
        QVERIFY2(header->sectionViewportPosition(last) + header->sectionSize(last) <= table->viewport()->width(),
                 qPrintable(QStringLiteral("%1 + %2 > %3")
                                .arg(header->sectionViewportPosition(last))
                                .arg(header->sectionSize(last))
                                .arg(table->viewport()->width())));
        // The file it skipped is named with its reason.
        QCOMPARE(window.skippedFiles().size(), size_t(1));
        auto *showSkipped = window.findChild<QPushButton *>(QStringLiteral("cmdSkipped"));
        QVERIFY(showSkipped->isVisible());
        showSkipped->click();
        auto *skipped = window.findChild<QTableWidget *>(QStringLiteral("tblSkipped"));
        QVERIFY(skipped && skipped->window()->isVisible());
        QCOMPARE(skipped->rowCount(), 1);
        QVERIFY(skipped->item(0, 0)->text().endsWith(QLatin1String("notes.txt")));
        QVERIFY(!skipped->item(0, 1)->text().isEmpty());
        QCOMPARE(skipped->item(0, 1)->text(), window.skippedFiles()[0].reason);
        skipped->window()->close();

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
        // A year typed into the filter takes, and filters once it is whole.
        auto *to = window.findChild<QDateEdit *>(QStringLiteral("dtTo"));
        auto *toLine = to->findChild<QLineEdit *>();
        QTest::mouseClick(toLine, Qt::LeftButton, {}, QPoint(12, toLine->height() / 2));
        QCoreApplication::processEvents();
        QTest::keyClicks(toLine, QStringLiteral("2025"));
        QTest::keyClick(toLine, Qt::Key_Return);
        QCOMPARE(to->date(), QDate(2025, 1, 14));
        QVERIFY(window.findChild<QCheckBox *>(QStringLiteral("chkDateFilter"))->isChecked());
        QCOMPARE(table->model()->rowCount(), 0);
        window.findChild<QCheckBox *>(QStringLiteral("chkDateFilter"))->setChecked(false);
        QCOMPARE(table->model()->rowCount(), 5);

        // A point a flight; a click on one selects its row.
        QVERIFY(!note->visible());
        window.findChild<QComboBox *>(QStringLiteral("cboMeasure"))->setCurrentText(QStringLiteral("Findings"));
        QCOMPARE(plot->graph(0)->dataCount(), 5);
        const double hot = plot->graph(0)->data()->at(2)->value;
        QCOMPARE(hot, table->model()->index(4, 7).data().toDouble());
        plot->replot();
        const QPointF at(plot->xAxis->coordToPixel(plot->graph(0)->data()->at(2)->key), plot->yAxis->coordToPixel(hot));
        QTest::mouseClick(plot, Qt::LeftButton, {}, at.toPoint());
        QCOMPARE(window.selectedId(), 3);

        // Double-click: loaded as from disk, its status text included.
        const QModelIndex row = table->selectionModel()->selectedRows().first();
        const QPoint cell = table->visualRect(row).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
        QVERIFY(front.state.flightData.FlightRecordCount.value_or(0) > 100);
        QVERIFY(front.ui.statuses.last().startsWith(QLatin1String("Data File: ")));
        // Named as it was imported, not by its copy's hash.
        QCOMPARE(front.ui.statuses.last(), QStringLiteral("Data File: 2.txt  Loaded for Edit"));

        const QString out = dir.filePath(QStringLiteral("out.txt"));
        front.files.answers = {out};
        const QString folderBefore = QDir::currentPath();
        window.exportSelected();
        QCOMPARE(test::ReadAll(out), test::ReadAll(dir.filePath(QStringLiteral("in/2.txt"))));
        // The dialog starts in the documents folder, then where the last one was written, and
        // leaves the program's own folders alone.
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(front.files.requests.last().folder, QFileInfo(documents).isDir() ? documents : QDir::homePath());
        QVERIFY(!front.files.requests.last().enterFolder);
        QCOMPARE(QDir::currentPath(), folderBefore);
        window.exportSelected();
        QCOMPARE(QDir(front.files.requests.last().folder), QDir(dir.path()));
        QCOMPARE(window.dialogFolder(), front.files.requests.last().folder);

        // Remove asks first: Cancel keeps the flight, OK removes it.
        front.ui.answers = {MessageAnswer::Cancel, MessageAnswer::Ok};
        window.removeSelected();
        QCOMPARE(table->model()->rowCount(), 5);
        QCOMPARE(front.ui.messages.size(), 1);
        QVERIFY(front.ui.messages[0].text.startsWith(QLatin1String("Remove the flight of 2026-01-15 09:00:00")));
        window.removeSelected();
        QCOMPARE(table->model()->rowCount(), 4);
        // What the import did stays readable beside what the removal did.
        QVERIFY(MessageOf(window).contains(QLatin1String("5 added, 0 already in the library, 1 skipped")));
        QVERIFY(MessageOf(window).contains(QLatin1String("was removed")));
    }

    // Export... and Remove... act on every flight selected: several go into a folder under the
    // names they were imported by, and one question removes them all. The library's own folder is
    // refused as the place chosen, a sibling whose name begins like it is not.
    void severalFlights()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        MakeFlights(dir, 4);
        test::Front front;
        FrmLibrary window(front.context());
        window.show();
        QVERIFY(Import(window, dir.filePath(QStringLiteral("in"))));
        auto *table = window.findChild<QTableView *>(QStringLiteral("tblFlights"));
        QTRY_VERIFY2_WITH_TIMEOUT(table->model()->rowCount() == 4, qPrintable(MessageOf(window)), 20000);
        for (int row : {0, 1, 3})
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const QString out = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(out);
        front.files.answers = {out};
        window.exportSelected();
        QVERIFY2(!front.files.requests.isEmpty(), qPrintable(MessageOf(window)));
        QVERIFY(front.files.requests.last().chooseFolder);
        for (const char *name : {"0.txt", "1.txt", "3.txt"})
            QCOMPARE(test::ReadAll(out + QLatin1Char('/') + QLatin1String(name)),
                     test::ReadAll(dir.filePath(QStringLiteral("in/")) + QLatin1String(name)));
        QVERIFY(!QFileInfo::exists(out + QStringLiteral("/2.txt")));
        QVERIFY2(MessageOf(window).contains(QLatin1String("3 flights written")), qPrintable(MessageOf(window)));

        // Into the library's folder: what is wrong with the choice, not a failing library.
        const QString inLibrary = window.folder() + QStringLiteral("/flights");
        front.files.answers = {inLibrary};
        window.exportSelected();
        QVERIFY2(MessageOf(window).contains(QLatin1String("inside the flight library's own folder")),
                 qPrintable(MessageOf(window)));
        QVERIFY(!MessageOf(window).contains(QLatin1String("could not be used")));
        table->selectRow(2);
        const QString sibling = window.folder() + QStringLiteral("-out/2.txt");
        QDir().mkpath(QFileInfo(sibling).absolutePath());
        front.files.answers = {sibling};
        window.exportSelected();
        QCOMPARE(test::ReadAll(sibling), test::ReadAll(dir.filePath(QStringLiteral("in/2.txt"))));

        for (int row : {0, 1})
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        front.ui.answers = {MessageAnswer::Ok};
        window.removeSelected();
        QCOMPARE(front.ui.messages.size(), 1);
        QVERIFY2(front.ui.messages[0].text.startsWith(QLatin1String("Remove these 3 flights")),
                 qPrintable(front.ui.messages[0].text));
        QCOMPARE(table->model()->rowCount(), 1);
        QVERIFY(MessageOf(window).contains(QLatin1String("3 flights were removed")));
    }

    // The trend shows what the table shows, the selection follows both ways by flight, and a
    // far-out flight does not squeeze the others into a line.
    void trend()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        MakeFlights(dir, 40);
        test::FlightPlan far;
        far.scale = 8; // a flight nine hours long among quarter-hour ones
        far.start = QDateTime(QDate(2026, 3, 3), QTime(12, 0));
        test::WriteFile(dir, QStringLiteral("in/far.txt"), test::MakeFlight(far));
        test::Front front;
        FrmLibrary window(front.context());
        window.resize(1000, 700);
        window.show();
        QVERIFY(Import(window, dir.filePath(QStringLiteral("in"))));
        auto *table = window.findChild<QTableView *>(QStringLiteral("tblFlights"));
        auto *plot = window.findChild<QCustomPlot *>(QStringLiteral("plotTrend"));
        auto *measure = window.findChild<QComboBox *>(QStringLiteral("cboMeasure"));
        QCOMPARE(measure->currentText(), QStringLiteral("Peak CHT (°F)"));
        QCOMPARE(plot->yAxis->label(), QStringLiteral("Peak CHT (°F)"));
        QCOMPARE(table->model()->headerData(4, Qt::Horizontal).toString(), QStringLiteral("Peak CHT (°F)"));
        QCOMPARE(int(window.trendIds().size()), 41);
        // Field 2 is the manifold pressure, named once: mean, highest and lowest in inHg.
        QStringList field2;
        for (int k = 0; k < measure->count(); ++k) {
            QVERIFY2(!measure->itemText(k).contains(QLatin1String("Fuel")), qPrintable(measure->itemText(k)));
            if (measure->itemData(k).toString().startsWith(QLatin1String("field2.")))
                field2 << measure->itemText(k);
        }
        QCOMPARE(field2,
                 (QStringList{QStringLiteral("Manifold, mean (inHg)"), QStringLiteral("Manifold, highest (inHg)"),
                              QStringLiteral("Manifold, lowest (inHg)")}));

        // Oil temperature in degrees: tenths as recorded, so the mean of 1900 reads 190.
        measure->setCurrentText(QStringLiteral("Oil temperature, mean (°F)"));
        QCOMPARE(measure->currentText(), QStringLiteral("Oil temperature, mean (°F)"));
        QVERIFY(plot->graph(0)->dataCount() == 41);
        QVERIFY(std::abs(plot->graph(0)->data()->at(0)->value - 190) < 1);

        // The long flight lies beyond the first view; the others fill it.
        measure->setCurrentText(QStringLiteral("Duration (h)"));
        const auto data = plot->graph(0)->data();
        double longest = 0, othersLow = 1e9, othersHigh = 0;
        for (int k = 0; k < data->size(); ++k) {
            const double v = data->at(k)->value;
            if (v > longest)
                longest = v;
        }
        for (int k = 0; k < data->size(); ++k)
            if (data->at(k)->value < longest) {
                othersLow = std::min(othersLow, data->at(k)->value);
                othersHigh = std::max(othersHigh, data->at(k)->value);
            }
        QVERIFY(longest > 8);
        const QCPRange view = plot->yAxis->range();
        QVERIFY(!view.contains(longest));
        QVERIFY(view.contains(othersLow) && view.contains(othersHigh));
        QVERIFY(view.size() < 0.1 * (longest - othersLow));
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("lblTrendOutside"))->isVisible());
        // The wheel zooms the time only, and the flight beyond the view stays counted; Reset View
        // comes back.
        const QPoint middle = plot->axisRect()->rect().center();
        const QCPRange days = plot->xAxis->range();
        for (int turn = 0; turn < 3; ++turn) {
            QWheelEvent wheel(middle, plot->mapToGlobal(middle), {}, {0, -120}, Qt::NoButton, {}, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(plot, &wheel);
        }
        QVERIFY(plot->xAxis->range().size() > days.size());
        QCOMPARE(plot->yAxis->range(), view);
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("lblTrendOutside"))
                    ->text()
                    .startsWith(QLatin1String("1 flight")));
        window.findChild<QPushButton *>(QStringLiteral("cmdTrendReset"))->click();
        QCOMPARE(plot->xAxis->range(), days);
        QCOMPARE(plot->yAxis->range(), view);

        // The date filter: the trend keeps the flights of the days chosen.
        window.findChild<QDateEdit *>(QStringLiteral("dtFrom"))->setDate(QDate(2026, 2, 1));
        window.findChild<QDateEdit *>(QStringLiteral("dtTo"))->setDate(QDate(2026, 3, 31));
        QVERIFY(window.findChild<QCheckBox *>(QStringLiteral("chkDateFilter"))->isChecked());
        const int rows = table->model()->rowCount();
        QCOMPARE(rows, 8 + 1);
        QCOMPARE(int(window.trendIds().size()), rows);
        QCOMPARE(plot->graph(0)->dataCount(), rows);

        // A row chosen rings its point; a point clicked chooses its row, with the table sorted
        // otherwise than by date.
        table->sortByColumn(4, Qt::DescendingOrder);
        table->selectRow(3);
        const qint64 chosen = window.selectedId();
        QCOMPARE(plot->graph(1)->dataCount(), 1);
        const auto at = std::find(window.trendIds().cbegin(), window.trendIds().cend(), chosen);
        QVERIFY(at != window.trendIds().cend());
        const int k = int(at - window.trendIds().cbegin());
        QCOMPARE(plot->graph(1)->data()->at(0)->key, plot->graph(0)->data()->at(k)->key);
        const int other = k == 0 ? 1 : 0;
        window.findChild<QPushButton *>(QStringLiteral("cmdTrendReset"))->click();
        QTest::mouseClick(plot, Qt::LeftButton, {}, PixelOf(plot, other));
        QCOMPARE(window.selectedId(), window.trendIds()[size_t(other)]);
        QCOMPARE(plot->graph(1)->data()->at(0)->key, plot->graph(0)->data()->at(other)->key);
        // The hover names the flight's day and its value.
        QTest::mouseMove(plot, PixelOf(plot, other));
        const QDateTime day = QDateTime::fromSecsSinceEpoch(qint64(plot->graph(0)->data()->at(other)->key));
        QTRY_VERIFY(QToolTip::text().contains(day.toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
        QVERIFY(QToolTip::text().contains(QLatin1String("Duration (h): ")));
    }

    // What another program adds shows on F5 and when the window gets the focus back, with the
    // measure, the sort and the selection kept.
    void refreshKeeps()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        MakeFlights(dir, 6);
        MakeMoreFlights(dir, QStringLiteral("more"), 2, 100, QDate(2025, 6, 1));
        test::Front front;
        FrmLibrary window(front.context());
        window.show();
        QVERIFY(Import(window, dir.filePath(QStringLiteral("in"))));
        auto *table = window.findChild<QTableView *>(QStringLiteral("tblFlights"));
        table->sortByColumn(2, Qt::DescendingOrder);
        table->selectRow(2);
        const qint64 chosen = window.selectedId();
        auto *measure = window.findChild<QComboBox *>(QStringLiteral("cboMeasure"));
        measure->setCurrentText(QStringLiteral("RPM, highest (rpm)"));

        FlightLibrary(window.folder()).importFile(dir.filePath(QStringLiteral("more/0.txt")));
        window.findChild<QAction *>(QStringLiteral("actRefresh"))->trigger();
        QCOMPARE(table->model()->rowCount(), 7);
        QCOMPARE(window.selectedId(), chosen);
        QCOMPARE(table->horizontalHeader()->sortIndicatorSection(), 2);
        QCOMPARE(table->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(measure->currentText(), QStringLiteral("RPM, highest (rpm)"));
        QCOMPARE(int(window.trendIds().size()), 7);
        for (int r = 1; r < 7; ++r)
            QVERIFY(table->model()->index(r - 1, 2).data(Qt::UserRole + 2).toInt() >=
                    table->model()->index(r, 2).data(Qt::UserRole + 2).toInt());

        FlightLibrary(window.folder()).importFile(dir.filePath(QStringLiteral("more/1.txt")));
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&window, &activate);
        QTRY_COMPARE(table->model()->rowCount(), 8);
        QCOMPARE(window.selectedId(), chosen);
    }

    // Remove waits for a running import; every failure of the library is said, none escapes.
    void errorsSaid()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        MakeFlights(dir, 30);
        test::Front front;
        FrmLibrary window(front.context());
        window.show();
        QVERIFY(Import(window, dir.filePath(QStringLiteral("in"))));
        auto *table = window.findChild<QTableView *>(QStringLiteral("tblFlights"));
        auto *remove = window.findChild<QPushButton *>(QStringLiteral("cmdRemove"));
        table->selectRow(0);

        // During an import Remove is off, and asked all the same it removes nothing.
        MakeFlights(dir, 30, QStringLiteral("again"));
        QSignalSpy done(&window, &FrmLibrary::importFinished);
        window.importPaths({dir.filePath(QStringLiteral("again"))});
        QVERIFY(window.importing());
        QVERIFY(!remove->isEnabled());
        window.removeSelected();
        QVERIFY(front.ui.messages.isEmpty());
        QVERIFY(done.wait(30000));
        QVERIFY(remove->isEnabled());
        QCOMPARE(table->model()->rowCount(), 30);

        // Another program takes the catalogue's table and the copies away under the open window:
        // every command says so, none throws.
        table->selectRow(0);
        QDir(window.folder() + QStringLiteral("/flights")).removeRecursively();
        front.files.answers = {dir.filePath(QStringLiteral("out.txt"))};
        window.exportSelected();
        QVERIFY2(MessageOf(window).contains(QLatin1String("could not be used")), qPrintable(MessageOf(window)));
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(window.folder() + QStringLiteral("/library.sqlite"));
            QVERIFY(other.open());
            QVERIFY(QSqlQuery(QStringLiteral("DROP TABLE flights"), other).lastError().type() == QSqlError::NoError);
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        const auto said = [&](const char *what) {
            const bool ok = MessageOf(window).contains(QLatin1String("could not be used"));
            window.findChild<QLabel *>(QStringLiteral("lblMessage"))->clear();
            if (!ok)
                qWarning("%s said nothing", what);
            return ok;
        };
        window.findChild<QPushButton *>(QStringLiteral("cmdRefresh"))->click();
        QVERIFY(said("refresh"));
        window.findChild<QComboBox *>(QStringLiteral("cboMeasure"))->setCurrentIndex(3);
        QVERIFY(said("trend"));
        window.exportSelected();
        QVERIFY(said("export"));
        front.ui.answers = {MessageAnswer::Ok};
        window.removeSelected();
        QVERIFY(said("remove"));
        emit table->doubleClicked(table->model()->index(0, 0));
        QVERIFY(said("load"));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out.txt"))));
    }

    // In a 640x480 main window the library opens inside the work area and nothing is cut off.
    void smallMainWindow()
    {
        test::IsolatedSettings settings;
        test::Front front;
        MainOstrel main(front.state, front.ui, front.files);
        main.resize(640, 480);
        main.show();
        main.findChild<QAction *>(QStringLiteral("mnuFlightLibrary"))->trigger();
        auto *window = main.findChild<FrmLibrary *>(QStringLiteral("FrmLibrary"));
        QVERIFY(window);
        auto *frame = qobject_cast<QMdiSubWindow *>(window->parentWidget());
        QVERIFY(frame);
        const QRect area = frame->mdiArea()->viewport()->rect();
        QVERIFY2(area.contains(frame->geometry()), "the window runs past the work area");
        // Every command has its full size: what does not fit scrolls rather than being squeezed.
        for (QPushButton *button : window->findChildren<QPushButton *>())
            if (button->isVisible())
                QVERIFY2(button->width() >= button->minimumSizeHint().width(), qPrintable(button->objectName()));
        for (QComboBox *box : window->findChildren<QComboBox *>())
            if (box->isVisible())
                QVERIFY2(box->width() >= box->minimumSizeHint().width(), qPrintable(box->objectName()));

        // Back to the library from another window, it shows what another program added meanwhile.
        QTemporaryDir dir;
        MakeFlights(dir, 1);
        main.findChild<QAction *>(QStringLiteral("mnuAnalysisView"))->trigger();
        QVERIFY(frame->mdiArea()->activeSubWindow() != frame);
        FlightLibrary(window->folder()).importFile(dir.filePath(QStringLiteral("in/0.txt")));
        frame->mdiArea()->setActiveSubWindow(frame);
        QTRY_COMPARE(window->findChild<QTableView *>(QStringLiteral("tblFlights"))->model()->rowCount(), 1);
    }

    // Flights by aircraft: the column, the filter (the trend follows it), Set Aircraft... on the
    // selection through its dialog, the aircraft offered, and this PC's aircraft.
    void aircraft()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        MakeFlights(dir, 4);
        MakeMoreFlights(dir, QStringLiteral("other"), 3, 50, QDate(2026, 5, 1));
        test::Front front;
        FrmLibrary window(front.context());
        window.show();
        QSignalSpy done(&window, &FrmLibrary::importFinished);
        window.importPaths({dir.filePath(QStringLiteral("in"))}, QStringLiteral("N123AB"));
        QVERIFY(done.wait(30000));
        QVERIFY(Import(window, dir.filePath(QStringLiteral("other"))));
        auto *table = window.findChild<QTableView *>(QStringLiteral("tblFlights"));
        QCOMPARE(table->model()->headerData(8, Qt::Horizontal).toString(), QStringLiteral("Aircraft"));
        QCOMPARE(table->model()->rowCount(), 7);
        QCOMPARE(table->model()->index(0, 8).data().toString(), QStringLiteral("N123AB"));
        QCOMPARE(table->model()->index(6, 8).data().toString(), QString());

        auto *filter = window.findChild<QComboBox *>(QStringLiteral("cboAircraft"));
        QCOMPARE(filter->count(), 3);
        filter->setCurrentText(QStringLiteral("N123AB"));
        QCOMPARE(table->model()->rowCount(), 4);
        QCOMPARE(int(window.trendIds().size()), 4);
        filter->setCurrentText(QStringLiteral("No aircraft given"));
        QCOMPARE(table->model()->rowCount(), 3);

        // Two flights given to an aircraft through the dialog: a wrong registration is refused there
        // with its reason, a right one taken as written in capitals.
        table->selectionModel()->select(table->model()->index(0, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        table->selectionModel()->select(table->model()->index(1, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(window.selectedIds().size(), 2);
        QString refused;
        QTimer::singleShot(0, &window, [&] {
            auto *dialog = window.findChild<QDialog *>(QStringLiteral("dlgAircraft"));
            QVERIFY(dialog);
            auto *choice = dialog->findChild<QComboBox *>(QStringLiteral("cboAircraftChoice"));
            QCOMPARE(choice->itemText(0), QStringLiteral("N123AB"));
            choice->setCurrentText(QStringLiteral("G ABCD"));
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
            refused = dialog->findChild<QLabel *>(QStringLiteral("lblAircraftReason"))->text();
            choice->setCurrentText(QStringLiteral(" g-abcd "));
            dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
        });
        window.findChild<QPushButton *>(QStringLiteral("cmdSetAircraft"))->click();
        QVERIFY2(refused.contains(QLatin1String("\"G ABCD\" is no registration")), qPrintable(refused));
        QCOMPARE(table->model()->rowCount(), 1); // the filter still keeps the flights with none
        filter->setCurrentText(QStringLiteral("G-ABCD"));
        QCOMPARE(table->model()->rowCount(), 2);
        QCOMPARE(window.aircraftOffered(), (QStringList{QStringLiteral("G-ABCD"), QStringLiteral("N123AB")}));
        // Import offers the aircraft the list is filtered by, else the last one given, else none.
        filter->setCurrentText(QStringLiteral("N123AB"));
        QCOMPARE(window.importAircraft(), std::optional<QString>(QStringLiteral("N123AB")));
        filter->setCurrentText(QStringLiteral("All aircraft"));
        QCOMPARE(window.importAircraft(), std::optional<QString>(QStringLiteral("G-ABCD")));
        filter->setCurrentText(QStringLiteral("G-ABCD"));
        table->selectRow(0);
        QVERIFY(!window.setAircraftOfSelection(QStringLiteral("not one!")));
        QVERIFY(MessageOf(window).contains(QLatin1String("no registration")));
        QVERIFY(MessageOf(window).contains(QLatin1String("Nothing was changed.")));
        QCOMPARE(table->model()->index(0, 8).data().toString(), QStringLiteral("G-ABCD"));

        // This PC's aircraft: checked, kept for the captures.
        QVERIFY(window.setThisPcsAircraft(QStringLiteral("d-efgh")));
        QCOMPARE(ThisPcsAircraft(), std::optional<QString>(QStringLiteral("D-EFGH")));
        QVERIFY(!window.setThisPcsAircraft(QStringLiteral("D EFGH")));
        QCOMPARE(ThisPcsAircraft(), std::optional<QString>(QStringLiteral("D-EFGH")));
        QVERIFY(window.setThisPcsAircraft(QString()));
        QCOMPARE(ThisPcsAircraft(), std::nullopt);
    }

    // Report... on the selected flights: one PDF, a page each; Report Card... only for one
    // registration chosen in the filter.
    void reports()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        MakeFlights(dir, 3);
        test::Front front;
        FrmLibrary window(front.context());
        window.show();
        QSignalSpy done(&window, &FrmLibrary::importFinished);
        window.importPaths({dir.filePath(QStringLiteral("in"))}, QStringLiteral("N123AB"));
        QVERIFY(done.wait(30000));
        auto *report = window.findChild<QPushButton *>(QStringLiteral("cmdReport"));
        auto *card = window.findChild<QPushButton *>(QStringLiteral("cmdReportCard"));
        QVERIFY(report && card);

        report->click();
        QVERIFY(MessageOf(window).endsWith(QLatin1String("Choose a flight in the table first.")));
        auto *table = window.findChild<QTableView *>(QStringLiteral("tblFlights"));
        // The list is read off the window's thread.
        QTRY_VERIFY(table->model()->rowCount() >= 3);
        for (int row : {0, 2})
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        const QString pdf = dir.filePath(QStringLiteral("two.pdf"));
        front.files.answers = {pdf};
        report->click();
        QTRY_VERIFY_WITH_TIMEOUT(test::LinuxTool(QStringLiteral("pdfinfo"), {pdf})
                                     .contains(QRegularExpression(QStringLiteral("Pages:\\s+2\\n"))),
                                 20000);

        auto *filter = window.findChild<QComboBox *>(QStringLiteral("cboAircraft"));
        QCOMPARE(filter->currentText(), QStringLiteral("All aircraft"));
        QVERIFY(!card->isEnabled());
        filter->setCurrentText(QStringLiteral("N123AB"));
        QVERIFY(card->isEnabled());
        const QString cardPdf = dir.filePath(QStringLiteral("card.pdf"));
        front.files.answers = {cardPdf};
        card->click();
        QCOMPARE(front.files.requests.last().initialFileName, QStringLiteral("N123AB.pdf"));
        QVERIFY(QFile::exists(cardPdf));
        QVERIFY(front.ui.messages.isEmpty());
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

    // One large file moves the bar as it is read, and the words say how much of it is read.
    void largeFileShowsBytes()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        test::FlightPlan plan;
        plan.scale = 30; // some 34 hours a second apart: several of the reader's buffers
        const QString big = test::WriteFile(dir, QStringLiteral("big.txt"), test::MakeFlight(plan));
        QVERIFY(QFileInfo(big).size() > qint64(16) << 20);
        test::Front front;
        FrmLibrary window(front.context());
        auto *bar = window.findChild<QProgressBar *>(QStringLiteral("progImport"));
        QList<int> values;
        QStringList said;
        connect(bar, &QProgressBar::valueChanged, &window, [&](int value) {
            values << value;
            said << MessageOf(window);
        });
        QSignalSpy done(&window, &FrmLibrary::importFinished);
        window.importPaths({big});
        QVERIFY(done.wait(60000));
        QVERIFY2(MessageOf(window).contains(QLatin1String("1 added")), qPrintable(MessageOf(window)));
        QCOMPARE(bar->maximum(), 1000);
        // Several steps while the one file was in hand, not "0 of 1" then done.
        QVERIFY2(std::count_if(values.cbegin(), values.cend(), [](int v) { return v > 0 && v < 1000; }) >= 3,
                 qPrintable(QStringList(said).join(u'|')));
        QVERIFY2(said.filter(QRegularExpression(QStringLiteral("^Importing\\.\\.\\. 0 of 1 files in, [1-9][0-9.,]* of "
                                                               "[0-9.,]+ MB read\\.$")))
                         .size() >= 2,
                 qPrintable(said.join(u'|')));
    }

    // Library... tests a folder (what it holds, or that there is none yet), keeps what OK chose and
    // nothing on Cancel, and the window, its caption and the start panel follow the choice.
    void folderLocation()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        MakeFlights(dir, 3);
        const QString fleet = dir.filePath(QStringLiteral("fleet"));
        FlightLibrary(fleet).importFiles(FlightLibrary::CollectFiles({dir.filePath(QStringLiteral("in"))}),
                                         [](const ImportResult &) { return true; });
        test::Front front;
        MainOstrel main(front.state, front.ui, front.files);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.findChild<QAction *>(QStringLiteral("mnuFlightLibrary"))->trigger();
        auto *window = main.findChild<FrmLibrary *>(QStringLiteral("FrmLibrary"));
        QCOMPARE(window->windowTitle(),
                 Caption(QDir::toNativeSeparators(settings.path() + QStringLiteral("/library"))));

        {
            LibraryLocationDialog dialog(window->folder());
            QCOMPARE(Tested(dialog, fleet), QStringLiteral("Found a flight library (version 3) with 3 flights."));
            const QString empty = dir.filePath(QStringLiteral("empty"));
            QCOMPARE(Tested(dialog, empty), QStringLiteral("There is no flight library in %1 yet; OK makes one there.")
                                                .arg(QDir::toNativeSeparators(empty)));
            QVERIFY(!QFileInfo::exists(empty));
            const QString notThere = Tested(dialog, QStringLiteral("postgresql://pilot@127.0.0.1:1/fleet"));
            QVERIFY2(notThere.contains(QLatin1String("127.0.0.1")), qPrintable(notThere));
        }

        ChooseLocation(*window, fleet, false);
        QCOMPARE(LibraryLocation(), settings.path() + QStringLiteral("/library"));
        auto *table = window->findChild<QTableView *>(QStringLiteral("tblFlights"));
        QCOMPARE(table->model()->rowCount(), 0);

        auto *panel = main.findChild<StartPanel *>(QStringLiteral("startPanel"));
        ChooseLocation(*window, fleet, true);
        QCOMPARE(LibraryLocation(), fleet);
        QCOMPARE(window->windowTitle(), Caption(QDir::toNativeSeparators(fleet)));
        QCOMPARE(table->model()->rowCount(), 3);
        QCOMPARE(int(window->trendIds().size()), 3);
        // The start panel offers the chosen library's latest flight.
        main.mdiArea()->closeAllSubWindows();
        QTRY_VERIFY(panel->lastFlight().has_value());
        QVERIFY(panel->lastFlight()->copy.startsWith(fleet));
    }

    // A library on a server: Test says its version and flights, or why not (never the password);
    // OK keeps the URI without its password, which then comes from ~/.pgpass; a server that goes
    // away is said in the status line and the window keeps what it shows, until it is back.
    void serverLocation()
    {
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        test::PgServer server;
        QVERIFY2(server.running(), qPrintable(server.error()));
        QVERIFY(server.createDatabase(QStringLiteral("fleet")));
        const QString pilot = test::PgServer::PasswordOf(QStringLiteral("pilot"));
        FlightLibrary(server.uri(QStringLiteral("fleet"), QStringLiteral("keeper"),
                                 test::PgServer::PasswordOf(QStringLiteral("keeper"))),
                      FlightLibrary::Opening::Init);
        MakeFlights(dir, 3);
        const QStringList files = FlightLibrary::CollectFiles({dir.filePath(QStringLiteral("in"))});
        const QString withPassword = server.uri(QStringLiteral("fleet"), QStringLiteral("pilot"), pilot);
        {
            FlightLibrary library(withPassword);
            QCOMPARE(library.importFile(files[0]).outcome, ImportResult::Added);
            QCOMPARE(library.importFile(files[1]).outcome, ImportResult::Added);
        }
        const QString pgpass = dir.filePath(QStringLiteral("pgpass"));
        test::WriteFile(dir, QStringLiteral("pgpass"),
                        QStringLiteral("127.0.0.1:%1:fleet:pilot:%2\n").arg(server.port()).arg(pilot).toUtf8());
        QFile::setPermissions(pgpass, QFile::ReadOwner | QFile::WriteOwner);
        qputenv("PGPASSFILE", QFile::encodeName(pgpass));

        test::Front front;
        MainOstrel main(front.state, front.ui, front.files);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.findChild<QAction *>(QStringLiteral("mnuFlightLibrary"))->trigger();
        FrmLibrary &window = *main.findChild<FrmLibrary *>(QStringLiteral("FrmLibrary"));
        {
            LibraryLocationDialog dialog(window.folder());
            QCOMPARE(Tested(dialog, withPassword),
                     QStringLiteral("Found a flight library (version 3) with 2 flights."));
            const QString refused = Tested(
                dialog, server.uri(QStringLiteral("fleet"), QStringLiteral("pilot"), QStringLiteral("Wrong-7x")));
            QVERIFY2(refused.contains(QLatin1String("pilot")) && !refused.contains(QLatin1String("Wrong-7x")),
                     qPrintable(refused));
            QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("libraryPasswordNote"))->isVisibleTo(&dialog));
        }

        ChooseLocation(window, withPassword, true);
        QCOMPARE(LibraryLocation(), server.uri(QStringLiteral("fleet"), QStringLiteral("pilot")));
        const QString name = QStringLiteral("server 127.0.0.1:%1/fleet").arg(server.port());
        QCOMPARE(window.windowTitle(), Caption(name));
        auto *table = window.findChild<QTableView *>(QStringLiteral("tblFlights"));
        QCOMPARE(table->model()->rowCount(), 2);
        QVERIFY2(MessageOf(window).contains(name), qPrintable(MessageOf(window)));

        // A flight loaded from the server stays readable (a report reads it again) when the
        // connection that fetched it has gone.
        emit table->doubleClicked(table->model()->index(0, 0));
        const QString loaded = front.state.flightFileName;
        QVERIFY(!loaded.isEmpty());

#ifdef Q_OS_WIN
        QSKIP("under Wine the server is the harness's, stopped only in the Linux suite");
#endif
        QVERIFY(server.stop());
        window.findChild<QAction *>(QStringLiteral("actRefresh"))->trigger();
        QVERIFY2(MessageOf(window).contains(QStringLiteral("went away")), qPrintable(MessageOf(window)));
        QVERIFY(!MessageOf(window).contains(pilot));
        QCOMPARE(table->model()->rowCount(), 2);
        QCOMPARE(int(window.trendIds().size()), 2);
        QVERIFY(QFileInfo::exists(loaded));

        // Back again: the next refresh connects anew and shows what was added meanwhile.
        QVERIFY(server.start());
        QCOMPARE(FlightLibrary(withPassword).importFile(files[2]).outcome, ImportResult::Added);
        window.findChild<QAction *>(QStringLiteral("actRefresh"))->trigger();
        QCOMPARE(table->model()->rowCount(), 3);

        // The start panel's latest flight comes from the server when it is opened.
        main.mdiArea()->closeAllSubWindows();
        auto *panel = main.findChild<StartPanel *>(QStringLiteral("startPanel"));
        QTRY_VERIFY(panel->lastFlight().has_value());
        QTest::mouseClick(panel->findChild<QPushButton *>(QStringLiteral("startOpenLast")), Qt::LeftButton);
        QTRY_VERIFY(front.state.flightData.FlightRecordCount.value_or(0) > 10);
        QCOMPARE(front.state.flightOrigin.name, QFileInfo(files[2]).fileName());
        qunsetenv("PGPASSFILE");
    }

    // A server that stops answering (its processes stopped) never holds the program: the window
    // says whom it waits for, the menus open meanwhile, the call is given up as a server that went
    // away, and once the server answers again the next refresh shows the list and no error.
    void frozenServer()
    {
#ifdef Q_OS_WIN
        QSKIP("under Wine the server is the harness's, whose processes only the Linux suite stops");
#endif
        test::IsolatedSettings settings;
        QTemporaryDir dir;
        test::PgServer server;
        QVERIFY2(server.running(), qPrintable(server.error()));
        QVERIFY(server.createDatabase(QStringLiteral("fleet")));
        FlightLibrary(server.uri(QStringLiteral("fleet"), QStringLiteral("keeper"),
                                 test::PgServer::PasswordOf(QStringLiteral("keeper"))),
                      FlightLibrary::Opening::Init);
        MakeFlights(dir, 2);
        const QString pilot = test::PgServer::PasswordOf(QStringLiteral("pilot"));
        FlightLibrary(server.uri(QStringLiteral("fleet"), QStringLiteral("pilot"), pilot))
            .importFiles(FlightLibrary::CollectFiles({dir.filePath(QStringLiteral("in"))}),
                         [](const ImportResult &) { return true; });
        test::WriteFile(dir, QStringLiteral("pgpass"),
                        QStringLiteral("127.0.0.1:%1:fleet:pilot:%2\n").arg(server.port()).arg(pilot).toUtf8());
        QFile::setPermissions(dir.filePath(QStringLiteral("pgpass")), QFile::ReadOwner | QFile::WriteOwner);
        qputenv("PGPASSFILE", QFile::encodeName(dir.filePath(QStringLiteral("pgpass"))));
        SetLibraryLocation(server.uri(QStringLiteral("fleet"), QStringLiteral("pilot")));
        const LibrarySession::Limits before = LibrarySession::limits();
        LibrarySession::limits() = {300, 2500};

        test::Front front;
        MainOstrel main(front.state, front.ui, front.files);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.findChild<QAction *>(QStringLiteral("mnuFlightLibrary"))->trigger();
        FrmLibrary &window = *main.findChild<FrmLibrary *>(QStringLiteral("FrmLibrary"));
        auto *table = window.findChild<QTableView *>(QStringLiteral("tblFlights"));
        QCOMPARE(table->model()->rowCount(), 2);

        QVERIFY(server.freeze());
        auto *file = main.findChild<QMenu *>(QStringLiteral("mnuFile"));
        bool menuOpened = false;
        QString meanwhile;
        QTimer::singleShot(800, &main, [&] {
            meanwhile = MessageOf(window);
            file->popup(main.mapToGlobal(QPoint(0, 0)));
            menuOpened = file->isVisible();
            file->close();
        });
        QElapsedTimer clock;
        clock.start();
        window.findChild<QAction *>(QStringLiteral("actRefresh"))->trigger();
        QVERIFY2(clock.elapsed() < 10000, "the refresh was not given up");
        QVERIFY(menuOpened);
        const QString server_ = QStringLiteral("127.0.0.1:%1").arg(server.port());
        QVERIFY2(meanwhile.contains(QStringLiteral("waiting for the flight library server ") + server_),
                 qPrintable(meanwhile));
        QVERIFY2(MessageOf(window).contains(QStringLiteral("the flight library server %1 went away").arg(server_)),
                 qPrintable(MessageOf(window)));
        QCOMPARE(table->model()->rowCount(), 2);

        QVERIFY(server.thaw());
        window.findChild<QAction *>(QStringLiteral("actRefresh"))->trigger();
        QCOMPARE(table->model()->rowCount(), 2);
        QVERIFY2(!MessageOf(window).contains(QLatin1String("could not be used")), qPrintable(MessageOf(window)));

        // A capture completed while the server is silent is filed off the capture window's thread:
        // the window says whom it waits for, and, once the server answers, which flight it became.
        auto line = std::make_unique<test::ScriptedLine>();
        test::ScriptedLine &scripted = *line;
        FrmCapture capture(front.context(), nullptr, std::move(line));
        auto *status = capture.findChild<QStatusBar *>(QStringLiteral("statCapture"));
        test::FlightPlan plan;
        plan.seed = 99;
        plan.start = QDateTime(QDate(2026, 3, 1), QTime(10, 0));
        QVERIFY(server.freeze());
        scripted.arrive(test::MakeFlight(plan));
        QTRY_VERIFY2(
            status->currentMessage().contains(QStringLiteral("waiting for the flight library server ") + server_),
            qPrintable(status->currentMessage()));
        scripted.arrive("after the record\r\n"); // the terminal goes on meanwhile
        QVERIFY(capture.findChild<QPlainTextEdit *>(QStringLiteral("SaxComm"))
                    ->toPlainText()
                    .contains(QLatin1String("after the record")));
        QVERIFY(server.thaw());
        QTRY_COMPARE(status->currentMessage(), QStringLiteral("Kept in the flight library as flight 3"));
        LibrarySession::limits() = before;
        qunsetenv("PGPASSFILE");
    }

    // Without Qt's PostgreSQL driver a server's URI is told which package to install, in the
    // location dialog's Test and in the window.
    void serverDriverMissing()
    {
        if (!qEnvironmentVariableIsSet(kNoSqlDrivers)) {
            QProcess run;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QString::fromLatin1(kNoSqlDrivers), QStringLiteral("1"));
            run.setProcessEnvironment(environment);
            run.setProcessChannelMode(QProcess::MergedChannels);
            run.start(QCoreApplication::applicationFilePath(), {QStringLiteral("serverDriverMissing")});
            QVERIFY(run.waitForFinished(60000));
            const QByteArray output = run.readAll();
            QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, output.constData());
            return;
        }
        QVERIFY(!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")));
        test::IsolatedSettings settings;
        const QString uri = QStringLiteral("postgresql://pilot@fleet.example/flights");
        LibraryLocationDialog dialog(LibraryLocation());
        const QString tested = Tested(dialog, uri);
        QVERIFY2(tested.contains(QLatin1String("libqt6sql6-psql")), qPrintable(tested));
        SetLibraryLocation(uri);
        test::Front front;
        FrmLibrary window(front.context());
        QVERIFY2(MessageOf(window).contains(QLatin1String("libqt6sql6-psql")), qPrintable(MessageOf(window)));
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
        // The reports are menu items too.
        QStringList reports;
        for (const char *name : {"mnuSaveReport", "mnuLibraryReport", "mnuLibraryReportCard"})
            reports << main.findChild<QAction *>(QLatin1String(name))->text();
        QCOMPARE(reports, (QStringList{QStringLiteral("Save Report..."), QStringLiteral("Report..."),
                                       QStringLiteral("Report Card...")}));
        main.findChild<QAction *>(QStringLiteral("mnuLibraryReportCard"))->trigger();
        QVERIFY(MessageOf(*window).contains(QLatin1String("Choose one aircraft")));
    }

private:
    QTemporaryDir m_noPlugins;
};

QTEST_MAIN(TestFrmLibrary)
#include "test_frm_library.moc"
