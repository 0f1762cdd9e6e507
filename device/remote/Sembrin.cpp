// Sembrin: remote calls that close and restart the handheld client, and the
// system-wide suppression of a fixed set of hardware keys.
#include <windows.h>

#include "BoundedString.h"
#include "ClientContract.h"
#include "DeviceCompat.h"

// The platform's low-level keyboard hook type on Windows CE; the desktop
// stand-in of coredll.dll translates it.
#define CE_WH_KEYBOARD_LL   20

// CE refuses a backslash in a kernel object's name; desktop Windows reads
// "Global\" as the namespace shared by every session.
#ifdef DEVICE_IS_CE
#define KEY_HOOK_MUTEX_NAME L"PelorinKeyHook"
#else
#define KEY_HOOK_MUTEX_NAME L"Global\\PelorinKeyHook"
#endif

#define SHUTDOWN_POLLS      20
#define SHUTDOWN_POLL_MS    250
#define MUTEX_ATTEMPTS      100
#define MUTEX_RETRY_MS      10

#define NOT_INSTALLED_TEXT    L"Client is not installed properly. Please re-install."
#define NOT_INSTALLED_CAPTION L"Client Error"

typedef HHOOK (WINAPI *SetHookFunction)(int, HOOKPROC, HINSTANCE, DWORD);
typedef BOOL (WINAPI *UnhookFunction)(HHOOK);
typedef LRESULT (WINAPI *NextHookFunction)(HHOOK, int, WPARAM, LPARAM);

// The remote API service's stream interface; never used, so left opaque.
struct RemoteStream;

// Client lifecycle state, kept while the service keeps the library loaded.
static LONG g_installed = 0;
static LONG g_warned = 0;
static WCHAR g_installDir[CLIENT_PATH_CHARS];
static WCHAR g_clientPath[CLIENT_PATH_CHARS];

// Key suppression state. HookKeys may be called from any thread, so its calls
// take turns through one lock, set up at process attach; the hook procedure
// runs in any context and never takes it.
static CRITICAL_SECTION g_hookLock;
static HINSTANCE g_module = NULL;
static LONG g_firstHookCall = 1;
static SetHookFunction g_setHook = NULL;
static UnhookFunction g_unhook = NULL;
static NextHookFunction g_nextHook = NULL;
static HANDLE g_hookMutex = NULL;
static HHOOK g_hook = NULL;

static const DWORD g_suppressedKeys[] = {
    0x5B, 0x79, 0x7A, 0x80, 0x86, 0x87, 0xC1, 0xC2, 0xC3, 0xC4, 0xC6
};

// A value counts only as a zero-terminated installation path that leaves
// room for the program name; anything else would be cut, read past its end,
// or name a program outside any installation.
static BOOL IsUsableInstallDir(DWORD size)
{
    DWORD chars = size / sizeof(WCHAR);
    DWORD i;

    for (i = 0; i < chars; ++i) {
        if (g_installDir[i] == L'\0')
            break;
    }
    if (i == chars || !IsInstallDirPath(g_installDir))
        return FALSE;
    return JoinString(g_clientPath, CLIENT_PATH_CHARS, g_installDir,
                      CLIENT_PROGRAM_NAME, NULL);
}

static BOOL ResolveClientPath(void)
{
    HKEY key = NULL;
    DWORD size = sizeof(g_installDir);

    if (g_installed)
        return TRUE;

    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, CLIENT_INSTALL_KEY, 0,
                      DEVICE_KEY_ACCESS(KEY_READ), &key) == ERROR_SUCCESS) {
        // The value type is not examined: only the characters count.
        if (RegQueryValueExW(key, CLIENT_INSTALL_DIR_VALUE, NULL, NULL,
                             (BYTE *)g_installDir, &size) != ERROR_SUCCESS
            || !IsUsableInstallDir(size)) {
            g_installDir[0] = L'\0';
        }
        RegCloseKey(key);
    }

    if (g_installDir[0] != L'\0') {
        g_installed = 1;
        return TRUE;
    }

    g_installed = 0;
    g_clientPath[0] = L'\0';
    if (!g_warned) {
        g_warned = 1;
        MessageBoxW(NULL, NOT_INSTALLED_TEXT, NOT_INSTALLED_CAPTION, MB_OK);
    }
    return FALSE;
}

