// Readings of Linux's /proc, which Wine shows as drive Z:.
#include "LinuxProcess.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tb {

DWORD FindLinuxPid(const std::wstring& imagePath)
{
    char wanted[MAX_PATH * 3];
    if (!WideCharToMultiByte(CP_UTF8, 0, imagePath.c_str(), -1, wanted, sizeof wanted, NULL, NULL))
        return 0;
    DWORD found = 0;
    int matches = 0;
    WIN32_FIND_DATAW fd;
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &fd);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        wchar_t* end;
        unsigned long pid = std::wcstoul(fd.cFileName, &end, 10);
        if (pid == 0 || *end != L'\0')
            continue;
        wchar_t path[64];
        std::swprintf(path, 64, L"Z:\\proc\\%lu\\cmdline", pid);
        HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        char first[MAX_PATH * 3 + 1];
        DWORD got = 0;
        if (ReadFile(file, first, sizeof first - 1, &got, NULL)) {
            first[got] = '\0';  // argv[0] ends at its own zero byte
            if (_stricmp(first, wanted) == 0) {
                found = pid;
                ++matches;
            }
        }
        CloseHandle(file);
    } while (FindNextFileW(search, &fd));
    FindClose(search);
    return matches == 1 ? found : 0;
}

bool ParseCpuTicks(const char* statLine, unsigned long long* ticks)
{
    // The name in parentheses may hold blanks and parentheses; fields count
    // from after its last closing one.
    const char* p = std::strrchr(statLine, ')');
    if (p == NULL)
        return false;
    unsigned long long utime = 0, stime = 0;
    if (std::sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                    &utime, &stime) != 2)
        return false;
    *ticks = utime + stime;
    return true;
}

bool ReadCpuTicks(DWORD pid, unsigned long long* ticks)
{
    wchar_t path[64];
    std::swprintf(path, 64, L"Z:\\proc\\%lu\\stat", pid);
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char text[1024];
    DWORD got = 0;
    bool ok = ReadFile(file, text, sizeof text - 1, &got, NULL) != 0;
    CloseHandle(file);
    if (!ok)
        return false;
    text[got] = '\0';
    return ParseCpuTicks(text, ticks);
}

bool ReadRunNs(DWORD pid, unsigned long long* ns)
{
    wchar_t pattern[64];
    std::swprintf(pattern, 64, L"Z:\\proc\\%lu\\task\\*", pid);
    WIN32_FIND_DATAW fd;
    HANDLE search = FindFirstFileW(pattern, &fd);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    int threads = 0;
    *ns = 0;
    do {
        wchar_t* end;
        unsigned long tid = std::wcstoul(fd.cFileName, &end, 10);
        if (tid == 0 || *end != L'\0')
            continue;
        wchar_t path[80];
        std::swprintf(path, 80, L"Z:\\proc\\%lu\\task\\%lu\\schedstat", pid, tid);
        HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE)
            continue;  // the thread has just ended
        char text[128];
        DWORD got = 0;
        unsigned long long run = 0;
        if (ReadFile(file, text, sizeof text - 1, &got, NULL)) {
            text[got] = '\0';
            ok = ok && std::sscanf(text, "%llu", &run) == 1;
            *ns += run;
            ++threads;
        }
        CloseHandle(file);
    } while (FindNextFileW(search, &fd));
    FindClose(search);
    return ok && threads > 0;
}

}  // namespace tb
