// The launcher's one change to its own command line.
#ifndef PL3_COMMAND_LINE_H
#define PL3_COMMAND_LINE_H

#include <wchar.h>

// Turns the program name, the line's first token, from "*.com" into "*.exe"
// in place, so the same line starts the graphical twin beside us. A quoted
// name runs to its closing quote, any other to the first blank or tab. The
// arguments are never touched, and a name without ".com" is left as it is.
void RewriteProgramName(wchar_t *commandLine);

#endif
