#pragma once
// The library window's trend: one point per flight over calendar time for the measure chosen, in
// the analysis view's units. It picks the view that shows the central values well (a flight far
// out is left beyond the edge, and said so), rings the selected flights' points, names a point
// under the mouse, and says which flight a click chose. It draws what it is handed; the window
// reads the library.

#include "core/library/FlightLibrary.h"

#include <QPointF>
#include <QSet>
#include <QWidget>

#include <vector>

class QComboBox;
class QCustomPlot;
class QCPItemText;
class QLabel;
class QMouseEvent;
class QPushButton;

namespace korvel {

class TrendChart : public QWidget {
    Q_OBJECT
public:
    explicit TrendChart(QWidget *parent = nullptr);

    // The measure chosen, as the library names it.
    QString measure() const;
    // Draws the points of the flights shown (a value the flight lacks is left out); with none, says
    // why: the library is empty, no flight is shown, or none shown has the measure.
    void showPoints(const std::vector<TrendPoint> &points, const QSet<qint64> &shown, bool libraryEmpty);
    // Rings the points of these flights.
    void markFlights(const QList<qint64> &ids);
    // The flight of each point, in the graph's order.
    const std::vector<qint64> &pointIds() const { return m_pointIds; }
    // The first view again.
    void resetView();

signals:
    void measureChanged();
    // A click on a point chose its flight.
    void flightClicked(qint64 id);

private:
    // The point nearest a pixel of the chart, within reach of the mouse; -1 when none.
    int pointAt(const QPointF &pixel) const;
    void mouseMoved(QMouseEvent *event);
    void mouseReleased(QMouseEvent *event);
    // Says how many flights lie beyond the view.
    void countOutside();

    QComboBox *m_measure = nullptr;
    QCustomPlot *m_plot = nullptr;
    QCPItemText *m_note = nullptr; // what the trend lacks, over an empty chart
    QLabel *m_outside = nullptr;   // flights the first view leaves out
    QPushButton *m_reset = nullptr;
    std::vector<qint64> m_pointIds;
    QList<qint64> m_marked;
    QPointF m_pressedAt;
};

} // namespace korvel
