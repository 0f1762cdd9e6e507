// ShutdownClient closes a running client and records whether it ran;
// RestartClient starts it again by that record or when forced.
#include "LifecycleFixture.h"

using namespace remote;

namespace {

DWORD Elapsed(ULONGLONG since)
{
    return static_cast<DWORD>(GetTickCount64() - since);
}

void ExpectClearedOutputs(const CallResult &call)
{
    EXPECT_EQ(0u, call.outputSize);
    EXPECT_EQ(nullptr, call.output);
}

DWORD AutoRestart()
{
    DWORD value = 0xFFFFFFFF;
    EXPECT_TRUE(ReadAutoRestart(&value)) << "AutoRestart missing";
    return value;
}

}  // namespace

// --- ShutdownClient --------------------------------------------------------

TEST_F(LifecycleTest, ShutdownWithoutClientSucceedsAndRecordsZero)
{
    MakeInstallation(root_, true);
    ASSERT_TRUE(tb::SetRegDword(HKEY_CURRENT_USER, tb::kSettingsKey, L"AutoRestart", 1));

    CallResult call = CallRemote(library_.shutdownClient, {});
    EXPECT_EQ(S_OK, call.result);
    ExpectClearedOutputs(call);
    EXPECT_EQ(0u, AutoRestart());
}

TEST_F(LifecycleTest, ShutdownOfClosingClientSucceedsPromptlyAndRecordsOne)
{
    std::wstring folder = MakeInstallation(root_, true);
    tb::Process client = tb::StartClient(folder);

    ULONGLONG start = GetTickCount64();
    CallResult call = CallRemote(library_.shutdownClient, {});
    DWORD elapsed = Elapsed(start);

    EXPECT_EQ(S_OK, call.result);
    ExpectClearedOutputs(call);
    EXPECT_LT(elapsed, 1500u);
    EXPECT_EQ(1u, AutoRestart());
    EXPECT_EQ(nullptr, tb::FindClient());
    EXPECT_TRUE(client.Wait(5000));
    EXPECT_EQ((std::vector<std::string>{"start:\"" + tb::Narrow(folder) + "\\Client.exe\"", "close"}),
              ClientLog());
}

TEST_F(LifecycleTest, ShutdownWaitsForSlowClient)
{
    tb::ScopedEnv slow(L"PELORIN_CLIENT_ON_CLOSE", L"1200");
    std::wstring folder = MakeInstallation(root_, true);
    tb::Process client = tb::StartClient(folder);

    ULONGLONG start = GetTickCount64();
    CallResult call = CallRemote(library_.shutdownClient, {});
    DWORD elapsed = Elapsed(start);

    EXPECT_EQ(S_OK, call.result);
    EXPECT_GE(elapsed, 1100u);
    EXPECT_LT(elapsed, 3000u);
    EXPECT_EQ(1u, AutoRestart());
}

TEST_F(LifecycleTest, ShutdownOfClientIgnoringRequestFailsAfterAboutFiveSeconds)
{
    tb::ScopedEnv ignore(L"PELORIN_CLIENT_ON_CLOSE", L"ignore");
    std::wstring folder = MakeInstallation(root_, true);
    tb::Process client = tb::StartClient(folder);

    ULONGLONG start = GetTickCount64();
    CallResult call = CallRemote(library_.shutdownClient, {7, 7});
    DWORD elapsed = Elapsed(start);

    EXPECT_EQ(E_FAIL, call.result);
    ExpectClearedOutputs(call);
    EXPECT_GE(elapsed, 4900u);
    EXPECT_LT(elapsed, 7500u);
    EXPECT_EQ(1u, AutoRestart());
    EXPECT_NE(nullptr, tb::FindClient());
    std::vector<std::string> log = ClientLog();
    EXPECT_EQ(1, std::count(log.begin(), log.end(), std::string("close"))) << "posted once";
}

// --- RestartClient ---------------------------------------------------------

TEST_F(LifecycleTest, RestartAfterShutdownStartsClientWithRestartSwitchEachTime)
{
    std::wstring folder = MakeInstallation(root_, true);
    tb::StartClient(folder);
    ASSERT_EQ(S_OK, CallRemote(library_.shutdownClient, {}).result);

    CallResult call = CallRemote(library_.restartClient, {});
    EXPECT_EQ(S_OK, call.result);
    ExpectClearedOutputs(call);
    ASSERT_TRUE(WaitForStarts(2));
    EXPECT_EQ("start:/RESTART", Starts()[1]);
    EXPECT_TRUE(tb::WaitUntil([] { return tb::FindClient() != nullptr; }, 10000));

    // The flag is left as it was, so the next call starts the client again.
    EXPECT_EQ(S_OK, CallRemote(library_.restartClient, {}).result);
    ASSERT_TRUE(WaitForStarts(3));
    EXPECT_EQ("start:/RESTART", Starts()[2]);
    EXPECT_EQ(1u, AutoRestart());
}

