// The program has no console of ours, so a Ctrl+C or a console close never
// reaches it: left alone it would go on running hidden, with all it started,
// where nobody can see it. It is asked to close first, as a user closing its
// window would, so that it can save its work; then it is ended.

#include <windows.h>

#include "Interrupt.h"
#include "Output.h"

// How long the program gets to close once asked: after Ctrl+C or
// Ctrl+Break, and after a console close or a shutdown, when the system
// allows 5 s in all and the close-up below must still fit.
#define CLOSE_WAIT_MS 5000
#define SHUTDOWN_WAIT_MS 1000
// How long the relay gets to close up once the program has been ended,
// before the launcher ends itself.
#define CLOSE_UP_MS 2000

typedef BOOL(WINAPI *EnumWindowsFunction)(WNDENUMPROC, LPARAM);
typedef DWORD(WINAPI *GetWindowThreadProcessIdFunction)(HWND, LPDWORD);
typedef BOOL(WINAPI *PostMessageWFunction)(HWND, UINT, WPARAM, LPARAM);

// Shared between the run and the handler, which runs on a thread of its own.
static CRITICAL_SECTION g_lock;
static HANDLE g_process;
static DWORD g_processId;
static HANDLE g_job;
static BOOL g_interrupted;

// The window functions, found once an interruption needs them.
static GetWindowThreadProcessIdFunction g_windowProcessId;
static PostMessageWFunction g_postMessage;

// Ends the program and all it started, where it is known. Under the lock.
static void EndProgram(void)
{
    if (g_job != NULL)
        TerminateJobObject(g_job, INTERRUPTED_STATUS);
    else if (g_process != NULL)
        TerminateProcess(g_process, INTERRUPTED_STATUS);
}

static BOOL CALLBACK AskWindowToClose(HWND window, LPARAM asked)
{
    DWORD owner = 0;

    g_windowProcessId(window, &owner);
    if (owner == g_processId && g_postMessage(window, WM_CLOSE, 0, 0))
        ++*(DWORD *)asked;
    return TRUE;
}

// Posts WM_CLOSE to every top-level window of the program's process, hidden
// ones included. FALSE where it has none: then it can only be ended. The
// window system is looked up only here: a console tool loads it for nothing
// else. Under the lock.
static BOOL AskProgramToClose(void)
{
    HMODULE user;
    EnumWindowsFunction enumWindows;
    DWORD asked = 0;

    if (g_process == NULL)
        return FALSE;
    user = LoadLibraryW(L"user32.dll");
    if (user == NULL)
        return FALSE;
    enumWindows = (EnumWindowsFunction)(void (*)(void))GetProcAddress(user, "EnumWindows");
    g_windowProcessId = (GetWindowThreadProcessIdFunction)(void (*)(void))GetProcAddress(
        user, "GetWindowThreadProcessId");
    g_postMessage = (PostMessageWFunction)(void (*)(void))GetProcAddress(user, "PostMessageW");
    if (enumWindows != NULL && g_windowProcessId != NULL && g_postMessage != NULL)
        enumWindows(AskWindowToClose, (LPARAM)&asked);
    // The library stays: the launcher ends soon.
    return asked > 0;
}

// Gives the program up to waitMs to close (program, our own handle to it, is
// closed here), ends what is left of it, gives the relay its time to close
// up and ends the launcher, as an interrupted program ends. A relay stuck in
// a write to a caller that does not read would never close up.
static void EndRun(HANDLE program, DWORD waitMs)
{
    if (program != NULL) {
        WaitForSingleObject(program, waitMs);
        CloseHandle(program);
    }
    EnterCriticalSection(&g_lock);
    EndProgram();
    LeaveCriticalSection(&g_lock);
    Sleep(CLOSE_UP_MS);
    RestoreOutput();
    TerminateProcess(GetCurrentProcess(), INTERRUPTED_STATUS);
}

static DWORD WINAPI EndRunLater(LPVOID program)
{
    EndRun((HANDLE)program, CLOSE_WAIT_MS);
    return 0;
}

static BOOL WINAPI OnConsoleControl(DWORD event)
{
    BOOL keyed = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    HANDLE program = NULL;
    HANDLE waiter;
    BOOL first;

    // Only a launcher run by a service hears of a logoff, and then it may be
    // any user's: not a reason to stop.
    if (event == CTRL_LOGOFF_EVENT)
        return TRUE;

    // A handle of our own to wait on: the run closes its own at its end.
    EnterCriticalSection(&g_lock);
    first = !g_interrupted;
    g_interrupted = TRUE;
    if (!first || !AskProgramToClose() ||
        !DuplicateHandle(GetCurrentProcess(), g_process, GetCurrentProcess(), &program,
                         SYNCHRONIZE, FALSE, 0)) {
        program = NULL;
        EndProgram();
    }
    LeaveCriticalSection(&g_lock);

    if (keyed) {
        // The first one's wait is already under way, or over.
        if (!first)
            return TRUE;
        // Some systems run one handler call at a time: waiting here, we
        // would never hear a second Ctrl+C.
        waiter = CreateThread(NULL, 0, EndRunLater, program, 0, NULL);
        if (waiter != NULL) {
            CloseHandle(waiter);
            return TRUE;
        }
    }
    // After a close or a shutdown, returning would end us at once.
    EndRun(program, keyed ? CLOSE_WAIT_MS : SHUTDOWN_WAIT_MS);
    return TRUE;
}

void HandleInterruptions(void)
{
    InitializeCriticalSection(&g_lock);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

BOOL BeginProgramStart(void)
{
    EnterCriticalSection(&g_lock);
    return !g_interrupted;
}

void EndProgramStart(const PROCESS_INFORMATION *program, HANDLE job)
{
    if (program != NULL) {
        g_process = program->hProcess;
        g_processId = program->dwProcessId;
        g_job = job;
    }
    LeaveCriticalSection(&g_lock);
}

BOOL StopHandlingInterruptions(void)
{
    BOOL interrupted;

    // The lock is left to the process's end: the handler may still be
    // waiting on it.
    EnterCriticalSection(&g_lock);
    g_process = NULL;
    g_job = NULL;
    interrupted = g_interrupted;
    LeaveCriticalSection(&g_lock);
    return interrupted;
}
