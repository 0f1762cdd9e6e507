// Writing what the program prints to our caller.
#ifndef PL3_OUTPUT_H
#define PL3_OUTPUT_H

#include <windows.h>

// A chunk is at most this many bytes.
#define CHUNK_SIZE 1023

// Looks at our standard output once: a console, or a pipe or a file. A
// console that can act on escape sequences is told to for the run.
void OpenOutput(void);

// Puts the console's mode back as OpenOutput found it.
void RestoreOutput(void);

// Where the next read puts its bytes, and how many it may take: a chunk less
// the start of a character that the last chunk ended inside.
char *OutputSpace(DWORD *room);

// Writes what is in the chunk after got more bytes were read into it. To a
// pipe or a file the bytes go as they came; to a console, as text in its
// output code page, the start of a character cut off at the chunk's end
// held back for the next chunk.
void WriteOutput(DWORD got);

// Writes what is still held back, as it is: no more bytes will complete it.
void FinishOutput(void);

#endif
