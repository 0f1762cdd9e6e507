// Stand-in for the graphical program that pl3.com starts. A GUI program, as
// the real one is; what it does is spelled out by its arguments, taken in
// order:
//   out:<n>        n bytes of the pattern byte i = i % 251 to standard output
//   err:<n>        the same to standard error
//   flood          64 KiB of the pattern to standard output, over and over,
//                  until a write fails: when nobody holds the read end
//   file:<path>    the bytes of a file to standard output
//   text:<s>       s (UTF-8) to standard output; line:<s> adds "\r\n"
//   console:<s>    s to a console of its own (CONOUT$), not to its handles
//   stdin          reads standard input to its end, then prints "stdin:<n>\r\n"
//   crt            through the C runtime's stdout and stdin, which take their
//                  files from the runtime's inherited table when the startup
//                  record carries one: prints "crt-stdout\n", reads stdin to
//                  its end, then prints "crt-stdin:<n>\n"
//   sleep:<ms>     pauses
//   spin:<ms>      keeps a processor busy
//   pid            prints "pid:<its process id>\r\n"
//   startup        prints "flags=0x<hex> show=<n> reserved2=<n>\r\n" from its
//                  startup record (reserved2: the size of the runtime's table)
//   cmdline        prints its command line and "\r\n"
//   spawn:<a,b,..> starts itself again with arguments a b .., handing on its
//                  standard handles; prints "grandchild:<pid>\r\n"
//   breakaway:<a,b,..>  the same, started out of its job
//                  (CREATE_BREAKAWAY_FROM_JOB); prints "breakaway:<pid>\r\n"
//   window:<close|ignore>  makes a hidden top-level window; when it gets
//                  WM_CLOSE (while pumping), it prints "saved\r\n" and ends
//                  with 0 (close), or prints "ignored\r\n" and goes on
//   pump:<ms>      takes the window's messages for ms
//   exit:<code>    ends at once with code (decimal or 0x hex)
// Arguments up to a "--", where one is given, are not steps: an unquoted
// program path with blanks reaches a program as several arguments.
// Without exit: it ends with 0. A step that fails ends it with 90 + step
// number, so a test sees a broken scenario instead of a quiet pass.

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool WriteAll(HANDLE handle, const char *bytes, size_t size)
{
    while (size > 0) {
        DWORD step = size > 65536 ? 65536 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle, bytes, step, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

bool WriteText(HANDLE handle, const std::string &text)
{
    return WriteAll(handle, text.data(), text.size());
}

std::string Narrow(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                   nullptr, 0, nullptr, nullptr);
    std::string result(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), result.data(),
                        size, nullptr, nullptr);
    return result;
}

bool WritePattern(HANDLE handle, unsigned long long count)
{
    std::string bytes(static_cast<size_t>(count), '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i % 251);
    return WriteAll(handle, bytes.data(), bytes.size());
}

bool CopyFileToOutput(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            ok = false;
            break;
        }
        if (got == 0)
            break;
        if (!WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), buffer.data(), got)) {
            ok = false;
            break;
        }
    }
    CloseHandle(file);
    return ok;
}

bool WriteToConsole(const std::wstring &text)
{
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE && AllocConsole())
        console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteConsoleW(console, text.c_str(), static_cast<DWORD>(text.size()), &written,
                            nullptr) != FALSE;
    CloseHandle(console);
    return ok;
}

bool ReadInput()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    unsigned long long total = 0;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0)
        total += got;
    return WriteText(GetStdHandle(STD_OUTPUT_HANDLE),
                     "stdin:" + std::to_string(total) + "\r\n");
}

bool ReadInputThroughRuntime()
{
    unsigned long total = 0;
    char buffer[4096];
    size_t got;
    if (std::printf("crt-stdout\n") < 0 || std::fflush(stdout) != 0)
        return false;
    while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
        total += static_cast<unsigned long>(got);
    return std::printf("crt-stdin:%lu\n", total) > 0 && std::fflush(stdout) == 0;
}

bool Spawn(const std::wstring &arguments, DWORD flags, const char *label)
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length == MAX_PATH)
        return false;
    std::wstring line = L"\"" + std::wstring(self) + L"\"";
    size_t start = 0;
    for (;;) {
        size_t comma = arguments.find(L',', start);
        line += L" " + arguments.substr(start, comma - start);
        if (comma == std::wstring::npos)
            break;
        start = comma + 1;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup, &child))
        return false;
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return WriteText(GetStdHandle(STD_OUTPUT_HANDLE),
                     std::string(label) + ":" + std::to_string(child.dwProcessId) + "\r\n");
}

