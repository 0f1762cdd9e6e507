// pl3.com: starts the graphical program of the same name hidden, relays what
// it prints to our standard output and ends with its exit status, so the
// program can be driven from a command prompt or a script.

#include <windows.h>

#include "CommandLine.h"
#include "ReportLastError.h"

// A chunk is at most this many bytes.
#define CHUNK_SIZE 1023
// How long the relay waits for the twin's end while the pipe is empty: short
// enough that output still appears at once, long enough to cost no CPU.
#define IDLE_WAIT_MS 10
// The status of a program ended by Ctrl+C or by closing its console.
#define INTERRUPTED_STATUS 0xC000013AUL

// Shared with the console control handler, which runs on a thread of its own.
static CRITICAL_SECTION g_twinLock;
static HANDLE g_twinProcess;
static BOOL g_interrupted;

static BOOL WINAPI OnConsoleControl(DWORD event)
{
    // Only a launcher run by a service hears of a logoff, and then it may be
    // any user's: not a reason to stop.
    if (event == CTRL_LOGOFF_EVENT)
        return TRUE;

    // The twin has no console of ours, so the event never reaches it: end it
    // here, or it would go on running hidden where nobody can see it.
    EnterCriticalSection(&g_twinLock);
    g_interrupted = TRUE;
    if (g_twinProcess != NULL)
        TerminateProcess(g_twinProcess, INTERRUPTED_STATUS);
    LeaveCriticalSection(&g_twinLock);

    // After these the system ends us as soon as we return; the relay needs a
    // moment to see the twin's end and close up, and ending the process ends
    // this wait.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT)
        Sleep(5000);
    return TRUE;
}

int main()
{
    SECURITY_ATTRIBUTES pipeSecurity;
    STARTUPINFOW startup;
    PROCESS_INFORMATION twin;
    HANDLE inputRead = NULL;
    HANDLE inputWrite = NULL;
    HANDLE outputRead = NULL;
    HANDLE outputWrite = NULL;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    WCHAR *commandLine;
    char chunk[CHUNK_SIZE];
    DWORD exitStatus = 0;
    DWORD available = 0;
    DWORD remaining = 0;
    DWORD got;
    DWORD written;
    DWORD step;
    BOOL ended = FALSE;

    ZeroMemory(&twin, sizeof twin);
    InitializeCriticalSection(&g_twinLock);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    // Default security: a null access list would open both pipes to every
    // process on the machine.
    pipeSecurity.nLength = sizeof pipeSecurity;
    pipeSecurity.lpSecurityDescriptor = NULL;
    pipeSecurity.bInheritHandle = TRUE;
    if (!CreatePipe(&inputRead, &inputWrite, &pipeSecurity, 0) ||
        !CreatePipe(&outputRead, &outputWrite, &pipeSecurity, 0)) {
        exitStatus = GetLastError();
        ReportLastError(L"CreatePipe");
        goto cleanup;
    }
    // Our ends stay ours: a twin holding the input's write end would never
    // see the end of its input.
    if (!SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0) ||
        !SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0)) {
        exitStatus = GetLastError();
        ReportLastError(L"SetHandleInformation");
        goto cleanup;
    }

    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;

    commandLine = GetCommandLineW();
    RewriteProgramName(commandLine);

    // Started under the lock, so an interruption either stops the start or
    // finds the twin to end.
    EnterCriticalSection(&g_twinLock);
    if (!g_interrupted) {
        if (CreateProcessW(NULL, commandLine, NULL, NULL, TRUE, CREATE_NEW_CONSOLE, NULL, NULL,
                           &startup, &twin)) {
            g_twinProcess = twin.hProcess;
        } else {
            exitStatus = GetLastError();
            ReportLastError(L"CreateProcess");
        }
    }
    LeaveCriticalSection(&g_twinLock);
    if (twin.hProcess == NULL)
        goto cleanup;

    // The twin holds its own copy of the read end; closing ours lets it see
    // the end of its input at once.
    CloseHandle(inputWrite);
    inputWrite = NULL;

    // We keep our copy of the output's write end, so the pipe never breaks
    // early; the twin's end is told by its process handle, which also works
    // for a twin whose exit status is 259.
    for (;;) {
        if (!PeekNamedPipe(outputRead, NULL, 0, NULL, &available, NULL))
            break;
        if (ended && available > remaining)
            available = remaining;
        if (available == 0) {
            if (ended)
                break;
            if (WaitForSingleObject(twin.hProcess, IDLE_WAIT_MS) != WAIT_TIMEOUT) {
                // Everything the twin wrote is in the pipe now. Relay that and
                // no more: a grandchild still writing cannot keep us here.
                ended = TRUE;
                if (!PeekNamedPipe(outputRead, NULL, 0, NULL, &remaining, NULL))
                    break;
            }
            continue;
        }
        if (!ReadFile(outputRead, chunk, available < CHUNK_SIZE ? available : CHUNK_SIZE, &got,
                      NULL) || got == 0)
            break;
        if (ended)
            remaining -= got;
        // The bytes as they are, straight to the handle, so they show at once.
        // A failing output is not a reason to stop reading: the twin would
        // block on a full pipe.
        for (written = 0; written < got; written += step) {
            if (!WriteFile(output, chunk + written, got - written, &step, NULL) || step == 0)
                break;
        }
    }
    GetExitCodeProcess(twin.hProcess, &exitStatus);

cleanup:
    EnterCriticalSection(&g_twinLock);
    g_twinProcess = NULL;
    if (g_interrupted)
        exitStatus = INTERRUPTED_STATUS;
    LeaveCriticalSection(&g_twinLock);
    if (twin.hThread != NULL)
        CloseHandle(twin.hThread);
    if (twin.hProcess != NULL)
        CloseHandle(twin.hProcess);
    if (inputRead != NULL)
        CloseHandle(inputRead);
    if (outputWrite != NULL)
        CloseHandle(outputWrite);
    if (outputRead != NULL)
        CloseHandle(outputRead);
    if (inputWrite != NULL)
        CloseHandle(inputWrite);
    // The lock is left to the process's end: the handler may still be
    // waiting on it.
    return (int)exitStatus;
}
