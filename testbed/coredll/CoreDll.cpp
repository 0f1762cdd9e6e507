// Desktop stand-in for the Windows CE core library's hook functions: passes
// them on to user32, translating the CE hook type numbers that differ.
#include <windows.h>

// WH_KEYBOARD_LL is 20 on Windows CE and 13 on desktop Windows.
static int DesktopHookType(int ceType)
{
    return ceType == 20 ? WH_KEYBOARD_LL : ceType;
}

extern "C" HHOOK WINAPI CoreSetWindowsHookExW(int type, HOOKPROC proc, HINSTANCE module, DWORD thread)
{
    return SetWindowsHookExW(DesktopHookType(type), proc, module, thread);
}

extern "C" BOOL WINAPI CoreUnhookWindowsHookEx(HHOOK hook)
{
    return UnhookWindowsHookEx(hook);
}

extern "C" LRESULT WINAPI CoreCallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam)
{
    return CallNextHookEx(hook, code, wParam, lParam);
}
