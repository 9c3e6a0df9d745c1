#include "gui/graphs/GraphView.h"

#include "gui/common/Controls.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace korvel {

namespace {

// Colour numbers 1 to 13: strong colours that stay apart on a white ground.
QColor PaletteColour(int number)
{
    static const QRgb palette[13] = {0x000000, 0x1f5fbf, 0x1e8c3a, 0xd62728, 0x8e44ad, 0x8c564b, 0xe0448f,
                                     0x6b6b6b, 0x9a9000, 0x0099b0, 0xf07f0e, 0x1a237e, 0x00796b};
    return QColor(palette[(number - 1 + 13) % 13]);
}

QFont ArialFont(qreal points, bool bold = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Tick positions over an axis: `intervals` equal steps from the minimum to the maximum.
double TickAt(double lower, double upper, int intervals, int k)
{
    return lower + k * (upper - lower) / intervals;
}

// An axis that runs nowhere (one record) still gets a width to draw in.
QCPRange Drawable(double lower, double upper)
{
    if (!(upper > lower))
        return QCPRange(lower, lower + 1);
    return QCPRange(lower, upper);
}

// A value under the cursor: whole numbers bare, anything else to one decimal.
QString ReadoutNumber(double v)
{
    return QString::number(v, 'f', std::abs(v - std::round(v)) < 1e-6 ? 0 : 1);
}

} // namespace

namespace {

// A series of up to this many points in view goes to the chart whole; a longer one as the lowest
// and highest value of each of kBuckets runs of points, in their order, which draws the same
// lines at any width the window has. The chart then holds a few thousand points a series rather
// than a copy of a long flight's every point.
constexpr size_t kWholeUpTo = 8192;
constexpr size_t kBuckets = 2048;

// The points of one set in view: x from lower to upper on the time axis (point n stands at n).
QVector<QCPGraphData> PointsInView(const GraphSet &set, const std::vector<float> &values, double lower, double upper,
                                   bool &sorted)
{
    QVector<QCPGraphData> points;
    sorted = true;
    const size_t n = values.size();
    // Positions written by hand draw every point where it was put.
    if (!set.x.empty() || n <= kWholeUpTo) {
        points.reserve(int(n));
        for (size_t i = 0; i < n; ++i) {
            if (std::isnan(values[i]))
                continue;
            // A point whose X position was never written stands at its point number.
            const float xi = set.xAt(i);
            const double x = std::isnan(xi) ? double(i + 1) : double(xi);
            if (!points.isEmpty() && x < points.constLast().key)
                sorted = false;
            points.append(QCPGraphData(x, values[i]));
        }
        return points;
    }

    // Point i + 1 stands at i + 1: the indexes in view, with a point either side so the lines run
    // on past the edges.
    const auto clampIndex = [n](double v) { return size_t(std::clamp(v, 0.0, double(n))); };
    const size_t from = clampIndex(std::floor(lower) - 1), to = clampIndex(std::ceil(upper));
    const auto add = [&](size_t i) { points.append(QCPGraphData(double(i + 1), values[i])); };
    for (size_t i = from; i-- > 0;)
        if (!std::isnan(values[i])) {
            add(i);
            break;
        }
    if (to - from <= kWholeUpTo) {
        for (size_t i = from; i < to; ++i)
            if (!std::isnan(values[i]))
                add(i);
    } else {
        const size_t span = to - from;
        points.reserve(int(2 * kBuckets + 2));
        for (size_t b = 0; b < kBuckets; ++b) {
            const size_t begin = from + span * b / kBuckets, end = from + span * (b + 1) / kBuckets;
            size_t low = end, high = end;
            for (size_t i = begin; i < end; ++i) {
                const float v = values[i];
                if (std::isnan(v))
                    continue;
                if (low == end || v < values[low])
                    low = i;
                if (high == end || v > values[high])
                    high = i;
            }
            if (low == end)
                continue;
            add(std::min(low, high));
            if (low != high)
                add(std::max(low, high));
        }
    }
    for (size_t i = to; i < n; ++i)
        if (!std::isnan(values[i])) {
            add(i);
            break;
        }
    return points;
}

} // namespace

void GraphView::feedSeries()
{
    const QCPRange range = m_plot->xAxis->range();
    for (const Drawn &drawn : m_drawn) {
        const GraphSet &set = m_model.sets[size_t(drawn.set)];
        bool sorted = true;
        const QVector<QCPGraphData> points =
            PointsInView(set, drawn.second ? set.secondValue : set.value, range.lower, range.upper, sorted);
        drawn.series->data()->set(points, sorted);
    }
}

GraphView::GraphView(FileChooser &files, const QString &designTitle, QWidget *parent) : QWidget(parent), m_files(files)
{
    m_model.title = designTitle;
    m_graph.onRedraw = [this] { redrawModel(); };
    m_graph.onVisible = [this](bool visible) { setVisible(visible); };

    m_plot = new QCustomPlot(this);
    m_plot->setObjectName(QStringLiteral("chart"));
    m_plot->setFont(ArialFont(8));
    m_plot->setBackground(Qt::white);
    m_plot->setNoAntialiasingOnDrag(true);
    m_plot->setNotAntialiasedElements(QCP::aePlottables);
    m_plot->setPlottingHint(QCP::phFastPolylines, true);
    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    m_plot->axisRect()->setRangeDrag(Qt::Horizontal);
    m_plot->axisRect()->setRangeZoom(Qt::Horizontal);
    m_plot->axisRect()->setRangeZoomAxes({m_plot->xAxis}, {m_plot->yAxis, m_plot->yAxis2});
    // The chart takes every mouse button for itself; its right button opens the menu here.
    m_plot->setContextMenuPolicy(Qt::PreventContextMenu);

    m_plot->plotLayout()->insertRow(0);
    m_title = new QCPTextElement(m_plot, designTitle, ArialFont(11, true));
    m_plot->plotLayout()->addElement(0, 0, m_title);

    for (QCPAxis *axis : {m_plot->xAxis, m_plot->yAxis, m_plot->yAxis2}) {
        axis->setTickLabelFont(ArialFont(8));
        axis->setLabelFont(ArialFont(8));
    }
    m_plot->yAxis2->setVisible(false);
    m_plot->legend->setFont(ArialFont(8));
    m_plot->legend->setBrush(QColor(255, 255, 255, 220));
    m_plot->legend->setRowSpacing(0);
    // The legend stands beside the chart, clear of the lines.
    auto *legendCell = new QCPLayoutGrid;
    m_plot->plotLayout()->addElement(1, 1, legendCell);
    m_plot->axisRect()->insetLayout()->take(m_plot->legend);
    legendCell->addElement(0, 0, m_plot->legend);
    legendCell->addElement(1, 0, new QCPLayoutElement(m_plot)); // keeps the legend at the top
    legendCell->setRowStretchFactor(0, 0.001);
    legendCell->setRowStretchFactor(1, 1);
    legendCell->setMargins(QMargins(0, 0, 4, 0));
    m_plot->plotLayout()->setColumnStretchFactor(1, 0.001);
    m_plot->plotLayout()->setColumnSpacing(0);
    m_plot->plotLayout()->addElement(0, 1, new QCPLayoutElement(m_plot));
    // Room on the right for the last time label.
    m_plot->axisRect()->setMinimumMargins(QMargins(15, 15, 35, 15));

    m_cursor = new QCPItemStraightLine(m_plot);
    m_cursor->setPen(QPen(QColor(120, 120, 120), 0, Qt::DotLine));
    m_cursor->setVisible(false);
    m_cursor->setSelectable(false);

    m_readout = new QLabel(this);
    m_readout->setObjectName(QStringLiteral("readout"));
    m_readout->setFont(ArialFont(8));
    m_readout->setTextFormat(Qt::PlainText);
    m_readout->setWordWrap(true);
    m_readout->setMinimumHeight(QFontMetrics(m_readout->font()).height() + 2);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_plot, 1);
    layout->addWidget(m_readout);

