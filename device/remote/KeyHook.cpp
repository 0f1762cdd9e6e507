// HookKeys: the system-wide suppression of a fixed set of hardware keys,
// while a device program asks for it.
#include <windows.h>

#include "DeviceCompat.h"
#include "KeyHook.h"

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

#define MUTEX_ATTEMPTS      100
#define MUTEX_RETRY_MS      10

typedef HHOOK (WINAPI *SetHookFunction)(int, HOOKPROC, HINSTANCE, DWORD);
typedef BOOL (WINAPI *UnhookFunction)(HHOOK);
typedef LRESULT (WINAPI *NextHookFunction)(HHOOK, int, WPARAM, LPARAM);

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

void AttachKeyHook(HINSTANCE module)
{
    g_module = module;
    InitializeCriticalSection(&g_hookLock);
}

void DetachKeyHook(BOOL unloaded)
{
    // No call can be running once the last reference is gone. Unloaded
    // while on, a hook left behind would point into freed code.
    if (unloaded && g_hookMutex != NULL)
        TurnSuppressionOff();
    DeleteCriticalSection(&g_hookLock);
}
