#pragma once
// Small flights whose summaries are worked out by hand, shared by the summary, CSV, korvel-cli and
// dialog tests.

#include <QByteArray>

#include <map>

namespace korvel::test {

// One data line: the date and time as the instrument writes them, then fields 0 to 27 (those not
// given are empty).
inline QByteArray DataLine(const char *dateTime, const std::map<int, QByteArray> &fields)
{
    QByteArray line = dateTime;
    for (int k = 0; k < 28; ++k) {
        line += ',';
        const auto it = fields.find(k);
        if (it != fields.end())
            line += it->second;
    }
    return line + "\r\n";
}

// Three records across midnight. By hand:
//   first 2025-12-31T23:59:50, last 2026-01-01T00:00:02, 12 s.
//   field0 10 20 30: min 10 max 30 mean 20; field1 " 5 " "+7" "x5": 2 numbers, mean 6;
//   field2 "abc" "1e1" "": one number, 10; field3 never a number: left out.
//   EGT1 1300 1400 1400: peak 1400 first at 23:59:56 (the tie keeps the first); EGT2 1350 first at
//   23:59:50; EGT3 empty and EGT4 "x": no number; EGT5 1250, EGT6 1400 at 23:59:50.
//   CHT1 380 390 400: peak at 00:00:02; CHT2 "" 395 380: peak at 23:59:56; CHT3 to CHT6 none.
//   EGT spread: 1400 - 1250 = 150 at 23:59:50 (then 50, 100). CHT spread: the first record has
//   one CHT only; then 5 and 20: 20 at 00:00:02.
//   CHT limit 390: CYL 1 23:59:56 to 00:00:02 peak 400; CYL 2 23:59:56 to 23:59:56 peak 395.
inline QByteArray MidnightFlight()
{
    return "FLIGHT 0042\r\n" +
           DataLine("12/31/25 23:59:50", {{0, "10"}, {1, " 5 "}, {2, "abc"}, {16, "1300"}, {17, "1350"},
                                          {19, "x"}, {20, "1250"}, {21, "1400"}, {22, "380"}}) +
           DataLine("12/31/25 23:59:56",
                    {{0, "20"}, {1, "+7"}, {2, "1e1"}, {16, "1400"}, {17, "1350"}, {22, "390"}, {23, "395"}}) +
           DataLine("01/01/26 00:00:02", {{0, "30"}, {1, "x5"}, {16, "1400"}, {17, "1300"}, {22, "400"}, {23, "380"}}) +
           "END\r\n";
}

} // namespace korvel::test