    connect(m_plot, &QCustomPlot::mouseMove, this, &GraphView::followMouse);
    connect(m_plot, &QCustomPlot::mouseDoubleClick, this, [this] { resetZoom(); });
    connect(m_plot, &QCustomPlot::mouseRelease, this, [this](QMouseEvent *event) {
        if (event->button() == Qt::RightButton)
            showContextMenu(event->globalPosition().toPoint());
    });
    // The wheel over the chart zooms the time; over a value axis, that axis alone.
    connect(m_plot, &QCustomPlot::mouseWheel, this, [this](QWheelEvent *event) {
        const bool overChart = m_plot->axisRect()->rect().contains(event->position().toPoint());
        m_plot->axisRect()->setRangeZoom(overChart ? Qt::Horizontal : Qt::Horizontal | Qt::Vertical);
    });
    // A new stretch of time in view: its points, then its labels.
    connect(m_plot->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this, &GraphView::feedSeries);
    connect(m_plot->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this, &GraphView::relabelTimeAxis);
    for (QCPAxis *axis : {m_plot->yAxis, m_plot->yAxis2})
        connect(axis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this, &GraphView::relabelValueAxes);
    redrawModel();
}

GraphView::~GraphView() = default;

QSharedPointer<QCPAxisTicker> GraphView::modelTicker() const
{
    auto ticker = QSharedPointer<QCPAxisTickerText>::create();
    const int intervals = std::clamp(m_model.xAxis.tickCount, 1, kTickPositions - 1);
    for (int k = 0; k <= intervals; ++k) {
        const int position = k + 1;
        ticker->addTick(TickAt(m_model.xAxis.minimum, m_model.xAxis.maximum, intervals, k),
                        position <= kTickPositions ? m_model.tickLabels[position] : QString());
    }
    return ticker;
}

