// The launcher must not use a processor while its twin is silent. Wine gives
// wrong CPU times for other processes, so the Linux process behind each
// Windows one is read from /proc, reached through drive Z:.
#include <gtest/gtest.h>

#include <windows.h>

#include <iostream>
#include <sstream>
#include <string>

#include "Pl3Folder.h"
#include "TestSupport.h"

namespace {

bool EndsWithNoCase(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() &&
           _stricmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

// Wine shows a program's Windows path as the first word of its Linux command
// line; a test folder's name is unique, so its tail picks the one process.
DWORD LinuxProcessOf(const std::string &pathTail)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    DWORD found = 0;
    do {
        wchar_t *end = nullptr;
        unsigned long pid = wcstoul(entry.cFileName, &end, 10);
        if (pid == 0 || *end != L'\0')
            continue;
        std::string line = tb::ReadFileBytes(L"Z:\\proc\\" + std::wstring(entry.cFileName) +
                                        L"\\cmdline");
        if (EndsWithNoCase(line.c_str(), pathTail))
            found = pid;
    } while (found == 0 && FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

// User and system time of a Linux process so far, in ms (clock ticks of 10 ms).
long CpuMs(DWORD linuxPid)
{
    std::string stat = tb::ReadFileBytes(L"Z:\\proc\\" + std::to_wstring(linuxPid) + L"\\stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    long utime = 0, stime = 0;
    // After the name: state is field 3, utime 14, stime 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14)
            utime = std::stol(field);
        if (number == 15)
            stime = std::stol(field);
    }
    return (utime + stime) * 10;
}

class LauncherCpu : public Pl3Folder {
protected:
    void SetUp() override
    {
        Pl3Folder::SetUp();
        std::wstring path = dir.path();
        folderTail = "\\" + tb::Narrow(path.substr(path.find_last_of(L'\\') + 1)) + "\\";
    }

    // CPU ms used by the process of program (a file in the test folder) over
    // windowMs; with settle, starting once its start-up is over: its reading
    // has held still for 50 ms (at most 2 s).
    long CpuOver(const char *program, DWORD windowMs, DWORD *elapsed, bool settle = true)
    {
        DWORD pid = 0;
        tb::WaitUntil([&] { return (pid = LinuxProcessOf(folderTail + program)) != 0; }, 5000);
        if (pid == 0) {
            ADD_FAILURE() << "no Linux process found for " << program;
            return -1;
        }
        long last = -1;
        if (settle)
            tb::WaitUntil([&] {
                long now = CpuMs(pid);
                bool still = now == last;
                last = now;
                return still;
            }, 2000, 50);
        DWORD begin = GetTickCount();
        long before = CpuMs(pid);
        Sleep(windowMs);
        long after = CpuMs(pid);
        *elapsed = GetTickCount() - begin;
        return before < 0 || after < 0 ? -1 : after - before;
    }

    std::string folderTail;
};

TEST_F(LauncherCpu, StaysIdleWhileTheTwinIsSilent)
{
    // First make sure the reading sees a busy process as busy.
    tb::Process spinning = tb::StartProcess(L"\"" + Launcher() + L"\" spin:2500");
    ASSERT_TRUE(spinning.started());
    DWORD elapsed = 0;
    long busy = CpuOver("pl3.exe", 1500, &elapsed, false);
    ASSERT_TRUE(spinning.Wait(10000));
    ASSERT_GE(busy, 0);
    EXPECT_GT(busy, static_cast<long>(elapsed) / 4)
        << "a spinning twin read as " << busy << " ms in " << elapsed << " ms";

    tb::Process silent = tb::StartProcess(L"\"" + Launcher() + L"\" sleep:4000");
    ASSERT_TRUE(silent.started());
    long idle = CpuOver("pl3.com", 3000, &elapsed);
    ASSERT_TRUE(silent.Wait(10000));
    EXPECT_EQ(0u, silent.ExitCode());
    ASSERT_GE(idle, 0);
    std::cout << "pl3.com used " << idle << " ms of CPU in " << elapsed
              << " ms while its twin was silent\n";
    RecordProperty("launcher_cpu_ms", static_cast<int>(idle));
    RecordProperty("window_ms", static_cast<int>(elapsed));
    EXPECT_LT(idle, static_cast<long>(elapsed) / 20) << "the launcher is busy while idle";
}

}  // namespace
