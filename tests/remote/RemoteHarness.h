// What the Sembrin tests share: a freshly loaded copy of the library, a
// thread that pumps messages while it calls into the library, and a focused
// window that records the keys that reach it.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

namespace remote {

extern const wchar_t kMutexName[];
extern const wchar_t kNotInstalledCaption[];
extern const wchar_t kNotInstalledText[];

typedef HRESULT(WINAPI *BlockCall)(DWORD, BYTE *, DWORD *, BYTE **, void *);
typedef BOOL(WINAPI *HookKeysCall)(BOOL);

// A copy of Sembrin.dll in a folder of its own, loaded afresh so that its
// state starts at zero, and freed with the object unless already unloaded.
class SembrinLibrary {
public:
    SembrinLibrary();
    ~SembrinLibrary();
    bool loaded() const { return module_ != nullptr; }
    const std::wstring &path() const { return path_; }
    HMODULE module() const { return module_; }
    void Unload();

    BlockCall shutdownClient = nullptr;
    BlockCall restartClient = nullptr;
    HookKeysCall hookKeys = nullptr;

private:
    tb::TempDir folder_;
    std::wstring path_;
    HMODULE module_ = nullptr;
};

// The outcome of one remote call made the way the service makes it.
struct CallResult {
    HRESULT result;
    DWORD outputSize;
    BYTE *output;
};

// Calls with the outputs preset to garbage, as a caller that does not preset
// them would pass them; the library must overwrite both on every path. input
// is handed over in a LocalAlloc block, as the service does; the call
// releases it.
CallResult CallRemote(BlockCall call, const std::vector<BYTE> &input);

// An installation folder named in InstallDir, optionally holding the client.
std::wstring MakeInstallation(const tb::TempDir &root, bool withClient);
bool ReadAutoRestart(DWORD *value);
bool MutexExists();
// Hooks the testbed's coredll.dll has installed and not removed, and the
// calls of its CallNextHookEx so far; -1 when it is not loaded.
long LiveHooks();
long NextHookCalls();

// A thread that pumps messages all the time and runs work handed to it in
// between, as a device program holding the key hook does.
class PumpingThread {
public:
    PumpingThread();
    ~PumpingThread();
    // Runs work on the thread and returns once it has run.
    void Run(const std::function<void()> &work);

private:
    void Loop();

    std::mutex mutex_;
    std::condition_variable done_;
    std::function<void()> work_;
    bool pending_ = false;
    bool stop_ = false;
    HANDLE wake_;
    std::thread thread_;
};

struct KeyEvent {
    WORD key;
    bool down;
    bool operator==(const KeyEvent &other) const { return key == other.key && down == other.down; }
};

// A visible, focused top-level window on a thread of its own that records
// every key message it gets.
class KeyProbe {
public:
    KeyProbe();
    ~KeyProbe();
    bool focused() const;
    // Injects a press and a release of each key with SendInput and returns
    // the events that reached the window, once a final marker key arrived.
    std::vector<KeyEvent> Inject(const std::vector<WORD> &keys);

private:
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    void Loop();

    std::mutex mutex_;
    std::vector<KeyEvent> seen_;
    HWND window_ = nullptr;
    HANDLE ready_;
    std::thread thread_;
};

// The eleven suppressed codes and two close neighbours that must pass.
extern const std::vector<WORD> kSuppressedKeys;
extern const std::vector<WORD> kPassingKeys;
std::vector<WORD> AllProbeKeys();
// The events a window sees when every key passes.
std::vector<KeyEvent> PressesAndReleases(const std::vector<WORD> &keys);

}  // namespace remote
