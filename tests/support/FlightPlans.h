#pragma once
// Whole flights made to order: engine start, climb, cruise, a leaning and an enrichening at the
// same power, a power reduction, descent and taxi, with small noise on every reading; anomalies laid
// in where a test wants them. Shared by the findings, library and benchmark code.

#include <QByteArray>
#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace korvel::test {

// Something wrong with one cylinder (or every cylinder) from one second of the flight to another.
struct Anomaly {
    enum Kind {
        EgtProbeDead, // the EGT reads 0
        ChtProbeDead, // the CHT reads -1
        EgtSpike,     // one record's EGT 500 too high
        EgtDrop,      // the EGT falls 200 within 5 s, stays down, then comes back
        ChtHot,       // the CHT climbs 70 over three minutes, holds, then comes back
        ShockCool,    // every CHT falls 90 within a minute (a power-off descent)
    };
    Kind kind;
    int cylinder = 1; // 1 to 6
    int from = 0;     // seconds after the first record
    int to = 0;
};

struct FlightPlan {
    QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(9, 30, 0));
    int step = 1;        // seconds between records
    double scale = 1.0;  // stretches every phase (1.0: about 68 minutes)
    std::vector<Anomaly> anomalies;
    unsigned seed = 1;
    bool withEnd = true; // the closing END line
};

namespace plan {

struct Phase {
    int seconds;
    double rpm, egt, cht;
};

// Where the engine is t seconds into the flight: targets of the phase, reached by a ramp.
inline void Engine(const FlightPlan &p, double t, double &rpm, double &egt, double &cht)
{
    static const Phase phases[] = {
        {300, 1000, 900, 250},   // start and taxi (from cold)
        {480, 2600, 1300, 370},  // take-off and climb
        {900, 2400, 1380, 350},  // cruise
        {600, 2400, 1480, 360},  // leaned: every EGT up together
        {600, 2400, 1370, 350},  // enrichened: every EGT down together, same RPM
        {600, 2200, 1330, 340},  // power reduced
        {420, 1900, 1250, 300},  // descent
        {180, 1000, 900, 260},   // taxi in
    };
    double prpm = 0, pegt = 500, pcht = 150;
    double begin = 0;
    for (const Phase &ph : phases) {
        const double len = ph.seconds * p.scale;
        if (t < begin + len || &ph == &phases[std::size(phases) - 1]) {
            const double u = t - begin;
            const auto ramp = [u](double from, double to, double over) {
                return from + (to - from) * std::clamp(u / over, 0.0, 1.0);
            };
            rpm = ramp(prpm, ph.rpm, 20);
            egt = ramp(pegt, ph.egt, 40);
            cht = ramp(pcht, ph.cht, len);
            return;
        }
        prpm = ph.rpm;
        pegt = ph.egt;
        pcht = ph.cht;
        begin += len;
    }
}

inline int Seconds(const FlightPlan &p)
{
    return int(4680 * p.scale);
}

// Noise that is the same for the same plan, record and field.
inline double Jitter(unsigned seed, int record, int field, double amplitude)
{
    unsigned x = seed * 2654435761u ^ unsigned(record) * 40503u ^ unsigned(field) * 9973u;
    x ^= x >> 13;
    x *= 0x5bd1e995u;
    x ^= x >> 15;
    return (double(x % 2001) / 1000.0 - 1.0) * amplitude;
}

} // namespace plan

inline QByteArray MakeFlight(const FlightPlan &p)
{
    QByteArray text = "FLIGHT 000" + QByteArray::number(p.seed) + "\r\n";
    const int total = plan::Seconds(p);
    text.reserve(qsizetype(total / p.step + 2) * 150);
    static const double egtOffset[6] = {-20, 10, 25, -5, -30, 15};
    static const double chtOffset[6] = {5, -10, 12, 0, -8, 3};
    int record = 0;
    for (int t = 0; t <= total; t += p.step, ++record) {
        double rpm, egt, cht;
        plan::Engine(p, t, rpm, egt, cht);
        const QDateTime at = p.start.addSecs(t);
        char head[40];
        std::snprintf(head, sizeof head, "%02d/%02d/%02d %02d:%02d:%02d", at.date().month(), at.date().day(),
                      at.date().year() % 100, at.time().hour(), at.time().minute(), at.time().second());
        text += head;
        double egts[6], chts[6];
        for (int c = 0; c < 6; ++c) {
            egts[c] = egt + egtOffset[c] + plan::Jitter(p.seed, record, 16 + c, 4);
            chts[c] = cht + chtOffset[c] + plan::Jitter(p.seed, record, 22 + c, 2);
        }
        for (const Anomaly &a : p.anomalies) {
            const int c = a.cylinder - 1;
            const double in = t - a.from; // seconds into the anomaly
            const double after = t - a.to;
            switch (a.kind) {
            case Anomaly::EgtProbeDead:
                if (t >= a.from && t <= a.to)
                    egts[c] = 0;
                break;
            case Anomaly::ChtProbeDead:
                if (t >= a.from && t <= a.to)
                    chts[c] = -1;
                break;
            case Anomaly::EgtSpike:
                if (t >= a.from && t < a.from + p.step)
                    egts[c] += 500;
                break;
            case Anomaly::EgtDrop:
                if (t >= a.from)
                    egts[c] -= 200 * std::clamp(in / 5, 0.0, 1.0) * (1 - std::clamp(after / 5, 0.0, 1.0));
                break;
            case Anomaly::ChtHot:
                if (t >= a.from)
                    chts[c] += 70 * std::clamp(in / 180, 0.0, 1.0) * (1 - std::clamp(after / 180, 0.0, 1.0));
                break;
            case Anomaly::ShockCool:
                if (t >= a.from)
                    for (double &v : chts)
                        v -= 90 * std::clamp(in / 60, 0.0, 1.0);
                break;
            }
        }
        const double fields[16] = {1, rpm, 250, rpm, 0, 0, 0, 750, 1900, 150, 290, 0, 124, 0, 0, 0};
        for (int k = 0; k < 28; ++k) {
            double v = k < 16 ? fields[k] : k < 22 ? egts[k - 16] : chts[k - 22];
            if (k == 1 || k == 3)
                v += plan::Jitter(p.seed, record, k, 10);
            text += ',';
            text += QByteArray::number(qRound(v));
        }
        text += "\r\n";
    }
    if (p.withEnd)
        text += "END\r\n";
    return text;
}

} // namespace korvel::test
