// The relay benchmark's figures are only as good as its statistics, so those
// are checked here on their own; its /proc readings are checked with the
// harness (tests/support/TestbedTest.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "Measure.h"

namespace {

TEST(BenchStatistics, NearestRankPercentilesAndWorst)
{
    std::vector<double> values(200);
    std::iota(values.begin(), values.end(), 1.0);
    std::shuffle(values.begin(), values.end(), std::mt19937(7));
    EXPECT_EQ(198.0, bench::Percentile(values, 99));
    EXPECT_EQ(100.0, bench::Median(values));
    EXPECT_EQ(200.0, bench::Percentile(values, 100));
    EXPECT_EQ(1.0, bench::Worst(values, true));
    EXPECT_EQ(200.0, bench::Worst(values, false));

    // 40 latency lines: p99 is the largest, not an interpolation.
    std::vector<double> forty(40, 1.0);
    forty[17] = 30.0;
    EXPECT_EQ(30.0, bench::Percentile(forty, 99));
    EXPECT_EQ(1.0, bench::Median(forty));

    EXPECT_EQ(5.0, bench::Median({5.0}));
    EXPECT_EQ(0.0, bench::Percentile({}, 99));
    EXPECT_EQ(0.0, bench::Worst({}, true));
}

} // namespace
