// The harness and the client stand-in are what every other test stands on:
// check that they do what the tests take them to do.
#include <gtest/gtest.h>

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

}  // namespace
