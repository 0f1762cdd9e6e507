// Dorvale: the package installer's setup entry points for the handheld
// client. Before installation and removal it makes sure the client is closed;
// it removes the client's Startup shortcut, grants desktop Remote API access
// for as long as the client is installed, runs the new client once with
// "/SETVERSION", and at removal clears the client's data folders, the
// installation directory's files and its per-user key. Nothing is kept
// between calls but the Remote API policy that the grant replaced.
#include <windows.h>
#include <shlobj.h>

#include "BoundedString.h"
#include "ClientContract.h"
#include "DeviceCompat.h"
#include "RemoteApiPolicy.h"
#include "SetupEntryPoints.h"
#include "SetupMessage.h"

// The client path in Install_Exit has room for a longer directory.
#define CLIENT_PROGRAM_PATH_CHARS   300

// How long the client gets to close, and to finish "/SETVERSION"; how long
// an ended client may take to be gone.
#define CLOSE_PAUSE_MS              1000
#define SETVERSION_WAIT_MS          5000
#define TERMINATE_WAIT_MS           2000

extern "C" BOOL WINAPI DllMain(HANDLE module, DWORD reason, LPVOID reserved);

// Asks a running client to end and gives it one second. True when no client
// window is left.
static BOOL RequestClientExit(void)
{
    HWND window = FindWindowW(CLIENT_WINDOW_CLASS, CLIENT_WINDOW_TITLE);
    if (window == NULL)
        return TRUE;
    PostMessageW(window, CLIENT_CLOSE_REQUEST, 0, 0);
    Sleep(CLOSE_PAUSE_MS);
    return FindWindowW(CLIENT_WINDOW_CLASS, CLIENT_WINDOW_TITLE) == NULL;
}

// Reads the installation directory into a new string the caller releases with
// LocalFree. NULL when there is no usable directory: no key, no value, not a
// string, or not a path to a folder below a root (an empty, root or relative
// directory would turn the paths built from it into paths outside the
// installation).
static LPWSTR ReadInstallDir(void)
{
    HKEY key;
    DWORD type = 0;
    DWORD size = 0;
    LPWSTR directory = NULL;

    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, CLIENT_INSTALL_KEY, 0,
                      DEVICE_KEY_ACCESS(KEY_QUERY_VALUE), &key)
        != ERROR_SUCCESS)
        return NULL;

    if (RegQueryValueExW(key, CLIENT_INSTALL_DIR_VALUE, NULL, &type, NULL,
                         &size) == ERROR_SUCCESS
        && type == REG_SZ && size != 0) {
        // The zero-filled tail terminates data stored without a terminator;
        // an odd size needs one byte more to end on a whole character.
        directory = (LPWSTR)LocalAlloc(LMEM_ZEROINIT, size + 2 + (size & 1));
        if (directory != NULL
            && (RegQueryValueExW(key, CLIENT_INSTALL_DIR_VALUE, NULL, &type,
                                 (LPBYTE)directory, &size) != ERROR_SUCCESS
                || type != REG_SZ || !IsInstallDirPath(directory))) {
            LocalFree(directory);
            directory = NULL;
        }
    }

    RegCloseKey(key);
    return directory;
}

// Deletes the client's shortcut from the Startup folder, if both exist, even
// when marked read-only: it is the client's own. The shell of Pocket PC 2002
// and earlier returns FALSE even when it has filled in the folder, so the
// buffer, cleared first, tells instead of the result.
static void RemoveStartupShortcut(void)
{
    WCHAR folder[CLIENT_PATH_CHARS];
    WCHAR shortcut[CLIENT_PATH_CHARS];

    ZeroMemory(folder, sizeof(folder));
    SHGetSpecialFolderPath(NULL, folder, CSIDL_STARTUP, FALSE);
    if (HoldsString(folder, CLIENT_PATH_CHARS)
        && JoinString(shortcut, CLIENT_PATH_CHARS, folder,
                      CLIENT_STARTUP_SHORTCUT, NULL)) {
        SetFileAttributesW(shortcut, FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(shortcut);
    }
}

// Deletes every entry directly in directory that is not read-only. Deleting a
// subdirectory or a file in use fails and is passed over; an entry whose path
// would not fit is left alone.
static void EmptyDirectory(LPCWSTR directory)
{
    WCHAR pattern[CLIENT_PATH_CHARS];
    WCHAR entryPath[CLIENT_PATH_CHARS];
    WIN32_FIND_DATAW entry;
    HANDLE search;

    if (!JoinString(pattern, CLIENT_PATH_CHARS, directory, L"\\*", NULL))
        return;
    search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;

    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0
            && JoinString(entryPath, CLIENT_PATH_CHARS, directory, L"\\",
                          entry.cFileName))
            DeleteFileW(entryPath);
    } while (FindNextFileW(search, &entry));

    FindClose(search);
}

// Removes the client's per-user key with all it holds. A key that is already
// gone, or cannot be deleted, does not stop the removal, so the outcome is
// not looked at.
static void DeleteSettingsKey(void)
{
    DeleteKeyTree(HKEY_CURRENT_USER, CLIENT_SETTINGS_KEY);
}

