// What the tests need around the system: folders, processes, message boxes,
// registry and environment, all real, inside the test's Wine prefix.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tb {

// --- text -----------------------------------------------------------------
std::wstring Widen(const std::string &text);   // UTF-8 to UTF-16
std::string Narrow(const std::wstring &text);  // UTF-16 to UTF-8

// --- files and folders ----------------------------------------------------
// The folder of the running test program: the build's bin folder.
std::wstring BinDir();
std::wstring BinPath(const std::wstring &name);

// A fresh, empty folder of its own, removed with all it holds (read-only
// files included) when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::wstring &path() const { return path_; }
    std::wstring Join(const std::wstring &name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Removes a file or a folder tree, clearing read-only attributes on the way.
bool RemoveTree(const std::wstring &path);
// Copies a built binary from the bin folder to destination (a full path).
// Returns false (and the test fails) when it cannot.
bool CopyBinary(const std::wstring &name, const std::wstring &destination);
bool WriteFileBytes(const std::wstring &path, const std::string &bytes);
std::string ReadFileBytes(const std::wstring &path);
// The file's lines without their line ends; empty when there is no file.
std::vector<std::string> ReadLines(const std::wstring &path);
bool FileExists(const std::wstring &path);
bool DirectoryExists(const std::wstring &path);

// --- processes ------------------------------------------------------------
struct ProcessResult {
    bool started = false;
    DWORD startError = 0;   // GetLastError of a failed start
    bool timedOut = false;  // still running at the time-out (then terminated)
    DWORD exitCode = 0;
    std::string output;     // standard output and standard error, as bytes
    std::string debugOutput;  // what it wrote with OutputDebugString, where debugged
    DWORD elapsedMs = 0;    // from the start to the end of the process
};

struct RunOptions {
    std::wstring application;       // empty: taken from the command line
    std::wstring currentDirectory;  // empty: the test's own
    DWORD timeoutMs = 30000;
    HANDLE job = nullptr;           // a job the program is in from its first instruction
    DWORD creationFlags = 0;        // added to CreateProcessW's
    bool debugged = false;          // RunProcess is its debugger: it keeps the debug output
};

// Starts a program with its standard output and error on one new pipe, of
// which *readEnd is the caller's, and input (NUL where null) as its standard
// input. The caller closes the handles in *info and *readEnd.
bool StartPiped(const std::wstring &commandLine, const RunOptions &options, HANDLE input,
                PROCESS_INFORMATION *info, HANDLE *readEnd);
// Adds what is waiting in a pipe to bytes, without waiting for more; false
// when the pipe cannot be read, at end-of-file for one.
bool ReadWaiting(HANDLE pipe, std::string *bytes);

// Starts a program with its standard output and error on one pipe and its
// standard input on NUL, collects everything it writes until it ends (and
// what was then already waiting in the pipe), and returns it with the exit
// status. Does not wait for end-of-file, so a grandchild that inherited the
// pipe cannot keep the test waiting.
ProcessResult RunProcess(const std::wstring &commandLine, const RunOptions &options = RunOptions());

// A started program; the handles are closed with the object.
class Process {
public:
    Process() = default;
    ~Process();
    Process(Process &&other) noexcept;
    Process &operator=(Process &&other) noexcept;
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    bool started() const { return info_.hProcess != nullptr; }
    HANDLE handle() const { return info_.hProcess; }
    DWORD id() const { return info_.dwProcessId; }
    // True when the process ended within timeoutMs.
    bool Wait(DWORD timeoutMs) const;
    DWORD ExitCode() const;
    void Terminate();

private:
    friend Process StartProcess(const std::wstring &, const RunOptions &);
    friend Process HoldProcess(DWORD);
    PROCESS_INFORMATION info_ = {};
};

// Starts a program with no pipes; the result tells whether it started.
Process StartProcess(const std::wstring &commandLine, const RunOptions &options = RunOptions());

// A process of the scenario by its id, held open so that its end can be
// waited for; started() is false when it could not be opened.
Process HoldProcess(DWORD processId);
// Whether the process still runs.
bool IsRunning(DWORD processId);
// Whether the process object can still be reached by its id: while it runs,
// and after its end for as long as anyone holds a handle to it.
bool ProcessReachable(DWORD processId);

// Ids of the running processes whose program file lies below folder.
std::vector<DWORD> ProcessesUnder(const std::wstring &folder);
// Ends every process whose program file lies below folder.
void KillProcessesUnder(const std::wstring &folder);

// Polls predicate every stepMs until it holds or timeoutMs has passed.
bool WaitUntil(const std::function<bool()> &predicate, DWORD timeoutMs, DWORD stepMs = 10);

// --- message boxes --------------------------------------------------------
struct MessageBoxSeen {
    std::wstring caption;
    std::wstring text;
    DWORD processId = 0;
};

// Catches every message box ("#32770" dialog) of the watched processes (this
// one by default) while it lives: reads its caption and text, dismisses it
// with OK and keeps what it read. Every box must be taken by the test; a box
// left untaken at destruction fails the test.
class MessageBoxWatcher {
public:
    MessageBoxWatcher();
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher &) = delete;
    MessageBoxWatcher &operator=(const MessageBoxWatcher &) = delete;

    void WatchProcess(DWORD processId);
    void WatchAllProcesses();
    // Waits until at least count boxes are held, or timeoutMs has passed.
    bool WaitForBoxes(size_t count, DWORD timeoutMs);
    // The boxes seen so far, oldest first; they count as taken.
    std::vector<MessageBoxSeen> Take();

private:
    void Run();
    static BOOL CALLBACK CollectBox(HWND window, LPARAM context);
    bool Watches(DWORD processId);

    std::mutex mutex_;
    std::set<DWORD> processes_;
    bool allProcesses_ = false;
    std::vector<MessageBoxSeen> boxes_;
    std::set<HWND> handled_;
    HANDLE stop_ = nullptr;
    std::thread thread_;
};

