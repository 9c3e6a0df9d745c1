#include "core/flight/Findings.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvel {

namespace {

constexpr double kNoReading = std::numeric_limits<double>::quiet_NaN();

bool has(double v)
{
    return !std::isnan(v);
}

// For each cylinder in turn, the median of the other cylinders' readings then and now (those with a
// reading at both moments): the readings are sorted once and each median leaves one of them out.
class OtherMedians {
public:
    OtherMedians(const std::array<double, kCylinders> &then, const std::array<double, kCylinders> &now)
    {
        for (int d = 0; d < kCylinders; ++d) {
            if (!has(then[size_t(d)]) || !has(now[size_t(d)]))
                continue;
            m_then[size_t(m_count)] = then[size_t(d)];
            m_now[size_t(m_count)] = now[size_t(d)];
            ++m_count;
        }
        SortSix(m_then);
        SortSix(m_now);
    }

    // For a cylinder with a reading at both moments; NaN when no other cylinder has.
    std::pair<double, double> without(double then, double now) const
    {
        if (m_count < 2)
            return {kNoReading, kNoReading};
        return {medianWithout(m_then, then), medianWithout(m_now, now)};
    }

private:
    double medianWithout(const std::array<double, kCylinders> &sorted, double leftOut) const
    {
        const auto skip = std::lower_bound(sorted.begin(), sorted.begin() + m_count, leftOut) - sorted.begin();
        const auto at = [&](std::ptrdiff_t j) { return sorted[size_t(j < skip ? j : j + 1)]; };
        const int n = m_count - 1;
        return n % 2 ? at(n / 2) : (at(n / 2 - 1) + at(n / 2)) / 2;
    }

    // Six readings in order without a branch (those past the count are infinite, so they stay last): this
    // runs for almost every record of a flight whose exhausts jump about, where a sort's guesses fail.
    static void SortSix(std::array<double, kCylinders> &v)
    {
        static_assert(kCylinders == 6);
        constexpr std::pair<int, int> kNetwork[] = {{0, 5}, {1, 3}, {2, 4}, {1, 2}, {3, 4}, {0, 3},
                                                    {2, 5}, {0, 1}, {2, 3}, {4, 5}, {1, 2}, {3, 4}};
        for (const auto &[a, b] : kNetwork) {
            const double low = std::min(v[size_t(a)], v[size_t(b)]);
            v[size_t(b)] = std::max(v[size_t(a)], v[size_t(b)]);
            v[size_t(a)] = low;
        }
    }

    static constexpr double kAbove = std::numeric_limits<double>::infinity();
    std::array<double, kCylinders> m_then{kAbove, kAbove, kAbove, kAbove, kAbove, kAbove};
    std::array<double, kCylinders> m_now{kAbove, kAbove, kAbove, kAbove, kAbove, kAbove};
    int m_count = 0;
};

} // namespace

const char *FindingKindName(FindingKind kind)
{
    switch (kind) {
    case FindingKind::ChtHigh:
        return "cht_high";
    case FindingKind::ShockCooling:
        return "shock_cooling";
    case FindingKind::EgtDrop:
        return "egt_drop";
    case FindingKind::EgtProbe:
        return "egt_probe";
    case FindingKind::ChtProbe:
        return "cht_probe";
    }
    return "";
}

FlightMoment MomentOfSecond(std::int64_t second)
{
    const std::int64_t day = second >= 0 ? second / 86400 : -((-second + 86399) / 86400);
    return {QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(second - day * 86400) * 1000)};
}

bool IsProbeFault(double v, double before, double after, const FindingRules &rules)
{
    if (v <= 0)
        return true;
    // The neighbours must themselves be sound readings: a good reading between two dead ones is
    // no spike.
    if (!has(before) || !has(after) || before <= 0 || after <= 0)
        return false;
    return std::abs(v - before) > rules.spikeJump && std::abs(v - after) > rules.spikeJump &&
           std::abs(before - after) < rules.spikeCalm;
}

FindingsScanner::FindingsScanner(const FindingRules &rules) : m_rules(rules)
{
    for (const FindingKind kind : {FindingKind::ChtHigh, FindingKind::ShockCooling, FindingKind::EgtDrop,
                                   FindingKind::EgtProbe, FindingKind::ChtProbe})
        for (int c = 1; c <= kCylinders; ++c)
            m_tracks.push_back({kind, c, {}, std::nullopt, {}});
}

