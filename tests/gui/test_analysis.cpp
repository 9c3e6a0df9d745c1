// The analysis view offscreen: the values under the cursor, the charts zooming together, the
// figures between marks A and B, the drawing of spikes and gaps among many records, flights it
// cannot draw whole, and the view and graph window when another flight is loaded.
#include "core/flight/TimeText.h"
#include "core/library/FlightLibrary.h"
#include "gui/analysis/FrmAnalysis.h"
#include "gui/graphs/FrmGraph.h"
#include "gui/library/FrmLibrary.h"
#include "gui/shell/MainOstrel.h"
#include "paint/FlightSketch.h"
#include "support/FlightText.h"
#include "support/TestSupport.h"
#include "support/WindowSupport.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include <cmath>
#include <functional>

using namespace korvel;
using namespace korvel::test;

namespace {

// n records `step` seconds apart from 10:00:00 on 06/15/26, a running engine's readings in every
// field (test::FlightText); `change` may replace any of record i's 28 texts.
QByteArray MakeFlightText(int n, const std::function<void(int, QList<QByteArray> &)> &change = {}, int step = 6,
                          int startSeconds = 10 * 3600)
{
    test::FlightText text;
    text.step = step;
    text.start = startSeconds;
    return text.make(n, change);
}

FlightData MakeFlight(int n, const std::function<void(int, QList<QByteArray> &)> &change = {}, int step = 6,
                      int startSeconds = 10 * 3600)
{
    return ParseFlightData(MakeFlightText(n, change, step, startSeconds));
}

void Send(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::NoButton,
          Qt::KeyboardModifiers modifiers = {})
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, at, w->mapToGlobal(at), button, held, modifiers);
    QApplication::sendEvent(w, &event);
}

void Click(QWidget *w, QPoint at, Qt::KeyboardModifiers modifiers = {})
{
    Send(w, QEvent::MouseButtonPress, at, Qt::LeftButton, modifiers);
    Send(w, QEvent::MouseButtonRelease, at, Qt::LeftButton, modifiers);
}

// The pixel column of an axis position in a chart.
int PixelOf(AnalysisCharts *charts, int chart, double x)
{
    const QRect plot = charts->plotRect(chart);
    return int(std::lround(plot.left() +
                           (x - charts->spanStart()) * plot.width() / (charts->spanEnd() - charts->spanStart())));
}

int RowOf(AnalysisCharts *charts, int chart, double value)
{
    const QRect plot = charts->plotRect(chart);
    const auto [low, high] = charts->valueSpan(chart, 0);
    return int(std::lround(plot.bottom() - (value - low) * plot.height() / (high - low)));
}

// Pixel columns in [left, right] of a chart holding a pixel of the colour within rows [top, bottom].
QList<int> ColumnsWithColour(const QImage &image, QColor colour, int left, int right, int top, int bottom)
{
    QList<int> found;
    for (int x = std::max(0, left); x <= std::min(image.width() - 1, right); ++x)
        for (int y = std::max(0, top); y <= std::min(image.height() - 1, bottom); ++y)
            if (QColor(image.pixel(x, y)).rgb() == colour.rgb()) {
                found << x;
                break;
            }
    return found;
}

struct View {
    IsolatedSettings settings;
    Front front;
    std::unique_ptr<FrmAnalysis> view;
    void open(FlightData data, const QString &file = QStringLiteral("/flights/one.txt"))
    {
        front.state.flightData = std::move(data);
        NoteFlightLoaded(front.state, file);
        view = std::make_unique<FrmAnalysis>(front.context());
        view->resize(1000, 700);
        view->show();
        QCoreApplication::processEvents();
    }
    AnalysisCharts *charts() const { return view->findChild<AnalysisCharts *>("analysisCharts"); }
    QComboBox *combo(const char *name) const { return view->findChild<QComboBox *>(QLatin1String(name)); }
};

} // namespace

class TestAnalysis : public QObject {
    Q_OBJECT
private slots:
    // The box lists every series at the cursor's record, hottest first within each chart, under
    // the time; the mouse and the arrow keys move the cursor a record at a time.
    void cursorShowsEveryValueAtItsRecord()
    {
        View v;
        v.open(MakeFlight(40, [](int i, QList<QByteArray> &f) {
            if (i == 12) {
                f[16] = "1310", f[17] = "1450", f[18] = "1290", f[19] = "1500", f[20] = "1380", f[21] = "1420";
                f[25] = ""; // CHT 4 unread here
            }
        }));
        AnalysisCharts *charts = v.charts();
        QCOMPARE(int(charts->charts().size()), 3);
        charts->setCursorRecord(12);
        const QStringList lines = charts->cursorBoxLines();
        QCOMPARE(lines.mid(0, 7), (QStringList{"10:01:12", "EGT 4  1500°F", "EGT 2  1450°F", "EGT 6  1420°F",
                                               "EGT 5  1380°F", "EGT 1  1310°F", "EGT 3  1290°F"}));
        QCOMPARE(lines.mid(7, 6), (QStringList{"CHT 6  375°F", "CHT 5  370°F", "CHT 3  360°F", "CHT 2  355°F",
                                               "CHT 1  350°F", "CHT 4  -"}));
        QCOMPARE(lines.mid(13), (QStringList{"RPM  2400 rpm", "Manifold  24.5 inHg"}));

        // The box stays inside and clear of the line, on either side of the window.
        for (int record : {12, 0, 39}) {
            charts->setCursorRecord(record);
            const QRect box = charts->cursorBoxRect();
            const int line = charts->cursorPixel();
            QVERIFY(charts->rect().contains(box));
            QVERIFY2(line < box.left() || line > box.right(), qPrintable(QString::number(record)));
        }

        // The mouse picks the nearest record; each arrow key steps one.
        Send(charts, QEvent::MouseMove, QPoint(PixelOf(charts, 0, 6 * 20 + 2), charts->plotRect(0).center().y()));
        QCOMPARE(charts->cursorRecord(), 20);
        QTest::keyClick(charts, Qt::Key_Right);
        QCOMPARE(charts->cursorRecord(), 21);
        QTest::keyClick(charts, Qt::Key_Left);
        QTest::keyClick(charts, Qt::Key_Left);
        QCOMPARE(charts->cursorRecord(), 19);
        charts->setCursorRecord(39);
        QTest::keyClick(charts, Qt::Key_Right);
        QCOMPARE(charts->cursorRecord(), 39);

        // Zoomed, the keys walk the cursor to the span's edge and then carry the span along.
        charts->zoomToRect(0, QRect(QPoint(PixelOf(charts, 0, 60), charts->plotRect(0).top()),
                                    QPoint(PixelOf(charts, 0, 120), charts->plotRect(0).top() + 2)));
        const double width = charts->spanEnd() - charts->spanStart();
        charts->setCursorRecord(15);
        const double before = charts->spanStart();
        for (int i = 0; i < 10; ++i)
            QTest::keyClick(charts, Qt::Key_Right);
        QCOMPARE(charts->cursorRecord(), 25);
        QVERIFY(charts->spanStart() > before + 6 * 3);
        QVERIFY(std::abs(charts->spanEnd() - charts->spanStart() - width) < 1e-9);
        QVERIFY(charts->cursorPixel() >= 0);

        // The mouse gone from the charts, so are the cursor and its box.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(charts, &leave);
        QCOMPARE(charts->cursorRecord(), -1);
        QVERIFY(charts->cursorBoxRect().isEmpty());
    }

