// The test programs' main: GoogleTest's own, but leaving by TerminateProcess
// once every case has run and reported. In clean-clone runs under 32-bit
// Wine a test program hung in its exit after its case had passed, until
// CTest's time-out, both through the C runtime's exit and through
// ExitProcess; nothing of the system runs by then.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
    return result;
}
