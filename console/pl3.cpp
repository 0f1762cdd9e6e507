// pl3.com: starts the graphical program of the same name hidden, relays what
// it prints to our standard output and ends with its exit status, so the
// program can be driven from a command prompt or a script.

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "CommandLine.h"
#include "ReportLastError.h"

// A chunk is at most this many bytes.
#define CHUNK_SIZE 1023
// The buffer an anonymous pipe of default size gets; a named pipe given 0
// may make every write of the twin wait for our read.
#define PIPE_BUFFER_SIZE 4096
// While reads complete at once, the twin's end is looked at every this many
// chunks.
#define END_CHECK_CHUNKS 16
// The status of a program ended by Ctrl+C or by closing its console.
#define INTERRUPTED_STATUS 0xC000013AUL
// Names tried for the output pipe before giving up.
#define PIPE_NAME_TRIES 8
// How long the relay gets to close up once an interruption has ended the
// twin, before the handler ends the launcher itself.
#define CLOSE_UP_MS 2000
// The longest path the system gives, with its terminator.
#define PROGRAM_PATH_SIZE 32768

// The program to start: our own file's name with ".exe" for its ".com".
static WCHAR g_programPath[PROGRAM_PATH_SIZE];

// Shared with the console control handler, which runs on a thread of its own.
static CRITICAL_SECTION g_twinLock;
static HANDLE g_twinProcess;
static HANDLE g_twinJob;
static BOOL g_interrupted;

static BOOL WINAPI OnConsoleControl(DWORD event)
{
    // Only a launcher run by a service hears of a logoff, and then it may be
    // any user's: not a reason to stop.
    if (event == CTRL_LOGOFF_EVENT)
        return TRUE;

    // The twin has no console of ours, so the event never reaches it: end it
    // and all it started here, or they would go on running hidden where
    // nobody can see them.
    EnterCriticalSection(&g_twinLock);
    g_interrupted = TRUE;
    if (g_twinJob != NULL)
        TerminateJobObject(g_twinJob, INTERRUPTED_STATUS);
    else if (g_twinProcess != NULL)
        TerminateProcess(g_twinProcess, INTERRUPTED_STATUS);
    LeaveCriticalSection(&g_twinLock);

    // The relay now sees the twin's end, closes up and ends the process,
    // which ends this wait. A relay stuck writing to a caller that does not
    // read never would; nor would the system wait for it after a close or a
    // shutdown. Then we end here, as an interrupted program does.
    Sleep(CLOSE_UP_MS);
    TerminateProcess(GetCurrentProcess(), INTERRUPTED_STATUS);
    return TRUE;
}

// What tells a file apart from every other, by whatever name or link it is
// reached; FALSE where the file cannot be looked at.
static BOOL GetFileIdentity(const WCHAR *path, BY_HANDLE_FILE_INFORMATION *identity)
{
    HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    BOOL known;

    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    known = GetFileInformationByHandle(file, identity);
    CloseHandle(file);
    return known;
}