    // A rectangle on one chart sets every chart's time span and that chart's values; Unzoom
    // steps back, Reset shows it all, the wheel zooms keeping the cursor where it stands.
    void chartsZoomTogether()
    {
        View v;
        v.open(MakeFlight(200));
        AnalysisCharts *charts = v.charts();
        const auto egtHome = charts->valueSpan(0, 0);
        const auto chtHome = charts->valueSpan(1, 0);
        const QRect plot = charts->plotRect(1);
        const QPoint from(PixelOf(charts, 1, 6 * 50), RowOf(charts, 1, 370));
        const QPoint to(PixelOf(charts, 1, 6 * 100), RowOf(charts, 1, 355));
        Send(charts, QEvent::MouseButtonPress, from, Qt::LeftButton);
        Send(charts, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
        Send(charts, QEvent::MouseButtonRelease, to, Qt::LeftButton);
        const double secondsPerPixel = 6.0 * 199 / plot.width();
        QVERIFY(std::abs(charts->spanStart() - 300) <= secondsPerPixel);
        QVERIFY(std::abs(charts->spanEnd() - 600) <= secondsPerPixel);
        QCOMPARE(charts->zoomDepth(), 1);
        // Time only: the chart dragged in fits every line in sight, not the rectangle's values.
        const auto cht = charts->valueSpan(1, 0);
        QVERIFY2(cht.first < 355 - 1 || cht.second > 370 + 1,
                 qPrintable(QStringLiteral("%1 %2").arg(cht.first).arg(cht.second)));

        // A second level, then back one, then home.
        const QRect egt = charts->plotRect(0);
        charts->zoomToRect(0, QRect(QPoint(egt.left() + 100, egt.top()), QPoint(egt.left() + 300, egt.top() + 2)));
        QCOMPARE(charts->zoomDepth(), 2);
        QTest::mouseClick(v.view->findChild<QPushButton *>("cmdUnzoom"), Qt::LeftButton);
        QVERIFY(std::abs(charts->spanStart() - 300) <= secondsPerPixel);
        QCOMPARE(charts->valueSpan(1, 0), cht);
        QTest::mouseClick(v.view->findChild<QPushButton *>("cmdReset"), Qt::LeftButton);
        QCOMPARE(charts->spanStart(), 0.0);
        QCOMPARE(charts->spanEnd(), 6.0 * 199);
        QCOMPARE(charts->valueSpan(1, 0), chtHome);

        charts->setCursorRecord(150);
        const int before = charts->cursorPixel();
        QWheelEvent wheel(QPointF(before, plot.center().y()), charts->mapToGlobal(QPointF(before, plot.center().y())),
                          QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(charts, &wheel);
        QVERIFY(charts->spanEnd() - charts->spanStart() < 6.0 * 199 * 0.7);
        QVERIFY(std::abs(charts->cursorPixel() - before) <= 1);
        // Wheel steps in a row are one level back.
        QApplication::sendEvent(charts, &wheel);
        QCOMPARE(charts->zoomDepth(), 1);
        charts->unzoom();
        QCOMPARE(charts->spanEnd() - charts->spanStart(), 6.0 * 199);

        // A finding chosen: its span with a margin, the cursor on its first record.
        v.view->showRecords(100, 110, 100);
        QCOMPARE(charts->cursorRecord(), 100);
        QCOMPARE(charts->spanStart(), 600.0 - 60);
        QCOMPARE(charts->spanEnd(), 660.0 + 60);
    }

    // Worked by hand: A at 10:01:30 (CHT 1 380, EGT 1 1400), B at 10:03:00 (320, 1250): 90 s, CHT 1
    // -60 or -40 a minute, EGT 1 -150 or -100 a minute; a series unread at B has no figure.
    void marksGiveChangesAndRates()
    {
        View v;
        v.open(MakeFlight(
            10,
            [](int i, QList<QByteArray> &f) {
                if (i == 3)
                    f[22] = "380", f[16] = "1400";
                if (i == 6)
                    f[22] = "320", f[16] = "1250", f[23] = "";
            },
            30));
        AnalysisCharts *charts = v.charts();
        const int y = charts->plotRect(0).center().y();
        Click(charts, QPoint(PixelOf(charts, 0, 90), y));
        QCOMPARE(charts->markA(), std::optional<int>(3));
        Click(charts, QPoint(PixelOf(charts, 0, 180), y), Qt::ShiftModifier);
        QCOMPARE(charts->markB(), std::optional<int>(6));
        QCOMPARE(charts->markSeconds(), std::optional<double>(90));
        QMap<QString, AnalysisCharts::Change> bySeries;
        for (const AnalysisCharts::Change &c : charts->changes())
            bySeries[SeriesName(c.series)] = c;
        QCOMPARE(bySeries["CHT 1"].change, -60.0);
        QCOMPARE(*bySeries["CHT 1"].perMinute, -40.0);
        QCOMPARE(bySeries["EGT 1"].change, -150.0);
        QCOMPARE(*bySeries["EGT 1"].perMinute, -100.0);
        QCOMPARE(bySeries["EGT 2"].change, 0.0);
        QVERIFY(!bySeries.contains("CHT 2"));
        // As the label reads: the values at A and at B, the change and the rate, with units.
        QTextDocument shown;
        shown.setHtml(v.view->marksText());
        const QString text = shown.toPlainText().remove(QChar(0x2060)).replace(QChar(0xa0), QLatin1Char(' '));
        QVERIFY2(text.contains("B - A: 0:01:30") && text.contains("CHT 1 380 → 320°F, -60 (-40/min)") &&
                     text.contains("EGT 1 1400 → 1250°F, -150 (-100/min)"),
                 qPrintable(text));
        // Narrow, the line breaks between series only: at any width every line ends with a rate.
        shown.setDefaultFont(v.view->findChild<QLabel *>("lblMarks")->font());
        for (int width = 300; width < 600; width += 5) { // each wider than any one series' figures
            shown.setTextWidth(width);
            QVERIFY(shown.size().height() > 0); // laid out
            const QTextLayout *layout = shown.begin().layout();
            const int figures = int(shown.begin().text().indexOf(QChar(0x2028))) + 1; // after the times
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                const QString words = shown.begin().text().mid(line.textStart(), line.textLength()).trimmed();
                QVERIFY2(line.textStart() < figures || words.endsWith(')'), qPrintable(words));
            }
        }
    }

    // Among 300,000 records one EGT reading of 1900 shows; a stretch of empty readings stays a gap.
    void drawingKeepsSpikesAndGaps()
    {
        View v;
        const int n = 300000;
        v.open(MakeFlight(n, [](int i, QList<QByteArray> &f) {
            if (i == 150001)
                f[16] = "1900";
            if (i >= 100000 && i < 200000)
                f[17] = "";
        }));
        v.combo("cboCharts")->setCurrentIndex(0);
        AnalysisCharts *charts = v.charts();
        QCOMPARE(int(charts->charts().size()), 1);
        QCOMPARE(v.front.state.flightData.FlightRecordCount, std::optional<int>(n));
        const QImage image = charts->grab().toImage();
        const QRect plot = charts->plotRect(0);
        const QList<int> spike =
            ColumnsWithColour(image, SeriesColour(0), plot.left(), plot.right(), plot.top(), RowOf(charts, 0, 1600));
        QVERIFY(!spike.isEmpty());
        QVERIFY(std::abs(spike.front() - PixelOf(charts, 0, 6.0 * 150001)) <= 2);
        QVERIFY(std::abs(spike.back() - spike.front()) <= 2);

        const int egt2 = RowOf(charts, 0, 1340);
        QVERIFY(
            !ColumnsWithColour(image, SeriesColour(1), plot.left(), PixelOf(charts, 0, 6.0 * 90000), egt2 - 1, egt2 + 1)
                 .isEmpty());
        QVERIFY(ColumnsWithColour(image, SeriesColour(1), PixelOf(charts, 0, 6.0 * 102000),
                                  PixelOf(charts, 0, 6.0 * 198000), plot.top(), plot.bottom())
                    .isEmpty());
    }

    // Drawn straight onto a picture, both ways a painter may be given (its pixels at hand, or a
    // page's painter only): with some 200 records a pixel column, one low reading in the middle of a
    // column shows in that column, and a spike on a column's very last record shows there too.
    void denseColumnsKeepTheirExtremes()
    {
        const int n = 160000;
        const QRect area(0, 0, 900, 300);
        const ChartStackLayout layout = LayOutCharts(1, area);
        const QRect plot = layout.plots.front();
        const auto stackOf = [&](const FlightColumns &columns) {
            ChartStack stack;
            stack.columns = &columns;
            stack.charts = {{Quantity::Egt, Quantity::None}};
            stack.x0 = columns.start();
            stack.x1 = columns.end();
            stack.values = {{ValueSpan{1000, 1600}, ValueSpan{}}};
            return stack;
        };
        // The columns' records depend only on the times, so a plain flight tells where they fall.
        const FlightData plain = MakeFlight(n);
        const FlightColumns plainColumns(plain, {Quantity::Egt});
        const std::vector<int> bounds =
            plainColumns.columnBounds(plainColumns.start(), plainColumns.end(), plot.width());
        const int lowColumn = 300, spikeColumn = 600;
        const int low = (bounds[lowColumn] + bounds[lowColumn + 1]) / 2;
        const int spike = bounds[spikeColumn + 1] - 1;
        QVERIFY(bounds[lowColumn + 1] - bounds[lowColumn] > 100 && low > bounds[lowColumn]);

        const FlightData data = MakeFlight(n, [&](int i, QList<QByteArray> &f) {
            if (i == low)
                f[16] = "1100";
            if (i == spike)
                f[16] = "1550";
        });
        const FlightColumns columns(data, {Quantity::Egt});
        const ChartStack stack = stackOf(columns);
        const auto row = [&](double v) { return int(std::lround(plot.bottom() - (v - 1000) * plot.height() / 600)); };
        for (bool direct : {true, false}) {
            QImage image(area.size(), QImage::Format_RGB32);
            QPainter painter(&image);
            PaintChartStack(painter, area, stack, direct ? &image : nullptr);
            painter.end();
            const QList<int> below =
                ColumnsWithColour(image, SeriesColour(0), plot.left(), plot.right(), row(1250), plot.bottom() - 1);
            QCOMPARE(below, QList<int>{plot.left() + lowColumn});
            const QList<int> above =
                ColumnsWithColour(image, SeriesColour(0), plot.left(), plot.right(), plot.top() + 1, row(1500));
            QVERIFY2(!above.isEmpty() && above.front() == plot.left() + spikeColumn &&
                         above.back() - above.front() <= 1,
                     qPrintable(QString::number(direct)));
        }

        // A page's stack: the whole flight, each axis fitted to it; a cylinder's chart has its EGT
        // left and its CHT right, the right choice giving way; a flat CHT spans 20 degrees.
        const ChartStack whole =
            WholeFlight(columns, {{Quantity::Egt, Quantity::None}, {Quantity::Cylinder2, Quantity::Rpm}});
        QCOMPARE(whole.x1 - whole.x0, 6.0 * (n - 1));
        QVERIFY(whole.values[0][0].low <= 1100 && whole.values[0][0].high >= 1550);
        QCOMPARE(AxisSeries(whole.charts[1], 1), std::vector<int>{7});
        QCOMPARE(AxisTitleOf(whole.charts[1], 1), QStringLiteral("CHT 2 (°F)"));
        const ValueSpan cht2 = whole.values[1][1];
        QVERIFY(cht2.low < 355 && cht2.high > 355 && cht2.high - cht2.low >= 20 && cht2.high - cht2.low <= 30);
    }

    // What the view cannot draw it says, and draws the rest.
    void badFlightsSayWhatIsMissing()
    {
        {
            View v;
            FlightData empty = MakeFlight(3);
            empty.FlightRecordCount = 0;
            v.open(std::move(empty));
            QVERIFY2(v.view->problemsText().contains("no records"), qPrintable(v.view->problemsText()));
            QCOMPARE(v.charts()->cursorBoxLines(), QStringList());
            v.charts()->grab(); // draws nothing, fails nowhere
        }
        {
            View v;
            v.open(MakeFlight(20, [](int, QList<QByteArray> &f) {
                for (int k = 22; k < 28; ++k)
                    f[k] = "";
            }));
            QVERIFY2(v.view->problemsText().contains("no CHT 1-6 readings: chart 2"),
                     qPrintable(v.view->problemsText()));
            v.charts()->setCursorRecord(4);
            QVERIFY(v.charts()->cursorBoxLines().contains("EGT 6  1500°F"));
        }
        {
            // The clock goes back from 10:00:12 to 09:00:00: the axis runs on one step, the labels as recorded.
            View v;
            v.open(MakeFlight(6, {}, 6, 10 * 3600));
            QByteArray bytes = "FLIGHT 1\r\n";
            for (const char *t : {"10:00:00", "10:00:06", "10:00:12", "09:00:00", "09:00:06"})
                bytes += QByteArray("06/15/26 ") + t + ",0,2400,245\r\n";
            v.front.state.flightData = ParseFlightData(bytes + "END\r\n");
            NoteFlightLoaded(v.front.state, QStringLiteral("back.txt"));
            const QString problems = v.view->problemsText();
            QVERIFY2(problems.contains("clock goes back at record 4 (09:00:00 after 10:00:12)"), qPrintable(problems));
            QVERIFY2(problems.contains("no EGT 1-6 readings"), qPrintable(problems));
            QCOMPARE(v.charts()->spanEnd(), 24.0);
            v.charts()->setCursorRecord(4);
            QCOMPARE(v.charts()->cursorBoxLines().value(0), QStringLiteral("09:00:06"));
        }
        {
            // Past midnight the axis runs on.
            View v;
            v.open(MakeFlight(4, {}, 6, 86400 - 12));
            QCOMPARE(v.charts()->spanEnd(), 18.0);
            v.charts()->setCursorRecord(3);
            // Past midnight a time of day says which day it is.
            QCOMPARE(v.charts()->cursorBoxLines().value(0),
                     QLocale::system().toString(QDate(2026, 6, 16), QStringLiteral("d MMM")) + " 00:00:06");
            // A date that does not turn over with the clock is still past midnight, not a clock reset.
            v.front.state.flightData =
                ParseFlightData("FLIGHT 1\r\n06/15/26 23:59:54,0,2400\r\n06/15/26 00:00:00,0,2400\r\nEND\r\n");
            NoteFlightLoaded(v.front.state, QStringLiteral("same-date.txt"));
            QCOMPARE(v.charts()->spanEnd(), 6.0);
            QVERIFY2(!v.view->problemsText().contains("clock"), qPrintable(v.view->problemsText()));
        }
    }

    // A report's page gathers the flight record by record and keeps no records, yet after a clock
    // set back its axis reads as the view's: 20 records from 10:00:00, then the clock at 09:00:00.
    void pageAxisReadsAsTheView()
    {
        test::FlightText before, after;
        before.withEnd = false;
        after.start = 9 * 3600;
        const QByteArray rest = after.make(20);
        const FlightData data = ParseFlightData(before.make(20) + rest.mid(rest.indexOf('\n') + 1));
        const FlightColumns columns(data);
        FlightSketch sketch(300);
        for (int k = 0; k < data.FlightRecords.records(); ++k)
            sketch.add(data.FlightRecords[k]);
        QCOMPARE(columns.end(), 39 * 6.0);
        QCOMPARE(sketch.end(), columns.end());
        for (double x : {0.0, 57.0, 114.0, 120.0, 126.0, 200.0})
            QCOMPARE(sketch.timeTextAt(x), columns.timeTextAt(x));
        QCOMPARE(sketch.timeTextAt(126), LocalTimeText(9 * 3600 + 6));
        int step = 0;
        const std::vector<double> page = TimeTicks(sketch.axis(), sketch.x0(), sketch.x1(), 600, &step);
        const std::vector<double> view = TimeTicks(columns.axis(), columns.start(), columns.end(), 600, nullptr);
        QCOMPARE(page, view);
        for (double t : page)
            QCOMPARE(sketch.axis().label(t, step), columns.axis().label(t, step));
    }

    // The charts chosen are kept for the next view.
    void choiceIsRemembered()
    {
        {
            // Field 2 is the manifold pressure only: no chart offers it as fuel.
            View fresh;
            fresh.open(MakeFlight(10));
            for (QComboBox *box : fresh.view->findChildren<QComboBox *>())
                for (int k = 0; k < box->count(); ++k)
                    QVERIFY2(!box->itemText(k).contains(QLatin1String("Fuel")), qPrintable(box->objectName()));
        }

        View v;
        v.open(MakeFlight(10));
        v.combo("cboLeft(3)")->setCurrentText("Oil temperature");
        v.combo("cboRight(1)")->setCurrentText("CHT 1-6");
        v.combo("cboCharts")->setCurrentIndex(1);
        QCOMPARE(int(v.charts()->charts().size()), 2);
        QCOMPARE(v.charts()->charts()[0].right, Quantity::Cht);
        FrmAnalysis again(v.front.context());
        auto *charts = again.findChild<AnalysisCharts *>("analysisCharts");
        QCOMPARE(int(charts->charts().size()), 2);
        QCOMPARE(charts->charts()[0].left, Quantity::Egt);
        QCOMPARE(charts->charts()[0].right, Quantity::Cht);
        QCOMPARE(again.findChild<QComboBox *>("cboLeft(3)")->currentText(), QStringLiteral("Oil temperature"));
        QVERIFY(!again.findChild<QComboBox *>("cboLeft(3)")->isEnabled());
    }

    // A new load: the view follows it; the graph window stays on its flight and says so, and its
    // flight-wide commands name the flight they describe; its readout keeps the old times.
    void newLoadIsFollowedAndNamed()
    {
        View v;
        v.open(MakeFlight(5), QStringLiteral("/flights/first.txt"));
        FrmGraph graph(v.front.context());
        auto *line = graph.findChild<QLabel *>("lblOtherFlight");
        QVERIFY(!line->isVisibleTo(&graph));
        QCOMPARE(graph.findChild<QAction *>("mnuFlightSummary")->text(), QStringLiteral("Flight Summary..."));

        v.front.state.flightData = MakeFlight(9, {}, 6, 14 * 3600);
        NoteFlightLoaded(v.front.state, QStringLiteral("/flights/second.txt"));
        QCOMPARE(v.view->findChild<QLabel *>("lblFlight")->text(),
                 QStringLiteral("second.txt: 2026-06-15, 14:00:00 to 14:00:48 (0:00:48), 9 records"));
        QCOMPARE(v.charts()->spanEnd(), 48.0);
        QVERIFY(line->isVisibleTo(&graph));
        QVERIFY(line->text().contains("draw first.txt") && line->text().contains("second.txt has been loaded"));
        QCOMPARE(graph.findChild<QAction *>("mnuFlightSummary")->text(),
                 QStringLiteral("Flight Summary of second.txt (loaded)..."));
        QCOMPARE(graph.findChild<QAction *>("mnuExportCsv")->text(),
                 QStringLiteral("Export CSV of second.txt (loaded)..."));
        QCOMPARE(graph.graphView(2)->readoutParts(1).value(0), QStringLiteral("10:00:00"));

        graph.findChild<QPushButton *>("Command1")->click();
        QVERIFY(!line->isVisibleTo(&graph));
        QCOMPARE(graph.graphView(2)->readoutParts(1).value(0), QStringLiteral("14:00:00"));
        QCOMPARE(graph.findChild<QAction *>("mnuExportCsv")->text(), QStringLiteral("Export CSV..."));
    }

    // CHT 3 climbs a degree a record from record 60 to 420 at record 120 and back, at or above 400
    // from record 100 (10:10:00) to 140 (10:14:00); EGT 5 reads 0 at records 170 to 175. Chosen by
    // click or key, a finding is its span with a margin and the cursor on its first record; a new
    // load that is clean says so on a line that cannot be chosen.
    void findingsListedAndShown()
    {
        View v;
        v.open(MakeFlight(200, [](int i, QList<QByteArray> &f) {
            f[24] = QByteArray::number(360 + std::max(0, 60 - std::abs(i - 120)));
            if (i >= 170 && i <= 175)
                f[20] = "0";
        }));
        QTRY_VERIFY(v.view->findingsReady());
        auto *list = v.view->findChild<QListView *>("lstFindings");
        QVERIFY(list && list->isVisible());
        const auto row = [&](int r) { return list->model()->index(r, 0); };
        QCOMPARE(list->model()->rowCount(), 2);
        QCOMPARE(row(0).data().toString(), QStringLiteral("CHT 3 hot: 420\u00b0 peak\n10:10:00 to 10:14:00"));
        QCOMPARE(row(1).data().toString(), QStringLiteral("EGT 5 probe fault: read 0\n10:17:00 to 10:17:30"));
        QVERIFY(v.charts()->width() >= 2 * list->width()); // the list leaves the charts the window

        AnalysisCharts *charts = v.charts();
        const auto click = [&](int r) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(row(r)).center());
        };
        click(0);
        QCOMPARE(charts->zoomDepth(), 1); // the press and the click are one choice
        QCOMPARE(charts->spanStart(), 600.0 - 60);
        QCOMPARE(charts->spanEnd(), 840.0 + 60);
        QCOMPARE(charts->cursorRecord(), 100);
        charts->resetZoom();
        click(0); // chosen again after the user moved away: shown again
        QCOMPARE(charts->spanStart(), 600.0 - 60);
        QCOMPARE(charts->cursorRecord(), 100);

        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(list->currentIndex().row(), 1);
        QCOMPARE(charts->spanStart(), 1020.0 - 60);
        QCOMPARE(charts->spanEnd(), 1050.0 + 60);
        QCOMPARE(charts->cursorRecord(), 170);

