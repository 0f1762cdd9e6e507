// The launcher's one way of telling the user that a system call failed.
#ifndef PL3_REPORT_LAST_ERROR_H
#define PL3_REPORT_LAST_ERROR_H

#include <wchar.h>

// Writes one line "<name>: <system text>" for the calling thread's last
// error to standard output, or the error's number when the system has no
// text for it.
void ReportLastError(const wchar_t *name);

#endif