// From now on, as long as module is loaded, its MessageBoxW records the
// style of each box it is asked for, then shows it: what the dialog does
// not tell. A box with an owner window fails the test. False when module
// imports no MessageBoxW.
bool RecordMessageBoxStyles(HMODULE module);
// The styles recorded so far, oldest first; they count as taken.
std::vector<UINT> TakeMessageBoxStyles();

// --- registry -------------------------------------------------------------
bool SetRegString(HKEY root, const std::wstring &subkey, const std::wstring &name,
                  const std::wstring &value);
bool SetRegDword(HKEY root, const std::wstring &subkey, const std::wstring &name, DWORD value);
// Stores exactly size bytes of data with the given type.
bool SetRegRaw(HKEY root, const std::wstring &subkey, const std::wstring &name, DWORD type,
               const void *data, DWORD size);
// Reads a value whatever its type; false when the key or value is missing.
bool ReadRegRaw(HKEY root, const std::wstring &subkey, const std::wstring &name,
                std::vector<BYTE> *data, DWORD *type = nullptr);
bool ReadRegDword(HKEY root, const std::wstring &subkey, const std::wstring &name, DWORD *value);
bool RegKeyExists(HKEY root, const std::wstring &subkey);
bool RegValueExists(HKEY root, const std::wstring &subkey, const std::wstring &name);
void DeleteRegTree(HKEY root, const std::wstring &subkey);

// --- the device client, as both device libraries meet it -----------------
extern const wchar_t kInstallKey[];   // under HKEY_LOCAL_MACHINE: InstallDir
extern const wchar_t kSettingsKey[];  // under HKEY_CURRENT_USER: AutoRestart
// The client stand-in's main window, found by class and title; null if none.
HWND FindClient();
// Starts folder's Client.exe as a user would and waits for its window.
Process StartClient(const std::wstring &folder);

// --- environment ----------------------------------------------------------
// Sets (or, with nullptr, removes) an environment variable of this process,
// which programs it starts inherit, and restores the old state at the end.
class ScopedEnv {
public:
    ScopedEnv(const std::wstring &name, const wchar_t *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::wstring name_;
    std::wstring old_;
    bool hadOld_ = false;
};

// --- what Wine cannot show -------------------------------------------------
// Points module's import of the function at replacement and returns what it
// pointed at before; nullptr when module imports no such function.
// Where Wine hides an outcome, a case can see what the library asks of the
// system, or give it an answer Wine cannot.
void *ReplaceImport(HMODULE module, const char *function, void *replacement);

// Wine keeps no FILE_ATTRIBUTE_TEMPORARY on a folder (SetFileAttributesW
// succeeds and drops it), yet CE marks a storage card's folder, and may mark
// every folder on the card, with it. While the object lives, the
// GetFileAttributesW that module imports reports the mark for folder and
// everything below it; nothing else changes.
class TemporaryFolderMark {
public:
    TemporaryFolderMark(HMODULE module, const std::wstring &folder);
    ~TemporaryFolderMark();
    TemporaryFolderMark(const TemporaryFolderMark &) = delete;
    TemporaryFolderMark &operator=(const TemporaryFolderMark &) = delete;

    // False when module imports no GetFileAttributesW.
    bool active() const { return original_ != nullptr; }

private:
    HMODULE module_;
    void *original_ = nullptr;
};

}  // namespace tb
