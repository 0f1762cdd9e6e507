// The few places where desktop Windows, used to build and test the device
// libraries, differs from Windows CE.
#ifndef DEVICE_COMPAT_H
#define DEVICE_COMPAT_H

#include <windows.h>

#ifndef UNDER_CE

// Windows CE looks exports up by wide name; desktop Windows only by narrow
// name. Export names are plain ASCII, so narrowing loses nothing; a name too
// long for the buffer is not looked up.
static inline FARPROC GetProcAddressW(HMODULE module, LPCWSTR name)
{
    char narrow[64];
    int i = 0;
    for (; name[i] != L'\0'; ++i) {
        if (i + 1 >= (int)sizeof(narrow) || name[i] > 0x7F)
            return NULL;
        narrow[i] = (char)name[i];
    }
    narrow[i] = '\0';
    return GetProcAddress(module, narrow);
}

#endif

#endif
