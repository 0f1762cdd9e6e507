// Finding the program from our own file name alone, never from the command
// line: a line can name anything, ourselves included, and that copy would do
// the same.

#include <windows.h>
#include <string.h>
#include <wchar.h>

#include "FindProgram.h"
#include "KernelFunction.h"

// The longest path the system gives, with its terminator.
#define PROGRAM_PATH_SIZE 32768

// Windows 2000 has none of these, so they are looked up when needed.
typedef BOOL(WINAPI *DisableRedirection)(PVOID *oldValue);
typedef BOOL(WINAPI *RevertRedirection)(PVOID oldValue);
typedef DWORD(WINAPI *GetFinalPathName)(HANDLE file, LPWSTR path, DWORD size, DWORD flags);

// What turning the redirection off gave, to turn it back on with.
static PVOID g_redirection;
static BOOL g_redirectionOff;

// The program found, and the names looked at on the way: our long name, and
// the program beside the file our name leads to.
static WCHAR g_program[PROGRAM_PATH_SIZE];
static WCHAR g_longName[PROGRAM_PATH_SIZE];
static WCHAR g_besideTarget[PROGRAM_PATH_SIZE];

// What is at a program's name; PROGRAM_NONE: our name names no program, or
// only our own file.
enum Found { PROGRAM_THERE, PROGRAM_MISSING, PROGRAM_NONE };

void SeeFilesAsTheCallerDoes(void)
{
    DisableRedirection disable =
        (DisableRedirection)KernelFunction("Wow64DisableWow64FsRedirection");
    DWORD error = GetLastError();

    if (disable != NULL && !g_redirectionOff)
        g_redirectionOff = disable(&g_redirection);
    SetLastError(error);
}

void SeeFilesAsRedirected(void)
{
    RevertRedirection revert =
        (RevertRedirection)KernelFunction("Wow64RevertWow64FsRedirection");
    DWORD error = GetLastError();

    if (revert != NULL && g_redirectionOff)
        revert(g_redirection);
    g_redirectionOff = FALSE;
    SetLastError(error);
}

// Opens a file only to look at it, whatever else holds it open.
static HANDLE OpenToLookAt(const WCHAR *path)
{
    return CreateFileW(path, FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_EXISTING, 0, NULL);
}

// What tells a file apart from every other, by whatever name or link it is
// reached; FALSE where the file cannot be looked at.
static BOOL GetFileIdentity(const WCHAR *path, BY_HANDLE_FILE_INFORMATION *identity)
{
    HANDLE file = OpenToLookAt(path);
    BOOL known;

    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    known = GetFileInformationByHandle(file, identity);
    CloseHandle(file);
    return known;
}

// Turns a name's final ".com", in any case, into ".exe"; FALSE where the
// name has none.
static BOOL TurnIntoExe(WCHAR *path)
{
    size_t length = wcslen(path);

    if (length < 4 || _wcsicmp(path + length - 4, L".com") != 0)
        return FALSE;
    wcscpy(path + length - 3, L"exe");
    return TRUE;
}

// A program file we cannot look at is still one to start: the start then
// says what is wrong with it.
static enum Found LookAt(const WCHAR *path, const BY_HANDLE_FILE_INFORMATION *ours)
{
    BY_HANDLE_FILE_INFORMATION program;

    if (!GetFileIdentity(path, &program))
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND
                   ? PROGRAM_MISSING
                   : PROGRAM_THERE;
    if (ours != NULL && ours->dwVolumeSerialNumber == program.dwVolumeSerialNumber &&
        ours->nFileIndexHigh == program.nFileIndexHigh &&
        ours->nFileIndexLow == program.nFileIndexLow)
        return PROGRAM_NONE;
    return PROGRAM_THERE;
}

// The name of the file that name leads to, links followed, as a plain path:
// "\\?\C:\..." becomes "C:\...", "\\?\UNC\server\..." "\\server\...". FALSE
// where the system cannot tell.
static BOOL GetFinalName(const WCHAR *name, WCHAR *path, DWORD size)
{
    GetFinalPathName getFinalPathName =
        (GetFinalPathName)KernelFunction("GetFinalPathNameByHandleW");
    HANDLE file;
    DWORD length;

    if (getFinalPathName == NULL)
        return FALSE;
    file = OpenToLookAt(name);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    // Flags 0: the normalised name, with its drive letter.
    length = getFinalPathName(file, path, size, 0);
    CloseHandle(file);
    if (length == 0 || length >= size)
        return FALSE;
    if (length >= 8 && wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0)
        memmove(path + 2, path + 8, (length - 8 + 1) * sizeof(WCHAR));
    else if (length >= 4 && wcsncmp(path, L"\\\\?\\", 4) == 0)
        memmove(path, path + 4, (length - 4 + 1) * sizeof(WCHAR));
    return TRUE;
}

const WCHAR *FindProgram(void)
{
    BY_HANDLE_FILE_INFORMATION self;
    const BY_HANDLE_FILE_INFORMATION *ours = NULL;
    BOOL targetNamed;
    DWORD length = GetModuleFileNameW(NULL, g_program, PROGRAM_PATH_SIZE);
    enum Found found = PROGRAM_NONE;
    enum Found foundBesideTarget;

    if (length == 0)
        return NULL;
    if (length >= PROGRAM_PATH_SIZE) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return NULL;
    }
    // Our name, our file, the program and a link's target are looked at as
    // the caller sees them: a 32-bit launcher in System32 would otherwise
    // look in the 32-bit system folder.
    SeeFilesAsTheCallerDoes();
    // Started by a short 8.3 name, our name's ".exe" is no program's name:
    // the program's short name is its own.
    length = GetLongPathNameW(g_program, g_longName, PROGRAM_PATH_SIZE);
    if (length > 0 && length < PROGRAM_PATH_SIZE)
        wcscpy(g_program, g_longName);
    if (GetFileIdentity(g_program, &self))
        ours = &self;
    targetNamed = GetFinalName(g_program, g_besideTarget, PROGRAM_PATH_SIZE) &&
                  TurnIntoExe(g_besideTarget);
    if (TurnIntoExe(g_program)) {
        found = LookAt(g_program, ours);
        // Reached by a link from a folder without the program: the one
        // beside the file the link leads to is the one installed with us.
        if (found == PROGRAM_MISSING && targetNamed) {
            foundBesideTarget = LookAt(g_besideTarget, ours);
            if (foundBesideTarget != PROGRAM_MISSING) {
                wcscpy(g_program, g_besideTarget);
                found = foundBesideTarget;
            }
        }
    }
    SeeFilesAsRedirected();
    if (found == PROGRAM_NONE) {
        SetLastError(ERROR_INVALID_NAME);
        return NULL;
    }
    return g_program;
}
