// A console of its own for the interruption and console tests: the test
// program, started from Linux, has none and cannot make one. Starts pl3.com
// in this console, waits until the twin says "ready", sends the console
// control event to the console (Ctrl+Break to pl3.com's own process group)
// and writes down what became of pl3.com.
//
// Usage: ctrl-helper <report file> c|c2|c-console|break|close|c-unread <program> <arguments...>
//        ctrl-helper listen <marker file>
//        ctrl-helper screen <report file> <code page> <bytes file> <program> <arguments...>
// c-unread sends Ctrl+C while nothing of pl3.com's output is read: once the
// pipe is full; the output is read only after pl3.com's end. c2 sends a
// second Ctrl+C 500 ms after the first. c-console gives pl3.com this console
// as its standard output and error, and its output is what the console shows.
// The second form is a probe started in place of pl3.com: it creates the
// marker when any console control event reaches it, to tell what this
// system delivers at all.
// Report of the first form: "generate=<0 or the error of
//         GenerateConsoleCtrlEvent>", "exit=<pl3.com's status in hex, or
//         running>", "after=<ms from the event to pl3.com's end>",
//         "retried=<1 when pl3.com was started a second time, else 0>",
//         "modes=<the console's output mode before pl3.com's start>" (with
//         c-console also the mode it takes when asked to act on escape
//         sequences, the mode once "ready" shows, and after pl3.com's end;
//         0xFFFF: not a console), then "output=" and everything pl3.com
//         wrote.
// pl3.com is started a second time only when its own start of the twin was
// refused ("CreateProcess: " and status 0x54F, seen under load under Wine)
// before the twin wrote anything.
// The third form shows what reaches a console: it sets the console's output
// code page, runs the program with the console as its standard output and
// reads back what the console shows; then it clears the console, writes the
// file's bytes to it in one write and reads that back. Report: "exit=<the
// program's status in hex, or running>", "modes=<the console's output mode
// before the start> <after the end>", "relayed=<the first screen>",
// "written=<the second>", each screen in UTF-8 up to its last non-blank cell.

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "TestSupport.h"

namespace {

BOOL WINAPI Survive(DWORD)
{
    return TRUE;  // the event is meant for pl3.com, not for us
}

const wchar_t *g_marker;

BOOL WINAPI Mark(DWORD event)
{
    HANDLE file = CreateFileW(g_marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        std::string text = std::to_string(event);
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
    ExitProcess(0);
}

int Listen(const wchar_t *marker)
{
    g_marker = marker;
    SetConsoleCtrlHandler(Mark, TRUE);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "ready\r\n", 7, &written, nullptr);
    Sleep(20000);
    return 0;
}

// Starts the program in our console with its output on a pipe of ours and
// waits until it says "ready", or ends, or 10 s have passed.
bool Start(std::wstring line, const tb::RunOptions &options, PROCESS_INFORMATION *pl3,
           HANDLE *readEnd, std::string *output, bool reading)
{
    if (!tb::StartPiped(line, options, GetStdHandle(STD_INPUT_HANDLE), pl3, readEnd))
        return false;

    DWORD begin = GetTickCount();
    if (!reading) {
        // Full when it holds what its buffer takes: pl3.com is stuck writing.
        DWORD size = 0;
        GetNamedPipeInfo(*readEnd, nullptr, nullptr, &size, nullptr);
        DWORD available = 0;
        while ((available == 0 || available < size) && GetTickCount() - begin < 10000 &&
               WaitForSingleObject(pl3->hProcess, 10) == WAIT_TIMEOUT)
            PeekNamedPipe(*readEnd, nullptr, 0, nullptr, &available, nullptr);
        return true;
    }
    while (output->find("ready") == std::string::npos && GetTickCount() - begin < 10000 &&
           WaitForSingleObject(pl3->hProcess, 0) == WAIT_TIMEOUT) {
        tb::ReadWaiting(*readEnd, output);
        Sleep(10);
    }
    tb::ReadWaiting(*readEnd, output);
    return true;
}

bool WasRefusedItsStart(const PROCESS_INFORMATION &pl3, HANDLE readEnd, std::string *output)
{
    DWORD code = 0;
    if (WaitForSingleObject(pl3.hProcess, 0) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(pl3.hProcess, &code) || code != ERROR_INTERNAL_ERROR)
        return false;
    tb::ReadWaiting(readEnd, output);
    return output->compare(0, 15, "CreateProcess: ") == 0 &&
           output->find("\r\n") == output->size() - 2;
}

// What the console shows, from its top left to its last non-blank cell.
std::string ReadScreen(HANDLE console)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info))
        return "(no screen)";
    std::wstring cells(static_cast<size_t>(info.dwSize.X) * info.dwSize.Y, L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(console, cells.data(), static_cast<DWORD>(cells.size()),
                                COORD{0, 0}, &read);
    cells.resize(read);
    cells.resize(cells.find_last_not_of(L' ') + 1);
    int size = WideCharToMultiByte(CP_UTF8, 0, cells.data(), static_cast<int>(cells.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string text(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, cells.data(), static_cast<int>(cells.size()), text.data(),
                        size, nullptr, nullptr);
    return text;
}

void ClearScreen(HANDLE console)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    DWORD written = 0;
    if (GetConsoleScreenBufferInfo(console, &info))
        FillConsoleOutputCharacterW(console, L' ', info.dwSize.X * info.dwSize.Y, COORD{0, 0},
                                    &written);
    SetConsoleCursorPosition(console, COORD{0, 0});
}

HANDLE OpenConsole()
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inheritable, OPEN_EXISTING, 0, nullptr);
}

