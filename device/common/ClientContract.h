// Names and values by which the device libraries find, close, start and clean
// up after the handheld client. Both libraries take them from here only.
#ifndef CLIENT_CONTRACT_H
#define CLIENT_CONTRACT_H

#include <windows.h>

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

#endif
