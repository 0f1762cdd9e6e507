// The test programs' main: GoogleTest's own, but leaving by ExitProcess once
// every case has run and reported, past the C runtime's exit. Under 32-bit
// Wine a test program has been seen to hang in its exit after all its cases
// had passed, until CTest's time-out; the runtime's exit first loads the
// managed runtime's DLL there. TerminateProcess would skip the libraries'
// own clean-up, and Wine then takes seconds over each program's windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::fflush(stdout);
    std::fflush(stderr);
    ExitProcess(static_cast<UINT>(result));
}
