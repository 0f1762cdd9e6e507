// The Linux process behind a Windows one, and its CPU time. GetProcessTimes
// on another process gives the caller's own times under Wine, so CPU use is
// read on the Linux side, through drive Z:.
#pragma once

#include <windows.h>

#include <string>

namespace tb {

// Linux reports CPU time in USER_HZ ticks, 100 a second on every x86 ABI.
const double kTicksPerSecond = 100.0;

// Wine runs every Windows process as a Linux process whose first argument
// is the image path it was started with. Returns its Linux pid, or 0 when no
// process or more than one matches: the caller uses a path unique to it.
DWORD FindLinuxPid(const std::wstring& imagePath);

// User plus system time from a /proc/<pid>/stat line, in ticks.
bool ParseCpuTicks(const char* statLine, unsigned long long* ticks);

// User plus system time of a Linux process (all its threads), in ticks.
bool ReadCpuTicks(DWORD pid, unsigned long long* ticks);

// Time a Linux process's threads have spent on a CPU, in nanoseconds: the
// scheduler's own count, far finer than the stat line's ticks.
bool ReadRunNs(DWORD pid, unsigned long long* ns);

}  // namespace tb