        v.front.state.flightData = MakeFlight(30);
        NoteFlightLoaded(v.front.state, QStringLiteral("/flights/clean.txt"));
        QTRY_VERIFY(v.view->findingsReady());
        QCOMPARE(list->model()->rowCount(), 1);
        QCOMPARE(row(0).data().toString(), QStringLiteral("No findings in this flight."));
        QVERIFY(!(row(0).flags() & Qt::ItemIsSelectable));
        QCOMPARE(charts->spanEnd(), 6.0 * 29);
        click(0);
        QCOMPARE(charts->zoomDepth(), 0);
    }

    // A flight double-clicked in the library is the one the open view draws, named as it was
    // imported (not by its copy's hash), its findings its own; with nothing loaded the view offers
    // the library.
    void viewFollowsALibraryLoad()
    {
        IsolatedSettings settings;
        Front front;
        QTemporaryDir dir;
        QFile file(dir.filePath("cross-country.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(MakeFlightText(
            50,
            [](int i, QList<QByteArray> &f) {
                if (i >= 20 && i < 30)
                    f[24] = "430";
            },
            6, 23 * 3600 + 59 * 60));
        file.close();
        {
            FlightLibrary library(settings.path() + "/library");
            QCOMPARE(library.importFile(file.fileName()).outcome, ImportResult::Added);
        }
        QVERIFY(file.remove()); // the library keeps its own copy

        MainOstrel main(front.state, front.ui, front.files);
        main.show();
        main.findChild<QAction *>("mnuAnalysisView")->trigger();
        auto *view = main.findChild<FrmAnalysis *>();
        QVERIFY(view);
        auto *offer = view->findChild<QPushButton *>("cmdOpenLibrary");
        QVERIFY(offer->isVisible());
        QCOMPARE(view->findChild<QLabel *>("lblFlight")->text(), QStringLiteral("No flight loaded"));
        QTest::mouseClick(offer, Qt::LeftButton);
        auto *library = main.findChild<FrmLibrary *>();
        QVERIFY(library);

        auto *table = library->findChild<QTableView *>("tblFlights");
        QCOMPARE(table->model()->rowCount(), 1);
        const QPoint cell = table->visualRect(table->model()->index(0, 0)).center();
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell);
        QCOMPARE(main.findChildren<FrmAnalysis *>().size(), 1);
        QVERIFY(!offer->isVisible());
        // Across midnight: both dates, and the times carry their day.
        QCOMPARE(view->findChild<QLabel *>("lblFlight")->text(),
                 QStringLiteral("cross-country.txt: 2026-06-15 23:59:00 to 2026-06-16 00:03:54 (0:04:54), 50 records"));
        QCOMPARE(view->charts()->spanEnd(), 6.0 * 49);
        QTRY_VERIFY(view->findingsReady());
        auto *list = view->findChild<QListView *>("lstFindings");
        QCOMPARE(list->model()->rowCount(), 2); // hot, then cooled fast
        const QString day = QLocale::system().toString(QDate(2026, 6, 16), QStringLiteral("d MMM"));
        QCOMPARE(list->model()->index(0, 0).data().toString(),
                 QStringLiteral("CHT 3 hot: 430° peak\n%1 00:01:00 to 00:01:54").arg(day));
        QVERIFY(view->titleLine().contains("cross-country.txt"));
    }

    // Findings of one kind on several cylinders starting within a minute are one line, and choosing
    // it zooms to all of them and shades their span; a cylinder alone or a minute later is its own.
    void findingsGroupAcrossCylinders()
    {
        View v;
        v.open(MakeFlight(300, [](int i, QList<QByteArray> &f) {
            // CHTs 1 to 4 hot from records 50, 52, 55 and 58 (6 s apart) to 70; CHT 6 from 100 to 110;
            // CHT 5 from record 200.
            for (int c = 0; c < 4; ++c)
                f[22 + c] = i >= 50 + (c == 0   ? 0
                                       : c == 1 ? 2
                                       : c == 2 ? 5
                                                : 8) &&
                                    i <= 70
                                ? QByteArray::number(401 + c)
                                : QByteArray("380");
            if (i >= 100 && i <= 110)
                f[27] = "420";
            if (i >= 200 && i <= 205)
                f[26] = "405";
        }));
        QTRY_VERIFY(v.view->findingsReady());
        QCOMPARE(int(v.view->findings().size()), 6);
        auto *list = v.view->findChild<QListView *>("lstFindings");
        QCOMPARE(list->model()->rowCount(), 3);
        QCOMPARE(list->model()->index(0, 0).data().toString(),
                 QStringLiteral("CHT 1-4 hot: 401-404° peak\n10:05:00 to 10:07:00"));
        QCOMPARE(list->model()->index(1, 0).data().toString(),
                 QStringLiteral("CHT 6 hot: 420° peak\n10:10:00 to 10:11:00"));
        QCOMPARE(list->model()->index(2, 0).data().toString(),
                 QStringLiteral("CHT 5 hot: 405° peak\n10:20:00 to 10:20:30"));

        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(0, 0)).center());
        QCOMPARE(v.charts()->spanStart(), 300.0 - 60);
        QCOMPARE(v.charts()->spanEnd(), 420.0 + 60);
        QCOMPARE(v.charts()->shade(), (std::optional<std::pair<int, int>>(std::pair(50, 70))));
        // The span shaded in every chart, the CHT limit a line across the CHT chart.
        v.charts()->setCursorRecord(-1);
        const QImage image = v.charts()->grab().toImage();
        const QRect egt = v.charts()->plotRect(0);
        const QList<int> shaded =
            ColumnsWithColour(image, QColor(255, 236, 160), egt.left(), egt.right(), egt.top() + 1, egt.bottom() - 1);
        QVERIFY(!shaded.isEmpty());
        QVERIFY(std::abs(shaded.front() - PixelOf(v.charts(), 0, 300)) <= 2);
        QVERIFY(std::abs(shaded.back() - PixelOf(v.charts(), 0, 420)) <= 2);
        const QRect cht = v.charts()->plotRect(1);
        const auto [low, high] = v.charts()->valueSpan(1, 0);
        const int limitRow = int(std::lround(cht.bottom() - (400 - low) * cht.height() / (high - low)));
        QVERIFY(ColumnsWithColour(image, QColor(200, 0, 0), cht.left(), cht.left() + 40, limitRow, limitRow).size() >
                10);

        QCOMPARE(CylinderListText({1, 2, 5}), QStringLiteral("1-2, 5"));
    }

    // Readings never below 0 (a spread of a few degrees) get no value axis below 0.
    void spreadAxisStartsAtZero()
    {
        View v;
        v.open(MakeFlight(40, [](int i, QList<QByteArray> &f) {
            for (int k = 16; k < 22; ++k)
                f[k] = QByteArray::number(1300 + (k == 16 && i % 2 ? 8 : 0));
        }));
        v.combo("cboLeft(3)")->setCurrentText("EGT spread");
        QCOMPARE(v.combo("cboLeft(3)")->currentText(), QStringLiteral("EGT spread"));
        const auto [low, high] = v.charts()->valueSpan(2, 0);
        QCOMPARE(low, 0.0);
        QVERIFY(high >= 8);
    }

    // A click on a legend entry hides its series (out of the drawing, the box and the refit) and a
    // second shows it; a cylinder the engine lacks is in no legend and no box.
    void legendTogglesSeries()
    {
        View v;
        v.open(MakeFlight(60, [](int i, QList<QByteArray> &f) {
            f[21] = f[27] = ""; // a five-cylinder engine
            if (i == 30)
                f[16] = "1700";
        }));
        AnalysisCharts *charts = v.charts();
        QStringList names;
        for (const LegendEntry &entry : charts->legendEntries())
            if (entry.chart < 2)
                names << SeriesName(entry.series);
        QCOMPARE(names, (QStringList{"EGT 1", "EGT 2", "EGT 3", "EGT 4", "EGT 5", "CHT 1", "CHT 2", "CHT 3", "CHT 4",
                                     "CHT 5"}));
        charts->setCursorRecord(30);
        QCOMPARE(charts->cursorBoxLines().mid(1, 6).size(), 6);
        QVERIFY(!charts->cursorBoxLines().join(',').contains("EGT 6"));
        QVERIFY(charts->valueSpan(0, 0).second >= 1700);

        const LegendEntry egt1 = charts->legendEntries().front();
        QCOMPARE(egt1.series, 0);
        Click(charts, egt1.rect.center());
        QVERIFY(charts->seriesHidden(0));
        QVERIFY(!charts->markA()); // a legend click is no mark
        QVERIFY(!charts->cursorBoxLines().join(',').contains("EGT 1"));
        QVERIFY(charts->valueSpan(0, 0).second < 1700);
        charts->setCursorRecord(-1);
        const QImage image = charts->grab().toImage();
        const QRect plot = charts->plotRect(0);
        QVERIFY(ColumnsWithColour(image, SeriesColour(0), plot.left() + 1, plot.right() - 1, plot.top() + 1,
                                  plot.bottom() - 1)
                    .isEmpty());
        Click(charts, egt1.rect.center());
        QVERIFY(!charts->seriesHidden(0));
    }

    // Zoomed, each axis fits what is in sight, never narrower than 20 degrees for temperatures;
    // Reset gives back the whole flight's; a cylinder's quantity and the spreads draw as told.
    void axesRefitWhenZoomed()
    {
        View v;
        v.open(MakeFlight(200, [](int i, QList<QByteArray> &f) {
            if (i < 100)
                f[16] = QByteArray::number(1000 + 4 * i); // EGT 1 climbs to 1396, then holds at 1300
            f[22] = i % 2 ? "351" : "349";                // CHT 1 wavers a degree either way
        }));
        AnalysisCharts *charts = v.charts();
        const auto egtHome = charts->valueSpan(0, 0);
        const auto chtHome = charts->valueSpan(1, 0);
        QVERIFY(egtHome.first <= 1000 && egtHome.second >= 1500);
        const QRect plot = charts->plotRect(0);
        charts->zoomToRect(0, QRect(QPoint(PixelOf(charts, 0, 6 * 120), plot.top()),
                                    QPoint(PixelOf(charts, 0, 6 * 180), plot.top() + 2)));
        const auto egt = charts->valueSpan(0, 0);
        QVERIFY2(egt.first > 1200 && egt.first <= 1300 && egt.second >= 1500 && egt.second < 1600,
                 qPrintable(QStringLiteral("%1 %2").arg(egt.first).arg(egt.second)));
        const auto cht = charts->valueSpan(1, 0);
        QVERIFY(cht.first <= 349 && cht.second >= 375 && cht.second - cht.first >= 20);
        QTest::mouseClick(v.view->findChild<QPushButton *>("cmdReset"), Qt::LeftButton);
        QCOMPARE(charts->valueSpan(0, 0), egtHome);
        QCOMPARE(charts->valueSpan(1, 0), chtHome);

        // Cylinder 2: its EGT left, its CHT right (the right box gives way); the CHT spread 25.
        v.combo("cboLeft(1)")->setCurrentText("Cylinder 2");
        QVERIFY(!v.combo("cboRight(1)")->isEnabled());
        v.combo("cboLeft(2)")->setCurrentText("CHT spread");
        charts->setCursorRecord(150);
        QCOMPARE(charts->cursorBoxLines().mid(1, 3),
                 (QStringList{"EGT 2  1340°F", "CHT 2  355°F", "CHT spread  26°F"}));
    }

    // Save Report... (button and menu) writes the loaded flight's page under the name it was loaded
    // by; with nothing loaded it cannot be chosen.
    void saveReportOfTheLoadedFlight()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("evening.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(MakeFlightText(300)) > 0);
        file.close();
        View v;
        v.open(ParseFlightData(MakeFlightText(300)), file.fileName());
        auto *button = v.view->findChild<QPushButton *>("cmdSaveReport");
        QVERIFY(button && button->isEnabled());
        const QString pdf = dir.filePath("evening.pdf");
        v.front.files.answers = {pdf};
        button->click();
        QCOMPARE(v.front.files.requests.last().initialFileName, QStringLiteral("evening.pdf"));
        // The dialog starts in the documents folder (never the program's own); then where the last file went.
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(v.front.files.requests.last().folder, QFileInfo(documents).isDir() ? documents : QDir::homePath());
        v.front.files.answers = {dir.filePath("view.png")};
        v.view->findChild<QPushButton *>("cmdSaveImage")->click();
        QCOMPARE(QDir(v.front.files.requests.last().folder), QDir(dir.path()));
        QFile written(pdf);
        QVERIFY(written.open(QIODevice::ReadOnly) && written.read(5) == "%PDF-");
        if (test::HaveLinuxTool("pdftotext")) {
            QVERIFY(test::LinuxTool("pdfinfo", {pdf}).contains(QRegularExpression("Pages:\\s+1\\n")));
            const QString words = test::LinuxTool("pdftotext", {"-layout", pdf, "-"});
            QVERIFY2(words.contains("Flight report") && words.contains("evening.txt"), qPrintable(words));
        }

        emit v.charts()->contextMenuWanted(v.view->mapToGlobal(QPoint(50, 50)));
        auto *item = v.view->findChild<QAction *>("mnuAnalysisSaveReport");
        QVERIFY(item && item->isEnabled() && item->text() == QStringLiteral("Save Report..."));

        v.front.state.flightData = FlightData{};
        NoteFlightLoaded(v.front.state, QString());
        QVERIFY(!button->isEnabled());
    }

    // The whole stack as PNG and PDF; opened from the menu and from the graph window, once.
    void picturesAndWaysIn()
    {
        View v;
        v.open(MakeFlight(300));
        QTemporaryDir dir;
        QVERIFY(v.view->saveImage(dir.filePath("stack.png")));
        QCOMPARE(QImage(dir.filePath("stack.png")).size(), v.view->pictureSize());
        QVERIFY(v.view->saveImage(dir.filePath("stack.pdf")));
        QFile pdf(dir.filePath("stack.pdf"));
        QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.read(5) == "%PDF-");
        // Its texts are text, in their places: the title line, the axes' titles and numbers.
        if (test::HaveLinuxTool("pdftotext")) {
            const QString words = test::LinuxTool("pdftotext", {"-layout", dir.filePath("stack.pdf"), "-"});
            for (const char *expected : {"2026-06-15 · one.txt · 10:00:00 to 10:29:54", "EGT (°F)", "CHT (°F)",
                                         "1500", "Manifold (inHg)", "10:15:00"})
                QVERIFY2(words.contains(QString::fromUtf8(expected)), qPrintable(expected + ("\n" + words)));
        }

        MainOstrel main(v.front.state, v.front.ui, v.front.files);
        main.show();
        auto *menu = main.findChild<QMenu *>("mnuAnalysis");
        QVERIFY(menu);
        // After the flight library's item.
        QCOMPARE(menu->actions().value(1)->objectName(), QStringLiteral("mnuAnalysisView"));
        QCOMPARE(menu->actions().value(1)->text(), QStringLiteral("Analysis View..."));
        menu->actions().value(1)->trigger();
        QCOMPARE(main.findChildren<FrmAnalysis *>().size(), 1);
        main.findChild<QAction *>("mnuEGT")->trigger();
        auto *graph = main.findChild<FrmGraph *>();
        QVERIFY(graph);
        graph->findChild<QAction *>("mnuGraphAnalysis")->trigger();
        QCOMPARE(main.findChildren<FrmAnalysis *>().size(), 1);
        QVERIFY(main.mdiArea()->activeSubWindow()->widget() == main.findChild<FrmAnalysis *>());
    }

    // Counts read as the user's locale groups them, in the heading as on the report's lines; one
    // of a thing is one.
    void countsReadInTheLocale()
    {
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const auto back = qScopeGuard([&] { QLocale::setDefault(before); });
        View v;
        v.open(MakeFlight(1200));
        QVERIFY2(v.view->headingText().endsWith(QStringLiteral(", 1.200 records")), qPrintable(v.view->headingText()));
        QCOMPARE(FindingKindCount(FindingKind::ChtProbe, 1), QStringLiteral("1 CHT probe with faults"));
        QCOMPARE(FindingKindCount(FindingKind::ChtHigh, 2500), QStringLiteral("2.500 CHT hot"));
        v.open(MakeFlight(1));
        QVERIFY2(v.view->headingText().endsWith(QStringLiteral(", 1 record")), qPrintable(v.view->headingText()));
    }

    // On a small screen the view fits the main window's work area whole, opened there or on a wide
    // window first: its least size within it, the heading's commands, the value box's every row
    // (RPM and Manifold last) and the A/B line in sight. KORVEL_KEEP_SHOTS=DIR keeps a picture of
    // each size.
    void smallScreensShowEverything()
    {
        const std::pair<QSize, bool> sizes[] = {{{640, 480}, false}, {{900, 600}, false}, {{640, 480}, true}};
        for (const auto &[screen, wideFirst] : sizes) {
            View v;
            v.front.state.flightData = MakeFlight(600);
            NoteFlightLoaded(v.front.state, QStringLiteral("/flights/a-rather-long-flight-name-from-the-hangar.txt"));
            MainOstrel main(v.front.state, v.front.ui, v.front.files);
            main.resize(wideFirst ? QSize(1600, 1000) : screen);
            main.show();
            main.findChild<QAction *>("mnuAnalysisView")->trigger();
            QCoreApplication::processEvents();
            auto *view = main.findChild<FrmAnalysis *>();
            QVERIFY(view);
            auto *frame = qobject_cast<QMdiSubWindow *>(view->parentWidget());
            // Laid out wide, it may still be dragged down to the small screen's size.
            const QSize wideLeast = frame->minimumSizeHint();
            if (wideFirst) { // then the owner moves it onto a small screen and fits it there
                main.resize(screen);
                QCoreApplication::processEvents();
                frame->setGeometry(QRect(QPoint(0, 0), main.mdiArea()->viewport()->size()));
                QCoreApplication::processEvents();
            }
            const QSize area = main.mdiArea()->viewport()->size();
            const QString at = QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height());
            QVERIFY2(frame->minimumSizeHint().width() <= area.width() &&
                         frame->minimumSizeHint().height() <= area.height(),
                     qPrintable(at + QStringLiteral(": least %1x%2 in %3x%4")
                                         .arg(frame->minimumSizeHint().width())
                                         .arg(frame->minimumSizeHint().height())
                                         .arg(area.width())
                                         .arg(area.height())));
            QVERIFY2(wideLeast.width() <= area.width() && wideLeast.height() <= area.height(), qPrintable(at));
            QVERIFY2(QRect(QPoint(0, 0), area).contains(frame->geometry()), qPrintable(at));
            for (auto *button : view->findChildren<QPushButton *>())
                if (button->isVisible())
                    QVERIFY2(view->rect().contains(QRect(button->mapTo(view, QPoint(0, 0)), button->size())),
                             qPrintable(at + " " + button->text()));

            AnalysisCharts *charts = view->charts();
            charts->setMarkA(100);
            charts->setMarkB(400);
            charts->setCursorRecord(300);
            QCoreApplication::processEvents();
            // Every row of the value box inside the charts, the engine's last.
            const QRect box = charts->cursorBoxRect();
            QVERIFY2(charts->rect().contains(box), qPrintable(at));
            QVERIFY(charts->cursorBoxLines().last().startsWith(QStringLiteral("Manifold")));
            // The A/B line: its figures whole, or scrolled to, never cut off by the window.
            auto *marks = view->findChild<QLabel *>("lblMarks");
            QVERIFY(marks->text().contains(QStringLiteral("B - A")));
            QVERIFY2(marks->visibleRegion().boundingRect().height() >= 2 * marks->fontMetrics().lineSpacing(),
                     qPrintable(at));
            if (const QString keep = qEnvironmentVariable("KORVEL_KEEP_SHOTS"); !keep.isEmpty()) {
                Send(charts, QEvent::MouseMove, QPoint(charts->cursorPixel(), charts->plotRect(1).center().y()));
                main.grab().save(QStringLiteral("%1/analysis-%2.png").arg(keep, at));
            }
        }
    }
};

QTEST_MAIN(TestAnalysis)
#include "test_analysis.moc"
