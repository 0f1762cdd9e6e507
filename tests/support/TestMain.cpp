// The test programs' main: GoogleTest's own, but leaving by TerminateProcess
// once every case has run and reported. Under 32-bit Wine a test program has
// been seen to hang in its own exit after all its cases had passed, until
// CTest's time-out; nothing of the system runs by then.
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
