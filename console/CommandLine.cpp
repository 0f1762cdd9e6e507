#include "CommandLine.h"

void RewriteProgramName(wchar_t *commandLine)
{
    wchar_t *name = commandLine;
    wchar_t *end;

    while (*name == L' ' || *name == L'\t')
        ++name;
    end = name;
    if (*end == L'"') {
        ++end;
        while (*end != L'\0' && *end != L'"')
            ++end;
        ++name;
    } else {
        while (*end != L'\0' && *end != L' ' && *end != L'\t')
            ++end;
    }
    if (end - name < 4 || _wcsnicmp(end - 4, L".com", 4) != 0)
        return;
    end[-3] = L'e';
    end[-2] = L'x';
    end[-1] = L'e';
}