// Starts the program with the console as its standard output and error.
bool StartOnConsole(std::wstring line, HANDLE console, PROCESS_INFORMATION *program)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = console;
    startup.hStdError = console;
    return CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, program) != FALSE;
}

std::string Mode(HANDLE console)
{
    DWORD mode = 0;
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX",
                  GetConsoleMode(console, &mode) ? static_cast<unsigned long>(mode) : 0xFFFFul);
    return text;
}

int ShowOnScreen(const wchar_t *report, UINT codePage, const wchar_t *bytesFile,
                 std::wstring line)
{
    if (GetConsoleWindow() == nullptr && !AllocConsole())
        return 3;
    HANDLE console = OpenConsole();
    HANDLE file = CreateFileW(bytesFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (console == INVALID_HANDLE_VALUE || file == INVALID_HANDLE_VALUE ||
        !SetConsoleOutputCP(codePage))
        return 4;
    std::string bytes(1 << 16, '\0');
    DWORD got = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    CloseHandle(file);
    // Room for it all on one screen: nothing scrolls away.
    SetConsoleScreenBufferSize(console, COORD{100, 200});

    ClearScreen(console);
    std::string before = Mode(console);
    PROCESS_INFORMATION program = {};
    if (!StartOnConsole(line, console, &program))
        return 5;
    char status[32] = "running";
    if (WaitForSingleObject(program.hProcess, 20000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(program.hProcess, &code);
        std::snprintf(status, sizeof status, "0x%08lX", static_cast<unsigned long>(code));
    } else {
        TerminateProcess(program.hProcess, 1);
    }
    CloseHandle(program.hThread);
    CloseHandle(program.hProcess);
    std::string relayed = ReadScreen(console);

    ClearScreen(console);
    DWORD written = 0;
    WriteFile(console, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    std::string text = std::string("exit=") + status + "\r\nmodes=" + before + " " +
                       Mode(console) + "\r\nrelayed=" + relayed +
                       "\r\nwritten=" + ReadScreen(console);
    CloseHandle(console);
    HANDLE out = CreateFileW(report, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    bool saved = out != INVALID_HANDLE_VALUE &&
                 WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    if (out != INVALID_HANDLE_VALUE)
        CloseHandle(out);
    return saved ? 0 : 6;
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"listen")
        return Listen(argv[2]);
    if (argc >= 6 && std::wstring(argv[1]) == L"screen") {
        std::wstring line = L"\"" + std::wstring(argv[5]) + L"\"";
        for (int i = 6; i < argc; ++i)
            line += std::wstring(L" ") + argv[i];
        return ShowOnScreen(argv[2], static_cast<UINT>(_wtoi(argv[3])), argv[4], line);
    }
    if (argc < 4)
        return 2;
    if (GetConsoleWindow() == nullptr && !AllocConsole())
        return 3;
    SetConsoleCtrlHandler(Survive, TRUE);

    std::wstring line = L"\"" + std::wstring(argv[3]) + L"\"";
    for (int i = 4; i < argc; ++i)
        line += std::wstring(L" ") + argv[i];
    std::wstring event = argv[2];
    bool reading = event != L"c-unread";
    // On the console, pl3.com writes to it, and "ready" is looked for there.
    HANDLE console = event == L"c-console" ? OpenConsole() : nullptr;
    // Ctrl+Break goes to the program's own group alone: sent to every
    // process of the console, it would reach this helper too.
    tb::RunOptions options;
    if (event == L"break")
        options.creationFlags = CREATE_NEW_PROCESS_GROUP;

    PROCESS_INFORMATION pl3 = {};
    HANDLE readEnd = nullptr;
    std::string output;
    int retried = 0;
    std::string modes = Mode(console);
    if (console != nullptr) {
        // What the console takes when asked to act on escape sequences.
        DWORD mode = 0;
        GetConsoleMode(console, &mode);
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        modes += " " + Mode(console);
        SetConsoleMode(console, mode);
        ClearScreen(console);
        if (!StartOnConsole(line, console, &pl3))
            return 5;
        DWORD begin = GetTickCount();
        while (ReadScreen(console).find("ready") == std::string::npos &&
               GetTickCount() - begin < 10000 && WaitForSingleObject(pl3.hProcess, 10) == WAIT_TIMEOUT) {
        }
        modes += " " + Mode(console);
    } else if (!Start(line, options, &pl3, &readEnd, &output, reading)) {
        return 5;
    }
    if (console == nullptr && WasRefusedItsStart(pl3, readEnd, &output)) {
        CloseHandle(pl3.hThread);
        CloseHandle(pl3.hProcess);
        CloseHandle(readEnd);
        pl3 = PROCESS_INFORMATION{};
        output.clear();
        retried = 1;
        if (!Start(line, options, &pl3, &readEnd, &output, reading))
            return 5;
    }

    DWORD generate = 0;
    if (event == L"close") {
        // Leave the console first, or closing it would end us as well.
        HWND window = GetConsoleWindow();
        FreeConsole();
        if (window == nullptr || !PostMessageW(window, WM_CLOSE, 0, 0))
            generate = window == nullptr ? ERROR_INVALID_WINDOW_HANDLE : GetLastError();
    } else if (event == L"break" ? !GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pl3.dwProcessId)
                                 : !GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        generate = GetLastError();
    } else if (event == L"c2") {
        // A second one while the program is given its time to close.
        Sleep(500);
        if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
            generate = GetLastError();
    }

    // An event that was never sent cannot end pl3.com: do not wait for it.
    bool ended = false;
    DWORD begin = GetTickCount();
    while (!ended && GetTickCount() - begin < (generate == 0 ? 10000u : 500u)) {
        if (reading)
            tb::ReadWaiting(readEnd, &output);
        ended = WaitForSingleObject(pl3.hProcess, 10) == WAIT_OBJECT_0;
    }
    DWORD after = GetTickCount() - begin;
    if (console != nullptr) {
        output = ReadScreen(console);
        modes += " " + Mode(console);
    }
    tb::ReadWaiting(readEnd, &output);
    char status[32] = "running";
    if (ended) {
        DWORD code = 0;
        GetExitCodeProcess(pl3.hProcess, &code);
        std::snprintf(status, sizeof status, "0x%08lX", static_cast<unsigned long>(code));
    } else {
        TerminateProcess(pl3.hProcess, 1);
    }

    std::string report = "generate=" + std::to_string(generate) + "\r\nexit=" + status +
                         "\r\nafter=" + std::to_string(after) +
                         "\r\nretried=" + std::to_string(retried) + "\r\nmodes=" + modes +
                         "\r\noutput=" + output;
    HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool saved = file != INVALID_HANDLE_VALUE &&
                 WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written,
                           nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    CloseHandle(pl3.hThread);
    CloseHandle(pl3.hProcess);
    if (readEnd != nullptr)
        CloseHandle(readEnd);
    if (console != nullptr)
        CloseHandle(console);
    return saved ? 0 : 6;
}
