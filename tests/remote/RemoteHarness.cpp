#include "RemoteHarness.h"


#include <gtest/gtest.h>

namespace remote {

const wchar_t kMutexName[] = L"Global\\PelorinKeyHook";
const wchar_t kNotInstalledCaption[] = L"Client Error";
const wchar_t kNotInstalledText[] = L"Client is not installed properly. Please re-install.";


const std::vector<WORD> kSuppressedKeys = {0x5B, 0x79, 0x7A, 0x80, 0x86, 0x87,
                                           0xC1, 0xC2, 0xC3, 0xC4, 0xC6};
const std::vector<WORD> kPassingKeys = {0x78, 0xC5};

// Sent last: once it has arrived, everything injected before it has been
// through the hooks.
const WORD kMarkerKey = VK_F5;

template <typename T>
static T Export(HMODULE module, const char *name)
{
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

SembrinLibrary::SembrinLibrary() : path_(folder_.Join(L"Sembrin.dll"))
{
    if (!tb::CopyBinary(L"Sembrin.dll", path_))
        return;
    module_ = LoadLibraryW(path_.c_str());
    if (module_ == nullptr) {
        ADD_FAILURE() << "cannot load " << tb::Narrow(path_) << ": " << GetLastError();
        return;
    }
    shutdownClient = Export<BlockCall>(module_, "ShutdownClient");
    restartClient = Export<BlockCall>(module_, "RestartClient");
    hookKeys = Export<HookKeysCall>(module_, "HookKeys");
}

SembrinLibrary::~SembrinLibrary()
{
    Unload();
}

void SembrinLibrary::Unload()
{
    if (module_ != nullptr)
        FreeLibrary(module_);
    module_ = nullptr;
}

CallResult CallRemote(BlockCall call, const std::vector<BYTE> &input)
{
    BYTE *block = nullptr;
    if (!input.empty()) {
        block = static_cast<BYTE *>(LocalAlloc(LMEM_FIXED, input.size()));
        CopyMemory(block, input.data(), input.size());
    }
    CallResult outcome = {E_UNEXPECTED, 0xA5A5A5A5,
                          reinterpret_cast<BYTE *>(static_cast<UINT_PTR>(0xA5A5A5A5))};
    outcome.result = call(static_cast<DWORD>(input.size()), block, &outcome.outputSize,
                          &outcome.output, nullptr);
    return outcome;
}

std::wstring MakeInstallation(const tb::TempDir &root, bool withClient)
{
    std::wstring folder = root.Join(L"Pelorin Client");
    CreateDirectoryW(folder.c_str(), nullptr);
    if (withClient)
        tb::CopyBinary(L"Client.exe", folder + L"\\Client.exe");
    EXPECT_TRUE(tb::SetRegString(HKEY_LOCAL_MACHINE, tb::kInstallKey, L"InstallDir", folder));
    return folder;
}

bool ReadAutoRestart(DWORD *value)
{
    return tb::ReadRegDword(HKEY_CURRENT_USER, tb::kSettingsKey, L"AutoRestart", value);
}

bool MutexExists()
{
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
    if (mutex == nullptr)
        return false;
    CloseHandle(mutex);
    return true;
}

static long CoreDllCount(const char *name)
{
    HMODULE core = GetModuleHandleW(L"coredll.dll");
    if (core == nullptr)
        return -1;
    auto count = Export<LONG(WINAPI *)()>(core, name);
    return count != nullptr ? count() : -1;
}

long LiveHooks()
{
    return CoreDllCount("TestbedLiveHooks");
}

long NextHookCalls()
{
    return CoreDllCount("TestbedNextHookCalls");
}

PumpingThread::PumpingThread() : wake_(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
    thread_ = std::thread([this] { Loop(); });
}

PumpingThread::~PumpingThread()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    SetEvent(wake_);
    thread_.join();
    CloseHandle(wake_);
}

void PumpingThread::Run(const std::function<void()> &work)
{
    std::unique_lock<std::mutex> lock(mutex_);
    work_ = work;
    pending_ = true;
    SetEvent(wake_);
    done_.wait(lock, [this] { return !pending_; });
}

void PumpingThread::Loop()
{
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        std::function<void()> work;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_)
                return;
            if (pending_)
                work.swap(work_);
        }
        if (work) {
            work();
            std::lock_guard<std::mutex> lock(mutex_);
            pending_ = false;
            done_.notify_all();
            continue;
        }
        MsgWaitForMultipleObjects(1, &wake_, FALSE, INFINITE, QS_ALLINPUT);
    }
}

KeyProbe::KeyProbe() : ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    thread_ = std::thread([this] { Loop(); });
    WaitForSingleObject(ready_, 10000);
}

KeyProbe::~KeyProbe()
{
    if (window_ != nullptr)
        PostMessageW(window_, WM_CLOSE, 0, 0);
    thread_.join();
    CloseHandle(ready_);
}

bool KeyProbe::focused() const
{
    // A window of an earlier case, still going, may hold the foreground for
    // a while after ours asked for it: ask again until ours has it.
    HWND window = window_;
    return window != nullptr && tb::WaitUntil(
                                    [window] {
                                        if (GetForegroundWindow() == window)
                                            return true;
                                        SetForegroundWindow(window);
                                        return false;
                                    },
                                    10000, 50);
}

LRESULT CALLBACK KeyProbe::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *probe = reinterpret_cast<KeyProbe *>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        // F10 comes as a system key; both kinds count as the key arriving.
        std::lock_guard<std::mutex> lock(probe->mutex_);
        probe->seen_.push_back({static_cast<WORD>(wParam),
                                message == WM_KEYDOWN || message == WM_SYSKEYDOWN});
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void KeyProbe::Loop()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"SembrinKeyProbe";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"SembrinKeyProbe", L"key probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                0, 0, 300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window != nullptr) {
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetForegroundWindow(window);
        SetFocus(window);
        window_ = window;
    }
    SetEvent(ready_);
    MSG message;
    while (window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

std::vector<KeyEvent> KeyProbe::Inject(const std::vector<WORD> &keys)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.clear();
    }
    std::vector<WORD> sequence = keys;
    sequence.push_back(kMarkerKey);
    for (WORD key : sequence) {
        INPUT input[2] = {};
        input[0].type = input[1].type = INPUT_KEYBOARD;
        input[0].ki.wVk = input[1].ki.wVk = key;
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
        EXPECT_EQ(2u, SendInput(2, input, sizeof(INPUT))) << "key " << key;
    }
    KeyEvent marker = {kMarkerKey, false};
    bool arrived = tb::WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return !seen_.empty() && seen_.back() == marker;
        },
        10000);
    EXPECT_TRUE(arrived) << "the marker key never reached the window";
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<KeyEvent> events(seen_.begin(), seen_.end() - (arrived ? 2 : 0));
    return events;
}

std::vector<WORD> AllProbeKeys()
{
    std::vector<WORD> keys = kSuppressedKeys;
    keys.insert(keys.end(), kPassingKeys.begin(), kPassingKeys.end());
    return keys;
}

std::vector<KeyEvent> PressesAndReleases(const std::vector<WORD> &keys)
{
    std::vector<KeyEvent> events;
    for (WORD key : keys) {
        events.push_back({key, true});
        events.push_back({key, false});
    }
    return events;
}

}  // namespace remote
