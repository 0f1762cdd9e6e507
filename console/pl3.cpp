// pl3.com: starts the graphical program of the same name hidden, relays what
// it prints to our standard output and ends with its exit status, so the
// program can be driven from a command prompt or a script. This file holds
// the run: pipes, job, start, relay, clean-up.

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "CommandLine.h"
#include "FindProgram.h"
#include "Interrupt.h"
#include "Output.h"
#include "PipeAndJob.h"
#include "ReportLastError.h"

// While reads complete at once, the twin's end is looked at again once this
// many milliseconds have passed. Each look is a call into the system, which
// costs as much as a chunk's read under Wine and WoW64: looked at every few
// chunks, it cost the relay 3 % of its calls.
#define END_CHECK_MS 10

// The program to start.
static const WCHAR *g_program;

// What the run holds, each NULL until made, all closed in one place.
static HANDLE g_inputRead;
static HANDLE g_inputWrite;
static HANDLE g_outputRead;
static HANDLE g_outputWrite;
static HANDLE g_job;
static PROCESS_INFORMATION g_twin;
static OVERLAPPED g_pending;
static DWORD g_exitStatus;

// Tells the user which call failed; the error is also our exit status.
static BOOL Report(const WCHAR *name)
{
    g_exitStatus = GetLastError();
    ReportLastError(name);
    return FALSE;
}

// The twin's standard input, output and error, and the event our reads of
// its output signal.
static BOOL CreatePipes(void)
{
    SECURITY_ATTRIBUTES pipeSecurity;

    // Default security: a null access list would open both pipes to every
    // process on the machine.
    pipeSecurity.nLength = sizeof pipeSecurity;
    pipeSecurity.lpSecurityDescriptor = NULL;
    pipeSecurity.bInheritHandle = TRUE;
    if (!CreatePipe(&g_inputRead, &g_inputWrite, &pipeSecurity, 0) ||
        !CreateOutputPipe(&g_outputRead, &g_outputWrite, &pipeSecurity))
        return Report(L"CreatePipe");
    // Our end stays ours: a twin holding the input's write end would never
    // see the end of its input.
    if (!SetHandleInformation(g_inputWrite, HANDLE_FLAG_INHERIT, 0))
        return Report(L"SetHandleInformation");
    g_pending.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (g_pending.hEvent == NULL)
        return Report(L"CreateEvent");
    return TRUE;
}

// Takes the inherit flag off one of our own standard handles: they are the
// caller's pipe ends, and a process the twin leaves running would hold them
// and keep the caller from seeing the end of our output. Older consoles'
// handles refuse the change and need none.
static void KeepFromTwin(DWORD which)
{
    HANDLE handle = GetStdHandle(which);

    if (handle != NULL && handle != INVALID_HANDLE_VALUE)
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
}

// Starts the twin hidden, on our pipes, in its job where there is one.
static BOOL StartTwin(void)
{
    STARTUPINFOEXW startup;
    HANDLE inherited[2];
    DWORD flags = CREATE_NEW_CONSOLE | CREATE_SUSPENDED;
    WCHAR *commandLine;
    BOOL running = FALSE;

    // Without a job the twin runs as it always did: nothing to report.
    g_job = CreateTwinJob();

    ZeroMemory(&startup, sizeof startup);
    GetStartupInfoW(&startup.StartupInfo);
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = g_inputRead;
    startup.StartupInfo.hStdOutput = g_outputWrite;
    startup.StartupInfo.hStdError = g_outputWrite;
    // The reserved fields are the C runtime's: a caller started through its
    // runtime hands its table of open files on in them, and passed on, they
    // would make the twin's runtime use our caller's files, not our pipes.
    startup.StartupInfo.lpReserved = NULL;
    startup.StartupInfo.lpReserved2 = NULL;
    startup.StartupInfo.cbReserved2 = 0;
    KeepFromTwin(STD_INPUT_HANDLE);
    KeepFromTwin(STD_OUTPUT_HANDLE);
    KeepFromTwin(STD_ERROR_HANDLE);
    // Nor does any other inheritable handle of our caller's reach the twin,
    // where the system lets us name the ones it gets.
    inherited[0] = g_inputRead;
    inherited[1] = g_outputWrite;
    if (LimitInheritance(&startup, inherited, 2))
        flags |= EXTENDED_STARTUPINFO_PRESENT;

    // The program sees the caller's line as its own, with its own name in it.
    commandLine = GetCommandLineW();
    RewriteProgramName(commandLine);

    // It starts suspended, so that whatever it starts is in the job too.
    if (BeginProgramStart()) {
        // The program's file as our caller sees it, in System32 too.
        SeeFilesAsTheCallerDoes();
        running = CreateProcessW(g_program, commandLine, NULL, NULL, TRUE, flags, NULL, NULL,
                                 &startup.StartupInfo, &g_twin);
        SeeFilesAsRedirected();
        if (!running) {
            Report(L"CreateProcess");
        } else {
            // Before Windows 8 a launcher that is itself in a job cannot put
            // the twin in another one: then it runs without, as it did.
            if (g_job != NULL && !AssignProcessToJobObject(g_job, g_twin.hProcess)) {
                CloseHandle(g_job);
                g_job = NULL;
            }
            if (ResumeThread(g_twin.hThread) == (DWORD)-1) {
                running = Report(L"ResumeThread");
                TerminateProcess(g_twin.hProcess, g_exitStatus);
            }
        }
    }
    EndProgramStart(running ? &g_twin : NULL, g_job);
    EndInheritanceLimit(&startup);
    if (!running)
        return FALSE;

    // The twin holds its own copy of the read end; closing ours lets it see
    // the end of its input at once.
    CloseHandle(g_inputWrite);
    g_inputWrite = NULL;
    return TRUE;
}

