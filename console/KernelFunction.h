// What Windows 2000's kernel lacks is looked up when needed, never imported:
// one missing import and the system refuses to load the program at all.
#ifndef PL3_KERNEL_FUNCTION_H
#define PL3_KERNEL_FUNCTION_H

#include <windows.h>

// The kernel32 function of that name, as a plain function pointer for the
// caller to cast to its type; NULL where this system has none.
static inline void (*KernelFunction(const char *name))(void)
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");

    return kernel != NULL ? (void (*)(void))GetProcAddress(kernel, name) : NULL;
}

#endif
