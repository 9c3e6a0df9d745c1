#include "gui/graphs/FrmGraph.h"

#include "gui/common/Twips.h"
#include "gui/graphs/FrmSummary.h"

#include <QAction>
#include <QPushButton>

#include <cmath>

namespace korvel {

FrmGraph::FrmGraph(WindowContext context, QWidget *parent) : ChildWindow(parent), m_context(context)
{
    setObjectName(QStringLiteral("FrmGraph"));
    setWindowTitle(QStringLiteral("Korvel Flight Graphs"));
    // The buttons are drawn for a small dialog font.
    QFont small(QStringLiteral("Arial"));
    small.setPointSizeF(8);
    setFont(small);

    struct Place {
        const char *name;
        const char *title;
        int left, top;
    };
    static const Place places[3] = {{"Graph1", "CYLINDER EGT  CHT", 240, 360},
                                    {"Graph2", "CYLINDER EGT  CHT", 270, 420},
                                    {"Graph3", "Engine Data", 270, 390}};
    for (int i = 0; i < 3; ++i) {
        auto *view = new GraphView(context.files, QString::fromLatin1(places[i].title), this);
        view->setObjectName(QLatin1String(places[i].name));
        view->setGeometry(TwipsRect(places[i].left, places[i].top, 11295, 5775));
        lookUpTimesIn(view);
        m_graphs[i] = view;
    }

    struct Button {
        const char *name;
        const char *caption;
        int left;
        void (FrmGraph::*handler)();
    };
    static const Button buttons[3] = {{"btnEGTCHT", "CHT  EGT", 240, &FrmGraph::btnEGTCHT_Click},
                                      {"Command1", "RPM MAP", 1230, &FrmGraph::Command1_Click},
                                      {"Command3", "Print Graph", 2250, &FrmGraph::Command3_Click}};
    for (const Button &b : buttons) {
        auto *button = new QPushButton(QString::fromLatin1(b.caption), this);
        button->setObjectName(QLatin1String(b.name));
        button->setGeometry(TwipsRect(b.left, 6210, 855, 495));
        connect(button, &QPushButton::clicked, this, b.handler);
    }

    // The flight as a whole, from every graph's context menu.
    auto *summary = new QAction(QStringLiteral("Flight Summary..."), this);
    summary->setObjectName(QStringLiteral("mnuFlightSummary"));
    connect(summary, &QAction::triggered, this, [this] { ShowFlightSummary(m_context, this); });
    auto *csv = new QAction(QStringLiteral("Export CSV..."), this);
    csv->setObjectName(QStringLiteral("mnuExportCsv"));
    connect(csv, &QAction::triggered, this, [this] { ExportFlightCsv(m_context); });
    for (GraphView *view : m_graphs)
        view->addActions({summary, csv});

    // Load: the designed size, then the graph the main window asked for.
    sizeWindow();
    if (context.state.GraphSelect == 2)
        btnEGTCHT_Click();
    else
        Command1_Click();
}

GraphView *FrmGraph::graphView(int number) const
{
    return number >= 1 && number <= 3 ? m_graphs[number - 1] : nullptr;
}

// Every build starts from the designed size, whatever the user made of the window.
void FrmGraph::sizeWindow()
{
    SetOuterSize(this, 12000, 7500);
}

FlightGraphs FrmGraph::graphs()
{
    return {m_graphs[0]->graph(), m_graphs[1]->graph(), m_graphs[2]->graph()};
}

// The axis's position x is record x; the labels of a closer look and the readout take its time.
void FrmGraph::lookUpTimesIn(GraphView *view)
{
    view->setTimeLookup([this](double x) {
        const FlightData &data = m_context.state.flightData;
        const int record = int(std::lround(x));
        if (record < 0 || record >= data.FlightRecords.records())
            return QString();
        return TimeLabel(data.FlightRecords[record]);
    });
}

void FrmGraph::btnEGTCHT_Click()
{
    sizeWindow();
    BuildCylinderTemperatureGraph(graphs(), m_context.state.flightData);
}

void FrmGraph::Command1_Click()
{
    sizeWindow();
    BuildFlightDataGraph(graphs(), m_context.state.flightData);
}

void FrmGraph::Command3_Click()
{
    sizeWindow();
    BuildEngineDataGraph(graphs(), m_context.state.flightData);
}

} // namespace korvel
