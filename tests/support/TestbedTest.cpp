// The harness and the client stand-in are what every other test stands on:
// check that they do what the tests take them to do.
#include <gtest/gtest.h>

#include "LinuxProcess.h"
#include "TestSupport.h"

namespace {

TEST(MessageBoxWatcher, CatchesReadsAndDismissesABox)
{
    tb::MessageBoxWatcher watcher;
    int answer = MessageBoxW(nullptr, L"Some text", L"Some caption", MB_OK);
    EXPECT_EQ(IDOK, answer);
    auto boxes = watcher.Take();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"Some caption", boxes[0].caption);
    EXPECT_EQ(L"Some text", boxes[0].text);
    EXPECT_EQ(GetCurrentProcessId(), boxes[0].processId);
}

class ClientStandIn : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(nullptr, tb::FindClient()) << "a client is already running";
        ASSERT_TRUE(tb::CopyBinary(L"Client.exe", dir.Join(L"Client.exe")));
    }
    void TearDown() override { tb::KillProcessesUnder(dir.path()); }

    tb::Process Start(const wchar_t *commandLine)
    {
        tb::RunOptions options;
        options.application = dir.Join(L"Client.exe");
        return tb::StartProcess(commandLine, options);
    }

    tb::TempDir dir;
    std::wstring log = dir.Join(L"client.log");
    tb::ScopedEnv logEnv{L"PELORIN_CLIENT_LOG", log.c_str()};
};

TEST_F(ClientStandIn, ShowsItsWindowAndEndsOnTheCloseRequest)
{
    tb::Process client = Start(L"/RESTART");
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(tb::WaitUntil([] { return tb::FindClient() != nullptr; }, 10000));
    PostMessageW(tb::FindClient(), WM_USER + 255, 0, 0);
    EXPECT_TRUE(client.Wait(5000));
    EXPECT_EQ(nullptr, tb::FindClient());
    EXPECT_EQ((std::vector<std::string>{"start:/RESTART", "close"}), tb::ReadLines(log));
}

TEST_F(ClientStandIn, IgnoresOrDelaysTheCloseRequestWhenTold)
{
    {
        tb::ScopedEnv ignore(L"PELORIN_CLIENT_ON_CLOSE", L"ignore");
        tb::Process client = Start(L"x");
        ASSERT_TRUE(tb::WaitUntil([] { return tb::FindClient() != nullptr; }, 10000));
        PostMessageW(tb::FindClient(), WM_USER + 255, 0, 0);
        EXPECT_FALSE(client.Wait(1000));
        client.Terminate();
    }
    tb::ScopedEnv delay(L"PELORIN_CLIENT_ON_CLOSE", L"1500");
    tb::Process client = Start(L"x");
    ASSERT_TRUE(tb::WaitUntil([] { return tb::FindClient() != nullptr; }, 10000));
    PostMessageW(tb::FindClient(), WM_USER + 255, 0, 0);
    EXPECT_FALSE(client.Wait(1000));
    EXPECT_TRUE(client.Wait(3000));
}

TEST_F(ClientStandIn, SetVersionRunEndsByItselfWithoutAWindow)
{
    tb::ScopedEnv duration(L"PELORIN_CLIENT_SETVERSION_MS", L"300");
    tb::Process client = Start(L"/SETVERSION");
    EXPECT_FALSE(client.Wait(100));
    EXPECT_EQ(nullptr, tb::FindClient());
    EXPECT_TRUE(client.Wait(5000));
    EXPECT_EQ(0u, client.ExitCode());
    EXPECT_EQ(std::vector<std::string>{"start:/SETVERSION"}, tb::ReadLines(log));
}

TEST(LinuxProcess, CountsUserAndSystemTimeAfterTheName)
{
    unsigned long long ticks = 0;
    // A name with blanks and a closing parenthesis of its own.
    ASSERT_TRUE(tb::ParseCpuTicks(
        "4242 (pl3.com) x y) S 1 4242 4242 0 -1 4194560 2250 0 0 0 123 45 0 0 20 0 8 0 "
        "99 12345 678 18446744073709551615\n",
        &ticks));
    EXPECT_EQ(168ull, ticks);

    EXPECT_FALSE(tb::ParseCpuTicks("4242 pl3.com S 1 2 3", &ticks));
    EXPECT_FALSE(tb::ParseCpuTicks("4242 (pl3.com) S 1 4242 4242 0 -1", &ticks));
}

struct CpuWindow {
    unsigned long long ticks;
    unsigned long long ns;
};

bool ReadBoth(DWORD pid, CpuWindow* reading)
{
    return tb::ReadCpuTicks(pid, &reading->ticks) && tb::ReadRunNs(pid, &reading->ns);
}

// The reading that judges pl3.com's CPU use, in the tests and the benchmark,
// must find the right Linux process and tell a spinning one from a sleeping
// one.
TEST(LinuxProcess, FindsEachProcessAndTellsSpinningFromSleeping)
{
    tb::TempDir dir;
    const std::wstring spinner = dir.Join(L"spinner.exe");
    const std::wstring sleeper = dir.Join(L"sleeper.exe");
    ASSERT_TRUE(tb::CopyBinary(L"twin.exe", spinner));
    ASSERT_TRUE(tb::CopyBinary(L"twin.exe", sleeper));
    EXPECT_EQ(0u, tb::FindLinuxPid(dir.Join(L"never-started.exe")));

    tb::Process spinning = tb::StartProcess(L"\"" + spinner + L"\" spin:2500");
    tb::Process sleeping = tb::StartProcess(L"\"" + sleeper + L"\" sleep:2500");
    ASSERT_TRUE(spinning.started());
    ASSERT_TRUE(sleeping.started());

    DWORD spinPid = 0, sleepPid = 0;
    EXPECT_TRUE(tb::WaitUntil([&] {
        spinPid = tb::FindLinuxPid(spinner);
        sleepPid = tb::FindLinuxPid(sleeper);
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
    double spinTicksMs = (spin1.ticks - spin0.ticks) * 1000.0 / tb::kTicksPerSecond;
    double spinNsMs = (spin1.ns - spin0.ns) / 1e6;
    EXPECT_NEAR(spinNsMs, spinTicksMs, 30.0);

    EXPECT_TRUE(spinning.Wait(5000));
    EXPECT_TRUE(sleeping.Wait(5000));
}

}  // namespace
