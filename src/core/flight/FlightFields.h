#pragma once
// The 28 fields of a flight record by number: what each is called and the number it holds. The
// summary, the CSV export and the graphs all read fields through here, so they agree on both.

#include <QLatin1StringView>
#include <QString>

#include <optional>

namespace korvel {

constexpr int kCylinders = 6;
constexpr int kFirstEgtField = 16; // EGT1 to EGT6: fields 16 to 21
constexpr int kFirstChtField = 22; // CHT1 to CHT6: fields 22 to 27

// The engine's own fields. Field 2 is read two ways: the flight data graph takes it as manifold
// pressure (tenths of an inch), the engine data graph as fuel remaining; field 3 is the engine
// data graph's RPM in tens.
constexpr int kRpmField = 1;
constexpr int kManifoldField = 2;
constexpr int kFuelField = 2;
constexpr int kEngineRpmField = 3;
constexpr int kOilPressureField = 7;
constexpr int kOilTemperatureField = 8;
constexpr int kOutsideAirField = 9;

// "EGT1" ... "CHT6" for the cylinder fields, "field0" ... "field15" for the rest.
QString FlightFieldName(int field);

// A field's text as a number: blanks around it allowed; empty or not a number gives nothing.
std::optional<double> FieldNumber(QLatin1StringView text);

// FieldNumber as the figures read it, NaN when the field holds no number, with a short road for what
// the instrument writes almost always: a whole number of a few digits.
double FieldReading(QLatin1StringView text);

} // namespace korvel
