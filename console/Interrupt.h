// What Ctrl+C, Ctrl+Break, closing the console and a shutdown do to the run.
#ifndef PL3_INTERRUPT_H
#define PL3_INTERRUPT_H

#include <windows.h>

// The status of a run that was interrupted.
#define INTERRUPTED_STATUS 0xC000013AUL

// Installs the console control handler. On an interruption the program is
// asked to close (WM_CLOSE to each of its top-level windows) and given a
// moment, 5 s after Ctrl+C or Ctrl+Break, 1 s after a close or a shutdown;
// then it is ended with all it started, and the relay gets 2 s to close up
// before the launcher ends itself. A second Ctrl+C or Ctrl+Break ends the
// program at once; so does the first where it has no window.
void HandleInterruptions(void);

// The start of the program and the hand-over of what an interruption ends
// are one step, so that an interruption either stops the start or finds
// the program. BeginProgramStart is FALSE where an interruption came first:
// then nothing may start. Either way EndProgramStart follows, with the
// program's process (NULL if none started) and its job (NULL if none).
BOOL BeginProgramStart(void);
void EndProgramStart(const PROCESS_INFORMATION *program, HANDLE job);

// Once the relay is done: nothing is left for an interruption to end. TRUE
// when one came.
BOOL StopHandlingInterruptions(void);

#endif
