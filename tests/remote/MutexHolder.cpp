// Plays another device program that holds the key-hook mutex:
//   mutex-holder.exe <mutex name> <milliseconds>
// Creates the mutex owned, keeps it for the given time, then exits.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3)
        return 2;
    HANDLE mutex = CreateMutexW(nullptr, TRUE, argv[1]);
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS)
        return 1;
    Sleep(std::wcstoul(argv[2], nullptr, 10));
    CloseHandle(mutex);
    return 0;
}
