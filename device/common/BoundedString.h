// The one way the device libraries build a wide string in a fixed buffer.
#ifndef BOUNDED_STRING_H
#define BOUNDED_STRING_H

#include <windows.h>

// Writes first, second and third (second and third may be NULL) one after the
// other into buffer, which holds capacity characters including the
// terminator. Returns FALSE, leaving buffer empty, when the whole would not
// fit: a shortened path could name another file, so none is ever produced.
static inline BOOL JoinString(WCHAR *buffer, size_t capacity,
                              LPCWSTR first, LPCWSTR second, LPCWSTR third)
{
    LPCWSTR parts[3];
    size_t used = 0;
    int part;

    if (capacity == 0)
        return FALSE;
    parts[0] = first;
    parts[1] = second;
    parts[2] = third;
    for (part = 0; part < 3; ++part) {
        LPCWSTR source = parts[part];
        if (source == NULL)
            continue;
        for (; *source != L'\0'; ++source) {
            if (used + 1 >= capacity) {
                buffer[0] = L'\0';
                return FALSE;
            }
            buffer[used++] = *source;
        }
    }
    buffer[used] = L'\0';
    return TRUE;
}

// Whether buffer, capacity characters long, holds a non-empty string that
// ends within it.
static inline BOOL HoldsString(LPCWSTR buffer, size_t capacity)
{
    size_t i;

    for (i = 0; i < capacity; ++i) {
        if (buffer[i] == L'\0')
            return i > 0;
    }
    return FALSE;
}

#endif
