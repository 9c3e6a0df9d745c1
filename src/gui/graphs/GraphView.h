#pragma once
// A chart that draws a GraphModel each time its Graph asks for a redraw. Along the time axis the
// mouse wheel zooms and a drag pans; a double click goes back to the whole flight. The line
// below the chart reads out the time and each series' value under the cursor; the context menu
// saves the chart as a picture or prints it.

#include "core/chart/GraphModel.h"
#include "core/ui/UiInterfaces.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QCustomPlot;
class QCPAxisTicker;
class QCPGraph;
class QCPItemStraightLine;
class QCPTextElement;
class QLabel;
class QMouseEvent;

namespace korvel {

class GraphView : public QWidget {
    Q_OBJECT
public:
    GraphView(FileChooser &files, const QString &designTitle, QWidget *parent = nullptr);
    ~GraphView() override;

    Graph &graph() { return m_graph; }
    const GraphModel &model() const { return m_model; }
    QCustomPlot *plot() const { return m_plot; }

    // The time of day at an axis position, for the labels of a zoomed axis and for the readout.
    void setTimeLookup(std::function<QString(double)> timeAt) { m_timeAt = std::move(timeAt); }

    // Draws the model as it stands (what the redraw call does).
    void redrawModel();

    // Back to the axes as the model has them.
    void resetZoom();

    // The readout for an X position, as the cursor shows it: the time, then each named set's
    // value (with its unnamed partner's, a cylinder's two temperatures).
    QString readoutAt(double x) const;
    QStringList readoutParts(double x) const;

    // True while either axis shows less than the whole graph.
    bool isZoomed() const;

    bool saveImage(const QString &fileName);
    void saveImageAs();
    void print();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void showContextMenu(const QPoint &globalPos);
    void followMouse(QMouseEvent *event);
    void showReadoutAt(double pixelX);
    void relabelTimeAxis();
    void relabelValueAxes();
    QSharedPointer<QCPAxisTicker> modelTicker() const;
    // Hands the chart the points of each drawn set that the time axis shows.
    void feedSeries();

    GraphModel m_model;
    Graph m_graph{m_model};
    FileChooser &m_files;
    QCustomPlot *m_plot = nullptr;
    QCPTextElement *m_title = nullptr;
    QLabel *m_readout = nullptr;
    QCPItemStraightLine *m_cursor = nullptr;
    std::function<QString(double)> m_timeAt;
    double m_homeLower = 0;
    double m_homeUpper = 1;
    bool m_zoomed = false;
    struct Span {
        double lower = 0, upper = 1;
    };
    Span m_valueHome[2];
    QSharedPointer<QCPAxisTicker> m_valueTicker[2];
    std::optional<double> m_mouseX; // where the mouse last was over the chart, in pixels
    struct Drawn {
        QCPGraph *series;
        int set;     // index into the model's sets
        bool second; // drawn from the second axis's values
    };
    std::vector<Drawn> m_drawn;
};

} // namespace korvel