// Relays the twin's output until the twin has ended, then what it left in
// the pipe, and takes its exit status.
static void Relay(void)
{
    HANDLE waits[2];
    DWORD lookedAt = GetTickCount();
    DWORD remaining = 0;
    DWORD passes;
    DWORD room;
    DWORD got;
    char *space;
    BOOL ended = FALSE;

    // We keep our copy of the output's write end, so the pipe never breaks
    // early; the twin's end is told by its process handle, which also works
    // for a twin whose exit status is 259.
    waits[0] = g_twin.hProcess;
    waits[1] = g_pending.hEvent;
    while (!ended) {
        space = OutputSpace(&room);
        if (ReadFile(g_outputRead, space, room, NULL, &g_pending)) {
            // The bytes were already waiting and the read is done: no wait
            // is needed, and under load this is every read. The twin's end
            // is still looked at every few milliseconds, so a grandchild that
            // keeps the pipe full cannot keep us here.
            if (GetTickCount() - lookedAt >= END_CHECK_MS) {
                lookedAt = GetTickCount();
                ended = WaitForSingleObject(g_twin.hProcess, 0) == WAIT_OBJECT_0;
            }
            if (GetOverlappedResult(g_outputRead, &g_pending, &got, FALSE))
                WriteOutput(got);
            continue;
        }
        if (GetLastError() != ERROR_IO_PENDING)
            break;
        // The twin's end is tested first, so a grandchild that goes on
        // writing cannot keep us here.
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            ended = TRUE;
            // Take the read back; if it completed meanwhile, its bytes count.
            CancelIo(g_outputRead);
            if (!GetOverlappedResult(g_outputRead, &g_pending, &got, TRUE))
                got = 0;
        } else if (!GetOverlappedResult(g_outputRead, &g_pending, &got, FALSE)) {
            break;
        }
        // A read of no bytes is a write of no bytes: nothing yet.
        WriteOutput(got);
    }
    // Everything the twin wrote is in the pipe now. Relay that and no more;
    // reads of no bytes count as passes, so a grandchild writing nothing
    // cannot keep us.
    if (ended && PeekNamedPipe(g_outputRead, NULL, 0, NULL, &remaining, NULL)) {
        for (passes = remaining; remaining > 0 && passes > 0; --passes) {
            space = OutputSpace(&room);
            if (!ReadFile(g_outputRead, space, remaining < room ? remaining : room, NULL,
                          &g_pending) &&
                GetLastError() != ERROR_IO_PENDING)
                break;
            if (!GetOverlappedResult(g_outputRead, &g_pending, &got, TRUE))
                break;
            WriteOutput(got);
            remaining -= got;
        }
    }
    FinishOutput();
    GetExitCodeProcess(g_twin.hProcess, &g_exitStatus);
}

static void CloseIfOpen(HANDLE handle)
{
    if (handle != NULL)
        CloseHandle(handle);
}

// Leaves the job to what the twin left running, closes what the run holds
// and ends with the twin's status, or with what stopped the run.
static void CloseUp(void)
{
    BOOL interrupted = StopHandlingInterruptions();

    // Interrupted, nothing of the twin's goes on, even where the twin
    // closed by itself when asked; otherwise what it left running is the
    // user's.
    if (interrupted)
        g_exitStatus = INTERRUPTED_STATUS;
    if (g_job != NULL) {
        if (interrupted)
            TerminateJobObject(g_job, INTERRUPTED_STATUS);
        else
            ReleaseTwinJob(g_job);
        CloseHandle(g_job);
    }
    CloseIfOpen(g_twin.hThread);
    CloseIfOpen(g_twin.hProcess);
    CloseIfOpen(g_inputRead);
    CloseIfOpen(g_outputWrite);
    CloseIfOpen(g_outputRead);
    CloseIfOpen(g_inputWrite);
    CloseIfOpen(g_pending.hEvent);
    RestoreOutput();
    // Straight out: nothing of ours waits in the C runtime, whose exit would
    // first look for a managed runtime to shut down.
    ExitProcess(g_exitStatus);
}

int main()
{
    HandleInterruptions();
    OpenOutput();
    g_program = FindProgram();
    if (g_program == NULL)
        Report(GetLastError() == ERROR_INVALID_NAME ? L"CreateProcess" : L"GetModuleFileName");
    else if (CreatePipes() && StartTwin())
        Relay();
    CloseUp();
    return (int)g_exitStatus;
}
