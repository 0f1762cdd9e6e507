// Policy 4097 (Remote API access: 0 off, 1 full, 2 restricted) through the
// handheld shell's configuration manager, where the device has one. The
// grant lets the desktop reach the client's remote calls; it must neither
// override an administrator who turned the Remote API off nor outlive the
// client.
#include <windows.h>

#include "BoundedString.h"
#include "ClientContract.h"
#include "DeviceCompat.h"
#include "RemoteApiPolicy.h"
#include "SetupMessage.h"

#define REMOTE_API_OFF              0
#define REMOTE_API_FULL             1

// Every document, and every answer looked at, fits here.
#define POLICY_TEXT_CHARS           CLIENT_PATH_CHARS

// The value a grant replaced, kept until the client is removed.
#define SETUP_KEY                   L"Software\\Pelorin\\Setup"
#define RECORD_VALUE                L"RemoteApiPolicy"

#define CFGFLAG_PROCESS             0x0001

static const WCHAR QUERY_DOCUMENT[] =
    L"<wap-provisioningdoc>"
    L"<characteristic type=\"SecurityPolicy\">"
    L"<parm-query name=\"4097\"/>"
    L"</characteristic>"
    L"</wap-provisioningdoc>";

// %lu is at most ten digits: the whole stays well inside POLICY_TEXT_CHARS.
static const WCHAR SET_DOCUMENT_FORMAT[] =
    L"<wap-provisioningdoc>"
    L"<characteristic type=\"SecurityPolicy\">"
    L"<parm name=\"4097\" value=\"%lu\"/>"
    L"</characteristic>"
    L"</wap-provisioningdoc>";

static const WCHAR ANSWER_VALUE[] = L"<parm name=\"4097\" value=\"";

typedef HRESULT (WINAPI *ProcessConfigXmlProc)(LPCWSTR document, DWORD flags,
                                               LPWSTR *output);

static BOOL StartsWith(LPCWSTR text, LPCWSTR prefix)
{
    for (; *prefix != L'\0'; ++text, ++prefix) {
        if (*text != *prefix)
            return FALSE;
    }
    return TRUE;
}

// The decimal value that text holds right after the value attribute's
// opening quote, up to its closing one. FALSE for anything else.
static BOOL ReadPolicyValue(LPCWSTR text, DWORD *value)
{
    int digits = 0;

    *value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        if (++digits > 9)
            return FALSE;
        *value = *value * 10 + (DWORD)(*text - L'0');
    }
    return digits > 0 && *text == L'"';
}

// Asks the configuration manager for policy 4097. FALSE when the query fails
// or its answer names no value; an answer too long for the buffer names none.
static BOOL QueryPolicy(ProcessConfigXmlProc processConfigXml, DWORD *value)
{
    WCHAR answer[POLICY_TEXT_CHARS];
    LPWSTR output = NULL;
    LPCWSTR at;
    BOOL found = FALSE;
    const size_t length = sizeof(ANSWER_VALUE) / sizeof(ANSWER_VALUE[0]) - 1;

    if (SUCCEEDED(processConfigXml(QUERY_DOCUMENT, CFGFLAG_PROCESS, &output))
        && output != NULL
        && JoinString(answer, POLICY_TEXT_CHARS, output, NULL, NULL)) {
        for (at = answer; *at != L'\0' && !found; ++at)
            found = StartsWith(at, ANSWER_VALUE)
                    && ReadPolicyValue(at + length, value);
    }
    // The configuration manager allocates its output with new[].
    ReleasePlatformArray(output);
    return found;
}

