#pragma once
// The graph window "Korvel Flight Graphs": three graphs stacked in one place, one shown at a
// time, each built from the record table when its button is pressed.

#include "core/chart/GraphBuilders.h"
#include "gui/common/ChildWindow.h"
#include "gui/common/WindowContext.h"
#include "gui/graphs/GraphView.h"

class QAction;
class QLabel;
class QPushButton;

namespace korvel {

class FrmGraph : public ChildWindow {
    Q_OBJECT
public:
    FrmGraph(WindowContext context, QWidget *parent = nullptr);

    void btnEGTCHT_Click();
    void Command1_Click();
    void Command3_Click();

    // Graph1, Graph2, Graph3 by number 1 to 3.
    GraphView *graphView(int number) const;
    const GraphModel &model(int number) const { return graphView(number)->model(); }

    // The line that says which file the graphs draw when another flight has been loaded since.
    QLabel *otherFlightLine() const { return m_otherFlight; }

signals:
    // "Analysis View..." from a graph's context menu.
    void analysisRequested();

private:
    FlightGraphs graphs();
    void noteDrawn();
    void updateFlightLine();
    void sizeWindow();
    void lookUpTimesIn(GraphView *view);

    WindowContext m_context;
    GraphView *m_graphs[3] = {};
    // The flight the graphs draw: its file, its load, its records' times (the readout's labels).
    QString m_drawnFile;
    int m_drawnLoad = 0;
    std::vector<QTime> m_drawnTimes;
    QLabel *m_otherFlight = nullptr;
    QAction *m_summary = nullptr;
    QAction *m_csv = nullptr;
};

} // namespace korvel
