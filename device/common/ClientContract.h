// Names and values by which the device libraries find, close, start and clean
// up after the handheld client. Both libraries take them from here only.
#ifndef CLIENT_CONTRACT_H
#define CLIENT_CONTRACT_H

#include <windows.h>

#include "DeviceCompat.h"

// Machine-wide installation key, written when the client is installed.
#define CLIENT_INSTALL_KEY          L"Software\\Apps\\Pelorin Client"
#define CLIENT_INSTALL_DIR_VALUE    L"InstallDir"

// The client's per-user key and the restart flag kept under it.
#define CLIENT_SETTINGS_KEY         L"Software\\Pelorin"
#define CLIENT_AUTO_RESTART_VALUE   L"AutoRestart"

// Program file, appended to the installation directory.
#define CLIENT_PROGRAM_NAME         L"\\Client.exe"

// The client's main window, found by class and title.
#define CLIENT_WINDOW_CLASS         L"PL3WNDCLASS"
#define CLIENT_WINDOW_TITLE         L"Pelorin"

// Posted (both parameters 0) to ask the client to end.
#define CLIENT_CLOSE_REQUEST        (WM_USER + 255)

// Whole command lines the client is started with.
#define CLIENT_RESTART_SWITCH       L"/RESTART"
#define CLIENT_SETVERSION_SWITCH    L"/SETVERSION"

// Startup-folder shortcut, appended to the Startup folder path.
#define CLIENT_STARTUP_SHORTCUT     L"\\Pelorin.lnk"

// Data folders, appended to the installation directory.
#define CLIENT_OUTGOING_FOLDER      L"\\Outgoing"
#define CLIENT_MEDIA_FOLDER         L"\\Media"
#define CLIENT_TEMP_FOLDER          L"\\Temp"

// Size of a path buffer in characters, terminator included.
#define CLIENT_PATH_CHARS           260

static inline BOOL IsPathSeparator(WCHAR c)
{
    return c == L'\\' || c == L'/';
}

// Whether the folder named by the first length characters of path, directly
// below a root, is a mounted volume. CE shows a storage card as such a folder
// and tells it from an object-store folder by the temporary mark; desktop
// Windows puts no such mark on a folder. A name too long to look at is not
// trusted.
static inline BOOL IsVolumeFolder(LPCWSTR path, size_t length)
{
    WCHAR folder[CLIENT_PATH_CHARS];
    DWORD attributes;

    if (length >= CLIENT_PATH_CHARS)
        return TRUE;
    CopyMemory(folder, path, length * sizeof(WCHAR));
    folder[length] = L'\0';
    attributes = GetFileAttributesW(folder);
    return attributes != INVALID_FILE_ATTRIBUTES
           && (attributes & FILE_ATTRIBUTE_TEMPORARY) != 0;
}

// Whether an installation directory may be used at all: an absolute path
// naming a folder below a root. Removal deletes files in it and folders
// beside its data, so a root, or a relative path resolved against whatever
// folder is current, would reach files that are not the client's. Absolute
// is "\..." on CE, a drive letter on the desktop, and a UNC share on both. A
// part made of dots and blanks alone is refused too: desktop Windows reads
// "C:\x\.." and "C:\ ." as the root. A volume's folder directly below the
// root (a storage card) counts as a root; folders deeper in it do not.
static inline BOOL IsInstallDirPath(LPCWSTR path)
{
    LPCWSTR rest = path;
    LPCWSTR part;
    LPCWSTR firstEnd = NULL;
    BOOL partNamed;
    int named = 0;
    int rootParts = 0;

    if (IsPathSeparator(rest[0]) && IsPathSeparator(rest[1])) {
        rest += 2;
        rootParts = 2;  // "\\server\share" is the root itself
#ifdef DEVICE_IS_CE
    } else if (IsPathSeparator(rest[0])) {
        rest += 1;
#else
    } else if (((rest[0] >= L'A' && rest[0] <= L'Z')
                || (rest[0] >= L'a' && rest[0] <= L'z'))
               && rest[1] == L':' && IsPathSeparator(rest[2])) {
        rest += 3;
#endif
    } else {
        return FALSE;
    }

    // Below the root every part must hold a name; empty parts do not count.
    while (*rest != L'\0') {
        part = rest;
        partNamed = FALSE;
        for (; *rest != L'\0' && !IsPathSeparator(*rest); ++rest) {
            if (*rest != L'.' && *rest != L' ')
                partNamed = TRUE;
        }
        if (rest != part && !partNamed)
            return FALSE;
        if (rootParts > 0) {
            // The server and the share name the root, not a folder in it.
            if (rest == part)
                return FALSE;
            --rootParts;
            partNamed = FALSE;
        }
        if (partNamed && ++named == 1)
            firstEnd = rest;
        if (*rest != L'\0')
            ++rest;
    }
    if (named == 0)
        return FALSE;
    return named > 1 || !IsVolumeFolder(path, (size_t)(firstEnd - path));
}

#endif
