// Fleets install packages unattended: a box there would hold the whole
// installation until someone taps OK on a device nobody is at.
#include "SetupMessage.h"

static BOOL IsBlank(WCHAR character)
{
    return character == L' ' || character == L'\t';
}

// Whether line holds word (lower case) as a word of its own, in any case.
static BOOL HasSwitch(LPCWSTR line, LPCWSTR word)
{
    LPCWSTR at;
    int i;

    for (at = line; *at != L'\0'; ++at) {
        if (at != line && !IsBlank(at[-1]))
            continue;
        for (i = 0; word[i] != L'\0'; ++i) {
            WCHAR character = at[i];
            if (character >= L'A' && character <= L'Z')
                character = (WCHAR)(character - L'A' + L'a');
            if (character != word[i])
                break;
        }
        if (word[i] == L'\0' && (at[i] == L'\0' || IsBlank(at[i])))
            return TRUE;
    }
    return FALSE;
}

// The installer's switches are on the command line of the process that
// loaded this library.
static BOOL IsSilentInstallation(void)
{
    LPCWSTR line = GetCommandLineW();

    return line != NULL
           && (HasSwitch(line, L"/noui") || HasSwitch(line, L"/silent"));
}

void ShowSetupMessage(LPCWSTR text, LPCWSTR caption)
{
    if (IsSilentInstallation()) {
        OutputDebugStringW(caption);
        OutputDebugStringW(L": ");
        OutputDebugStringW(text);
        OutputDebugStringW(L"\r\n");
        return;
    }
    // A box behind the foreground window would wait where nobody sees it.
    MessageBoxW(NULL, text, caption, MB_OK | MB_SETFOREGROUND);
}
