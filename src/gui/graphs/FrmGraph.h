#pragma once
// The graph window "Korvel Flight Graphs": three graphs stacked in one place, one shown at a
// time, each built from the record table when its button is pressed.

#include "core/chart/GraphBuilders.h"
#include "gui/common/ChildWindow.h"
#include "gui/common/WindowContext.h"
#include "gui/graphs/GraphView.h"

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

private:
    FlightGraphs graphs();
    void sizeWindow();
    void lookUpTimesIn(GraphView *view);

    WindowContext m_context;
    GraphView *m_graphs[3] = {};
};

} // namespace korvel
