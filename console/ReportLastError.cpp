#include <windows.h>
#include <stdlib.h>

#include "BoundedString.h"
#include "ReportLastError.h"

void ReportLastError(const wchar_t *name)
{
    DWORD code = GetLastError();
    WCHAR *text = NULL;
    WCHAR number[24];
    WCHAR line[1024];
    char bytes[3 * 1024 + 2];
    UINT codePage = GetConsoleOutputCP();
    DWORD length;
    DWORD written;
    int size;

    length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                            NULL, code, 0x400, (LPWSTR)&text, 0, NULL);
    // The system's text brings its own line break; the line gets exactly one.
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L' '))
        text[--length] = L'\0';
    wcscpy(number, L"error ");
    _ultow(code, number + 6, 10);
    if (length == 0 || !JoinString(line, 1024, name, L": ", text))
        JoinString(line, 1024, name, L": ", number);

    // Bytes in the console's code page, like the twin's own output, and
    // straight to the handle so the line is in order with relayed output.
    if (codePage == 0)
        codePage = CP_ACP;
    size = WideCharToMultiByte(codePage, 0, line, -1, bytes, sizeof bytes - 2, NULL, NULL);
    if (size > 0) {
        bytes[size - 1] = '\r';
        bytes[size] = '\n';
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, size + 1, &written, NULL);
    }
    LocalFree(text);
}
