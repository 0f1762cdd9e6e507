// What the twin runs in, and what it inherits.
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

// Has the twin inherit only the count handles given, which must stay where
// they are until the start: where the system lets a start name them (Vista
// and later), startup gets the list and TRUE comes back, and the start
// needs EXTENDED_STARTUPINFO_PRESENT. Elsewhere, or where that fails, FALSE:
// the twin inherits every inheritable handle, as it always did.
// EndInheritanceLimit releases the list, whatever came back.
BOOL LimitInheritance(STARTUPINFOEXW *startup, HANDLE *handles, DWORD count);
void EndInheritanceLimit(STARTUPINFOEXW *startup);

#endif
