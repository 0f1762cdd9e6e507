// What every pl3.com test starts from: a fresh folder with pl3.com and the
// twin stand-in beside it as pl3.exe, as a user installs them.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "TestSupport.h"

class Pl3Folder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tb::CopyBinary(L"pl3.com", Launcher()));
        ASSERT_TRUE(tb::CopyBinary(L"twin.exe", dir.Join(L"pl3.exe")));
    }

    std::wstring Launcher() const { return dir.Join(L"pl3.com"); }

    tb::TempDir dir;
};

inline bool IsRunning(DWORD processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return false;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}