// Sets policy 4097 to value; with report, a failure is shown as it was
// before the policy was looked at. TRUE when the configuration manager
// took the document.
static BOOL SetPolicy(ProcessConfigXmlProc processConfigXml, DWORD value,
                      BOOL report)
{
    WCHAR document[POLICY_TEXT_CHARS];
    WCHAR message[POLICY_TEXT_CHARS];
    LPWSTR output = NULL;
    HRESULT result;

    wsprintfW(document, SET_DOCUMENT_FORMAT, (unsigned long)value);
    result = processConfigXml(document, CFGFLAG_PROCESS, &output);
    if (FAILED(result) && report) {
        wsprintfW(message, L"Failed to set security policy: %08lx",
                  (unsigned long)result);
        ShowSetupMessage(message, L"Error");
        if (output != NULL)
            ShowSetupMessage(output, L"XML Output");
    }
    ReleasePlatformArray(output);
    return SUCCEEDED(result);
}

// The configuration manager of the handheld shell; NULL, and nothing to
// release, where the device has none.
static HMODULE LoadConfigManager(ProcessConfigXmlProc *processConfigXml)
{
    HMODULE shell = LoadLibraryW(L"AYGSHELL.DLL");

    if (shell == NULL)
        return NULL;
    *processConfigXml = (ProcessConfigXmlProc)(AnyFunction)GetProcAddressW(
        shell, L"DMProcessConfigXML");
    if (*processConfigXml == NULL) {
        FreeLibrary(shell);
        return NULL;
    }
    return shell;
}

static void RecordReplacedPolicy(DWORD value)
{
    HKEY key;

    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, SETUP_KEY, 0, NULL, 0,
                        DEVICE_KEY_ACCESS(KEY_SET_VALUE), NULL, &key, NULL)
        != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, RECORD_VALUE, 0, REG_DWORD, (const BYTE *)&value,
                   sizeof(value));
    RegCloseKey(key);
}

// Reads and deletes the record, and the Setup key once nothing else is in
// it. TRUE when a record of four bytes was there.
static BOOL TakeRecordedPolicy(DWORD *value)
{
    HKEY key;
    DWORD size = sizeof(*value);
    DWORD subkeys = 1;
    DWORD values = 1;
    BOOL recorded;

    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SETUP_KEY, 0,
                      DEVICE_KEY_ACCESS(KEY_QUERY_VALUE | KEY_SET_VALUE), &key)
        != ERROR_SUCCESS)
        return FALSE;
    recorded = RegQueryValueExW(key, RECORD_VALUE, NULL, NULL, (LPBYTE)value,
                                &size) == ERROR_SUCCESS
               && size == sizeof(*value);
    RegDeleteValueW(key, RECORD_VALUE);
    RegQueryInfoKeyW(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values,
                     NULL, NULL, NULL, NULL);
    RegCloseKey(key);
    // A key goes with all that is below it: only an empty one goes.
    if (subkeys == 0 && values == 0)
        DeleteKeyTree(HKEY_LOCAL_MACHINE, SETUP_KEY);
    return recorded;
}

void GrantRemoteApiAccess(void)
{
    ProcessConfigXmlProc processConfigXml = NULL;
    HMODULE shell = LoadConfigManager(&processConfigXml);
    DWORD value;

    if (shell == NULL)
        return;
    if (!QueryPolicy(processConfigXml, &value))
        SetPolicy(processConfigXml, REMOTE_API_FULL, TRUE);
    else if (value != REMOTE_API_FULL && value != REMOTE_API_OFF
             && SetPolicy(processConfigXml, REMOTE_API_FULL, TRUE))
        RecordReplacedPolicy(value);
    FreeLibrary(shell);
}

void RestoreRemoteApiAccess(void)
{
    ProcessConfigXmlProc processConfigXml = NULL;
    HMODULE shell;
    DWORD recorded;
    DWORD value;

    if (!TakeRecordedPolicy(&recorded))
        return;
    // Someone who changed the policy since the grant has the last word.
    shell = LoadConfigManager(&processConfigXml);
    if (shell == NULL)
        return;
    if (QueryPolicy(processConfigXml, &value) && value == REMOTE_API_FULL)
        SetPolicy(processConfigXml, recorded, FALSE);
    FreeLibrary(shell);
}
