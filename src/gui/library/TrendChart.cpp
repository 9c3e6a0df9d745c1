#include "gui/library/TrendChart.h"

#include "core/flight/CountText.h"
#include "core/flight/FlightFields.h"
#include "core/flight/Statistics.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace korvel {

namespace {

constexpr double kPointReach = 10; // pixels from a point that still hover or click it

// A trend measure as the analysis view reads it: its name with the unit, and the factor from the
// number the instrument records to that unit.
struct MeasureView {
    QString raw; // the library's name for it
    QString label;
    double scale = 1;
    double least = 1; // the least span the chart shows, so that noise does not look violent
};

// The least span for a unit: what an owner would call a real change.
double LeastSpan(const QString &unit)
{
    if (unit == QStringLiteral("°F"))
        return 20;
    if (unit == QLatin1String("rpm"))
        return 100;
    if (unit == QLatin1String("psi"))
        return 5;
    if (unit == QLatin1String("inHg"))
        return 2;
    return 1;
}

const std::vector<MeasureView> &MeasureViews()
{
    static const std::vector<MeasureView> views = [] {
        std::vector<MeasureView> list = {
            {QStringLiteral("cht_max"), QStringLiteral("Peak CHT (°F)"), 1, 20},
            {QStringLiteral("egt_max"), QStringLiteral("Peak EGT (°F)"), 1, 20},
            {QStringLiteral("cht_spread_max"), QStringLiteral("CHT spread, largest (°F)"), 1, 20},
            {QStringLiteral("egt_spread_max"), QStringLiteral("EGT spread, largest (°F)"), 1, 20},
            {QStringLiteral("findings"), QStringLiteral("Findings"), 1, 5},
            {QStringLiteral("duration_s"), QStringLiteral("Duration (h)"), 1.0 / 3600, 0.25},
            {QStringLiteral("records"), QStringLiteral("Records"), 1, 100},
        };
        // Field 2 is the manifold pressure here, as in the analysis view.
        const auto addField = [&](int field) {
            const FieldInfo info = FieldInfoOf(field);
            const QString name = QString::fromUtf8(info.name), unit = QString::fromUtf8(info.unit);
            static const std::pair<FieldStatistic, const char *> stats[3] = {
                {FieldStatistic::Mean, "mean"}, {FieldStatistic::Max, "highest"}, {FieldStatistic::Min, "lowest"}};
            for (const auto &[stat, word] : stats) {
                const QString label = unit.isEmpty()
                                          ? QStringLiteral("%1, %2").arg(name, QLatin1String(word))
                                          : QStringLiteral("%1, %2 (%3)").arg(name, QLatin1String(word), unit);
                list.push_back({QString::fromLatin1(FieldMeasureKey(field, stat)), label, info.scale, LeastSpan(unit)});
            }
        };
        QList<int> named;
        for (const FieldInfo &f : NamedFields()) {
            addField(f.field);
            named << f.field;
        }
        for (int c = 1; c <= kCylinders; ++c)
            addField(kFirstChtField + c - 1);
        for (int c = 1; c <= kCylinders; ++c)
            addField(kFirstEgtField + c - 1);
        for (int field = 0; field < kFirstEgtField; ++field)
            if (!named.contains(field))
                addField(field);
        // Only what the library can follow; anything it adds later still shows by its own name.
        const QStringList measures = FlightLibrary::Measures();
        std::erase_if(list, [&](const MeasureView &m) { return !measures.contains(m.raw); });
        for (const QString &m : measures)
            if (std::none_of(list.cbegin(), list.cend(), [&](const MeasureView &v) { return v.raw == m; }))
                list.push_back({m, m});
        return list;
    }();
    return views;
}

QString ValueText(double v)
{
    const double tenths = std::round(v * 10) / 10;
    return tenths == std::round(tenths) ? QString::number(qint64(std::llround(tenths)))
                                        : QString::number(tenths, 'f', 1);
}

// The span that shows the central values well: a value further out than three times the middle
// half's width (or the least span) beyond it, a wrong clock or a broken probe, is left beyond the
// edge, but only where it would squeeze the others into a quarter of the chart or less. The
// wheel still reaches it. The span is never less than the least one.
QCPRange CentralRange(std::vector<double> values, double least)
{
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) { return Percentile(values, q); };
    const QCPRange all(values.front(), values.back());
    double q1 = at(0.25), q3 = at(0.75);
    if (q3 <= q1) {
        q1 = at(0.1);
        q3 = at(0.9);
    }
    const double reach = std::max(3 * (q3 - q1), least);
    const auto first = std::lower_bound(values.cbegin(), values.cend(), q1 - reach);
    const auto last = std::upper_bound(values.cbegin(), values.cend(), q3 + reach);
    QCPRange range(*first, *(last - 1));
    if (std::max(range.size(), least) * 4 > all.size())
        range = all;
    if (range.size() < least) {
        const double middle = range.center();
        range = QCPRange(middle - least / 2, middle + least / 2);
    }
    return range;
}

