// relay4k.com: the relay benchmark's reference launcher, a program of its
// own so that, like pl3.com, it pays for starting and ending a process. It
// starts the graphical program of the same name beside it hidden, relays
// what it prints with blocking reads and writes of 4 KiB, the way common
// console launchers do, and ends with its status. A measuring stick only.
// "/chunk:<bytes>" right after its name sets another read size; the option
// is taken off the line the twin gets.
#include <windows.h>

#include <cwchar>
#include <vector>

#include "CommandLine.h"

namespace {

const DWORD kDefaultChunk = 4096;
const DWORD kLargestChunk = 1u << 20;

bool Blank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// The read size the line asks for, the option removed from it; 0 for a size
// out of range.
DWORD TakeChunkOption(wchar_t* line)
{
    wchar_t* p = line;
    while (Blank(*p))
        ++p;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p != L'\0' && !Blank(*p))
            ++p;
    }
    while (Blank(*p))
        ++p;
    if (std::wcsncmp(p, L"/chunk:", 7) != 0)
        return kDefaultChunk;
    wchar_t* end = NULL;
    unsigned long chunk = std::wcstoul(p + 7, &end, 10);
    while (Blank(*end))
        ++end;
    std::wmemmove(p, end, std::wcslen(end) + 1);
    return chunk >= 1 && chunk <= kLargestChunk ? chunk : 0;
}

} // namespace

int wmain(int, wchar_t**)
{
    wchar_t* line = GetCommandLineW();
    const DWORD chunk = TakeChunkOption(line);
    if (chunk == 0)
        return ERROR_INVALID_PARAMETER;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE from = NULL;
    HANDLE to = NULL;
    if (!CreatePipe(&from, &to, &inherit, 0) ||
        !SetHandleInformation(from, HANDLE_FLAG_INHERIT, 0))
        return static_cast<int>(GetLastError());

    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = to;
    si.hStdError = to;
    PROCESS_INFORMATION twin;
    RewriteProgramName(line);
    if (!CreateProcessW(NULL, line, NULL, NULL, TRUE, CREATE_NEW_CONSOLE, NULL, NULL, &si,
                        &twin))
        return static_cast<int>(GetLastError());
    CloseHandle(twin.hThread);
    // Only the twin's copy may keep the pipe open, so its end ends the reads.
    CloseHandle(to);

    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::vector<char> buffer(chunk);
    DWORD got = 0;
    bool writing = true;
    while (writing && ReadFile(from, buffer.data(), chunk, &got, NULL) && got > 0) {
        const char* p = buffer.data();
        while (got > 0) {
            DWORD written = 0;
            if (!WriteFile(out, p, got, &written, NULL) || written == 0) {
                writing = false;
                break;
            }
            p += written;
            got -= written;
        }
    }
    // With our end closed a twin still writing fails rather than waits.
    CloseHandle(from);
    WaitForSingleObject(twin.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(twin.hProcess, &status);
    CloseHandle(twin.hProcess);
    return static_cast<int>(status);
}
