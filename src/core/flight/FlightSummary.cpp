#include "core/flight/FlightSummary.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvel {

namespace {

// Follows each cylinder's runs at or above a limit, record by record. A run is listed when it
// opens, so the list stays in the order of first records, and by cylinder within one record.
class ChtSpanTracker {
public:
    explicit ChtSpanTracker(double limit) : m_limit(limit) { m_open.fill(-1); }

    void add(int record, QTime time, const std::array<double, kCylinders> &cht)
    {
        for (int c = 0; c < kCylinders; ++c) {
            const double v = cht[size_t(c)];
            int &open = m_open[size_t(c)];
            if (!(v >= m_limit)) { // also a record without a number: the run ends
                open = -1;
                continue;
            }
            if (open < 0) {
                open = int(m_spans.size());
                m_spans.push_back({c + 1, time, time, v, record, record});
                continue;
            }
            ChtSpan &span = m_spans[size_t(open)];
            span.to = time;
            span.lastRecord = record;
            span.peak = std::max(span.peak, v);
        }
    }

    std::vector<ChtSpan> take() { return std::move(m_spans); }

private:
    double m_limit;
    std::array<int, kCylinders> m_open;
    std::vector<ChtSpan> m_spans;
};

void KeepFirstHighest(std::optional<TimedValue> &best, double v, QTime time)
{
    if (!best || v > best->value)
        best = TimedValue{v, time};
}

int RecordsOf(const FlightData &data)
{
    return data.FlightRecordCount ? std::clamp(*data.FlightRecordCount, 0, data.FlightRecords.records()) : 0;
}

} // namespace

namespace {

template <class Reading> std::optional<double> SpreadOf(const Reading *values)
{
    int present = 0;
    double hottest = -std::numeric_limits<double>::infinity();
    double coldest = std::numeric_limits<double>::infinity();
    for (int c = 0; c < kCylinders; ++c) {
        const double v = values[c];
        if (!(v > 0)) // no number, or a failing probe
            continue;
        ++present;
        hottest = std::max(hottest, v);
        coldest = std::min(coldest, v);
    }
    if (present < 2)
        return std::nullopt;
    return hottest - coldest;
}

} // namespace

std::optional<double> CylinderSpread(const double *values)
{
    return SpreadOf(values);
}

std::optional<double> CylinderSpread(const float *values)
{
    return SpreadOf(values);
}

std::optional<int> HottestCylinder(const std::array<CylinderPeaks, kCylinders> &cylinders,
                                   std::optional<TimedValue> CylinderPeaks::*which)
{
    std::optional<int> hottest;
    for (int c = 0; c < kCylinders; ++c) {
        const std::optional<TimedValue> &v = cylinders[size_t(c)].*which;
        if (v && (!hottest || v->value > (cylinders[size_t(*hottest)].*which)->value))
            hottest = c;
    }
    return hottest;
}

std::int64_t SecondsBetween(const FlightMoment &from, const FlightMoment &to)
{
    return from.date.daysTo(to.date) * 86400 + from.time.secsTo(to.time);
}

struct FlightSummaryBuilder::State {
    struct Running {
        int count = 0;
        double minimum = std::numeric_limits<double>::infinity();
        double maximum = -std::numeric_limits<double>::infinity();
        double sum = 0;
    };

    FlightSummary summary;
    std::array<Running, kFlightFields> running{};
    std::optional<ChtSpanTracker> spans;
};

FlightSummaryBuilder::FlightSummaryBuilder(std::optional<double> chtLimit) : m_state(std::make_unique<State>())
{
    if (chtLimit)
        m_state->spans.emplace(*chtLimit);
}

FlightSummaryBuilder::~FlightSummaryBuilder() = default;

void FlightSummaryBuilder::add(const FlightRecord &record)
{
    State &st = *m_state;
    FlightSummary &summary = st.summary;
    const int k = summary.records++;
    const QTime time = record.LogTime();
    // The first and last records bound the flight; its duration is taken across midnight at the end.
    if (k == 0)
        summary.first = FlightMoment{record.LogDate(), time};
    summary.last = FlightMoment{record.LogDate(), time};

    std::array<double, kCylinders> egt, cht;
    for (int f = 0; f < kFlightFields; ++f) {
        const double v = FieldReading(record.Values(f));
        if (f >= kFirstChtField)
            cht[size_t(f - kFirstChtField)] = v;
        else if (f >= kFirstEgtField)
            egt[size_t(f - kFirstEgtField)] = v;
        if (std::isnan(v))
            continue;
        State::Running &r = st.running[size_t(f)];
        r.minimum = std::min(r.minimum, v);
        r.maximum = std::max(r.maximum, v);
        r.sum += v;
        ++r.count;
    }
    for (int c = 0; c < kCylinders; ++c) {
        CylinderPeaks &peaks = summary.cylinders[size_t(c)];
        if (!std::isnan(egt[size_t(c)]))
            KeepFirstHighest(peaks.egt, egt[size_t(c)], time);
        if (!std::isnan(cht[size_t(c)]))
            KeepFirstHighest(peaks.cht, cht[size_t(c)], time);
    }
    if (const auto s = CylinderSpread(egt.data()))
        KeepFirstHighest(summary.egtSpread, *s, time);
    if (const auto s = CylinderSpread(cht.data()))
        KeepFirstHighest(summary.chtSpread, *s, time);
    if (st.spans)
        st.spans->add(k, time, cht);
}

FlightSummary FlightSummaryBuilder::finish()
{
    State &st = *m_state;
    FlightSummary summary = std::move(st.summary);
    if (summary.records == 0)
        return FlightSummary{};
    summary.durationSeconds = SecondsBetween(*summary.first, *summary.last);
    for (int f = 0; f < kFlightFields; ++f) {
        const State::Running &r = st.running[size_t(f)];
        if (r.count > 0)
            summary.fields.push_back({f, r.count, r.minimum, r.maximum, r.sum / r.count});
    }
    if (st.spans)
        summary.chtOver = st.spans->take();
    return summary;
}

FlightSummary SummarizeFlight(const FlightData &data, std::optional<double> chtLimit)
{
    FlightSummaryBuilder builder(chtLimit);
    const int records = RecordsOf(data);
    for (int k = 0; k < records; ++k)
        builder.add(data.FlightRecords[k]);
    return builder.finish();
}

ChtTrace TraceCylinderHeads(const FlightData &data)
{
    ChtTrace trace;
    const int records = RecordsOf(data);
    trace.times.reserve(size_t(records));
    trace.values.reserve(size_t(records));
    for (int k = 0; k < records; ++k) {
        const FlightRecord record = data.FlightRecords[k];
        trace.times.push_back(record.LogTime());
        std::array<double, kCylinders> &cht = trace.values.emplace_back();
        for (int c = 0; c < kCylinders; ++c)
            cht[size_t(c)] = FieldReading(record.Values(kFirstChtField + c));
    }
    return trace;
}

std::vector<ChtSpan> FindChtOver(const ChtTrace &trace, double limit)
{
    ChtSpanTracker spans(limit);
    for (size_t k = 0; k < trace.values.size(); ++k)
        spans.add(int(k), trace.times[k], trace.values[k]);
    return spans.take();
}

} // namespace korvel
