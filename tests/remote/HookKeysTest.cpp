// HookKeys turns the system-wide suppression of eleven hardware keys on and
// off; keys are injected into a focused window while a pumping thread holds
// the hook, as a device program would.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "RemoteHarness.h"

using namespace remote;

namespace {

std::wstring PlatformDir()
{
    return tb::BinDir() + L"\\platform";
}

bool CoreDllOnSearchPath()
{
    wchar_t found[MAX_PATH];
    return SearchPathW(nullptr, L"coredll.dll", nullptr, MAX_PATH, found, nullptr) != 0;
}

}  // namespace

class HookKeysTest : public ::testing::Test {
protected:
    // The platform folder is where the desktop coredll.dll lives; the
    // library finds it only when told to look there.
    explicit HookKeysTest(bool withCoreDll = true)
    {
        if (withCoreDll)
            SetDllDirectoryW(PlatformDir().c_str());
    }

    ~HookKeysTest() override
    {
        if (library_.loaded())
            HookKeys(FALSE);
    }

    void SetUp() override
    {
        ASSERT_TRUE(library_.loaded());
        ASSERT_FALSE(MutexExists()) << "left over from elsewhere";
    }

    // Calls HookKeys on the pumping thread, which then keeps the hook.
    BOOL HookKeys(BOOL enable, DWORD *elapsedMs = nullptr)
    {
        BOOL result = -1;
        ULONGLONG start = GetTickCount64();
        hookThread_.Run([&] { result = library_.hookKeys(enable); });
        if (elapsedMs != nullptr)
            *elapsedMs = static_cast<DWORD>(GetTickCount64() - start);
        return result;
    }

    std::vector<KeyEvent> InjectAll()
    {
        EXPECT_TRUE(probe_.focused());
        return probe_.Inject(AllProbeKeys());
    }

    // No box is expected here; one would fail the case instead of hanging it.
    tb::MessageBoxWatcher boxes_;
    SembrinLibrary library_;
    KeyProbe probe_;
    PumpingThread hookThread_;
};

TEST_F(HookKeysTest, OnSwallowsListedKeysOnPressAndRelease)
{
    EXPECT_EQ(TRUE, HookKeys(TRUE));
    EXPECT_TRUE(MutexExists());
    EXPECT_EQ(1, LiveHooks());
    // F9 (0x78) and APP5 (0xC5) are neighbours of listed keys and pass.
    EXPECT_EQ(PressesAndReleases(kPassingKeys), InjectAll());
}

TEST_F(HookKeysTest, HookProcedureWithSuppressionOffPassesKeysAndLeavesNoMutex)
{
    // With the hook gone the procedure would never run: have the platform
    // keep it through the unhook, so it runs with the mutex absent.
    ASSERT_EQ(TRUE, HookKeys(TRUE));
    {
        tb::ScopedEnv keep(L"COREDLL_KEEP_HOOKS", L"1");
        ASSERT_EQ(TRUE, HookKeys(FALSE));
    }
    ASSERT_FALSE(MutexExists());
    ASSERT_EQ(1, LiveHooks());

    long before = NextHookCalls();
    EXPECT_EQ(PressesAndReleases(AllProbeKeys()), InjectAll());
    // Each event passed on went through the next hook, the marker's two too.
    EXPECT_GE(NextHookCalls() - before, static_cast<long>(2 * AllProbeKeys().size() + 2))
        << "the hook procedure did not see every key";
    EXPECT_FALSE(MutexExists()) << "the hook procedure's test left the mutex behind";
}

TEST_F(HookKeysTest, OffBeforeAnyOnReturnsOneAndChangesNothing)
{
    EXPECT_EQ(TRUE, HookKeys(FALSE));
    EXPECT_FALSE(MutexExists());
    EXPECT_EQ(0, LiveHooks());
    EXPECT_EQ(PressesAndReleases(AllProbeKeys()), InjectAll());
}

// Off after on: the keys pass and the mutex goes.
TEST_F(HookKeysTest, OnTwiceKeepsOneHookAndOffThenLetsKeysPass)
{
    ASSERT_EQ(TRUE, HookKeys(TRUE));
    ASSERT_EQ(TRUE, HookKeys(TRUE));
    EXPECT_EQ(1, LiveHooks());
    EXPECT_EQ(PressesAndReleases(kPassingKeys), InjectAll());

    EXPECT_EQ(TRUE, HookKeys(FALSE));
    EXPECT_EQ(0, LiveHooks());
    EXPECT_FALSE(MutexExists());
    EXPECT_EQ(PressesAndReleases(AllProbeKeys()), InjectAll());
}

