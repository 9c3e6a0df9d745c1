#include "flightdata/FrmGraph.h"

namespace korvel {

FrmGraph::FrmGraph(WindowContext context, QWidget *parent) : ChildWindow(parent)
{
    Q_UNUSED(context);
    setObjectName(QStringLiteral("FrmGraph"));
    setWindowTitle(QStringLiteral("Korvel Flight Graphs"));
}

} // namespace korvel
