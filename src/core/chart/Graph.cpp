#include "core/chart/GraphModel.h"

#include <algorithm>

namespace korvel {

void Graph::log(const char *role, const QString &value, int index)
{
    QString line = QLatin1String(role);
    if (index)
        line += QStringLiteral("(%1)").arg(index);
    m_log->push_back(line + QLatin1Char('=') + value);
}

#define KORVEL_LOG(role, value, ...)                                                                                   \
    do {                                                                                                               \
        if (m_log)                                                                                                     \
            log(role, value, ##__VA_ARGS__);                                                                           \
    } while (0)

static QString num(double v)
{
    return QString::number(v, 'g', 9);
}

void Graph::setVisible(bool visible)
{
    KORVEL_LOG("visible", visible ? QStringLiteral("true") : QStringLiteral("false"));
    m_model.visible = visible;
    if (onVisible)
        onVisible(visible);
}

void Graph::setTitle(const QString &text)
{
    KORVEL_LOG("title", text);
    m_model.title = text;
}

void Graph::setSecondCaption(const QString &text)
{
    KORVEL_LOG("secondCaption", text);
    m_model.secondCaption = text;
}

namespace {

// Every value of the list unwritten again, its memory returned.
void Unwrite(std::vector<float> &list)
{
    std::vector<float>().swap(list);
}

void UnwriteSet(GraphSet &set)
{
    set.xCountingUpTo = 0;
    Unwrite(set.x);
    Unwrite(set.value);
    Unwrite(set.secondValue);
}

// The list at the point, stored first when nothing of it was.
float &At(std::vector<float> &list, int point, int points)
{
    if (list.empty())
        list.assign(size_t(points), GraphModel::unwritten());
    return list[size_t(point - 1)];
}

} // namespace

void Graph::setNumSets(int count)
{
    KORVEL_LOG("numSets", num(count));
    count = std::max(0, count);
    m_model.numSets = count;
    const size_t points = size_t(m_model.numPoints);
    m_model.sets.resize(size_t(count));
    for (GraphSet &set : m_model.sets) {
        for (std::vector<float> *list : {&set.x, &set.value, &set.secondValue})
            if (!list->empty() && list->size() != points)
                UnwriteSet(set);
        set.xCountingUpTo = std::min(set.xCountingUpTo, points);
    }
}

void Graph::setNumPoints(int count)
{
    KORVEL_LOG("numPoints", num(count));
    count = std::max(0, count);
    m_model.numPoints = count;
    for (GraphSet &set : m_model.sets)
        UnwriteSet(set);
}

void Graph::setSecondPointCount(int count)
{
    KORVEL_LOG("secondPointCount", num(count));
    m_model.secondPointCount = count;
}

void Graph::setCurrentSet(int set)
{
    KORVEL_LOG("currentSet", num(set));
    m_model.currentSet = set;
}

GraphSet *Graph::current()
{
    const int set = m_model.currentSet;
    return set >= 1 && set <= m_model.numSets ? &m_model.sets[size_t(set - 1)] : nullptr;
}

void Graph::setXPosition(int point, float x)
{
    KORVEL_LOG("xPosition", num(x), point);
    GraphSet *set = current();
    if (!set || point < 1 || point > m_model.numPoints)
        return;
    if (set->x.empty()) {
        const size_t upTo = set->xCountingUpTo;
        if (x == float(point) && size_t(point) <= upTo + 1) {
            set->xCountingUpTo = std::max(upTo, size_t(point));
            return;
        }
        // The positions stop counting: stored from here on.
        set->x.assign(size_t(m_model.numPoints), GraphModel::unwritten());
        for (size_t i = 0; i < upTo; ++i)
            set->x[i] = float(i + 1);
    }
    set->x[size_t(point - 1)] = x;
}

void Graph::setValue(int point, float value)
{
    KORVEL_LOG("value", num(value), point);
    if (GraphSet *set = current(); set && point >= 1 && point <= m_model.numPoints)
        At(set->value, point, m_model.numPoints) = value;
}

void Graph::setSecondAxisValue(int point, float value)
{
    KORVEL_LOG("secondAxisValue", num(value), point);
    if (GraphSet *set = current(); set && point >= 1 && point <= m_model.numPoints)
        At(set->secondValue, point, m_model.numPoints) = value;
}

void Graph::setYAxis(int axis)
{
    KORVEL_LOG("yAxis", num(axis));
    m_model.yAxis = axis;
}

void Graph::setYScaleMode(int mode)
{
    KORVEL_LOG("yScaleMode", num(mode));
    yAxis().scaleMode = mode;
}

void Graph::setYMinimum(double value)
{
    KORVEL_LOG("yMinimum", num(value));
    yAxis().minimum = value;
}

void Graph::setYMaximum(double value)
{
    KORVEL_LOG("yMaximum", num(value));
    yAxis().maximum = value;
}

void Graph::setYTickCount(int count)
{
    KORVEL_LOG("yTickCount", num(count));
    yAxis().tickCount = count;
}

void Graph::setXScaleMode(int mode)
{
    KORVEL_LOG("xScaleMode", num(mode));
    m_model.xAxis.scaleMode = mode;
}

void Graph::setXMinimum(double value)
{
    KORVEL_LOG("xMinimum", num(value));
    m_model.xAxis.minimum = value;
}

void Graph::setXMaximum(double value)
{
    KORVEL_LOG("xMaximum", num(value));
    m_model.xAxis.maximum = value;
}

void Graph::setXTickCount(int count)
{
    KORVEL_LOG("xTickCount", num(count));
    m_model.xAxis.tickCount = count;
}

void Graph::setTickLabel(int position, const QString &text)
{
    KORVEL_LOG("tickLabel", text, position);
    if (position >= 1 && position <= kTickPositions)
        m_model.tickLabels[position] = text;
}

void Graph::setLegend(int set, const QString &text)
{
    KORVEL_LOG("legend", text, set);
    if (set >= 1 && set <= m_model.numSets)
        m_model.sets[size_t(set - 1)].legend = text;
}

void Graph::setColour(int set, int colour)
{
    KORVEL_LOG("colour", num(colour), set);
    if (set >= 1 && set <= m_model.numSets)
        m_model.sets[size_t(set - 1)].colour = colour;
}

void Graph::setSetting(int id, int value)
{
    KORVEL_LOG("setting", num(value), id);
    m_model.settings[id] = value;
}

void Graph::redraw(int mode)
{
    KORVEL_LOG("redraw", num(mode));
    ++m_model.redraws;
    if (onRedraw)
        onRedraw();
}

} // namespace korvel
