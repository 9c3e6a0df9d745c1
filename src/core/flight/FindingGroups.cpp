#include "core/flight/FindingGroups.h"

#include "core/flight/CountText.h"
#include "core/flight/FlightColumns.h"

#include <algorithm>

namespace korvel {

std::vector<FindingGroup> GroupFindings(const std::vector<Finding> &findings,
                                        const std::function<double(int record)> &secondsAt, double within)
{
    std::vector<FindingGroup> groups;
    std::vector<double> starts; // each group's first start, in seconds
    for (size_t i = 0; i < findings.size(); ++i) {
        const Finding &f = findings[i];
        const double start = secondsAt(f.record);
        FindingGroup *joined = nullptr;
        // Groups begin in time order: looking back, the first one begun too early ends the search.
        for (size_t g = groups.size(); g-- > 0;) {
            FindingGroup &group = groups[g];
            if (start - starts[g] > within)
                break;
            if (group.kind == f.kind &&
                std::find(group.cylinders.begin(), group.cylinders.end(), f.cylinder) == group.cylinders.end()) {
                joined = &group;
                break;
            }
        }
        if (!joined) {
            groups.push_back({f.kind, {}, f.record, f.last, f.value, f.value, {}});
            starts.push_back(start);
            joined = &groups.back();
        }
        joined->cylinders.insert(std::upper_bound(joined->cylinders.begin(), joined->cylinders.end(), f.cylinder),
                                 f.cylinder);
        joined->record = std::min(joined->record, f.record);
        joined->last = std::max({joined->last, f.last, f.record});
        joined->low = std::min(joined->low, f.value);
        joined->high = std::max(joined->high, f.value);
        joined->members.push_back(i);
    }
    return groups;
}

bool IsProbeFaultKind(FindingKind kind)
{
    return kind == FindingKind::EgtProbe || kind == FindingKind::ChtProbe;
}

std::vector<FindingGroup> GroupFindingsByWhatMatters(const std::vector<Finding> &findings,
                                                     const std::function<double(int record)> &secondsAt)
{
    std::vector<FindingGroup> groups;
    for (FindingGroup &group : GroupFindings(findings, secondsAt))
        if (!IsProbeFaultKind(group.kind))
            groups.push_back(std::move(group));
    std::stable_sort(groups.begin(), groups.end(),
                     [](const FindingGroup &a, const FindingGroup &b) { return int(a.kind) < int(b.kind); });
    // Each probe's faults: one group, in order of its first fault.
    std::vector<FindingGroup> probes;
    for (size_t i = 0; i < findings.size(); ++i) {
        const Finding &f = findings[i];
        if (!IsProbeFaultKind(f.kind))
            continue;
        auto probe = std::find_if(probes.begin(), probes.end(), [&](const FindingGroup &g) {
            return g.kind == f.kind && g.cylinders.front() == f.cylinder;
        });
        if (probe == probes.end()) {
            probes.push_back({f.kind, {f.cylinder}, f.record, f.last, f.value, f.value, {}});
            probe = probes.end() - 1;
        }
        probe->last = std::max({probe->last, f.last, f.record});
        probe->low = std::min(probe->low, f.value);
        probe->high = std::max(probe->high, f.value);
        probe->members.push_back(i);
    }
    groups.insert(groups.end(), probes.begin(), probes.end());
    return groups;
}

QString FindingKindCount(FindingKind kind, int count)
{
    const QString n = CountText(count);
    switch (kind) {
    case FindingKind::ChtHigh:
        return n + QStringLiteral(" CHT hot");
    case FindingKind::ShockCooling:
        return n + QStringLiteral(" shock cooling");
    case FindingKind::EgtDrop:
        return n + QStringLiteral(" EGT fell alone");
    case FindingKind::EgtProbe:
        return n + (count == 1 ? QStringLiteral(" EGT probe with faults") : QStringLiteral(" EGT probes with faults"));
    case FindingKind::ChtProbe:
        return n + (count == 1 ? QStringLiteral(" CHT probe with faults") : QStringLiteral(" CHT probes with faults"));
    }
    return n;
}

QString CylinderListText(const std::vector<int> &cylinders)
{
    QStringList runs;
    for (size_t i = 0; i < cylinders.size();) {
        size_t j = i;
        while (j + 1 < cylinders.size() && cylinders[j + 1] == cylinders[j] + 1)
            ++j;
        runs << (j > i ? QStringLiteral("%1-%2").arg(cylinders[i]).arg(cylinders[j]) : QString::number(cylinders[i]));
        i = j + 1;
    }
    return runs.join(QStringLiteral(", "));
}

QString FindingGroupWhat(const FindingGroup &group)
{
    const QString cyl = CylinderListText(group.cylinders);
    const QString values = group.high > group.low
                               ? QStringLiteral("%1-%2").arg(ReadingText(group.low), ReadingText(group.high))
                               : ReadingText(group.low);
    const QString deg = values + QStringLiteral("\u00b0");
    switch (group.kind) {
    case FindingKind::ChtHigh:
        return QStringLiteral("CHT %1 hot: %2 peak").arg(cyl, deg);
    case FindingKind::ShockCooling:
        return QStringLiteral("CHT %1 shock cooling: %2/min").arg(cyl, deg);
    case FindingKind::EgtDrop:
        return QStringLiteral("EGT %1 fell alone: %2/min").arg(cyl, deg);
    case FindingKind::EgtProbe:
        return QStringLiteral("EGT %1 probe fault: read %2").arg(cyl, values);
    case FindingKind::ChtProbe:
        return QStringLiteral("CHT %1 probe fault: read %2").arg(cyl, values);
    }
    return QString();
}

QString FindingGroupWhen(const FindingGroup &group, const std::function<QString(int record)> &timeText)
{
    return group.last > group.record ? QStringLiteral("%1 to %2").arg(timeText(group.record), timeText(group.last))
                                     : QStringLiteral("at %1").arg(timeText(group.record));
}

QString FindingGroupLine(const FindingGroup &group, const std::function<QString(int record)> &timeText)
{
    QString line = FindingGroupWhat(group) + QStringLiteral(", ");
    if (IsProbeFaultKind(group.kind) && group.members.size() > 1)
        line += QStringLiteral("%1 times, ").arg(CountText(qint64(group.members.size())));
    return line + FindingGroupWhen(group, timeText);
}

} // namespace korvel
