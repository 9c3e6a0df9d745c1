#include "sim/GeneratedRecords.h"

#include <QList>
#include <QRandomGenerator>

namespace korvel::sim {

namespace {

QByteArray dataLine(int secondsOfDay, const QList<int> &fields)
{
    const int s = ((secondsOfDay % 86400) + 86400) % 86400;
    QByteArray line = QByteArray("12/04/26 ") + QByteArray::number(s / 3600).rightJustified(2, '0') + ':'
                      + QByteArray::number(s / 60 % 60).rightJustified(2, '0') + ':'
                      + QByteArray::number(s % 60).rightJustified(2, '0');
    for (const int v : fields)
        line += ',' + QByteArray::number(v);
    return line + "\r\n";
}

} // namespace

QByteArray GenerateFlight(int records, int intervalSeconds)
{
    QRandomGenerator rng(20261204);
    const auto jitter = [&rng](int span) { return int(rng.bounded(2 * span + 1)) - span; };
    QByteArray text = "FLIGHT 0042 N5127K\r\n";
    text.reserve(qsizetype(records) * 140 + 64);
    int fuel = 480; // tenths of a gallon... shown as read
    for (int i = 0; i < records; ++i) {
        const double phase = records > 1 ? double(i) / (records - 1) : 0.0;
        const bool climb = phase < 0.1, descent = phase > 0.9;
        const int rpm = (climb ? 2650 : descent ? 1900 : 2400) + jitter(15);
        const int map = (climb ? 270 : descent ? 180 : 235) + jitter(3);
        if (i % 10 == 0 && fuel > 40)
            --fuel;
        QList<int> f(28, 0);
        f[0] = i + 1;
        f[1] = rpm;
        f[2] = map;
        f[3] = rpm / 10;
        f[4] = 95 + jitter(3);    // fuel flow, tenths
        f[5] = 142 + jitter(1);   // volts, tenths
        f[6] = 12 + jitter(2);    // amps
        f[7] = 620 + jitter(10);  // oil pressure, tenths of psi
        f[8] = 1950 + jitter(20); // oil temperature, tenths of degrees
        f[9] = 450 + jitter(5);   // outside air, tenths of degrees
        f[10] = fuel;
        for (int k = 11; k < 16; ++k)
            f[k] = jitter(2) + 10;
        for (int c = 0; c < 6; ++c) {
            f[16 + c] = (climb ? 1250 : descent ? 1200 : 1400) + c * 12 + jitter(20);
            f[22 + c] = (climb ? 400 : descent ? 320 : 370) + c * 4 + jitter(5);
        }
        text += dataLine(8 * 3600 + i * intervalSeconds, f);
    }
    return text + "END\r\n";
}

QByteArray GenerateCalibration()
{
    QByteArray text = "CAL 0042\r\n";
    for (int section = 1; section <= 5; ++section) {
        for (int row = 0; row < 4; ++row) {
            text += QByteArray::number(section) + ',' + QByteArray::number(row);
            for (int k = 0; k < 8; ++k)
                text += ',' + QByteArray::number(section * 100 + row * 10 + k);
            text += "\r\n";
        }
        text += "END\r\n";
    }
    return text;
}

} // namespace korvel::sim
