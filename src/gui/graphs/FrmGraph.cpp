#include "gui/graphs/FrmGraph.h"

#include "gui/common/Twips.h"
#include "gui/graphs/FrmSummary.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
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

    // Beside the buttons, shown only once another flight has been loaded than the one drawn.
    m_otherFlight = new QLabel(this);
    m_otherFlight->setObjectName(QStringLiteral("lblOtherFlight"));
    m_otherFlight->setTextFormat(Qt::PlainText);
    m_otherFlight->setWordWrap(true);
    m_otherFlight->setGeometry(TwipsRect(3300, 6180, 8235, 555));
    m_otherFlight->hide();

    // The flight as a whole, from every graph's context menu.
    m_summary = new QAction(QStringLiteral("Flight Summary..."), this);
    m_summary->setObjectName(QStringLiteral("mnuFlightSummary"));
    connect(m_summary, &QAction::triggered, this, [this] { ShowFlightSummary(m_context, this); });
    m_csv = new QAction(QStringLiteral("Export CSV..."), this);
    m_csv->setObjectName(QStringLiteral("mnuExportCsv"));
    connect(m_csv, &QAction::triggered, this, [this] { ExportFlightCsv(m_context); });
    auto *analysis = new QAction(QStringLiteral("Analysis View..."), this);
    analysis->setObjectName(QStringLiteral("mnuGraphAnalysis"));
    connect(analysis, &QAction::triggered, this, &FrmGraph::analysisRequested);
    for (GraphView *view : m_graphs)
        view->addActions({m_summary, m_csv, analysis});
    connect(&context.state.flightLoads, &FlightLoads::loaded, this, &FrmGraph::updateFlightLine);

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
        const int record = int(std::lround(x));
        if (record < 0 || record >= int(m_drawnTimes.size()) || !m_drawnTimes[size_t(record)].isValid())
            return QString();
        const QLocale locale = QLocale::system();
        return locale.toString(m_drawnTimes[size_t(record)], TimeOfDayFormat(locale));
    });
}

void FrmGraph::btnEGTCHT_Click()
{
    sizeWindow();
    BuildCylinderTemperatureGraph(graphs(), m_context.state.flightData);
    noteDrawn();
}

void FrmGraph::Command1_Click()
{
    sizeWindow();
    BuildFlightDataGraph(graphs(), m_context.state.flightData);
    noteDrawn();
}

void FrmGraph::Command3_Click()
{
    sizeWindow();
    BuildEngineDataGraph(graphs(), m_context.state.flightData);
    noteDrawn();
}

// The graphs now draw the loaded flight: the readout keeps its times even after another load.
void FrmGraph::noteDrawn()
{
    const FlightData &data = m_context.state.flightData;
    const int count = data.FlightRecordCount ? std::clamp(*data.FlightRecordCount, 0, data.FlightRecords.records()) : 0;
    m_drawnTimes.resize(size_t(count));
    for (int k = 0; k < count; ++k)
        m_drawnTimes[size_t(k)] = data.FlightRecords[k].LogTime();
    m_drawnFile = m_context.state.flightOrigin.name;
    m_drawnLoad = m_context.state.flightLoadCount;
    updateFlightLine();
}

// After another load the graphs stay on the flight they draw until a button draws anew; the line
// says so, and the flight-wide commands name the flight they describe (the loaded one).
void FrmGraph::updateFlightLine()
{
    const bool other = m_drawnLoad != m_context.state.flightLoadCount;
    const auto nameOf = [](const QString &path) {
        return path.isEmpty() ? QStringLiteral("an earlier flight") : QFileInfo(path).fileName();
    };
    const QString loaded = nameOf(m_context.state.flightOrigin.name);
    if (other)
        m_otherFlight->setText(QStringLiteral("These graphs draw %1; %2 has been loaded since (a graph button draws it).")
                                   .arg(nameOf(m_drawnFile), loaded));
    m_otherFlight->setVisible(other);
    m_summary->setText(other ? QStringLiteral("Flight Summary of %1 (loaded)...").arg(loaded)
                             : QStringLiteral("Flight Summary..."));
    m_csv->setText(other ? QStringLiteral("Export CSV of %1 (loaded)...").arg(loaded) : QStringLiteral("Export CSV..."));
}

} // namespace korvel