static DWORD ReadAutoRestart(void)
{
    HKEY key = NULL;
    DWORD value = 0;
    DWORD size = sizeof(value);
    LONG status;

    if (RegOpenKeyExW(HKEY_CURRENT_USER, CLIENT_SETTINGS_KEY, 0,
                      DEVICE_KEY_ACCESS(MAXIMUM_ALLOWED), &key)
        != ERROR_SUCCESS)
        return 0;
    status = RegQueryValueExW(key, CLIENT_AUTO_RESTART_VALUE, NULL, NULL,
                              (BYTE *)&value, &size);
    RegCloseKey(key);
    // A shorter value would leave part of the word unset: it counts as 0.
    if (status != ERROR_SUCCESS || size != sizeof(value))
        return 0;
    return value;
}

static void WriteAutoRestart(DWORD value)
{
    HKEY key = NULL;

    if (RegCreateKeyExW(HKEY_CURRENT_USER, CLIENT_SETTINGS_KEY, 0, NULL, 0,
                        DEVICE_KEY_ACCESS(MAXIMUM_ALLOWED), NULL, &key, NULL)
        != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, CLIENT_AUTO_RESTART_VALUE, 0, REG_DWORD,
                   (const BYTE *)&value, sizeof(value));
    RegCloseKey(key);
}

static void ClearOutput(DWORD *pcbOutput, BYTE **ppOutput)
{
    if (pcbOutput != NULL)
        *pcbOutput = 0;
    if (ppOutput != NULL)
        *ppOutput = NULL;
}

// The remote API service hands the input block over to the called function,
// so it is released here on every path. It releases whatever the outputs
// point at, so they are cleared first, on every path too.
extern "C" HRESULT WINAPI ShutdownClient(DWORD cbInput, BYTE *pInput,
                                         DWORD *pcbOutput, BYTE **ppOutput,
                                         RemoteStream *pStream)
{
    HRESULT result = E_FAIL;
    HWND window;
    int poll;

    (void)cbInput;
    (void)pStream;
    ClearOutput(pcbOutput, ppOutput);
    if (ResolveClientPath()) {
        window = FindWindowW(CLIENT_WINDOW_CLASS, CLIENT_WINDOW_TITLE);
        WriteAutoRestart(window != NULL ? 1 : 0);
        if (window == NULL) {
            result = S_OK;
        } else {
            PostMessageW(window, CLIENT_CLOSE_REQUEST, 0, 0);
            for (poll = 0; poll < SHUTDOWN_POLLS; ++poll) {
                if (FindWindowW(CLIENT_WINDOW_CLASS, CLIENT_WINDOW_TITLE)
                    == NULL) {
                    result = S_OK;
                    break;
                }
                Sleep(SHUTDOWN_POLL_MS);
            }
        }
    }

    if (pInput != NULL)
        LocalFree(pInput);
    return result;
}

extern "C" HRESULT WINAPI RestartClient(DWORD cbInput, BYTE *pInput,
                                        DWORD *pcbOutput, BYTE **ppOutput,
                                        RemoteStream *pStream)
{
    HRESULT result = E_FAIL;
    BOOL forced;
    PROCESS_INFORMATION process;
    WCHAR commandLine[] = CLIENT_RESTART_SWITCH;

    (void)pStream;
    ClearOutput(pcbOutput, ppOutput);
    if (ResolveClientPath()) {
        forced = cbInput == 1 && pInput != NULL && pInput[0] != 0;
        if (ReadAutoRestart() == 0 && !forced) {
            result = S_OK;
        } else {
            if (StartProgram(g_clientPath, commandLine, &process)) {
                // Nothing waits for the client; its handles are not needed.
                CloseHandle(process.hThread);
                CloseHandle(process.hProcess);
                result = S_OK;
            }
        }
    }

    if (pInput != NULL)
        LocalFree(pInput);
    return result;
}

