// Which program the launcher starts, and how it sees the system's folder.
#ifndef PL3_FIND_PROGRAM_H
#define PL3_FIND_PROGRAM_H

#include <windows.h>

// The program to start: our own file's long name with ".exe" for its ".com",
// or, where no such file is there and our name is a link, the same beside
// the file the link leads to. NULL, with the last error set, when there is
// none to start: ERROR_INVALID_NAME when our name does not end in ".com" or
// the program is our own file under another name.
const WCHAR *FindProgram(void);

// A 32-bit launcher on 64-bit Windows sees "System32" as the 32-bit system
// folder. Between these two calls it sees files as a 64-bit caller does;
// elsewhere, and on other systems, nothing changes. The last error is kept.
void SeeFilesAsTheCallerDoes(void);
void SeeFilesAsRedirected(void);

#endif