// Finds the program to start from our own file name alone, never from the
// command line: a line can name anything, ourselves included, and that copy
// would do the same. FALSE, with the last error set, when there is none to
// start: our name does not end in ".com", or its ".exe" is our own file.
static BOOL FindProgram(WCHAR *path, DWORD size)
{
    BY_HANDLE_FILE_INFORMATION self;
    BY_HANDLE_FILE_INFORMATION program;
    DWORD length = GetModuleFileNameW(NULL, path, size);
    BOOL selfKnown;

    if (length == 0)
        return FALSE;
    if (length >= size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (length < 4 || _wcsicmp(path + length - 4, L".com") != 0) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    selfKnown = GetFileIdentity(path, &self);
    path[length - 3] = L'e';
    path[length - 2] = L'x';
    path[length - 1] = L'e';
    if (selfKnown && GetFileIdentity(path, &program) &&
        self.dwVolumeSerialNumber == program.dwVolumeSerialNumber &&
        self.nFileIndexHigh == program.nFileIndexHigh &&
        self.nFileIndexLow == program.nFileIndexLow) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    return TRUE;
}

// Appends a number in hexadecimal; the buffer has room for the whole name.
static void AppendNumber(WCHAR *name, DWORD number)
{
    WCHAR digits[16];

    _ultow(number, digits, 16);
    wcscat(name, L"-");
    wcscat(name, digits);
}

// Our end of the output pipe: one instance, read with overlapped reads.
static HANDLE CreateReadEnd(const WCHAR *name, DWORD openMode)
{
    return CreateNamedPipeW(name, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | openMode,
                            PIPE_TYPE_BYTE | PIPE_WAIT, 1, PIPE_BUFFER_SIZE, PIPE_BUFFER_SIZE,
                            0, NULL);
}

// Creates the pipe for the twin's standard output and error. To the twin it
// is an ordinary pipe; our read end takes overlapped reads, so that one wait
// covers both "output arrived" and "the twin ended" and the launcher sleeps
// while the twin is silent. Our end is never inheritable; the twin's end gets
// the given attributes.
static BOOL CreateOutputPipe(HANDLE *readEnd, HANDLE *writeEnd, SECURITY_ATTRIBUTES *security)
{
    // "\\.\pipe\pl3-output" and three numbers of at most 8 digits.
    WCHAR name[64];
    DWORD tick = GetTickCount();
    DWORD openMode = FILE_FLAG_FIRST_PIPE_INSTANCE;
    DWORD attempt;

    // The first-instance flag makes us fail rather than read another's pipe.
    // A name is taken while anyone holds a handle to it, for example a process
    // left running by an earlier launcher that had our process id: the time
    // and a counter make ours new.
    for (attempt = 0; attempt < PIPE_NAME_TRIES; ++attempt) {
        wcscpy(name, L"\\\\.\\pipe\\pl3-output");
        AppendNumber(name, GetCurrentProcessId());
        AppendNumber(name, tick);
        AppendNumber(name, attempt);
        *readEnd = CreateReadEnd(name, openMode);
        if (*readEnd == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER &&
            openMode != 0) {
            // Windows 2000 knows the flag only from Service Pack 2 on. The
            // name, new to this run, still keeps the pipe apart from others'.
            openMode = 0;
            *readEnd = CreateReadEnd(name, openMode);
        }
        if (*readEnd != INVALID_HANDLE_VALUE)
            break;
        *readEnd = NULL;
        if (GetLastError() != ERROR_ACCESS_DENIED && GetLastError() != ERROR_PIPE_BUSY)
            return FALSE;
    }
    if (*readEnd == NULL)
        return FALSE;
    *writeEnd = CreateFileW(name, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, security, OPEN_EXISTING,
                            0, NULL);
    if (*writeEnd == INVALID_HANDLE_VALUE) {
        *writeEnd = NULL;
        return FALSE;
    }
    return TRUE;
}

// A job that ends the twin and everything it starts in it as soon as its
// last handle, ours, is closed: also when we are ended from outside. NULL
// where the system gives none.
static HANDLE CreateTwinJob(void)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    HANDLE job = CreateJobObjectW(NULL, NULL);

    if (job == NULL)
        return NULL;
    ZeroMemory(&limits, sizeof limits);
    // A process the twin starts to outlive it may still leave, if it asks.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
        CloseHandle(job);
        return NULL;
    }
    return job;
}

// Lets the processes a twin that ended by itself left behind outlive the job.
static void ReleaseTwinJob(HANDLE job)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;

    ZeroMemory(&limits, sizeof limits);
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
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