void FindingsScanner::add(const FlightRecord &record)
{
    Sample sample;
    const QDate date = record.LogDate();
    sample.date = date;
    sample.time = record.LogTime();
    sample.second = date.toJulianDay() * 86400 + sample.time.msecsSinceStartOfDay() / 1000;
    sample.rpm = FieldReading(record.Values(kRpmField));
    for (int c = 0; c < kCylinders; ++c) {
        sample.egt[size_t(c)] = FieldReading(record.Values(kFirstEgtField + c));
        sample.cht[size_t(c)] = FieldReading(record.Values(kFirstChtField + c));
    }
    take(sample);
}

void FindingsScanner::add(const RecordReadings &record)
{
    Sample sample;
    sample.time = record.time;
    sample.date = record.date;
    sample.second = record.date.toJulianDay() * 86400 + sample.time.msecsSinceStartOfDay() / 1000;
    sample.rpm = record.value[kRpmField];
    for (int c = 0; c < kCylinders; ++c) {
        sample.egt[size_t(c)] = record.value[size_t(kFirstEgtField + c)];
        sample.cht[size_t(c)] = record.value[size_t(kFirstChtField + c)];
    }
    take(sample);
}

void FindingsScanner::take(Sample sample)
{
    sample.record = m_records++;
    m_raw.push_back(sample);
    // A record is judged once the record after it is in: a spike is a spike against both sides.
    if (m_raw.size() > 3)
        m_raw.pop_front();
    m_judgedNow = m_raw.size() >= 2;
    if (m_judgedNow) {
        const size_t n = m_raw.size();
        m_judged = m_raw[n - 2];
        classify(m_judged, n == 3 ? &m_raw[0] : nullptr, &m_raw[n - 1], m_raw[n - 2]);
        evaluate(m_judged);
    }
}

void FindingsScanner::classify(Sample &middle, const Sample *before, const Sample *after, const Sample &raw)
{
    const auto faulty = [&](double v, double b, double a) { return IsProbeFault(v, b, a, m_rules); };
    for (int c = 0; c < kCylinders; ++c) {
        const size_t k = size_t(c);
        const double egt = raw.egt[k];
        const bool egtFaulty =
            has(egt) && faulty(egt, before ? before->egt[k] : kNoReading, after ? after->egt[k] : kNoReading);
        mark(track(FindingKind::EgtProbe, c + 1), raw, egtFaulty, egt, true);
        if (egtFaulty)
            middle.egt[k] = kNoReading;
        const double cht = raw.cht[k];
        const bool chtFaulty =
            has(cht) && faulty(cht, before ? before->cht[k] : kNoReading, after ? after->cht[k] : kNoReading);
        mark(track(FindingKind::ChtProbe, c + 1), raw, chtFaulty, cht, true);
        if (chtFaulty)
            middle.cht[k] = kNoReading;
    }
}

void FindingsScanner::evaluate(const Sample &sample)
{
    // A clock set back in flight: nothing is measured across it, and the window does not grow
    // for the rest of the flight waiting for a time it has already passed.
    if (!m_window.empty() && sample.second < m_window.back().second)
        m_window.clear();
    m_window.push_back(sample);
    const std::int64_t reach = sample.second - std::int64_t(m_rules.windowSeconds);
    while (m_window.size() >= 2 && m_window[1].second <= reach)
        m_window.pop_front();
    const Sample *then = m_window.front().second <= reach && m_window.size() >= 2 ? &m_window.front() : nullptr;

    const bool rpmSteady = then && has(sample.rpm) && has(then->rpm) &&
                           std::abs(sample.rpm - then->rpm) <= m_rules.rpmCalm * std::abs(then->rpm);
    std::optional<OtherMedians> others; // only once some cylinder's exhaust has fallen
    for (int c = 0; c < kCylinders; ++c) {
        const size_t k = size_t(c);
        const double cht = sample.cht[k];
        mark(track(FindingKind::ChtHigh, c + 1), sample, has(cht) && cht >= m_rules.chtLimit, cht, false);

        const double chtFall = then ? then->cht[k] - cht : kNoReading;
        mark(track(FindingKind::ShockCooling, c + 1), sample, has(chtFall) && chtFall > m_rules.shockFall, chtFall,
             false);

        const double egtFall = then ? then->egt[k] - sample.egt[k] : kNoReading;
        bool egtDrop = rpmSteady && has(egtFall) && egtFall > m_rules.egtFall;
        if (egtDrop) {
            if (!others)
                others.emplace(then->egt, sample.egt);
            const auto [before, now] = others->without(then->egt[k], sample.egt[k]);
            egtDrop = has(before) && std::abs(now - before) < m_rules.othersCalm;
        }
        mark(track(FindingKind::EgtDrop, c + 1), sample, egtDrop, egtFall, false);
    }
}