TEST_F(HookKeysTest, MutexHeldByAnotherProcessGivesOneAfterAboutASecond)
{
    tb::Process holder = tb::StartProcess(L"\"" + tb::BinPath(L"mutex-holder.exe") + L"\" " +
                                          kMutexName + L" 60000");
    ASSERT_TRUE(holder.started());
    ASSERT_TRUE(tb::WaitUntil(MutexExists, 10000));

    DWORD elapsed = 0;
    EXPECT_EQ(TRUE, HookKeys(TRUE, &elapsed));
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 4000u);
    EXPECT_EQ(0, LiveHooks());
    EXPECT_EQ(PressesAndReleases(AllProbeKeys()), InjectAll());

    // Off touches nothing it does not hold, and the failed on holds nothing:
    // the mutex goes with its holder.
    EXPECT_EQ(TRUE, HookKeys(FALSE));
    holder.Terminate();
    EXPECT_TRUE(tb::WaitUntil([] { return !MutexExists(); }, 3000))
        << "the library still holds a handle to the mutex";
}

TEST_F(HookKeysTest, FailedHookInstallReleasesMutex)
{
    tb::ScopedEnv refuse(L"COREDLL_REFUSE_HOOKS", L"1");
    EXPECT_EQ(TRUE, HookKeys(TRUE));
    EXPECT_EQ(0, LiveHooks());
    EXPECT_FALSE(MutexExists()) << "held with no hook, it would block every other process";
}

TEST_F(HookKeysTest, FreeLibraryWhileOnRemovesHookAndMutex)
{
    ASSERT_EQ(TRUE, HookKeys(TRUE));
    ASSERT_EQ(1, LiveHooks());
    hookThread_.Run([&] { library_.Unload(); });

    // Wine would quietly skip a hook left in unloaded code, so look at the
    // hook and the mutex rather than for a crash.
    EXPECT_EQ(0, LiveHooks());
    EXPECT_FALSE(MutexExists());
    EXPECT_EQ(PressesAndReleases(AllProbeKeys()), InjectAll());
}

TEST_F(HookKeysTest, ConcurrentCallersLeaveNoMutexAndNoHook)
{
    // Each round loads the library afresh, so the callers' first calls meet
    // the hook functions' look-up. The callers make their first calls
    // together, then turn suppression on and off at will, and all end with
    // off together.
    for (int threads : {2, 4}) {
        for (int round = 0; round < 10 && !HasFailure(); ++round) {
            SCOPED_TRACE(std::to_string(threads) + " threads, round " + std::to_string(round));
            SembrinLibrary fresh;
            ASSERT_TRUE(fresh.loaded());
            std::atomic<int> arrived(0);
            auto meet = [&](int stage) {
                for (++arrived; arrived < threads * stage;)
                    std::this_thread::yield();
            };
            std::vector<BOOL> first(threads, -1);
            std::vector<BOOL> later(threads, TRUE);
            std::vector<std::thread> callers;
            for (int t = 0; t < threads; ++t) {
                callers.emplace_back([&, t] {
                    meet(1);
                    first[t] = fresh.hookKeys(TRUE);
                    meet(2);
                    for (BOOL enable : {TRUE, FALSE, TRUE, TRUE}) {
                        if (!fresh.hookKeys(enable))
                            later[t] = FALSE;
                    }
                    meet(3);
                    if (!fresh.hookKeys(FALSE))
                        later[t] = FALSE;
                });
            }
            for (std::thread &caller : callers)
                caller.join();

            EXPECT_EQ(std::vector<BOOL>(threads, TRUE), first);
            EXPECT_EQ(std::vector<BOOL>(threads, TRUE), later);
            EXPECT_FALSE(MutexExists());
            EXPECT_EQ(0, LiveHooks());
            fresh.Unload();
            EXPECT_FALSE(MutexExists());
            EXPECT_EQ(0, LiveHooks()) << "a hook left pointing into the unloaded library";
        }
    }
}

class HookKeysWithoutCoreDll : public HookKeysTest {
protected:
    HookKeysWithoutCoreDll() : HookKeysTest(false) {}
};

TEST_F(HookKeysWithoutCoreDll, EveryCallReturnsZero)
{
    ASSERT_FALSE(CoreDllOnSearchPath());
    EXPECT_EQ(FALSE, HookKeys(TRUE));
    // Once loaded it would stay: this proves the library really went without.
    ASSERT_EQ(nullptr, GetModuleHandleW(L"coredll.dll"));
    EXPECT_EQ(FALSE, HookKeys(FALSE));
    EXPECT_FALSE(MutexExists());

    // The functions are looked for once only, even if they could now be found.
    ASSERT_TRUE(tb::FileExists(PlatformDir() + L"\\coredll.dll"));
    SetDllDirectoryW(PlatformDir().c_str());
    EXPECT_EQ(FALSE, HookKeys(TRUE));
    EXPECT_FALSE(MutexExists());
    EXPECT_EQ(nullptr, GetModuleHandleW(L"coredll.dll"));
}
