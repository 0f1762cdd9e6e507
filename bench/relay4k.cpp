// relay4k.com: the relay benchmark's reference launcher, a program of its
// own so that, like pl3.com, it pays for starting and ending a process. It
// starts the graphical program of the same name beside it hidden, relays
// what it prints with blocking 4 KiB reads and writes, the way common
// console launchers do, and ends with its status. A measuring stick only.
#include <windows.h>

#include "CommandLine.h"

int wmain(int, wchar_t**)
{
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
    wchar_t* line = GetCommandLineW();
    RewriteProgramName(line);
    if (!CreateProcessW(NULL, line, NULL, NULL, TRUE, CREATE_NEW_CONSOLE, NULL, NULL, &si,
                        &twin))
        return static_cast<int>(GetLastError());
    CloseHandle(twin.hThread);
    // Only the twin's copy may keep the pipe open, so its end ends the reads.
    CloseHandle(to);

    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    char buffer[4096];
    DWORD got = 0;
    bool writing = true;
    while (writing && ReadFile(from, buffer, sizeof buffer, &got, NULL) && got > 0) {
        const char* p = buffer;
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