void GraphView::redrawModel()
{
    m_plot->clearGraphs();
    m_title->setText(m_model.secondCaption.isEmpty() || m_model.secondCaption == m_model.title
                         ? m_model.title
                         : m_model.title + QLatin1Char('\n') + m_model.secondCaption);

    bool secondAxisUsed = false;
    bool anyLegend = false;
    m_drawn.clear();
    for (int s = 0; s < m_model.numSets; ++s) {
        const GraphSet &set = m_model.sets[size_t(s)];
        const auto written = [](const std::vector<float> &values) {
            return std::any_of(values.begin(), values.end(), [](float v) { return !std::isnan(v); });
        };
        const bool onSecond = written(set.secondValue);
        if (!onSecond && !written(set.value) && set.legend.isEmpty())
            continue;
        QCPGraph *series = m_plot->addGraph(m_plot->xAxis, onSecond ? m_plot->yAxis2 : m_plot->yAxis);
        series->setName(set.legend);
        series->setPen(QPen(PaletteColour(set.colour ? set.colour : s + 1), 1.2));
        series->setAdaptiveSampling(true);
        m_drawn.push_back({series, s, onSecond});
        if (set.legend.isEmpty())
            series->removeFromLegend();
        else
            anyLegend = true;
        secondAxisUsed = secondAxisUsed || onSecond;
    }
    m_plot->legend->setVisible(anyLegend);

    auto yTicker = [](const GraphAxis &axis) {
        auto ticker = QSharedPointer<QCPAxisTickerText>::create();
        const int intervals = std::max(1, axis.tickCount);
        for (int k = 0; k <= intervals; ++k) {
            const double at = TickAt(axis.minimum, axis.maximum, intervals, k);
            ticker->addTick(at, QString::number(at, 'g', 5));
        }
        return ticker;
    };
    {
        const QSignalBlocker quiet(m_plot->yAxis), quiet2(m_plot->yAxis2);
        for (int a = 0; a < 2; ++a) {
            const QCPRange home = Drawable(m_model.yAxes[a].minimum, m_model.yAxes[a].maximum);
            m_valueHome[a] = {home.lower, home.upper};
            m_valueTicker[a] = yTicker(m_model.yAxes[a]);
        }
        m_plot->yAxis->setRange(m_valueHome[0].lower, m_valueHome[0].upper);
        m_plot->yAxis->setTicker(m_valueTicker[0]);
        m_plot->yAxis2->setVisible(secondAxisUsed);
        m_plot->yAxis2->setRange(m_valueHome[1].lower, m_valueHome[1].upper);
        m_plot->yAxis2->setTicker(m_valueTicker[1]);
    }

    const QCPRange home = Drawable(m_model.xAxis.minimum, m_model.xAxis.maximum);
    m_homeLower = home.lower;
    m_homeUpper = home.upper;
    m_zoomed = false;
    m_plot->xAxis->setTicker(modelTicker());
    {
        const QSignalBlocker quiet(m_plot->xAxis);
        m_plot->xAxis->setRange(home);
    }
    feedSeries();
    m_mouseX.reset();
    m_readout->clear();
    m_cursor->setVisible(false);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void GraphView::resetZoom()
{
    m_plot->xAxis->setRange(m_homeLower, m_homeUpper);
    m_plot->yAxis->setRange(m_valueHome[0].lower, m_valueHome[0].upper);
    m_plot->yAxis2->setRange(m_valueHome[1].lower, m_valueHome[1].upper);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

bool GraphView::isZoomed() const
{
    return m_zoomed || m_plot->yAxis->ticker() != m_valueTicker[0] || m_plot->yAxis2->ticker() != m_valueTicker[1];
}

// A value axis looked at closely gets ticks of its own; back home, the ones the build wrote.
void GraphView::relabelValueAxes()
{
    for (int a = 0; a < 2; ++a) {
        QCPAxis *axis = a == 0 ? m_plot->yAxis : m_plot->yAxis2;
        const QCPRange range = axis->range();
        const bool home =
            std::abs(range.lower - m_valueHome[a].lower) < 1e-9 && std::abs(range.upper - m_valueHome[a].upper) < 1e-9;
        if (home && axis->ticker() != m_valueTicker[a])
            axis->setTicker(m_valueTicker[a]);
        else if (!home && axis->ticker() == m_valueTicker[a])
            axis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    }
}

// The whole flight carries the labels the build wrote; a closer look labels its own ticks with
// the time of day.
void GraphView::relabelTimeAxis()
{
    const QCPRange range = m_plot->xAxis->range();
    const bool zoomed = std::abs(range.lower - m_homeLower) > 1e-9 || std::abs(range.upper - m_homeUpper) > 1e-9;
    if (!zoomed) {
        if (m_zoomed)
            m_plot->xAxis->setTicker(modelTicker());
        m_zoomed = false;
    } else {
        m_zoomed = true;
        if (m_timeAt) {
            // A tick names the record whose point is drawn there: point n is record n - 1.
            auto ticker = QSharedPointer<QCPAxisTickerText>::create();
            const int ticks = 8;
            for (int k = 0; k <= ticks; ++k) {
                const double at = std::round(range.lower + k * range.size() / ticks);
                ticker->addTick(at, m_timeAt(at - 1));
            }
            m_plot->xAxis->setTicker(ticker);
        }
    }
    // The chart moved under a mouse that did not: what it points at now.
    if (m_mouseX)
        showReadoutAt(*m_mouseX);
}

QStringList GraphView::readoutParts(double x) const
{
    const int point = int(std::lround(x));
    if (point < 1 || point > m_model.numPoints)
        return {};
    QStringList parts;
    // Point n shows record n - 1.
    if (m_timeAt)
        parts << m_timeAt(point - 1);
    const size_t i = size_t(point - 1);
    const auto valueOf = [i](const GraphSet &set) {
        const float second = set.secondValueAt(i);
        return !std::isnan(second) ? second : set.valueAt(i);
    };
    // A set without a legend belongs to the named set of its colour: a cylinder's second
    // temperature reads beside its first ("CYL 3  1412 / 388").
    std::vector<bool> taken(m_model.sets.size(), false);
    for (size_t s = 0; s < m_model.sets.size(); ++s) {
        if (taken[s])
            continue;
        const GraphSet &set = m_model.sets[s];
        QStringList values;
        bool any = !std::isnan(valueOf(set));
        values << (std::isnan(valueOf(set)) ? QStringLiteral("-") : ReadoutNumber(valueOf(set)));
        if (!set.legend.isEmpty() && set.colour != 0) {
            for (size_t t = s + 1; t < m_model.sets.size(); ++t) {
                const GraphSet &partner = m_model.sets[t];
                if (taken[t] || !partner.legend.isEmpty() || partner.colour != set.colour)
                    continue;
                taken[t] = true;
                const float v = valueOf(partner);
                any = any || !std::isnan(v);
                values << (std::isnan(v) ? QStringLiteral("-") : ReadoutNumber(v));
            }
        }
        if (!any)
            continue;
        if (values.size() > 1)
            parts << set.legend + QStringLiteral("  ") + values.join(QStringLiteral(" / "));
        else if (set.legend.isEmpty())
            parts << QStringLiteral("set %1: ").arg(s + 1) + values.front();
        else
            parts << set.legend + QStringLiteral(": ") + values.front();
    }
    return parts;
}

QString GraphView::readoutAt(double x) const
{
    return readoutParts(x).join(QStringLiteral("   "));
}

// The readout wraps between its parts, never inside one.
void GraphView::showReadoutAt(double pixelX)
{
    const double x = m_plot->xAxis->pixelToCoord(pixelX);
    QStringList parts = readoutParts(x);
    for (QString &part : parts)
        part.replace(QLatin1Char(' '), QChar::Nbsp);
    m_readout->setText(parts.join(QStringLiteral("   ")));
    m_cursor->setVisible(!parts.isEmpty());
    if (!parts.isEmpty()) {
        const double at = double(std::lround(x));
        m_cursor->point1->setCoords(at, 0);
        m_cursor->point2->setCoords(at, 1);
    }
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void GraphView::followMouse(QMouseEvent *event)
{
    m_mouseX = event->position().x();
    showReadoutAt(*m_mouseX);
}

// The picture is the graph alone: the cursor line belongs to the screen, not to the flight.
bool GraphView::saveImage(const QString &fileName)
{
    const bool cursorShown = m_cursor->visible();
    m_cursor->setVisible(false);
    const bool saved = QFileInfo(fileName).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0
                           ? m_plot->savePdf(fileName)
                           : m_plot->savePng(fileName);
    m_cursor->setVisible(cursorShown);
    return saved;
}

void GraphView::saveImageAs()
{
    const std::optional<QString> name =
        m_files.chooseFile(SaveFileRequest(QStringLiteral("Save Image"), QStringLiteral("*.png *.pdf"),
                                           QStringLiteral("png"), QStringLiteral("graph.png")));
    if (name && !saveImage(*name))
        m_readout->setText(QStringLiteral("The picture could not be written to ") + *name);
}

void GraphView::print()
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const bool cursorShown = m_cursor->visible();
    m_cursor->setVisible(false);
    QCPPainter painter(&printer);
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const double scale = page.width() / m_plot->width();
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    painter.scale(scale, scale);
    m_plot->toPainter(&painter, m_plot->width(), int(page.height() / scale));
    m_cursor->setVisible(cursorShown);
}

void GraphView::contextMenuEvent(QContextMenuEvent *event)
{
    showContextMenu(event->globalPos());
}

void GraphView::showContextMenu(const QPoint &globalPos)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("graphMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Save Image..."), this, &GraphView::saveImageAs);
    menu->addAction(QStringLiteral("Print..."), this, &GraphView::print);
    // Commands the window adds on the flight as a whole.
    menu->addSeparator();
    menu->addActions(actions());
    menu->popup(globalPos);
}

} // namespace korvel
