// The relay benchmark's own graphical twin: a GUI-subsystem program that
// does one timed job on its standard output and exits. Installed beside
// pl3.com as pl3.exe; the benchmark also starts it directly as the limit.
//
//   flood <bytes> <write size>   writes <bytes> in writes of <write size>
//   ticks <count> <interval ms>  writes "tick <i> <qpc>\n" on a fixed beat
//   silent <ms>                  writes nothing, sleeps
//   exitafter <ms>               sleeps, writes "exit <qpc>\n", exits at once
//   spin <ms>                    burns a core (the CPU reading's check)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

// Skips the program name as CreateProcess reads it, then blanks.
const wchar_t* SkipProgramName(const wchar_t* line)
{
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"')
            ++line;
        if (*line)
            ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t')
            ++line;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    return line;
}

bool WriteAll(HANDLE out, const char* data, DWORD size)
{
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(out, data, size, &written, NULL) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

LONGLONG Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

int Flood(HANDLE out, unsigned long long total, DWORD writeSize)
{
    std::vector<char> block(writeSize);
    for (DWORD i = 0; i < writeSize; ++i)
        block[i] = static_cast<char>('a' + i % 26);
    while (total > 0) {
        DWORD n = total < writeSize ? static_cast<DWORD>(total) : writeSize;
        if (!WriteAll(out, block.data(), n))
            return 2;
        total -= n;
    }
    return 0;
}

int Ticks(HANDLE out, int count, DWORD intervalMs)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    // A fixed schedule, so a slow write does not stretch every later beat.
    LONGLONG start = Now();
    for (int i = 0; i < count; ++i) {
        LONGLONG due = start + frequency.QuadPart * intervalMs * (i + 1) / 1000;
        LONGLONG left = due - Now();
        if (left > 0)
            Sleep(static_cast<DWORD>(left * 1000 / frequency.QuadPart));
        char line[64];
        int n = std::snprintf(line, sizeof line, "tick %d %lld\n", i, Now());
        if (!WriteAll(out, line, static_cast<DWORD>(n)))
            return 2;
    }
    return 0;
}

int ExitAfter(HANDLE out, DWORD ms)
{
    Sleep(ms);
    char line[64];
    int n = std::snprintf(line, sizeof line, "exit %lld\n", Now());
    if (!WriteAll(out, line, static_cast<DWORD>(n)))
        return 2;
    ExitProcess(0);
}

int Spin(DWORD ms)
{
    DWORD start = GetTickCount();
    volatile unsigned long sink = 0;
    while (GetTickCount() - start < ms)
        sink = sink + 1;
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const wchar_t* args = SkipProgramName(GetCommandLineW());
    wchar_t mode[16] = L"";
    unsigned long long a = 0, b = 0;
    if (std::swscanf(args, L"%15ls %llu %llu", mode, &a, &b) < 2)
        return 1;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);

    if (std::wcscmp(mode, L"flood") == 0 && b > 0)
        return Flood(out, a, static_cast<DWORD>(b));
    if (std::wcscmp(mode, L"ticks") == 0)
        return Ticks(out, static_cast<int>(a), static_cast<DWORD>(b));
    if (std::wcscmp(mode, L"silent") == 0) {
        Sleep(static_cast<DWORD>(a));
        return 0;
    }
    if (std::wcscmp(mode, L"exitafter") == 0)
        return ExitAfter(out, static_cast<DWORD>(a));
    if (std::wcscmp(mode, L"spin") == 0)
        return Spin(static_cast<DWORD>(a));
    return 1;
}
