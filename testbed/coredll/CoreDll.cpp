// Desktop stand-in for the Windows CE core library's hook functions: passes
// them on to user32, translating the CE hook type numbers that differ. It also
// counts the hooks it has installed and not yet removed, so tests can see a
// hook left behind, which Wine would otherwise hide, and refuses every hook
// while COREDLL_REFUSE_HOOKS is set, so tests can see a failed install. It
// counts the calls of CallNextHookEx, so tests can see a hook procedure run,
// and leaves a hook in place (reporting success) when asked to remove it
// while COREDLL_KEEP_HOOKS is set, so tests can run the hook procedure with
// suppression off.
#include <windows.h>

static LONG g_liveHooks = 0;
static LONG g_nextHookCalls = 0;

static bool EnvSet(const wchar_t *name)
{
    return GetEnvironmentVariableW(name, nullptr, 0) > 0;
}

// WH_KEYBOARD_LL is 20 on Windows CE and 13 on desktop Windows.
static int DesktopHookType(int ceType)
{
    return ceType == 20 ? WH_KEYBOARD_LL : ceType;
}

extern "C" HHOOK WINAPI CoreSetWindowsHookExW(int type, HOOKPROC proc, HINSTANCE module, DWORD thread)
{
    if (EnvSet(L"COREDLL_REFUSE_HOOKS")) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HHOOK hook = SetWindowsHookExW(DesktopHookType(type), proc, module, thread);
    if (hook != nullptr)
        InterlockedIncrement(&g_liveHooks);
    return hook;
}

extern "C" BOOL WINAPI CoreUnhookWindowsHookEx(HHOOK hook)
{
    if (EnvSet(L"COREDLL_KEEP_HOOKS"))
        return TRUE;
    BOOL removed = UnhookWindowsHookEx(hook);
    if (removed)
        InterlockedDecrement(&g_liveHooks);
    return removed;
}

extern "C" LRESULT WINAPI CoreCallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam)
{
    InterlockedIncrement(&g_nextHookCalls);
    return CallNextHookEx(hook, code, wParam, lParam);
}

// Testbed only: hooks installed through this library and still in place.
extern "C" LONG WINAPI TestbedLiveHooks()
{
    return g_liveHooks;
}

// Testbed only: calls of CallNextHookEx so far.
extern "C" LONG WINAPI TestbedNextHookCalls()
{
    return g_nextHookCalls;
}
