#include "core/library/LibraryFigures.h"

#include "core/flight/Findings.h"
#include "core/flight/FlightFields.h"

#include <array>
#include <cmath>
#include <limits>

namespace korvel::library_detail {

namespace {

constexpr int kProbes = 2 * kCylinders; // the EGTs, then the CHTs, as fields 16 to 27
constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

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

struct Probes {
    QTime time;
    std::array<double, kProbes> values;
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
    FindingsScanner findings;
    FindingRules rules;
    // The last two records' probes as read: the older is judged against its neighbours.
    std::optional<Probes> before, middle;

    // Judges the middle record's probes and counts its sound readings.
    void settle(const Probes *after)
    {
        Probes sound = *middle;
        for (int p = 0; p < kProbes; ++p) {
            const double v = middle->values[size_t(p)];
            if (!std::isnan(v) && IsProbeFault(v, before ? before->values[size_t(p)] : kNone,
                                               after ? after->values[size_t(p)] : kNone, rules))
                sound.values[size_t(p)] = kNone;
        }
        for (int p = 0; p < kProbes; ++p)
            fields[size_t(kFirstEgtField + p)].add(sound.values[size_t(p)]);
        for (int c = 0; c < kCylinders; ++c) {
            CylinderPeaks &peaks = cylinders[size_t(c)];
            if (const double egt = sound.values[size_t(c)]; !std::isnan(egt))
                KeepFirstHighest(peaks.egt, egt, sound.time);
            if (const double cht = sound.values[size_t(kCylinders + c)]; !std::isnan(cht))
                KeepFirstHighest(peaks.cht, cht, sound.time);
        }
        if (const auto s = CylinderSpread(sound.values.data()))
            KeepFirstHighest(egtSpread, *s, sound.time);
        if (const auto s = CylinderSpread(sound.values.data() + kCylinders))
            KeepFirstHighest(chtSpread, *s, sound.time);
        before = middle;
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
    State &st = *m_state;
    const QTime time = record.LogTime();
    if (st.records++ == 0)
        st.first = FlightMoment{record.LogDate(), time};
    st.last = FlightMoment{record.LogDate(), time};
    st.findings.add(record);
    for (int f = 0; f < kFirstEgtField; ++f)
        st.fields[size_t(f)].add(FieldReading(record.Values(f)));
    Probes probes{time, {}};
    for (int p = 0; p < kProbes; ++p)
        probes.values[size_t(p)] = FieldReading(record.Values(kFirstEgtField + p));
    if (st.middle)
        st.settle(&probes);
    st.middle = probes;
}

FlightFigures FiguresBuilder::finish()
{
    State &st = *m_state;
    if (st.middle)
        st.settle(nullptr);
    FlightFigures out;
    LibraryFlight &f = out.flight;
    f.records = int(st.records);
    f.first = MomentText(st.first.date, st.first.time);
    f.last = MomentText(st.last.date, st.last.time);
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
    out.findingList = st.findings.finish();
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

QString MomentText(QDate date, QTime time)
{
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02d", date.year(), date.month(), date.day(), time.hour(),
                             time.minute(), time.second());
}

} // namespace korvel::library_detail
