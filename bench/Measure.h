// The statistics the relay benchmark reports; its readings of a process's
// CPU time are the tests' own (LinuxProcess.h).
#pragma once

#include "LinuxProcess.h"

#include <vector>

namespace bench {

// Nearest-rank percentile (0 for no values); the median is the 50th.
double Percentile(std::vector<double> values, double p);
double Median(const std::vector<double>& values);
// The lowest value when higher is better, else the highest.
double Worst(const std::vector<double>& values, bool higherIsBetter);

} // namespace bench
