// The launcher must not use a processor while its twin is silent, read from
// the Linux process behind it.
#include <gtest/gtest.h>

#include <windows.h>

#include <iostream>
#include <string>

#include "LinuxProcess.h"
#include "Pl3Folder.h"
#include "TestSupport.h"

namespace {

class LauncherCpu : public Pl3Folder {
protected:
    // CPU ms used by the process of program (a file in the test folder) over
    // windowMs, starting once its start-up is over: its reading has held
    // still for 50 ms (at most 2 s).
    long CpuOver(const wchar_t *program, DWORD windowMs, DWORD *elapsed)
    {
        DWORD pid = 0;
        tb::WaitUntil([&] { return (pid = tb::FindLinuxPid(dir.Join(program))) != 0; }, 5000);
        if (pid == 0) {
            ADD_FAILURE() << "no Linux process found for " << tb::Narrow(program);
            return -1;
        }
        unsigned long long last = ~0ull, before = 0, after = 0;
        tb::WaitUntil([&] {
            unsigned long long now = ~0ull;
            bool still = tb::ReadCpuTicks(pid, &now) && now == last;
            last = now;
            return still;
        }, 2000, 50);
        DWORD begin = GetTickCount();
        bool read = tb::ReadCpuTicks(pid, &before);
        Sleep(windowMs);
        read = tb::ReadCpuTicks(pid, &after) && read;
        *elapsed = GetTickCount() - begin;
        return read ? static_cast<long>((after - before) * 1000 / tb::kTicksPerSecond) : -1;
    }
};

TEST_F(LauncherCpu, StaysIdleWhileTheTwinIsSilent)
{
    // The reading itself is checked with the harness: it tells a spinning
    // process from a sleeping one (LinuxProcess in the testbed tests).
    DWORD elapsed = 0;
    tb::Process silent = tb::StartProcess(L"\"" + Launcher() + L"\" sleep:4000");
    ASSERT_TRUE(silent.started());
    long idle = CpuOver(L"pl3.com", 3000, &elapsed);
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
