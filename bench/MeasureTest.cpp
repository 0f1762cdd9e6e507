// The relay benchmark's figures are only as good as its statistics and its
// reading of Linux's /proc, so those are checked here on their own.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "Measure.h"
#include "TestSupport.h"

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

TEST(BenchStatLine, CountsUserAndSystemTimeAfterTheName)
{
    unsigned long long ticks = 0;
    // A name with blanks and a closing parenthesis of its own.
    ASSERT_TRUE(bench::ParseCpuTicks(
        "4242 (pl3.com) x y) S 1 4242 4242 0 -1 4194560 2250 0 0 0 123 45 0 0 20 0 8 0 "
        "99 12345 678 18446744073709551615\n",
        &ticks));
    EXPECT_EQ(168ull, ticks);

    EXPECT_FALSE(bench::ParseCpuTicks("4242 pl3.com S 1 2 3", &ticks));
    EXPECT_FALSE(bench::ParseCpuTicks("4242 (pl3.com) S 1 4242 4242 0 -1", &ticks));
}

struct CpuWindow {
    unsigned long long ticks;
    unsigned long long ns;
};

bool ReadBoth(DWORD pid, CpuWindow* reading)
{
    return bench::ReadCpuTicks(pid, &reading->ticks) && bench::ReadRunNs(pid, &reading->ns);
}

// The reading the benchmark judges pl3.com by must find the right Linux
// process and tell a spinning one from a sleeping one.
TEST(BenchProcReading, FindsEachProcessAndTellsSpinningFromSleeping)
{
    tb::TempDir dir;
    const std::wstring spinner = dir.Join(L"spinner.exe");
    const std::wstring sleeper = dir.Join(L"sleeper.exe");
    ASSERT_TRUE(tb::CopyBinary(L"bench-twin.exe", spinner));
    ASSERT_TRUE(tb::CopyBinary(L"bench-twin.exe", sleeper));
    EXPECT_EQ(0u, bench::FindLinuxPid(dir.Join(L"never-started.exe")));

    tb::Process spinning = tb::StartProcess(L"\"" + spinner + L"\" spin 2500");
    tb::Process sleeping = tb::StartProcess(L"\"" + sleeper + L"\" silent 2500");
    ASSERT_TRUE(spinning.started());
    ASSERT_TRUE(sleeping.started());

    DWORD spinPid = 0, sleepPid = 0;
    EXPECT_TRUE(tb::WaitUntil([&] {
        spinPid = bench::FindLinuxPid(spinner);
        sleepPid = bench::FindLinuxPid(sleeper);
        return spinPid != 0 && sleepPid != 0;
    }, 2000));
    ASSERT_NE(0u, spinPid);
    ASSERT_NE(0u, sleepPid);
    EXPECT_NE(spinPid, sleepPid);

    // Past start-up: the sleeper's run time has held still for 50 ms (at
    // most 2 s).
    unsigned long long last = ~0ull;
    tb::WaitUntil([&] {
        CpuWindow now = {};
        bool still = ReadBoth(sleepPid, &now) && now.ns == last;
        last = now.ns;
        return still;
    }, 2000, 50);
    CpuWindow spin0, spin1, sleep0, sleep1;
    ASSERT_TRUE(ReadBoth(spinPid, &spin0));
    ASSERT_TRUE(ReadBoth(sleepPid, &sleep0));
    Sleep(1000);
    ASSERT_TRUE(ReadBoth(spinPid, &spin1));
    ASSERT_TRUE(ReadBoth(sleepPid, &sleep1));

    // Over one second: a spinner has most of a core even on a busy machine,
    // a sleeper next to nothing.
    EXPECT_GE(spin1.ticks - spin0.ticks, 25ull);
    EXPECT_GE(spin1.ns - spin0.ns, 250000000ull);
    EXPECT_LE(sleep1.ticks - sleep0.ticks, 1ull);
    EXPECT_LT(sleep1.ns - sleep0.ns, 5000000ull);
    // Both readings count the same time, one in ticks, one in nanoseconds.
    double spinTicksMs = (spin1.ticks - spin0.ticks) * 1000.0 / bench::kTicksPerSecond;
    double spinNsMs = (spin1.ns - spin0.ns) / 1e6;
    EXPECT_NEAR(spinNsMs, spinTicksMs, 30.0);

    EXPECT_TRUE(spinning.Wait(5000));
    EXPECT_TRUE(sleeping.Wait(5000));
}

} // namespace
