// The relay benchmark's statistics.
#include "Measure.h"

#include <algorithm>

namespace bench {

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t rank = static_cast<size_t>(p / 100.0 * v.size() + 0.999999);  // nearest rank
    return v[std::min(v.size(), std::max<size_t>(rank, 1)) - 1];
}

double Median(const std::vector<double>& v)
{
    return Percentile(v, 50);
}

double Worst(const std::vector<double>& v, bool higherIsBetter)
{
    if (v.empty())
        return 0;
    return higherIsBetter ? *std::min_element(v.begin(), v.end())
                          : *std::max_element(v.begin(), v.end());
}

} // namespace bench
