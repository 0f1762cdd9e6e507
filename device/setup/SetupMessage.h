// How Dorvale tells of a failure: a box in front of whatever is in the
// foreground, or, where nobody is there to tap OK, a line of debug output.
#ifndef SETUP_MESSAGE_H
#define SETUP_MESSAGE_H

#include <windows.h>

// Shows text with caption in a box with only an OK button and no owner, and
// returns once it is dismissed; in a silent installation (the installer
// started with /noui or /silent) writes "caption: text" to the debug output
// instead and returns at once.
void ShowSetupMessage(LPCWSTR text, LPCWSTR caption);

#endif
