// The few places where desktop Windows, used to build and test the device
// libraries, differs from Windows CE.
#ifndef DEVICE_COMPAT_H
#define DEVICE_COMPAT_H

#include <windows.h>

// CE compilers announce the platform in different ways: UNDER_CE by the
// build's own definition, __UNDER_CE__ by CeGCC in its ISO modes, _WIN32_WCE
// by the SDK headers. The device code asks only this.
#if defined(UNDER_CE) || defined(__UNDER_CE__) || defined(_WIN32_WCE)
#define DEVICE_IS_CE 1
#endif

// Looked-up exports pass through the generic function type on their way to
// their own.
typedef void (*AnyFunction)(void);

#ifndef DEVICE_IS_CE

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

// The access mask of RegOpenKeyExW and RegCreateKeyExW: CE documents it as
// unsupported and to be 0; desktop Windows grants only what it names.
#ifdef DEVICE_IS_CE
#define DEVICE_KEY_ACCESS(desktopMask) 0
#else
#define DEVICE_KEY_ACCESS(desktopMask) (desktopMask)
#endif

// Starts program with commandLine (which CreateProcessW may write to): no
// inheritance, no environment or folder of its own. Windows CE takes no
// startup record; desktop Windows faults without one.
static inline BOOL StartProgram(LPCWSTR program, LPWSTR commandLine,
                                PROCESS_INFORMATION *process)
{
    STARTUPINFOW *startup = NULL;
#ifndef DEVICE_IS_CE
    STARTUPINFOW desktopStartup;

    ZeroMemory(&desktopStartup, sizeof(desktopStartup));
    desktopStartup.cb = sizeof(desktopStartup);
    startup = &desktopStartup;
#endif
    ZeroMemory(process, sizeof(*process));
    return CreateProcessW(program, commandLine, NULL, NULL, FALSE, 0, NULL,
                          NULL, startup, process);
}

// Deletes a registry key with everything below it, as RegDeleteKeyW does on
// Windows CE; on desktop Windows it refuses a key that has subkeys.
static inline LONG DeleteKeyTree(HKEY root, LPCWSTR subkey)
{
#ifdef DEVICE_IS_CE
    return RegDeleteKeyW(root, subkey);
#else
    return RegDeleteTreeW(root, subkey);
#endif
}

#ifdef DEVICE_IS_CE
// operator delete[](void *) as coredll exports it, by the platform
// compiler's name for it.
#define CE_ARRAY_DELETE_EXPORT L"??_V@YAXPAX@Z"
typedef void (*ArrayDeleteFunction)(void *);
#endif

// Releases a block that a platform library allocated with its compiler's
// new[]. On CE it goes back through coredll's own operator delete[], since
// this compiler's delete[] may work on another heap; where that cannot be
// found the block is left, which costs less than freeing it into the wrong
// heap. The desktop stand-ins allocate with this compiler's new[].
static inline void ReleasePlatformArray(WCHAR *block)
{
#ifdef DEVICE_IS_CE
    HMODULE core;
    ArrayDeleteFunction arrayDelete;

    if (block == NULL)
        return;
    core = LoadLibraryW(L"coredll.dll");
    if (core == NULL)
        return;
    arrayDelete = (ArrayDeleteFunction)(AnyFunction)GetProcAddressW(
        core, CE_ARRAY_DELETE_EXPORT);
    if (arrayDelete != NULL)
        arrayDelete(block);
    FreeLibrary(core);
#else
    delete[] block;
#endif
}

#endif
