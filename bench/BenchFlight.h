#pragma once
// The generated flight the loader and summary benchmarks share, so their figures are for the
// same file: records every 6 s from 08:00, 28 values each in the ranges of a running engine.

#include "core/ui/UiInterfaces.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>

#include <cstdio>

namespace korvel::bench {

class NoStatus : public StatusLine {
public:
    void setStatus(const QString &) override {}
};

inline QByteArray makeFlight(int records)
{
    QByteArray text = "FLIGHT 000123 KORVEL\r\n";
    text.reserve(qsizetype(records) * 160);
    QRandomGenerator rng(7);
    int seconds = 8 * 3600;
    for (int i = 0; i < records; ++i, seconds += 6) {
        const int s = seconds % 86400;
        char head[32];
        std::snprintf(head, sizeof head, "12/04/26 %02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
        text += head;
        for (int k = 0; k < 28; ++k) {
            int v;
            if (k >= 16 && k <= 21)
                v = 1200 + int(rng.bounded(300));
            else if (k >= 22)
                v = 300 + int(rng.bounded(120));
            else
                v = 2300 + int(rng.bounded(200));
            text += ',';
            text += QByteArray::number(v);
        }
        text += "\r\n";
    }
    text += "END\r\n";
    return text;
}

// Writes the generated flight to path; its size in bytes, or -1 when it could not be written.
inline qint64 writeFlight(const QString &path, int records)
{
    const QByteArray bytes = makeFlight(records);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() ? bytes.size() : -1;
}

} // namespace korvel::bench