// Suppression is on exactly while some process holds the named mutex, so the
// hook can be called in any process and still tell.
static LRESULT CALLBACK KeyHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    BOOL suppressing = FALSE;
    HANDLE probe;
    DWORD virtualKey;
    size_t i;

    probe = CreateMutexW(NULL, FALSE, KEY_HOOK_MUTEX_NAME);
    if (probe != NULL) {
        suppressing = GetLastError() == ERROR_ALREADY_EXISTS;
        CloseHandle(probe);
    }

    if (suppressing && code >= 0) {
        // The record's first field is the virtual-key code.
        virtualKey = *(const DWORD *)lParam;
        for (i = 0; i < sizeof(g_suppressedKeys) / sizeof(g_suppressedKeys[0]);
             ++i) {
            if (g_suppressedKeys[i] == virtualKey)
                return 1;
        }
    }
    return g_nextHook(g_hook, code, wParam, lParam);
}

static void TurnSuppressionOff(void)
{
    CloseHandle(g_hookMutex);
    g_hookMutex = NULL;
    g_unhook(g_hook);
}

static void FindHookFunctions(void)
{
    // Kept loaded for the library's lifetime: the hook calls through it.
    HMODULE core = LoadLibraryW(L"coredll.dll");

    if (core == NULL)
        return;
    g_setHook = (SetHookFunction)(AnyFunction)
        GetProcAddressW(core, L"SetWindowsHookExW");
    g_unhook = (UnhookFunction)(AnyFunction)
        GetProcAddressW(core, L"UnhookWindowsHookEx");
    g_nextHook = (NextHookFunction)(AnyFunction)
        GetProcAddressW(core, L"CallNextHookEx");
}

// Takes the named mutex, waiting out another holder or a hook procedure's
// short-lived probe, and installs the hook while holding it.
static void TurnSuppressionOn(void)
{
    HANDLE mutex = NULL;
    int attempt;

    for (attempt = 0; attempt < MUTEX_ATTEMPTS; ++attempt) {
        mutex = CreateMutexW(NULL, TRUE, KEY_HOOK_MUTEX_NAME);
        if (mutex == NULL)
            continue;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
        CloseHandle(mutex);
        mutex = NULL;
        Sleep(MUTEX_RETRY_MS);
    }
    if (mutex == NULL)
        return;

    g_hook = g_setHook(CE_WH_KEYBOARD_LL, KeyHookProc, g_module, 0);
    if (g_hook == NULL) {
        // Holding the mutex without a hook would only keep every other
        // process from turning suppression on.
        CloseHandle(mutex);
        return;
    }
    g_hookMutex = mutex;
}

// The lock is held throughout, the wait for another process's mutex
// included, so each call sees the state the previous one left.
extern "C" BOOL WINAPI HookKeys(BOOL enable)
{
    BOOL result = TRUE;

    EnterCriticalSection(&g_hookLock);
    if (g_firstHookCall) {
        FindHookFunctions();
        g_firstHookCall = 0;
    }
    if (g_setHook == NULL || g_unhook == NULL || g_nextHook == NULL) {
        result = FALSE;
    } else {
        if (g_hookMutex != NULL)
            TurnSuppressionOff();
        if (enable)
            TurnSuppressionOn();
    }
    LeaveCriticalSection(&g_hookLock);
    return result;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        InitializeCriticalSection(&g_hookLock);
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        // No call can be running once the last reference is gone. Unloaded
        // while on, a hook left behind would point into freed code; at
        // process exit (reserved set) the platform cleans up instead.
        if (reserved == NULL && g_hookMutex != NULL)
            TurnSuppressionOff();
        DeleteCriticalSection(&g_hookLock);
    }
    return TRUE;
}