void FindingsScanner::mark(Track &t, const Sample &sample, bool meets, double value, bool keepFirst)
{
    if (!meets) {
        if (t.open.first >= 0)
            closeRun(t);
        return;
    }
    Run &run = t.open;
    if (run.first < 0) {
        run = {sample.record, sample.record, sample.second, sample.second, sample.time, sample.time, value};
        return;
    }
    run.last = sample.record;
    run.lastSecond = sample.second;
    run.to = sample.time;
    if (!keepFirst)
        run.value = std::max(run.value, value);
}

void FindingsScanner::closeRun(Track &t)
{
    Run run = t.open;
    t.open = {};
    // Runs are joined before any is judged a transient: a cylinder that keeps dropping out for a
    // few seconds at a time is one long finding, not many transients.
    if (t.pending && double(run.firstSecond - t.pending->lastSecond) < m_rules.joinSeconds) {
        Run &joined = *t.pending;
        joined.last = run.last;
        joined.lastSecond = run.lastSecond;
        joined.to = run.to;
        if (t.kind != FindingKind::EgtProbe && t.kind != FindingKind::ChtProbe)
            joined.value = std::max(joined.value, run.value);
        return;
    }
    keepPending(t);
    t.pending = run;
}

void FindingsScanner::keepPending(Track &t)
{
    if (!t.pending)
        return;
    const Run &run = *t.pending;
    const bool transient =
        t.kind == FindingKind::EgtDrop && double(run.lastSecond - run.firstSecond) < m_rules.transientSeconds;
    if (!transient)
        t.done.push_back(run);
    t.pending.reset();
}

std::vector<Finding> FindingsScanner::finish()
{
    m_judgedNow = !m_raw.empty();
    if (m_judgedNow) {
        // The last record has no record after it: no spike, but still a reading at or below 0.
        const size_t n = m_raw.size();
        m_judged = m_raw.back();
        classify(m_judged, n >= 2 ? &m_raw[n - 2] : nullptr, nullptr, m_raw.back());
        evaluate(m_judged);
        m_raw.clear();
    }
    size_t count = 0;
    for (Track &t : m_tracks) {
        if (t.open.first >= 0)
            closeRun(t);
        keepPending(t);
        count += t.done.size();
    }
    std::vector<Finding> findings;
    findings.reserve(count);
    for (Track &t : m_tracks) {
        for (const Run &run : t.done)
            findings.push_back(
                {t.kind, t.cylinder, run.from, run.to, run.first, run.value, run.last, run.firstSecond, run.lastSecond});
        t.done.clear();
    }
    std::sort(findings.begin(), findings.end(), [](const Finding &a, const Finding &b) {
        if (a.record != b.record)
            return a.record < b.record;
        if (a.kind != b.kind)
            return int(a.kind) < int(b.kind);
        return a.cylinder < b.cylinder;
    });
    m_window.clear();
    m_records = 0;
    return findings;
}

std::vector<Finding> FindFlightFindings(const FlightData &data, const FindingRules &rules)
{
    FindingsScanner scanner(rules);
    const int records =
        data.FlightRecordCount ? std::clamp(*data.FlightRecordCount, 0, data.FlightRecords.records()) : 0;
    for (int k = 0; k < records; ++k)
        scanner.add(data.FlightRecords[k]);
    return scanner.finish();
}

} // namespace korvel
