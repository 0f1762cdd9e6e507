// The benchmark's twin sets every figure's yardstick: a wrong byte count or
// a wrong timestamp would show up as a relay's fault, so it is checked here.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

class BenchTwin : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tb::CopyBinary(L"bench-twin.exe", twin_)); }

    tb::ProcessResult Run(const std::wstring& args)
    {
        return tb::RunProcess(L"\"" + twin_ + L"\" " + args);
    }

    tb::TempDir dir_;
    std::wstring twin_ = dir_.Join(L"pl3.exe");
};

LONGLONG Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double Ms(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return ticks * 1000.0 / frequency.QuadPart;
}

TEST_F(BenchTwin, FloodsExactlyTheBytesAskedForAndRejectsUnknownModes)
{
    // A total that is not a multiple of the write size: the last write is short.
    tb::ProcessResult flood = Run(L"flood 3000001 65536");
    ASSERT_TRUE(flood.started);
    EXPECT_EQ(0u, flood.exitCode);
    EXPECT_EQ(3000001u, flood.output.size());
    EXPECT_EQ(std::string::npos, flood.output.find('\0'));

    EXPECT_EQ(1u, Run(L"flood 10 0").exitCode);
    EXPECT_EQ(1u, Run(L"gallop 10").exitCode);
    EXPECT_EQ(1u, Run(L"").exitCode);
}

TEST_F(BenchTwin, TicksCarryTimestampsOnAFixedBeatComparableWithOurs)
{
    LONGLONG before = Now();
    tb::ProcessResult ticks = Run(L"ticks 6 40");
    LONGLONG after = Now();
    ASSERT_EQ(0u, ticks.exitCode);

    std::istringstream lines(ticks.output);
    std::string line;
    std::vector<LONGLONG> stamps;
    while (std::getline(lines, line)) {
        int index = -1;
        long long stamp = 0;
        ASSERT_EQ(2, std::sscanf(line.c_str(), "tick %d %lld", &index, &stamp)) << line;
        EXPECT_EQ(static_cast<int>(stamps.size()), index);
        stamps.push_back(stamp);
    }
    ASSERT_EQ(6u, stamps.size());
    // The counter is the machine's, so the twin's stamps fall inside our run.
    EXPECT_GT(stamps.front(), before);
    EXPECT_LT(stamps.back(), after);
    // A fixed schedule: six beats 40 ms apart span 200 ms, whatever each
    // write cost.
    double span = Ms(stamps.back() - stamps.front());
    EXPECT_GE(span, 195.0);
    EXPECT_LE(span, 250.0);
}

TEST_F(BenchTwin, ReportsItsExitTimeJustBeforeItEnds)
{
    LONGLONG before = Now();
    tb::ProcessResult result = Run(L"exitafter 200");
    LONGLONG after = Now();
    ASSERT_EQ(0u, result.exitCode);
    long long stamp = 0;
    ASSERT_EQ(1, std::sscanf(result.output.c_str(), "exit %lld\n", &stamp)) << result.output;
    EXPECT_EQ(result.output.find('\n') + 1, result.output.size());
    EXPECT_GE(Ms(stamp - before), 195.0);
    EXPECT_LE(stamp, after);

    tb::ProcessResult silent = Run(L"silent 150");
    EXPECT_EQ(0u, silent.exitCode);
    EXPECT_TRUE(silent.output.empty());
    EXPECT_GE(silent.elapsedMs, 145u);
}

} // namespace
