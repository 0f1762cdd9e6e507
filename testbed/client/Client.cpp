// Plays the handheld client: its main window, how it answers the close
// request, and a log of its starts, driven by environment variables that it
// inherits from whoever starts it:
//   PELORIN_CLIENT_LOG            file to append "start:<command line>" and
//                                 "close" lines to (UTF-8)
//   PELORIN_CLIENT_ON_CLOSE       "exit" (default), "ignore", or a delay in ms
//   PELORIN_CLIENT_SETVERSION_MS  how long a "/SETVERSION" run lasts (default 0)
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

const UINT kCloseRequest = WM_USER + 255;
const UINT_PTR kCloseTimer = 1;

std::wstring Env(const wchar_t *name)
{
    wchar_t value[1024];
    DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

void Log(const std::wstring &line)
{
    std::wstring path = Env(L"PELORIN_CLIENT_LOG");
    if (path.empty())
        return;
    std::wstring text = line + L"\n";
    char bytes[4096];
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), (int)text.size(), bytes,
                                     sizeof(bytes), nullptr, nullptr);
    // Several clients may log at once; appending keeps each line whole.
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes, length, &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kCloseRequest: {
        Log(L"close");
        std::wstring behaviour = Env(L"PELORIN_CLIENT_ON_CLOSE");
        if (behaviour == L"ignore")
            return 0;
        UINT delay = behaviour.empty() || behaviour == L"exit" ? 0 : wcstoul(behaviour.c_str(), nullptr, 10);
        if (delay == 0)
            DestroyWindow(window);
        else
            SetTimer(window, kCloseTimer, delay, nullptr);
        return 0;
    }
    case WM_TIMER:
        if (wParam == kCloseTimer)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    std::wstring commandLine = GetCommandLineW();
    Log(L"start:" + commandLine);

    if (commandLine == L"/SETVERSION") {
        Sleep(wcstoul(Env(L"PELORIN_CLIENT_SETVERSION_MS").c_str(), nullptr, 10));
        return 0;
    }

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"PL3WNDCLASS";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"PL3WNDCLASS", L"Pelorin", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
