#pragma once
// What an analyst looks for first in a flight, found by rule: failing probes, hot cylinder heads,
// shock cooling, and one cylinder's exhaust temperature falling while the others hold. Fed record
// by record, so a flight of any length is read once and nothing of it is kept but the last minute.

#include "core/flight/FlightData.h"
#include "core/flight/FlightSummary.h"
#include "core/flight/RecordReadings.h"

#include <QTime>

#include <deque>
#include <vector>

namespace korvel {

// The rules' thresholds, with the values an analyst starts from.
struct FindingRules {
    double chtLimit = 400;        // cht_high: a head at or above this
    double spikeJump = 300;       // a one-record spike stands this far from both neighbours...
    double spikeCalm = 100;       // ...while they differ by less than this
    double windowSeconds = 60;    // falls are measured against the last record this long ago
    double shockFall = 50;        // shock_cooling: a head that fell more than this over the window
    double egtFall = 100;         // egt_drop: an exhaust that fell more than this over the window...
    double othersCalm = 25;       // ...while the median of the other cylinders moved less than this...
    double rpmCalm = 0.05;        // ...and the RPM by no more than this share
    double transientSeconds = 30; // an egt_drop finding shorter than this (once joined) is a transient
    double joinSeconds = 60;      // runs closer than this are one finding (joined first)
};

enum class FindingKind { ChtHigh, ShockCooling, EgtDrop, EgtProbe, ChtProbe }; // in the order listed

const char *FindingKindName(FindingKind kind);

// Rule 1 for one probe's reading v: at or below 0, or a one-record spike against the same probe's
// readings in the records before and after it (NaN where there is none or it holds no number).
// Faulty readings are left out of every other rule and of the flight library's figures.
bool IsProbeFault(double v, double before, double after, const FindingRules &rules = {});

struct Finding {
    FindingKind kind = FindingKind::ChtHigh;
    int cylinder = 0; // 1 to 6
    QTime from;
    QTime to;
    int record = 0; // 0-based, the first record of the finding
    double value = 0;
    int last = 0; // 0-based, the last record of the finding
    // When it began and ended by date and time: day number (Julian) x 86400 + second of the day.
    std::int64_t fromSecond = 0;
    std::int64_t toSecond = 0;
};

// A moment given as a Finding's seconds, back to its date and time.
FlightMoment MomentOfSecond(std::int64_t second);

// A record's probes as the first rule leaves them: a faulty reading is NaN, as is no reading.
struct SoundProbes {
    QTime time;
    QDate date;
    std::array<double, kCylinders> egt{};
    std::array<double, kCylinders> cht{};
};

class FindingsScanner {
public:
    explicit FindingsScanner(const FindingRules &rules = {});

    // The next record of the flight, in file order. Its readings are taken at once: the view need
    // not outlive the call.
    void add(const FlightRecord &record);
    void add(const RecordReadings &record);
    // The findings of every record added, ordered by first record, then kind, then cylinder.
    std::vector<Finding> finish();
    // The record the last add or finish judged (a record is judged once the one after it is in, the
    // last at finish), for figures that leave failing probes out; null when that call judged none.
    const SoundProbes *judged() const { return m_judgedNow ? &m_judged : nullptr; }

private:
    struct Sample : SoundProbes { // once classified, its probes are sound
        std::int64_t second = 0; // from a fixed day, so midnight does not matter
        int record = 0;
        double rpm = 0;
    };
    struct Run {
        int first = -1;
        int last = -1;
        std::int64_t firstSecond = 0;
        std::int64_t lastSecond = 0;
        QTime from, to;
        double value = 0;
    };
    // One rule for one cylinder: its open run and the findings it has closed.
    struct Track {
        FindingKind kind;
        int cylinder;
        Run open;
        std::optional<Run> pending; // closed, waiting to see whether the next run joins it
        std::vector<Run> done;
    };

    void take(Sample sample);
    void classify(Sample &middle, const Sample *before, const Sample *after, const Sample &raw);
    void evaluate(const Sample &sample);
    void mark(Track &track, const Sample &sample, bool meets, double value, bool keepFirst);
    void closeRun(Track &track);
    // The track's pending run becomes a finding unless it is a transient.
    void keepPending(Track &track);
    Track &track(FindingKind kind, int cylinder) { return m_tracks[size_t(int(kind) * kCylinders + cylinder - 1)]; }

    FindingRules m_rules;
    int m_records = 0;
    // The last two records as read (a spike is known only when the record after it is in).
    std::deque<Sample> m_raw;
    // Records already classified, back to the last one at least a window before the newest.
    std::deque<Sample> m_window;
    std::vector<Track> m_tracks;
    Sample m_judged;
    bool m_judgedNow = false;
};

// The findings of a loaded table.
std::vector<Finding> FindFlightFindings(const FlightData &data, const FindingRules &rules = {});

} // namespace korvel