const MeasureView &ViewOf(const QComboBox *box)
{
    return MeasureViews()[size_t(std::max(0, box->currentIndex()))];
}

} // namespace

TrendChart::TrendChart(QWidget *parent) : QWidget(parent)
{
    m_measure = new QComboBox(this);
    m_measure->setObjectName(QStringLiteral("cboMeasure"));
    for (const MeasureView &m : MeasureViews())
        m_measure->addItem(m.label, m.raw);
    m_measure->setCurrentIndex(0);
    m_measure->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_measure->setMaxVisibleItems(20);
    m_reset = new QPushButton(QStringLiteral("Reset View"), this);
    m_reset->setObjectName(QStringLiteral("cmdTrendReset"));
    m_reset->setToolTip(QStringLiteral("The first view again: the wheel zooms the time, dragging moves the chart"));

    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(QStringLiteral("plotTrend"));
    m_plot->setMinimumHeight(110);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(QStringLiteral("yyyy-MM-dd"));
    m_plot->xAxis->setTicker(ticker);
    m_plot->yAxis->ticker()->setTickCount(4);
    QCPGraph *points = m_plot->addGraph();
    points->setLineStyle(QCPGraph::lsNone);
    points->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(0x1f, 0x5f, 0xbf), 7));
    points->setSelectable(QCP::stNone);
    // The selected flight's point: a ring around it.
    QCPGraph *chosen = m_plot->addGraph();
    chosen->setLineStyle(QCPGraph::lsNone);
    chosen->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(Qt::red, 2), Qt::NoBrush, 14));
    chosen->setSelectable(QCP::stNone);
    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // The wheel zooms time only: a flight's value never leaves the chart unsaid.
    m_plot->axisRect()->setRangeZoom(Qt::Horizontal);
    m_note = new QCPItemText(m_plot);
    m_note->setObjectName(QStringLiteral("lblTrendNote"));
    m_note->position->setType(QCPItemPosition::ptAxisRectRatio);
    m_note->position->setCoords(0.5, 0.5);
    m_note->setPositionAlignment(Qt::AlignCenter);
    m_note->setColor(palette().color(QPalette::PlaceholderText));
    m_outside = new QLabel(this);
    m_outside->setObjectName(QStringLiteral("lblTrendOutside"));
    m_outside->setVisible(false);

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Trend of"), this));
    bar->addWidget(m_measure);
    bar->addStretch();
    bar->addWidget(m_outside);
    bar->addWidget(m_reset);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(m_plot);

    connect(m_measure, &QComboBox::currentIndexChanged, this, &TrendChart::measureChanged);
    connect(m_reset, &QPushButton::clicked, this, &TrendChart::resetView);
    connect(m_plot, &QCustomPlot::mousePress, this, [this](QMouseEvent *event) { m_pressedAt = event->position(); });
    connect(m_plot, &QCustomPlot::mouseRelease, this, &TrendChart::mouseReleased);
    connect(m_plot, &QCustomPlot::mouseMove, this, &TrendChart::mouseMoved);
    // Whatever moved the view, the flights it leaves out are counted.
    for (QCPAxis *axis : {m_plot->xAxis, m_plot->yAxis})
        connect(axis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this, [this] {
            if (!m_plot->graph(0)->data()->isEmpty())
                countOutside();
        });
}

QString TrendChart::measure() const
{
    return ViewOf(m_measure).raw;
}

void TrendChart::showPoints(const std::vector<TrendPoint> &points, const QSet<qint64> &shown, bool libraryEmpty)
{
    const MeasureView &measure = ViewOf(m_measure);
    struct Point {
        double x, y;
        qint64 id;
    };
    std::vector<Point> drawn;
    bool anyShown = false;
    for (const TrendPoint &p : points) {
        if (!shown.contains(p.id))
            continue;
        anyShown = true;
        if (p.value && std::isfinite(*p.value))
            drawn.push_back({double(QDateTime::fromString(p.first, Qt::ISODate).toSecsSinceEpoch()),
                             *p.value * measure.scale, p.id});
    }
    // The graph keeps its points by time; the ids keep that same order, so a point's index names
    // its flight.
    std::stable_sort(drawn.begin(), drawn.end(), [](const Point &a, const Point &b) { return a.x < b.x; });
    QVector<double> x, y;
    m_pointIds.clear();
    for (const Point &p : drawn) {
        x << p.x;
        y << p.y;
        m_pointIds.push_back(p.id);
    }
    m_plot->graph(0)->setData(x, y, true);
    m_plot->yAxis->setLabel(measure.label);
    m_note->setVisible(drawn.empty());
    m_plot->yAxis->setTickLabels(!drawn.empty());
    if (drawn.empty()) {
        // Nothing to draw: the last month up to today, and a word on why the chart is empty.
        m_note->setText(libraryEmpty ? QStringLiteral("No flight in the library yet: Import... adds them")
                        : !anyShown  ? QStringLiteral("No flight in the days chosen")
                                     : QStringLiteral("No flight shown has a value for %1").arg(measure.label));
        m_outside->setVisible(false);
        const double today = double(QDateTime(QDate::currentDate().addDays(1), QTime(0, 0)).toSecsSinceEpoch());
        m_plot->xAxis->setRange(today - 31 * 86400.0, today);
        m_plot->yAxis->setRange(0, 1);
    } else {
        resetView();
    }
    markFlights(m_marked);
}

