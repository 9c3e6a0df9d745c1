#pragma once
// Figures over many flights: the percentile that the report card and the library's trend chart
// both read a fleet by.

#include <vector>

namespace korvel {

// Percentile q (0 to 1) of values sorted ascending: x(k) + f (x(k+1) - x(k)) where (n - 1) q = k + f;
// 0 without values.
double Percentile(const std::vector<double> &sorted, double q);

} // namespace korvel
