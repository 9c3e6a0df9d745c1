#include "core/library/LibraryFigures.h"

#include "core/flight/Findings.h"
#include "core/flight/FlightFields.h"
#include "core/flight/FlightStream.h"
#include "core/flight/TimeText.h"

#include <array>
#include <cmath>
#include <limits>

namespace korvel::library_detail {

namespace {

struct Running {
    int count = 0;
    double minimum = std::numeric_limits<double>::infinity();
    double maximum = -std::numeric_limits<double>::infinity();
    double sum = 0;

    void add(double v)
    {
        if (std::isnan(v))
            return;
        ++count;
        minimum = std::min(minimum, v);
        maximum = std::max(maximum, v);
        sum += v;
    }
};

void KeepFirstHighest(std::optional<TimedValue> &best, double v, QTime time)
{
    if (!best || v > best->value)
        best = TimedValue{v, time};
}

} // namespace

struct FiguresBuilder::State {
    qint64 records = 0;
    FlightMoment first, last;
    std::array<Running, kFlightFields> fields{};
    std::array<CylinderPeaks, kCylinders> cylinders{};
    std::optional<TimedValue> egtSpread, chtSpread;
    // Its judging of each record's probes is what leaves failing probes out of the figures.
    FindingsScanner findings;

    // Counts the sound readings of the record the findings have just judged, if any.
    void settle()
    {
        const SoundProbes *sound = findings.judged();
        if (!sound)
            return;
        for (int c = 0; c < kCylinders; ++c) {
            const double egt = sound->egt[size_t(c)], cht = sound->cht[size_t(c)];
            fields[size_t(kFirstEgtField + c)].add(egt);
            fields[size_t(kFirstChtField + c)].add(cht);
            CylinderPeaks &peaks = cylinders[size_t(c)];
            if (!std::isnan(egt))
                KeepFirstHighest(peaks.egt, egt, sound->time);
            if (!std::isnan(cht))
                KeepFirstHighest(peaks.cht, cht, sound->time);
        }
        if (const auto s = CylinderSpread(sound->egt.data()))
            KeepFirstHighest(egtSpread, *s, sound->time);
        if (const auto s = CylinderSpread(sound->cht.data()))
            KeepFirstHighest(chtSpread, *s, sound->time);
    }
};

FiguresBuilder::FiguresBuilder() : m_state(std::make_unique<State>()) {}
FiguresBuilder::~FiguresBuilder() = default;

qint64 FiguresBuilder::records() const
{
    return m_state->records;
}

void FiguresBuilder::add(const FlightRecord &record)
{
    RecordReadings readings;
    ReadRecord(record, readings);
    add(readings);
}

void FiguresBuilder::add(const FlightRecordBlock &block)
{
    for (int k = 0; k < block.records(); ++k)
        add(block[k]);
}

void FiguresBuilder::add(const RecordReadings &record)
{
    State &st = *m_state;
    if (st.records++ == 0)
        st.first = FlightMoment{record.date, record.time};
    st.last = FlightMoment{record.date, record.time};
    for (int f = 0; f < kFirstEgtField; ++f)
        st.fields[size_t(f)].add(record.value[size_t(f)]);
    st.findings.add(record);
    st.settle();
}

FlightFigures FiguresBuilder::finish()
{
    State &st = *m_state;
    FlightFigures out;
    out.findingList = st.findings.finish();
    st.settle();
    LibraryFlight &f = out.flight;
    f.records = int(st.records);
    f.first = MomentIsoText(st.first.date, st.first.time);
    f.last = MomentIsoText(st.last.date, st.last.time);
    f.durationSeconds = SecondsBetween(st.first, st.last);
    if (const auto c = HottestCylinder(st.cylinders, &CylinderPeaks::egt)) {
        f.egtMax = st.cylinders[size_t(*c)].egt->value;
        f.egtCylinder = *c + 1;
    }
    if (const auto c = HottestCylinder(st.cylinders, &CylinderPeaks::cht)) {
        f.chtMax = st.cylinders[size_t(*c)].cht->value;
        f.chtCylinder = *c + 1;
    }
    if (st.egtSpread)
        f.egtSpreadMax = st.egtSpread->value;
    if (st.chtSpread)
        f.chtSpreadMax = st.chtSpread->value;
    f.findings = int(out.findingList.size());
    out.cylinders = st.cylinders;
    out.egtSpread = st.egtSpread;
    out.chtSpread = st.chtSpread;
    for (int k = 0; k < kFlightFields; ++k) {
        const Running &r = st.fields[size_t(k)];
        if (r.count > 0)
            out.fields.push_back({k, r.count, r.minimum, r.maximum, r.sum / r.count});
    }
    return out;
}

const QStringList &ListMeasures()
{
    static const QStringList measures = {
        QStringLiteral("records"),  QStringLiteral("duration_s"),     QStringLiteral("egt_max"),
        QStringLiteral("cht_max"),  QStringLiteral("egt_spread_max"), QStringLiteral("cht_spread_max"),
        QStringLiteral("findings"),
    };
    return measures;
}

} // namespace korvel::library_detail
