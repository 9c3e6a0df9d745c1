#pragma once
// A flight's text made to order, the one builder the tests share: records `step` seconds apart
// from a first date and time, every field a running engine's reading unless the test changes it.
// Midnight is crossed as the instrument crosses it (the date turns over). Flights shaped like a
// real one, phases and noise, come from FlightPlans.h instead.

#include <QByteArray>
#include <QDate>
#include <QList>

#include <cstdio>
#include <functional>

namespace korvel::test {

// A record's 28 field texts, which a change may replace (record index, fields).
using RecordChange = std::function<void(int, QList<QByteArray> &)>;

struct FlightText {
    QDate date = QDate(2026, 6, 15);
    int start = 10 * 3600; // seconds after the first day's midnight
    int step = 6;
    QByteArray marker = "FLIGHT 0001";
    bool withEnd = true; // the closing END line
    // Field k of every record: 100 + k, but an engine at cruise in the fields an owner reads: EGT n
    // 1300 + 40 (n - 1), CHT n 350 + 5 (n - 1), RPM 2400, manifold 24.5 inHg, oil 65 psi and 180
    // degrees, outside air 15 degrees (the tenths as recorded).
    QList<QByteArray> fields = EngineFields();

    static QList<QByteArray> EngineFields()
    {
        QList<QByteArray> base(28);
        for (int k = 0; k < 28; ++k)
            base[k] = QByteArray::number(100 + k);
        for (int c = 0; c < 6; ++c) {
            base[16 + c] = QByteArray::number(1300 + 40 * c);
            base[22 + c] = QByteArray::number(350 + 5 * c);
        }
        base[1] = "2400";
        base[2] = "245";
        base[7] = "650";
        base[8] = "1800";
        base[9] = "150";
        return base;
    }

    // A steady engine, nothing else read: every field 0 but 2400 rpm, each EGT 1400 and each CHT
    // 350; "FLIGHT" from 10:00:00 on 03/14/26, without the END line.
    static FlightText Steady()
    {
        FlightText text;
        text.date = QDate(2026, 3, 14);
        text.marker = "FLIGHT";
        text.withEnd = false;
        text.fields = QList<QByteArray>(28, "0");
        text.fields[1] = "2400";
        for (int c = 0; c < 6; ++c) {
            text.fields[16 + c] = "1400";
            text.fields[22 + c] = "350";
        }
        return text;
    }

    // "MM/DD/YY HH:MM:SS" of record i.
    QByteArray stamp(int i) const
    {
        const qint64 s = start + qint64(i) * step;
        const QDate day = date.addDays(s / 86400);
        char head[32];
        std::snprintf(head, sizeof head, "%02d/%02d/%02d %02d:%02d:%02d", day.month(), day.day(), day.year() % 100,
                      int(s / 3600 % 24), int(s / 60 % 60), int(s % 60));
        return head;
    }

    QByteArray make(int n, const RecordChange &change = {}) const
    {
        QByteArray bytes = marker + "\r\n";
        bytes.reserve(qsizetype(n) * 120);
        for (int i = 0; i < n; ++i) {
            bytes += stamp(i);
            QList<QByteArray> record = fields;
            if (change)
                change(i, record);
            for (const QByteArray &f : record)
                bytes += ',' + f;
            bytes += "\r\n";
        }
        return withEnd ? bytes + "END\r\n" : bytes;
    }
};

} // namespace korvel::test
