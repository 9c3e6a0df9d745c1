#pragma once
// The findings as an analyst reads them: what happened to several cylinders together is one
// event. Findings of one kind whose cylinders started within a minute of each other make one
// group, worded as the analysis view and the report show it ("CHT 1-4 shock cooling: 57-62°/min").

#include "core/flight/Findings.h"

#include <QString>

#include <functional>
#include <vector>

namespace korvel {

struct FindingGroup {
    FindingKind kind = FindingKind::ChtHigh;
    std::vector<int> cylinders;  // ascending
    int record = 0;              // the first record of its first finding
    int last = 0;                // the last record of any of its findings
    double low = 0, high = 0;    // the findings' values
    std::vector<size_t> members; // the findings it holds, by position in the list grouped
};

// findings ordered as the scanner gives them; secondsAt: a record's time in seconds on one
// running clock. Groups in order of their first record.
std::vector<FindingGroup> GroupFindings(const std::vector<Finding> &findings,
                                        const std::function<double(int record)> &secondsAt, double within = 60);

// The findings as a page lists them, by what matters to a mechanic: hot heads, shock cooling, an
// exhaust falling alone (each grouped as GroupFindings groups them, in order of their first
// record), then each probe's faults as one group of their own (its members counted), in order of
// their first fault.
std::vector<FindingGroup> GroupFindingsByWhatMatters(const std::vector<Finding> &findings,
                                                     const std::function<double(int record)> &secondsAt);
bool IsProbeFaultKind(FindingKind kind);
// A count of a kind's groups as a page says it: "3 CHT hot", "2 shock cooling", "1 EGT fell alone",
// "1 EGT probe with faults", "2 CHT probes with faults".
QString FindingKindCount(FindingKind kind, int count);

// "1-4", "2", "1-2, 5".
QString CylinderListText(const std::vector<int> &cylinders);
// What happened: "CHT 3 hot: 420° peak", "CHT 1-4 shock cooling: 57-62°/min".
QString FindingGroupWhat(const FindingGroup &group);
// When: "10:10:00 to 10:14:00", or "at 10:10:00" for one record; timeText gives a record's time.
QString FindingGroupWhen(const FindingGroup &group, const std::function<QString(int record)> &timeText);
// The line a page gives it: what, how many times for a probe that failed more than once, and when
// ("CHT 2 probe fault: read 0, 37 times, 10:01:00 to 11:12:00").
QString FindingGroupLine(const FindingGroup &group, const std::function<QString(int record)> &timeText);

} // namespace korvel
