// Writing to our caller. A console decodes each write alone, so a character
// whose bytes fall in two chunks would show as two wrong ones: there the
// launcher decodes whole characters itself and writes UTF-16, whose count
// the console also reports truly, unlike that of a byte write in some
// versions' code page 65001.

#include <windows.h>
#include <string.h>

#include "Output.h"

// Older headers lack it: consoles before Windows 10 know no such mode.
#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

static HANDLE g_output;
static BOOL g_toConsole;
// The console's mode as we found it, where we changed it.
static DWORD g_consoleMode;
static BOOL g_modeChanged;
// The chunk: the held-back start of a character, then the bytes read.
static char g_chunk[CHUNK_SIZE];
static DWORD g_held;
// No code page here gives more UTF-16 units than it took bytes; one that
// did would have its chunk written as bytes.
static WCHAR g_text[CHUNK_SIZE];

void OpenOutput(void)
{
    g_output = GetStdHandle(STD_OUTPUT_HANDLE);
    g_toConsole = GetConsoleMode(g_output, &g_consoleMode);
    // Programs that also write to a console colour their text with escape
    // sequences, which a console shows raw unless told to act on them.
    if (g_toConsole && (g_consoleMode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0)
        g_modeChanged = SetConsoleMode(g_output,
                                       g_consoleMode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

void RestoreOutput(void)
{
    if (g_modeChanged)
        SetConsoleMode(g_output, g_consoleMode);
}

char *OutputSpace(DWORD *room)
{
    *room = CHUNK_SIZE - g_held;
    return g_chunk + g_held;
}

// Straight to the handle, so the bytes show at once. A failing output is not
// a reason to stop reading: the program would block on a full pipe.
static void WriteBytes(const char *bytes, DWORD size)
{
    DWORD written;
    DWORD step;

    for (written = 0; written < size; written += step) {
        if (!WriteFile(g_output, bytes + written, size - written, &step, NULL) || step == 0)
            break;
    }
}

// A count above what was asked would write the rest twice.
static void WriteText(const WCHAR *text, DWORD length)
{
    DWORD written;
    DWORD step;

    for (written = 0; written < length; written += step) {
        if (!WriteConsoleW(g_output, text + written, length - written, &step, NULL) ||
            step == 0 || step > length - written)
            break;
    }
}

// UTF-8 says by its first byte how long a character is.
static DWORD Utf8Tail(const unsigned char *bytes, DWORD size)
{
    DWORD start = size;
    DWORD need;

    while (start > 0 && size - start < 3 && (bytes[start - 1] & 0xC0) == 0x80)
        --start;
    if (start == 0)
        return 0;
    --start;
    if ((bytes[start] & 0xE0) == 0xC0)
        need = 2;
    else if ((bytes[start] & 0xF0) == 0xE0)
        need = 3;
    else if ((bytes[start] & 0xF8) == 0xF0)
        need = 4;
    else
        return 0;
    return size - start < need ? size - start : 0;
}

// A double-byte page's second byte can look like a first one: only a scan
// from a character's start, the chunk's, tells them apart.
static DWORD DoubleByteTail(UINT codePage, const unsigned char *bytes, DWORD size)
{
    DWORD at = 0;

    while (at < size) {
        if (!IsDBCSLeadByteEx(codePage, bytes[at]))
            ++at;
        else if (at + 1 == size)
            return 1;
        else
            at += 2;
    }
    return 0;
}

// How many bytes at the chunk's end start a character they do not complete.
static DWORD IncompleteTail(UINT codePage, const char *bytes, DWORD size)
{
    CPINFO info;

    if (codePage == CP_UTF8)
        return Utf8Tail((const unsigned char *)bytes, size);
    if (GetCPInfo(codePage, &info) && info.MaxCharSize == 2)
        return DoubleByteTail(codePage, (const unsigned char *)bytes, size);
    return 0;
}

void WriteOutput(DWORD got)
{
    DWORD size = g_held + got;
    UINT codePage;
    DWORD whole;
    int length;

    if (!g_toConsole) {
        WriteBytes(g_chunk, size);
        return;
    }
    // The page is the console's, which others sharing it may change.
    codePage = GetConsoleOutputCP();
    whole = size - IncompleteTail(codePage, g_chunk, size);
    if (whole > 0) {
        length = MultiByteToWideChar(codePage, 0, g_chunk, whole, g_text, CHUNK_SIZE);
        if (length > 0)
            WriteText(g_text, length);
        else
            WriteBytes(g_chunk, whole);
    }
    g_held = size - whole;
    memmove(g_chunk, g_chunk + whole, g_held);
}

void FinishOutput(void)
{
    WriteBytes(g_chunk, g_held);
    g_held = 0;
}
