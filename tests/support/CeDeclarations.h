// For the check that compiles the device libraries' CE branches with the
// desktop compiler: what the Windows CE headers declare differently from the
// desktop ones, as the CE documentation gives it. Forced in ahead of each
// source, after the desktop headers it amends.
#include <windows.h>
#include <shlobj.h>

extern "C" {

// CE looks exports up by wide name; GetProcAddress is this function's macro.
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/ms885634(v=msdn.10)
FARPROC WINAPI GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName);
#define GetProcAddress GetProcAddressW

// The CE shell's function carries no W; it is Unicode only.
// https://learn.microsoft.com/en-us/previous-versions/windows/embedded/aa453707(v=msdn.10)
#undef SHGetSpecialFolderPath
BOOL WINAPI SHGetSpecialFolderPath(HWND hwndOwner, LPWSTR lpszPath,
                                   int nFolder, BOOL fCreate);
}

// Desktop functions CE lacks: a CE branch that names one is wrong.
#pragma GCC poison RegDeleteTreeW SHGetSpecialFolderPathW