bool g_closes;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_CLOSE)
        return DefWindowProcW(window, message, wParam, lParam);
    WriteText(GetStdHandle(STD_OUTPUT_HANDLE), g_closes ? "saved\r\n" : "ignored\r\n");
    if (g_closes)
        ExitProcess(0);
    return 0;
}

bool MakeWindow(bool closes)
{
    g_closes = closes;
    WNDCLASSW type = {};
    type.lpfnWndProc = WindowProc;
    type.hInstance = GetModuleHandleW(nullptr);
    type.lpszClassName = L"PelorinTwin";
    return RegisterClassW(&type) != 0 &&
           CreateWindowExW(0, type.lpszClassName, L"twin", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                           nullptr, nullptr, type.hInstance, nullptr) != nullptr;
}

void Pump(DWORD ms)
{
    DWORD begin = GetTickCount();
    for (DWORD passed = 0; passed < ms; passed = GetTickCount() - begin) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - passed, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
}

bool StartsWith(const std::wstring &text, const wchar_t *prefix, std::wstring *rest)
{
    size_t length = wcslen(prefix);
    if (text.compare(0, length, prefix) != 0)
        return false;
    *rest = text.substr(length);
    return true;
}

unsigned long long Number(const std::wstring &text)
{
    return std::wcstoull(text.c_str(), nullptr, 0);
}

bool RunStep(const std::wstring &step)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::wstring value;
    if (StartsWith(step, L"out:", &value))
        return WritePattern(out, Number(value));
    if (StartsWith(step, L"err:", &value))
        return WritePattern(GetStdHandle(STD_ERROR_HANDLE), Number(value));
    if (step == L"flood") {
        std::string bytes(65536, '\0');
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i % 251);
        while (WriteAll(out, bytes.data(), bytes.size())) {
        }
        return true;
    }
    if (StartsWith(step, L"file:", &value))
        return CopyFileToOutput(value);
    if (StartsWith(step, L"text:", &value))
        return WriteText(out, Narrow(value));
    if (StartsWith(step, L"line:", &value))
        return WriteText(out, Narrow(value) + "\r\n");
    if (StartsWith(step, L"console:", &value))
        return WriteToConsole(value);
    if (step == L"stdin")
        return ReadInput();
    if (step == L"crt")
        return ReadInputThroughRuntime();
    if (StartsWith(step, L"sleep:", &value)) {
        Sleep(static_cast<DWORD>(Number(value)));
        return true;
    }
    if (StartsWith(step, L"spin:", &value)) {
        DWORD begin = GetTickCount();
        volatile unsigned long counter = 0;
        while (GetTickCount() - begin < Number(value))
            ++counter;
        return true;
    }
    if (step == L"pid")
        return WriteText(out, "pid:" + std::to_string(GetCurrentProcessId()) + "\r\n");
    if (step == L"startup") {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        GetStartupInfoW(&startup);
        char text[64];
        std::snprintf(text, sizeof text, "flags=0x%lx show=%u reserved2=%u\r\n",
                      static_cast<unsigned long>(startup.dwFlags), startup.wShowWindow,
                      startup.cbReserved2);
        return WriteText(out, text);
    }
    if (step == L"cmdline")
        return WriteText(out, Narrow(GetCommandLineW()) + "\r\n");
    if (StartsWith(step, L"spawn:", &value))
        return Spawn(value, 0, "grandchild");
    if (StartsWith(step, L"breakaway:", &value))
        return Spawn(value, CREATE_BREAKAWAY_FROM_JOB, "breakaway");
    if (StartsWith(step, L"window:", &value))
        return (value == L"close" || value == L"ignore") && MakeWindow(value == L"close");
    if (StartsWith(step, L"pump:", &value)) {
        Pump(static_cast<DWORD>(Number(value)));
        return true;
    }
    if (StartsWith(step, L"exit:", &value))
        ExitProcess(static_cast<UINT>(Number(value)));
    return false;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr)
        return 89;
    int first = 1;
    for (int i = 1; i < count; ++i) {
        if (std::wstring(arguments[i]) == L"--") {
            first = i + 1;
            break;
        }
    }
    int status = 0;
    for (int i = first; i < count && status == 0; ++i) {
        if (!RunStep(arguments[i]))
            status = 90 + i;
    }
    LocalFree(arguments);
    return status;
}