// Removes directory plus suffix if it is empty; skipped if the path would
// not fit.
static void RemoveEmptyFolder(LPCWSTR directory, LPCWSTR suffix)
{
    WCHAR path[CLIENT_PATH_CHARS];

    if (JoinString(path, CLIENT_PATH_CHARS, directory, suffix, NULL))
        RemoveDirectoryW(path);
}

// The client's program path in program (CLIENT_PROGRAM_PATH_CHARS), from
// the registry rather than the installer's argument. False when there is no
// usable installation directory or the path would not fit.
static BOOL ReadClientProgram(LPWSTR program)
{
    LPWSTR directory = ReadInstallDir();
    BOOL fits;

    if (directory == NULL)
        return FALSE;
    fits = JoinString(program, CLIENT_PROGRAM_PATH_CHARS, directory,
                      CLIENT_PROGRAM_NAME, NULL);
    LocalFree(directory);
    return fits;
}

// Starts the client once with "/SETVERSION" and waits for it to end. One that
// has not ended in time is ended here: the installer undoes the installation
// next, and a client still running would keep its files from being removed.
static BOOL RunClientSetVersion(LPCWSTR program, BOOL *ended)
{
    WCHAR commandLine[] = CLIENT_SETVERSION_SWITCH;
    PROCESS_INFORMATION process;

    *ended = FALSE;
    if (!StartProgram(program, commandLine, &process))
        return FALSE;

    *ended = WaitForSingleObject(process.hProcess, SETVERSION_WAIT_MS)
             == WAIT_OBJECT_0;
    if (!*ended && TerminateProcess(process.hProcess, 1)) {
        // Termination completes after the call returns.
        WaitForSingleObject(process.hProcess, TERMINATE_WAIT_MS);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return TRUE;
}

BOOL WINAPI DllMain(HANDLE module, DWORD reason, LPVOID reserved)
{
    (void)module;
    (void)reason;
    (void)reserved;
    return TRUE;
}

codeINSTALL_INIT Install_Init(HWND parent, BOOL firstCall,
                              BOOL previouslyInstalled, LPCWSTR installDir)
{
    (void)parent;
    (void)firstCall;
    (void)previouslyInstalled;
    (void)installDir;

    // The shortcut goes first: a client started at the next boot from an
    // old shortcut would hold the files open.
    RemoveStartupShortcut();
    if (!RequestClientExit()) {
        ShowSetupMessage(L"Client cannot be shutdown: reset device.",
                         L"Install Init Error");
        return codeINSTALL_INIT_CANCEL;
    }
    GrantRemoteApiAccess();
    return codeINSTALL_INIT_CONTINUE;
}

codeINSTALL_EXIT Install_Exit(HWND parent, LPCWSTR installDir,
                              WORD failedDirs, WORD failedFiles,
                              WORD failedRegKeys, WORD failedRegValues,
                              WORD failedShortcuts)
{
    WCHAR program[CLIENT_PROGRAM_PATH_CHARS];
    BOOL ended = FALSE;
    LPCWSTR failure = NULL;
    LPCWSTR caption = NULL;

    (void)parent;
    (void)installDir;
    (void)failedDirs;
    (void)failedFiles;
    (void)failedRegKeys;
    (void)failedRegValues;
    (void)failedShortcuts;

    // An upgrade has run the old package's removal since Install_Init, which
    // may have put the old policy back.
    GrantRemoteApiAccess();
    if (!ReadClientProgram(program) || !RunClientSetVersion(program, &ended)) {
        failure = L"Failed to execute Client";
        caption = L"Install Exit Error 1";
    } else if (!ended) {
        failure = L"Client failed to run";
        caption = L"Install Exit Error 2";
    }
    if (failure == NULL)
        return codeINSTALL_EXIT_DONE;

    // The installation is undone: the grant goes with it, as at a removal.
    ShowSetupMessage(failure, caption);
    RestoreRemoteApiAccess();
    return codeINSTALL_EXIT_UNINSTALL;
}

codeUNINSTALL_INIT Uninstall_Init(HWND parent, LPCWSTR installDir)
{
    WCHAR temp[CLIENT_PATH_CHARS];
    LPWSTR directory;

    (void)parent;
    (void)installDir;

    if (!RequestClientExit()) {
        ShowSetupMessage(L"Failed to shutdown Client", L"Uninstall Init Error");
        return codeUNINSTALL_INIT_CANCEL;
    }

    // Without a known installation there are no folders to clear, but the
    // key and the shortcut still belong to the client being removed.
    directory = ReadInstallDir();
    if (directory != NULL) {
        // Data folders go only when empty: they may hold the user's data.
        RemoveEmptyFolder(directory, CLIENT_OUTGOING_FOLDER);
        RemoveEmptyFolder(directory, CLIENT_MEDIA_FOLDER);
        if (JoinString(temp, CLIENT_PATH_CHARS, directory, CLIENT_TEMP_FOLDER,
                       NULL)) {
            EmptyDirectory(temp);
            RemoveDirectoryW(temp);
        }
        EmptyDirectory(directory);
        LocalFree(directory);
    }

    DeleteSettingsKey();
    RemoveStartupShortcut();
    return codeUNINSTALL_INIT_CONTINUE;
}

codeUNINSTALL_EXIT Uninstall_Exit(HWND parent)
{
    (void)parent;
    // The grant goes with the client.
    RestoreRemoteApiAccess();
    return codeUNINSTALL_EXIT_DONE;
}
