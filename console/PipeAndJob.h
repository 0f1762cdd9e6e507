// What the twin runs in.
#ifndef PL3_PIPE_AND_JOB_H
#define PL3_PIPE_AND_JOB_H

#include <windows.h>

// Creates the pipe for the twin's standard output and error. To the twin it
// is an ordinary pipe; our read end takes overlapped reads, so that one wait
// covers both "output arrived" and "the twin ended" and the launcher sleeps
// while the twin is silent. Our end is never inheritable; the twin's end gets
// the given attributes. FALSE, with the last error set, where it fails.
BOOL CreateOutputPipe(HANDLE *readEnd, HANDLE *writeEnd, SECURITY_ATTRIBUTES *security);

// A job that ends the twin and everything it starts in it as soon as its
// last handle, ours, is closed: also when we are ended from outside. A
// process in it may leave, if it asks. NULL where the system gives none.
HANDLE CreateTwinJob(void);

// Lets the processes a twin that ended by itself left behind outlive the
// job; they may still start processes out of it, as they could before.
void ReleaseTwinJob(HANDLE job);

#endif
