#pragma once
// The 28 fields of a flight record by number: what each is called, what it means to an owner and
// the number it holds. What reads a field's number (the summary, the findings, the CSV export, the
// graphs, the analysis view, the library, the reports) reads it with FieldReading or FieldNumber,
// and what names or scales one takes it from the catalogue below.

#include <QLatin1StringView>
#include <QString>

#include <array>
#include <optional>

namespace korvel {

constexpr int kCylinders = 6;
constexpr int kFirstEgtField = 16; // EGT1 to EGT6: fields 16 to 21
constexpr int kFirstChtField = 22; // CHT1 to CHT6: fields 22 to 27

// The engine's own fields. Field 2 is the manifold pressure in tenths of an inch (the engine data
// graph alone plots it under its own legend, "Fuel REM"); field 3 is the engine data graph's RPM in
// tens.
constexpr int kRpmField = 1;
constexpr int kManifoldField = 2;
constexpr int kEngineRpmField = 3;
constexpr int kOilPressureField = 7;
constexpr int kOilTemperatureField = 8;
constexpr int kOutsideAirField = 9;

// The field catalogue: what the analysis view, the library window, its trends and the reports call
// a field and in which unit they show it.
struct FieldInfo {
    int field;
    const char *name;   // as a choice or a measure names it ("Oil temperature"), UTF-8
    const char *legend; // as a chart's legend names its line ("Oil temp")
    const char *unit;   // "\u00b0F", "psi", ...; empty for a field without one
    double scale;       // from the number recorded to the one shown (tenths read as whole units)
};
constexpr int kNamedFields = 5;
// The engine's fields an owner reads by name, in the order the view offers them: RPM, oil
// temperature, oil pressure, outside air, manifold.
const std::array<FieldInfo, kNamedFields> &NamedFields();
// Any field's entry: a named one as above, "EGT n" and "CHT n" in degrees, any other "Field n"
// without a unit, as recorded.
FieldInfo FieldInfoOf(int field);

// What the library's figures of a field are called as trend measures: "field8.max".
enum class FieldStatistic { Min, Max, Mean };
const char *FieldMeasureKey(int field, FieldStatistic statistic);

// "EGT1" ... "CHT6" for the cylinder fields, "field0" ... "field15" for the rest.
QString FlightFieldName(int field);

// A field's text as a number: blanks around it allowed; empty or not a number gives nothing.
std::optional<double> FieldNumber(QLatin1StringView text);

// FieldNumber as the figures read it, NaN when the field holds no number, with a short road for what
// the instrument writes almost always: a whole number of a few digits.
double FieldReading(QLatin1StringView text);

} // namespace korvel
