// What the twin runs in: the pipe its output comes through, the job that
// ends it and all it started with us, and the handles it inherits.

#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#include "KernelFunction.h"
#include "PipeAndJob.h"

// The buffer an anonymous pipe of default size gets; a named pipe given 0
// may make every write of the twin wait for our read.
#define PIPE_BUFFER_SIZE 4096
// Names tried for the output pipe before giving up.
#define PIPE_NAME_TRIES 8

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

BOOL CreateOutputPipe(HANDLE *readEnd, HANDLE *writeEnd, SECURITY_ATTRIBUTES *security)
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

HANDLE CreateTwinJob(void)
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

void ReleaseTwinJob(HANDLE job)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;

    ZeroMemory(&limits, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
}

// Windows 2000 has none of these.
typedef BOOL(WINAPI *InitializeListFunction)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD,
                                             PSIZE_T);
typedef BOOL(WINAPI *UpdateListFunction)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID,
                                         SIZE_T, PVOID, PSIZE_T);
typedef void(WINAPI *DeleteListFunction)(LPPROC_THREAD_ATTRIBUTE_LIST);

BOOL LimitInheritance(STARTUPINFOEXW *startup, HANDLE *handles, DWORD count)
{
    InitializeListFunction initialize =
        (InitializeListFunction)KernelFunction("InitializeProcThreadAttributeList");
    UpdateListFunction update = (UpdateListFunction)KernelFunction("UpdateProcThreadAttribute");
    SIZE_T size = 0;

    startup->lpAttributeList = NULL;
    // The list is released by the third; without it there is none to make.
    if (initialize == NULL || update == NULL ||
        KernelFunction("DeleteProcThreadAttributeList") == NULL)
        return FALSE;
    // The first call only tells the size.
    initialize(NULL, 1, 0, &size);
    if (size == 0)
        return FALSE;
    startup->lpAttributeList = (LPPROC_THREAD_ATTRIBUTE_LIST)HeapAlloc(GetProcessHeap(), 0, size);
    if (startup->lpAttributeList == NULL)
        return FALSE;
    if (!initialize(startup->lpAttributeList, 1, 0, &size)) {
        HeapFree(GetProcessHeap(), 0, startup->lpAttributeList);
        startup->lpAttributeList = NULL;
        return FALSE;
    }
    if (!update(startup->lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                count * sizeof *handles, NULL, NULL)) {
        EndInheritanceLimit(startup);
        return FALSE;
    }
    startup->StartupInfo.cb = sizeof *startup;
    return TRUE;
}

void EndInheritanceLimit(STARTUPINFOEXW *startup)
{
    if (startup->lpAttributeList == NULL)
        return;
    ((DeleteListFunction)KernelFunction("DeleteProcThreadAttributeList"))(
        startup->lpAttributeList);
    HeapFree(GetProcessHeap(), 0, startup->lpAttributeList);
    startup->lpAttributeList = NULL;
    startup->StartupInfo.cb = sizeof startup->StartupInfo;
}
