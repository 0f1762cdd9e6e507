// The key hook's part of the library's entry point: the module the hook is
// installed for, and the clean-up when the library goes.
#ifndef KEY_HOOK_H
#define KEY_HOOK_H

#include <windows.h>

void AttachKeyHook(HINSTANCE module);
// unloaded: the library is unloaded while the process goes on.
void DetachKeyHook(BOOL unloaded);

#endif
