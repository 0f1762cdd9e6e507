// Sembrin: remote calls that close and restart the handheld client, and the
// library's entry point; the suppression of hardware keys is in KeyHook.cpp.
#include <windows.h>

#include "BoundedString.h"
#include "ClientContract.h"
#include "DeviceCompat.h"
#include "KeyHook.h"

#define SHUTDOWN_POLLS      20
#define SHUTDOWN_POLL_MS    250

#define NOT_INSTALLED_TEXT    L"Client is not installed properly. Please re-install."
#define NOT_INSTALLED_CAPTION L"Client Error"

// The remote API service's stream interface; never used, so left opaque.
struct RemoteStream;

// Client lifecycle state, kept while the service keeps the library loaded.
static LONG g_installed = 0;
static LONG g_warned = 0;
static WCHAR g_installDir[CLIENT_PATH_CHARS];
static WCHAR g_clientPath[CLIENT_PATH_CHARS];

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
        // The service is not in the foreground: a plain box would open
        // behind whatever is, and hold the remote call where nobody sees it.
        MessageBoxW(NULL, NOT_INSTALLED_TEXT, NOT_INSTALLED_CAPTION,
                    MB_OK | MB_SETFOREGROUND);
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

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        AttachKeyHook(module);
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        // At process exit (reserved set) the platform cleans up instead.
        DetachKeyHook(reserved == NULL);
    }
    return TRUE;
}
