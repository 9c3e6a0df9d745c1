#include "core/flight/Statistics.h"

#include <cmath>

namespace korvel {

double Percentile(const std::vector<double> &sorted, double q)
{
    if (sorted.empty())
        return 0;
    const double position = (double(sorted.size()) - 1) * q;
    const size_t k = size_t(std::floor(position));
    const double f = position - double(k);
    if (k + 1 >= sorted.size())
        return sorted.back();
    return sorted[k] + f * (sorted[k + 1] - sorted[k]);
}

} // namespace korvel
