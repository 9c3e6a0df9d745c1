#pragma once
// The graph component as the graph window drives it: a write-only Graph, addressed by role,
// filling a plain GraphModel that a chart view draws when the build asks for a redraw.

#include <QString>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <vector>

namespace korvel {

// One declared set: its legend, its colour number, and a value per point on either Y axis.
// Unwritten values are NaN. A list is stored from its first write on (empty: nothing written), so
// a long flight's graph holds only the lists its build writes. The X positions a build writes are
// the point numbers, in order: while they are, only how far they reach is kept.
struct GraphSet {
    QString legend;
    int colour = 0; // 0: the set's own colour
    std::vector<float> x;
    std::vector<float> value;
    std::vector<float> secondValue;
    size_t xCountingUpTo = 0; // while x is empty: points 1 to this have their number as X position

    // By index from 0 (point i + 1).
    float xAt(size_t i) const
    {
        if (i < x.size())
            return x[i];
        return x.empty() && i < xCountingUpTo ? float(i + 1) : std::numeric_limits<float>::quiet_NaN();
    }
    float valueAt(size_t i) const { return i < value.size() ? value[i] : std::numeric_limits<float>::quiet_NaN(); }
    float secondValueAt(size_t i) const
    {
        return i < secondValue.size() ? secondValue[i] : std::numeric_limits<float>::quiet_NaN();
    }
};

struct GraphAxis {
    int scaleMode = 0;
    double minimum = 0;
    double maximum = 0;
    int tickCount = 0;
};

inline constexpr int kTickPositions = 21; // 20 intervals

struct GraphModel {
    bool visible = true;
    QString title;
    QString secondCaption;
    int numSets = 0;
    int numPoints = 0;
    int secondPointCount = 0;
    int currentSet = 1;
    int yAxis = 0; // 0 the first Y axis, 1 the second
    GraphAxis xAxis;
    GraphAxis yAxes[2];
    QString tickLabels[kTickPositions + 1]; // by position 1 to 21; [0] unused
    std::vector<GraphSet> sets;             // sets 1..numSets at [0..numSets-1]
    std::map<int, int> settings;            // kept, drawn by nothing
    int redraws = 0;

    static float unwritten() { return std::numeric_limits<float>::quiet_NaN(); }
};

// Writes into a model by role. Indexes count from 1; one outside the declared sets, points or
// tick positions is ignored. Declaring the number of points starts every set empty.
class Graph {
public:
    explicit Graph(GraphModel &model) : m_model(model) {}

    void setVisible(bool visible);
    void setTitle(const QString &text);
    void setSecondCaption(const QString &text);
    void setNumSets(int count);
    void setNumPoints(int count);
    void setSecondPointCount(int count);
    void setCurrentSet(int set);
    void setXPosition(int point, float x);
    void setValue(int point, float value);
    void setSecondAxisValue(int point, float value);
    void setYAxis(int axis);
    void setYScaleMode(int mode);
    void setYMinimum(double value);
    void setYMaximum(double value);
    void setYTickCount(int count);
    void setXScaleMode(int mode);
    void setXMinimum(double value);
    void setXMaximum(double value);
    void setXTickCount(int count);
    void setTickLabel(int position, const QString &text);
    void setLegend(int set, const QString &text);
    void setColour(int set, int colour);
    void setSetting(int id, int value);
    void redraw(int mode);

    // Called after a redraw and after a change of visibility, for the view to follow.
    std::function<void()> onRedraw;
    std::function<void(bool)> onVisible;

    // Every call in order, as "role(index)=value" lines, while a log is attached.
    void setCallLog(std::vector<QString> *log) { m_log = log; }

    const GraphModel &model() const { return m_model; }

private:
    GraphSet *current();
    GraphAxis &yAxis() { return m_model.yAxes[m_model.yAxis == 1 ? 1 : 0]; }
    void log(const char *role, const QString &value, int index = 0);

    GraphModel &m_model;
    std::vector<QString> *m_log = nullptr;
};

} // namespace korvel