void TrendChart::resetView()
{
    const QSharedPointer<QCPGraphDataContainer> data = m_plot->graph(0)->data();
    if (data->isEmpty()) {
        m_plot->replot();
        return;
    }
    std::vector<double> xs, ys;
    for (auto it = data->constBegin(); it != data->constEnd(); ++it) {
        xs.push_back(it->key);
        ys.push_back(it->value);
    }
    const QCPRange xr = CentralRange(xs, 7 * 86400.0), yr = CentralRange(ys, ViewOf(m_measure).least);
    const double pad = xr.size() * 0.04;
    m_plot->xAxis->setRange(xr.lower - pad, xr.upper + pad);
    const double ypad = yr.size() * 0.1;
    m_plot->yAxis->setRange(yr.lower - ypad, yr.upper + ypad);
    countOutside();
    m_plot->replot();
}

void TrendChart::countOutside()
{
    const QSharedPointer<QCPGraphDataContainer> data = m_plot->graph(0)->data();
    const QCPRange xr = m_plot->xAxis->range(), yr = m_plot->yAxis->range();
    int outside = 0;
    for (auto it = data->constBegin(); it != data->constEnd(); ++it)
        outside += !xr.contains(it->key) || !yr.contains(it->value);
    m_outside->setVisible(outside > 0);
    m_outside->setText(QStringLiteral("%1 beyond the view (drag or Reset View)")
                           .arg(CountText(outside, QStringLiteral("flight"), QStringLiteral("flights"))));
}

void TrendChart::markFlights(const QList<qint64> &ids)
{
    m_marked = ids;
    QVector<double> x, y;
    const QSharedPointer<QCPGraphDataContainer> data = m_plot->graph(0)->data();
    for (size_t k = 0; k < m_pointIds.size(); ++k)
        if (ids.contains(m_pointIds[k]) && int(k) < data->size()) {
            x << data->at(int(k))->key;
            y << data->at(int(k))->value;
        }
    m_plot->graph(1)->setData(x, y, true);
    m_plot->replot();
}

int TrendChart::pointAt(const QPointF &pixel) const
{
    const QSharedPointer<QCPGraphDataContainer> data = m_plot->graph(0)->data();
    int best = -1;
    double bestDistance = kPointReach * kPointReach;
    for (int k = 0; k < data->size(); ++k) {
        const double dx = m_plot->xAxis->coordToPixel(data->at(k)->key) - pixel.x();
        const double dy = m_plot->yAxis->coordToPixel(data->at(k)->value) - pixel.y();
        if (dx * dx + dy * dy <= bestDistance) {
            bestDistance = dx * dx + dy * dy;
            best = k;
        }
    }
    return best < int(m_pointIds.size()) ? best : -1;
}

void TrendChart::mouseMoved(QMouseEvent *event)
{
    if (event->buttons() != Qt::NoButton)
        return;
    const int k = pointAt(event->position());
    if (k < 0) {
        QToolTip::hideText();
        return;
    }
    const auto point = m_plot->graph(0)->data()->at(k);
    const QDateTime when = QDateTime::fromSecsSinceEpoch(qint64(point->key));
    // A count (records, findings) reads as counts do everywhere else.
    const bool count = measure() == QLatin1String("records") || measure() == QLatin1String("findings");
    const QString text = QStringLiteral("%1\n%2: %3")
                             .arg(when.toString(QStringLiteral("yyyy-MM-dd HH:mm")), m_plot->yAxis->label(),
                                  count ? CountText(std::llround(point->value)) : ValueText(point->value));
    QToolTip::showText(event->globalPosition().toPoint(), text, m_plot);
}

void TrendChart::mouseReleased(QMouseEvent *event)
{
    // A click, not the end of a drag: the flight whose point it hit is chosen.
    if ((event->position() - m_pressedAt).manhattanLength() > 4 || event->button() != Qt::LeftButton)
        return;
    const int k = pointAt(event->position());
    if (k >= 0)
        emit flightClicked(m_pointIds[size_t(k)]);
}

} // namespace korvel
