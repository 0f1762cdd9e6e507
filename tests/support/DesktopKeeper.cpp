// Keeps Wine's desktop up while the tests run. Wine closes the desktop a
// second after its last program ends and starts it again for the next
// program that makes a window. That start costs each such test program
// about a second, and the desktop process then inherits the program's
// standard error: CTest, reading the test's output to its end, waits for
// as long as that desktop lives, up to half a minute. tools/with-wine
// starts this once, with its output on /dev/null, and Wine ends it when
// the run is over.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"PelorinTestDesktopKeeper";
    if (!RegisterClassW(&windowClass))
        return 1;
    // A message-only window: on the desktop, yet never shown or focused.
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0,
                                  HWND_MESSAGE, nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}
