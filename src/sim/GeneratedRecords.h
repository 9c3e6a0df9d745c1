#pragma once
// Records in the instrument's format (CR LF lines), generated for the capture sender and the tests.

#include <QByteArray>

namespace korvel::sim {

// A flight: "FLIGHT" line, one dated line per record every intervalSeconds from 08:00:00, an "END"
// line. A calibration record: "CAL" line and five sections each closed by an "END" line.
QByteArray GenerateFlight(int records, int intervalSeconds = 6);
QByteArray GenerateCalibration();

} // namespace korvel::sim
