#include <windows.h>
#include <stdlib.h>

#include "ReportLastError.h"

// Appends text to the line in the given code page; FALSE, leaving the line
// as it was, when it does not fit.
static BOOL AppendText(char *line, int capacity, int *used, UINT codePage, const WCHAR *text)
{
    int size;

    // A size of 0 would only ask how much is needed.
    if (*used >= capacity)
        return FALSE;
    size = WideCharToMultiByte(codePage, 0, text, -1, line + *used, capacity - *used, NULL, NULL);
    if (size == 0)
        return FALSE;
    *used += size - 1;
    return TRUE;
}

void ReportLastError(const wchar_t *name)
{
    DWORD code = GetLastError();
    WCHAR *text = NULL;
    WCHAR number[24];
    char line[3 * 1024 + 2];
    UINT codePage = GetConsoleOutputCP();
    DWORD length;
    DWORD written;
    int used = 0;
    int named;

    // Some texts carry inserts, such as "%1" for the program file; with no
    // arguments to fill them, only this flag gets the text at all.
    length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                FORMAT_MESSAGE_IGNORE_INSERTS,
                            NULL, code, 0x400, (LPWSTR)&text, 0, NULL);
    // The system's text brings its own line break; the line gets exactly one.
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L' '))
        text[--length] = L'\0';
    wcscpy(number, L"error ");
    _ultow(code, number + 6, 10);

    // Bytes in the console's code page, like the twin's own output, and
    // straight to the handle so the line is in order with relayed output.
    // Two bytes stay free for the line break.
    if (codePage == 0)
        codePage = CP_ACP;
    if (AppendText(line, sizeof line - 2, &used, codePage, name) &&
        AppendText(line, sizeof line - 2, &used, codePage, L": ")) {
        named = used;
        if (length == 0 || !AppendText(line, sizeof line - 2, &used, codePage, text)) {
            used = named;
            AppendText(line, sizeof line - 2, &used, codePage, number);
        }
        line[used] = '\r';
        line[used + 1] = '\n';
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, used + 2, &written, NULL);
    }
    LocalFree(text);
}