// Writes the bytes as they are, straight to the handle, so they show at once.
// A failing output is not a reason to stop reading: the twin would block on a
// full pipe.
static void WriteChunk(HANDLE output, const char *chunk, DWORD size)
{
    DWORD written;
    DWORD step;

    for (written = 0; written < size; written += step) {
        if (!WriteFile(output, chunk + written, size - written, &step, NULL) || step == 0)
            break;
    }
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
    HANDLE job = NULL;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    WCHAR *commandLine;
    char chunk[CHUNK_SIZE];
    OVERLAPPED pending;
    HANDLE waits[2];
    DWORD exitStatus = 0;
    DWORD remaining = 0;
    DWORD passes;
    DWORD got;
    BOOL running = FALSE;
    BOOL ended = FALSE;
    DWORD readsAtOnce = 0;
    BOOL interrupted;

    ZeroMemory(&twin, sizeof twin);
    ZeroMemory(&pending, sizeof pending);
    InitializeCriticalSection(&g_twinLock);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    if (!FindProgram(g_programPath, PROGRAM_PATH_SIZE)) {
        exitStatus = GetLastError();
        ReportLastError(exitStatus == ERROR_INVALID_NAME ? L"CreateProcess"
                                                         : L"GetModuleFileName");
        goto cleanup;
    }

    // Default security: a null access list would open both pipes to every
    // process on the machine.
    pipeSecurity.nLength = sizeof pipeSecurity;
    pipeSecurity.lpSecurityDescriptor = NULL;
    pipeSecurity.bInheritHandle = TRUE;
    if (!CreatePipe(&inputRead, &inputWrite, &pipeSecurity, 0) ||
        !CreateOutputPipe(&outputRead, &outputWrite, &pipeSecurity)) {
        exitStatus = GetLastError();
        ReportLastError(L"CreatePipe");
        goto cleanup;
    }
    // Our end stays ours: a twin holding the input's write end would never
    // see the end of its input.
    if (!SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0)) {
        exitStatus = GetLastError();
        ReportLastError(L"SetHandleInformation");
        goto cleanup;
    }
    pending.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    if (pending.hEvent == NULL) {
        exitStatus = GetLastError();
        ReportLastError(L"CreateEvent");
        goto cleanup;
    }
    // Without a job the twin runs as it always did: nothing to report.
    job = CreateTwinJob();

    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    // The reserved fields are the C runtime's: a caller started through its
    // runtime hands its table of open files on in them, and passed on, they
    // would make the twin's runtime use our caller's files, not our pipes.
    startup.lpReserved = NULL;
    startup.lpReserved2 = NULL;
    startup.cbReserved2 = 0;
    KeepFromTwin(STD_INPUT_HANDLE);
    KeepFromTwin(STD_OUTPUT_HANDLE);
    KeepFromTwin(STD_ERROR_HANDLE);

    // The program sees the caller's line as its own, with its own name in it.
    commandLine = GetCommandLineW();
    RewriteProgramName(commandLine);

    // Started under the lock, so an interruption either stops the start or
    // finds the twin to end. It starts suspended, so that whatever it
    // starts is in the job too.
    EnterCriticalSection(&g_twinLock);
    if (!g_interrupted) {
        if (CreateProcessW(g_programPath, commandLine, NULL, NULL, TRUE,
                           CREATE_NEW_CONSOLE | CREATE_SUSPENDED, NULL, NULL, &startup, &twin)) {
            // Before Windows 8 a launcher that is itself in a job cannot put
            // the twin in another one: then it runs without, as it did.
            if (job != NULL && !AssignProcessToJobObject(job, twin.hProcess)) {
                CloseHandle(job);
                job = NULL;
            }
            if (ResumeThread(twin.hThread) == (DWORD)-1) {
                exitStatus = GetLastError();
                ReportLastError(L"ResumeThread");
                TerminateProcess(twin.hProcess, exitStatus);
            } else {
                running = TRUE;
                g_twinProcess = twin.hProcess;
                g_twinJob = job;
            }
        } else {
            exitStatus = GetLastError();
            ReportLastError(L"CreateProcess");
        }
    }
    LeaveCriticalSection(&g_twinLock);
    if (!running)
        goto cleanup;

    // The twin holds its own copy of the read end; closing ours lets it see
    // the end of its input at once.
    CloseHandle(inputWrite);
    inputWrite = NULL;

    // We keep our copy of the output's write end, so the pipe never breaks
    // early; the twin's end is told by its process handle, which also works
    // for a twin whose exit status is 259.
    waits[0] = twin.hProcess;
    waits[1] = pending.hEvent;
    while (!ended) {
        if (ReadFile(outputRead, chunk, CHUNK_SIZE, NULL, &pending)) {
            // The bytes were already waiting and the read is done: no wait
            // is needed, and under load this is every read. The twin's end
            // is still looked at every few such chunks, so a grandchild that
            // keeps the pipe full cannot keep us here.
            ended = ++readsAtOnce % END_CHECK_CHUNKS == 0 &&
                    WaitForSingleObject(twin.hProcess, 0) == WAIT_OBJECT_0;
            if (GetOverlappedResult(outputRead, &pending, &got, FALSE))
                WriteChunk(output, chunk, got);
            continue;
        }
        if (GetLastError() != ERROR_IO_PENDING)
            break;
        // The twin's end is tested first, so a grandchild that goes on
        // writing cannot keep us here.
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            ended = TRUE;
            // Take the read back; if it completed meanwhile, its bytes count.
            CancelIo(outputRead);
            if (!GetOverlappedResult(outputRead, &pending, &got, TRUE))
                got = 0;
        } else if (!GetOverlappedResult(outputRead, &pending, &got, FALSE)) {
            break;
        }
        // A read of no bytes is a write of no bytes: nothing yet.
        WriteChunk(output, chunk, got);
    }
    // Everything the twin wrote is in the pipe now. Relay that and no more;
    // reads of no bytes count as passes, so a grandchild writing nothing
    // cannot keep us.
    if (ended && PeekNamedPipe(outputRead, NULL, 0, NULL, &remaining, NULL)) {
        for (passes = remaining; remaining > 0 && passes > 0; --passes) {
            if (!ReadFile(outputRead, chunk, remaining < CHUNK_SIZE ? remaining : CHUNK_SIZE,
                          NULL, &pending) &&
                GetLastError() != ERROR_IO_PENDING)
                break;
            if (!GetOverlappedResult(outputRead, &pending, &got, TRUE))
                break;
            WriteChunk(output, chunk, got);
            remaining -= got;
        }
    }
    GetExitCodeProcess(twin.hProcess, &exitStatus);

cleanup:
    EnterCriticalSection(&g_twinLock);
    g_twinProcess = NULL;
    g_twinJob = NULL;
    interrupted = g_interrupted;
    LeaveCriticalSection(&g_twinLock);
    if (interrupted)
        exitStatus = INTERRUPTED_STATUS;
    if (job != NULL) {
        // Interrupted, the job has been ended already; otherwise what the
        // twin left running is the user's and goes on.
        if (!interrupted)
            ReleaseTwinJob(job);
        CloseHandle(job);
    }
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
    if (pending.hEvent != NULL)
        CloseHandle(pending.hEvent);
    // The lock is left to the process's end: the handler may still be
    // waiting on it.
    // Straight out: nothing of ours waits in the C runtime, whose exit would
    // first look for a managed runtime to shut down.
    ExitProcess(exitStatus);
}
