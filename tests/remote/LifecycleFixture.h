// A fresh library copy, a clean contract registry and a client log for each
// lifecycle case.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>

#include "RemoteHarness.h"

class LifecycleTest : public ::testing::Test {
protected:
    LifecycleTest()
        : logPath_(root_.Join(L"client.log")), log_(L"PELORIN_CLIENT_LOG", logPath_.c_str())
    {
        ClearRegistry();
    }

    ~LifecycleTest() override
    {
        tb::KillProcessesUnder(root_.path());
        ClearRegistry();
    }

    void SetUp() override
    {
        ASSERT_TRUE(library_.loaded());
        ASSERT_TRUE(tb::RecordMessageBoxStyles(library_.module()));
    }

    static void ClearRegistry()
    {
        tb::DeleteRegTree(HKEY_LOCAL_MACHINE, tb::kInstallKey);
        tb::DeleteRegTree(HKEY_CURRENT_USER, tb::kSettingsKey);
    }

    std::vector<std::string> ClientLog() const { return tb::ReadLines(logPath_); }

    // Waits for the log to hold count lines starting with "start:".
    bool WaitForStarts(size_t count)
    {
        return tb::WaitUntil([&] { return Starts().size() >= count; }, 10000);
    }

    std::vector<std::string> Starts() const
    {
        std::vector<std::string> starts;
        for (const std::string &line : ClientLog())
            if (line.rfind("start:", 0) == 0)
                starts.push_back(line);
        return starts;
    }

    // Declared first, so it outlives the calls that may show boxes.
    tb::MessageBoxWatcher boxes_;
    tb::TempDir root_;
    std::wstring logPath_;
    tb::ScopedEnv log_;
    remote::SembrinLibrary library_;
};

// inProcess: shown by this process's copy of the library, whose box style
// is recorded.
inline void ExpectNotInstalledBox(tb::MessageBoxWatcher &boxes, bool inProcess = true)
{
    if (inProcess)
        EXPECT_EQ(std::vector<UINT>{MB_OK | MB_SETFOREGROUND}, tb::TakeMessageBoxStyles());
    std::vector<tb::MessageBoxSeen> seen = boxes.Take();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(std::wstring(remote::kNotInstalledCaption), seen[0].caption);
    EXPECT_EQ(std::wstring(remote::kNotInstalledText), seen[0].text);
}

inline void ExpectEarlyFailure(const remote::CallResult &call)
{
    EXPECT_EQ(E_FAIL, call.result);
    // Cleared even here: the service releases what the output points at.
    EXPECT_EQ(0u, call.outputSize);
    EXPECT_EQ(nullptr, call.output);
}
