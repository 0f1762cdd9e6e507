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

// The system's own text for an error, inserts such as "%1" left as they are,
// without its line break.
inline std::string SystemText(DWORD code)
{
    wchar_t *text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0x400, reinterpret_cast<wchar_t *>(&text), 0,
                                  nullptr);
    std::wstring wide(text != nullptr ? text : L"", length);
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' '))
        wide.pop_back();
    return tb::Narrow(wide);
}

inline bool IsRunning(DWORD processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return false;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}