TEST_F(LifecycleTest, RestartForcedByOneByteInputEvenWithoutFlag)
{
    std::wstring folder = MakeInstallation(root_, true);

    EXPECT_EQ(S_OK, CallRemote(library_.restartClient, {1}).result);
    // No flag before the call, and it leaves none.
    EXPECT_FALSE(tb::RegKeyExists(HKEY_CURRENT_USER, tb::kSettingsKey));
    EXPECT_EQ(1u, tb::ProcessesUnder(folder).size());
    ASSERT_TRUE(WaitForStarts(1));
    EXPECT_EQ((std::vector<std::string>{"start:/RESTART"}), Starts());

    ASSERT_TRUE(tb::SetRegDword(HKEY_CURRENT_USER, tb::kSettingsKey, L"AutoRestart", 0));
    EXPECT_EQ(S_OK, CallRemote(library_.restartClient, {0xFF}).result);
    EXPECT_EQ(2u, tb::ProcessesUnder(folder).size());
}

// Inputs and flags with which nothing may be started.
struct NoStart {
    const char *name;
    std::vector<BYTE> input;
    std::vector<BYTE> flag;  // stored as AutoRestart (REG_DWORD) unless empty
};

void PrintTo(const NoStart &setup, std::ostream *out)
{
    *out << setup.name;
}

class RestartNotStarting : public LifecycleTest, public ::testing::WithParamInterface<NoStart> {};

TEST_P(RestartNotStarting, ReturnsOkAndStartsNothing)
{
    const NoStart &setup = GetParam();
    std::wstring folder = MakeInstallation(root_, true);
    if (!setup.flag.empty())
        ASSERT_TRUE(tb::SetRegRaw(HKEY_CURRENT_USER, tb::kSettingsKey, L"AutoRestart", REG_DWORD,
                                  setup.flag.data(), static_cast<DWORD>(setup.flag.size())));

    CallResult call = CallRemote(library_.restartClient, setup.input);
    EXPECT_EQ(S_OK, call.result);
    ExpectClearedOutputs(call);
    // A started process would exist by the time the call returned.
    EXPECT_EQ(0u, tb::ProcessesUnder(folder).size());
    EXPECT_TRUE(Starts().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, RestartNotStarting,
    ::testing::Values(NoStart{"NoInputNoFlag", {}, {}},
                      NoStart{"TwoBytesFirstOne", {1, 0}, {}},
                      NoStart{"OneByteZero", {0}, {0, 0, 0, 0}},
                      // A short value would leave part of the word unset.
                      NoStart{"ShortFlag", {}, {1, 0}},
                      NoStart{"LongFlag", {}, {1, 0, 0, 0, 0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<NoStart> &info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, RestartCountsAnyFourByteFlagByItsContents)
{
    std::wstring folder = MakeInstallation(root_, true);
    DWORD flag = 2;
    ASSERT_TRUE(tb::SetRegRaw(HKEY_CURRENT_USER, tb::kSettingsKey, L"AutoRestart", REG_BINARY, &flag,
                              sizeof(flag)));
    EXPECT_EQ(S_OK, CallRemote(library_.restartClient, {}).result);
    EXPECT_EQ(1u, tb::ProcessesUnder(folder).size());
}

TEST_F(LifecycleTest, RestartWithoutClientProgramFails)
{
    MakeInstallation(root_, false);
    CallResult call = CallRemote(library_.restartClient, {1});
    EXPECT_EQ(E_FAIL, call.result);
    ExpectClearedOutputs(call);
    EXPECT_TRUE(boxes_.Take().empty());
}

// --- The input block, through a stand-in of the remote API service ---------

struct HostedCall {
    const char *name;
    const wchar_t *call;
    const wchar_t *input;
    bool installed;
    DWORD exitCode;
    const char *result;
};

void PrintTo(const HostedCall &hosted, std::ostream *out)
{
    *out << hosted.name;
}

class InputBlock : public LifecycleTest, public ::testing::WithParamInterface<HostedCall> {};

TEST_P(InputBlock, IsReleasedByTheCall)
{
    const HostedCall &hosted = GetParam();
    if (hosted.installed)
        MakeInstallation(root_, true);
    boxes_.WatchAllProcesses();

    tb::ProcessResult run = tb::RunProcess(L"\"" + tb::BinPath(L"rapi-host.exe") + L"\" \"" +
                                           library_.path() + L"\" " + hosted.call + L" " +
                                           hosted.input);
    ASSERT_TRUE(run.started);
    EXPECT_EQ(hosted.exitCode, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find(std::string("HRESULT ") + hosted.result))
        << run.output;
    EXPECT_NE(std::string::npos, run.output.find("input block released")) << run.output;
    if (!hosted.installed)
        ExpectNotInstalledBox(boxes_, false);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, InputBlock,
    ::testing::Values(HostedCall{"RestartStarting", L"RestartClient", L"01", true, 0, "0x00000000"},
                      HostedCall{"RestartNotStarting", L"RestartClient", L"0100", true, 0, "0x00000000"},
                      HostedCall{"RestartNotInstalled", L"RestartClient", L"01", false, 1, "0x80004005"},
                      HostedCall{"ShutdownNoClient", L"ShutdownClient", L"01", true, 0, "0x00000000"},
                      HostedCall{"ShutdownNotInstalled", L"ShutdownClient", L"0102", false, 1, "0x80004005"}),
    [](const ::testing::TestParamInfo<HostedCall> &info) { return std::string(info.param.name); });
