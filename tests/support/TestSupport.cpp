#include "TestSupport.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <utility>

namespace tb {

// --- text -----------------------------------------------------------------

std::wstring Widen(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), &wide[0], length);
    return wide;
}

std::string Narrow(const std::wstring &text)
{
    if (text.empty())
        return std::string();
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0,
                                     nullptr, nullptr);
    std::string narrow(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &narrow[0], length, nullptr,
                        nullptr);
    return narrow;
}

// --- files and folders ----------------------------------------------------

std::wstring BinDir()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    return dir.substr(0, dir.find_last_of(L"\\/"));
}

std::wstring BinPath(const std::wstring &name)
{
    return BinDir() + L"\\" + name;
}

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    for (;;) {
        path_ = std::wstring(base) + L"tb-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(counter++);
        if (CreateDirectoryW(path_.c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create a temporary folder, error " << GetLastError();
            break;
        }
    }
}

TempDir::~TempDir()
{
    // A program still running from here would keep its files.
    KillProcessesUnder(path_);
    RemoveTree(path_);
}

bool RemoveTree(const std::wstring &path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileW(path.c_str()) != FALSE;

    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..")
                RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

bool CopyBinary(const std::wstring &name, const std::wstring &destination)
{
    if (CopyFileW(BinPath(name).c_str(), destination.c_str(), FALSE))
        return true;
    ADD_FAILURE() << "cannot copy " << Narrow(name) << " to " << Narrow(destination)
                  << ", error " << GetLastError();
    return false;
}

bool WriteFileBytes(const std::wstring &path, const std::string &bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadFileBytes(const std::wstring &path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

std::vector<std::string> ReadLines(const std::wstring &path)
{
    std::vector<std::string> lines;
    std::string bytes = ReadFileBytes(path);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool FileExists(const std::wstring &path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring &path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// --- processes ------------------------------------------------------------

namespace {

// CreateProcessW may change the command-line buffer, so it gets a copy.
bool CreateChild(const std::wstring &commandLine, const RunOptions &options, STARTUPINFOW *startup,
                 BOOL inherit, PROCESS_INFORMATION *info)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        // Suspended until it is in the job, so that all it starts is there too.
        DWORD flags = options.creationFlags | (options.job != nullptr ? CREATE_SUSPENDED : 0);
        if (CreateProcessW(options.application.empty() ? nullptr : options.application.c_str(),
                           line.data(), nullptr, nullptr, inherit, flags, nullptr,
                           options.currentDirectory.empty() ? nullptr
                                                            : options.currentDirectory.c_str(),
                           startup, info)) {
            if (options.job == nullptr)
                return true;
            if (AssignProcessToJobObject(options.job, info->hProcess) &&
                ResumeThread(info->hThread) != static_cast<DWORD>(-1))
                return true;
            DWORD error = GetLastError();
            TerminateProcess(info->hProcess, 1);
            CloseHandle(info->hThread);
            CloseHandle(info->hProcess);
            *info = PROCESS_INFORMATION{};
            SetLastError(error);
            return false;
        }
        // Wine has been seen to fail a start once under load.
        if (GetLastError() != ERROR_INTERNAL_ERROR)
            return false;
    }
    return false;
}

}  // namespace

bool StartPiped(const std::wstring &commandLine, const RunOptions &options, HANDLE input,
                PROCESS_INFORMATION *info, HANDLE *readEnd)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    HANDLE nul = INVALID_HANDLE_VALUE;
    *info = PROCESS_INFORMATION{};
    if (!CreatePipe(readEnd, &writeEnd, &inheritable, 0)) {
        *readEnd = nullptr;
        return false;
    }
    SetHandleInformation(*readEnd, HANDLE_FLAG_INHERIT, 0);
    if (input == nullptr)
        input = nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inheritable, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {sizeof(startup)};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    bool started = CreateChild(commandLine, options, &startup, TRUE, info);
    DWORD error = GetLastError();
    CloseHandle(writeEnd);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    SetLastError(error);
    return started;
}

bool ReadWaiting(HANDLE pipe, std::string *bytes)
{
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
            return false;
        if (available == 0)
            return true;
        char buffer[65536];
        DWORD got = 0;
        DWORD want = available < sizeof(buffer) ? available : (DWORD)sizeof(buffer);
        if (!ReadFile(pipe, buffer, want, &got, nullptr))
            return false;
        bytes->append(buffer, got);
    }
}

namespace {

// Answers one debug event of the process, waiting up to 5 ms for it, and
// adds what the program wrote with OutputDebugString to text. True once the
// process has ended.
bool AnswerDebugEvent(HANDLE process, std::string *text)
{
    DEBUG_EVENT event;
    if (!WaitForDebugEvent(&event, 5))
        return false;
    DWORD answer = DBG_CONTINUE;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
        CloseHandle(event.u.CreateProcessInfo.hFile);
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
        CloseHandle(event.u.LoadDll.hFile);
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
               event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
        answer = DBG_EXCEPTION_NOT_HANDLED;
    } else if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
        const OUTPUT_DEBUG_STRING_INFO &info = event.u.DebugString;
        std::wstring wide(info.nDebugStringLength, L'\0');
        std::string narrow(info.nDebugStringLength, '\0');
        void *into = info.fUnicode ? static_cast<void *>(wide.data()) : narrow.data();
        ReadProcessMemory(process, info.lpDebugStringData, into,
                          info.nDebugStringLength * (info.fUnicode ? 2 : 1), nullptr);
        *text += info.fUnicode ? Narrow(wide.c_str()) : std::string(narrow.c_str());
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, answer);
    return event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
}

}  // namespace

ProcessResult RunProcess(const std::wstring &commandLine, const RunOptions &options)
{
    ProcessResult result;
    PROCESS_INFORMATION info = {};
    HANDLE readEnd = nullptr;
    DWORD begin = GetTickCount();
    RunOptions start = options;
    if (options.debugged)
        start.creationFlags |= DEBUG_ONLY_THIS_PROCESS;
    result.started = StartPiped(commandLine, start, nullptr, &info, &readEnd);
    if (!result.started) {
        result.startError = GetLastError();
    } else {
        for (;;) {
            ReadWaiting(readEnd, &result.output);
            if (options.debugged ? AnswerDebugEvent(info.hProcess, &result.debugOutput)
                                 : WaitForSingleObject(info.hProcess, 5) == WAIT_OBJECT_0)
                break;
            if (GetTickCount() - begin > options.timeoutMs) {
                result.timedOut = true;
                TerminateProcess(info.hProcess, 1);
                if (options.debugged)
                    DebugActiveProcessStop(info.dwProcessId);
                break;
            }
        }
        WaitForSingleObject(info.hProcess, 5000);
        result.elapsedMs = GetTickCount() - begin;
        ReadWaiting(readEnd, &result.output);
        GetExitCodeProcess(info.hProcess, &result.exitCode);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    if (readEnd != nullptr)
        CloseHandle(readEnd);
    return result;
}

Process::~Process()
{
    if (info_.hThread)
        CloseHandle(info_.hThread);
    if (info_.hProcess)
        CloseHandle(info_.hProcess);
}

Process::Process(Process &&other) noexcept : info_(other.info_)
{
    other.info_ = PROCESS_INFORMATION{};
}

Process &Process::operator=(Process &&other) noexcept
{
    if (this != &other) {
        this->~Process();
        info_ = other.info_;
        other.info_ = PROCESS_INFORMATION{};
    }
    return *this;
}

bool Process::Wait(DWORD timeoutMs) const
{
    return info_.hProcess && WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const
{
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

void Process::Terminate()
{
    if (info_.hProcess) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
    }
}

Process StartProcess(const std::wstring &commandLine, const RunOptions &options)
{
    Process process;
    STARTUPINFOW startup = {sizeof(startup)};
    if (!CreateChild(commandLine, options, &startup, FALSE, &process.info_))
        process.info_ = PROCESS_INFORMATION{};
    return process;
}

Process HoldProcess(DWORD processId)
{
    Process process;
    process.info_.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (process.info_.hProcess != nullptr)
        process.info_.dwProcessId = processId;
    return process;
}

bool IsRunning(DWORD processId)
{
    Process process = HoldProcess(processId);
    return process.started() && !process.Wait(0);
}

bool ProcessReachable(DWORD processId)
{
    return HoldProcess(processId).started();
}

std::vector<DWORD> ProcessesUnder(const std::wstring &folder)
{
    std::wstring prefix = folder + L"\\";
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32W entry = {sizeof(entry)};
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        HANDLE process =
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        wchar_t image[MAX_PATH * 2];
        DWORD length = MAX_PATH * 2;
        if (QueryFullProcessImageNameW(process, 0, image, &length) &&
            length >= prefix.size() &&
            _wcsnicmp(image, prefix.c_str(), prefix.size()) == 0)
            ids.push_back(entry.th32ProcessID);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return ids;
}

void KillProcessesUnder(const std::wstring &folder)
{
    for (DWORD id : ProcessesUnder(folder)) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (!process)
            continue;
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

bool WaitUntil(const std::function<bool()> &predicate, DWORD timeoutMs, DWORD stepMs)
{
    DWORD begin = GetTickCount();
    for (;;) {
        if (predicate())
            return true;
        if (GetTickCount() - begin >= timeoutMs)
            return false;
        Sleep(stepMs);
    }
}

// --- message boxes --------------------------------------------------------

MessageBoxWatcher::MessageBoxWatcher()
{
    processes_.insert(GetCurrentProcessId());
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread(&MessageBoxWatcher::Run, this);
}

MessageBoxWatcher::~MessageBoxWatcher()
{
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
    for (const MessageBoxSeen &box : boxes_)
        ADD_FAILURE() << "unexpected message box: caption \"" << Narrow(box.caption)
                      << "\", text \"" << Narrow(box.text) << "\"";
}

void MessageBoxWatcher::WatchProcess(DWORD processId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    processes_.insert(processId);
}

void MessageBoxWatcher::WatchAllProcesses()
{
    std::lock_guard<std::mutex> lock(mutex_);
    allProcesses_ = true;
}

bool MessageBoxWatcher::Watches(DWORD processId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return allProcesses_ || processes_.count(processId) != 0;
}

bool MessageBoxWatcher::WaitForBoxes(size_t count, DWORD timeoutMs)
{
    return WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return boxes_.size() >= count;
        },
        timeoutMs);
}

std::vector<MessageBoxSeen> MessageBoxWatcher::Take()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<MessageBoxSeen> taken;
    taken.swap(boxes_);
    return taken;
}

namespace {

struct BoxScan {
    MessageBoxWatcher *watcher;
    std::vector<HWND> found;
};

}  // namespace

// An EnumWindows callback: called the platform's way (CALLBACK), which on x86
// is not the compiler's default.
BOOL CALLBACK MessageBoxWatcher::CollectBox(HWND window, LPARAM context)
{
    BoxScan *scan = reinterpret_cast<BoxScan *>(context);
    wchar_t className[16];
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    // Only a shown box has its text in place.
    if (GetClassNameW(window, className, 16) && wcscmp(className, L"#32770") == 0 &&
        IsWindowVisible(window) && scan->watcher->Watches(processId))
        scan->found.push_back(window);
    return TRUE;
}

void MessageBoxWatcher::Run()
{
    while (WaitForSingleObject(stop_, 10) == WAIT_TIMEOUT) {
        BoxScan scan = {this, {}};
        EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&scan));

        std::set<HWND> present(scan.found.begin(), scan.found.end());
        for (HWND window : scan.found) {
            if (handled_.count(window))
                continue;
            MessageBoxSeen box;
            wchar_t text[1024] = L"";
            GetWindowTextW(window, text, 1024);
            box.caption = text;
            text[0] = L'\0';
            GetDlgItemTextW(window, 0xFFFF, text, 1024);
            box.text = text;
            GetWindowThreadProcessId(window, &box.processId);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                boxes_.push_back(box);
            }
            handled_.insert(window);
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         (LPARAM)GetDlgItem(window, IDOK));
        }
        // Forget boxes that are gone, so a new window reusing a handle counts.
        for (auto it = handled_.begin(); it != handled_.end();)
            it = present.count(*it) ? std::next(it) : handled_.erase(it);
    }
}

// --- registry -------------------------------------------------------------

bool SetRegRaw(HKEY root, const std::wstring &subkey, const std::wstring &name, DWORD type,
               const void *data, DWORD size)
{
    HKEY key;
    if (RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE *>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool SetRegString(HKEY root, const std::wstring &subkey, const std::wstring &name,
                  const std::wstring &value)
{
    return SetRegRaw(root, subkey, name, REG_SZ, value.c_str(),
                     (DWORD)((value.size() + 1) * sizeof(wchar_t)));
}

bool SetRegDword(HKEY root, const std::wstring &subkey, const std::wstring &name, DWORD value)
{
    return SetRegRaw(root, subkey, name, REG_DWORD, &value, sizeof(value));
}

bool ReadRegRaw(HKEY root, const std::wstring &subkey, const std::wstring &name,
                std::vector<BYTE> *data, DWORD *type)
{
    HKEY key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0, valueType = 0;
    LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &valueType, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size, 0);
        status = RegQueryValueExW(key, name.c_str(), nullptr, &valueType,
                                  size ? data->data() : nullptr, &size);
        data->resize(size);
    }
    RegCloseKey(key);
    if (type)
        *type = valueType;
    return status == ERROR_SUCCESS;
}

bool ReadRegDword(HKEY root, const std::wstring &subkey, const std::wstring &name, DWORD *value)
{
    std::vector<BYTE> data;
    DWORD type = 0;
    if (!ReadRegRaw(root, subkey, name, &data, &type) || type != REG_DWORD || data.size() != 4)
        return false;
    memcpy(value, data.data(), 4);
    return true;
}

bool RegKeyExists(HKEY root, const std::wstring &subkey)
{
    HKEY key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool RegValueExists(HKEY root, const std::wstring &subkey, const std::wstring &name)
{
    std::vector<BYTE> data;
    return ReadRegRaw(root, subkey, name, &data);
}

void DeleteRegTree(HKEY root, const std::wstring &subkey)
{
    RegDeleteTreeW(root, subkey.c_str());
    RegDeleteKeyW(root, subkey.c_str());
}

// --- the device client ----------------------------------------------------

const wchar_t kInstallKey[] = L"Software\\Apps\\Pelorin Client";
const wchar_t kSettingsKey[] = L"Software\\Pelorin";

HWND FindClient()
{
    return FindWindowW(L"PL3WNDCLASS", L"Pelorin");
}

Process StartClient(const std::wstring &folder)
{
    Process client = StartProcess(L"\"" + folder + L"\\Client.exe\"");
    EXPECT_TRUE(client.started());
    EXPECT_TRUE(WaitUntil([] { return FindClient() != nullptr; }, 10000))
        << "the client window never appeared";
    return client;
}

// --- environment ----------------------------------------------------------

ScopedEnv::ScopedEnv(const std::wstring &name, const wchar_t *value) : name_(name)
{
    DWORD length = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (length > 0) {
        std::vector<wchar_t> old(length);
        GetEnvironmentVariableW(name.c_str(), old.data(), length);
        old_ = old.data();
        hadOld_ = true;
    }
    SetEnvironmentVariableW(name.c_str(), value);
}

ScopedEnv::~ScopedEnv()
{
    SetEnvironmentVariableW(name_.c_str(), hadOld_ ? old_.c_str() : nullptr);
}

// --- what Wine cannot show -------------------------------------------------

namespace {

std::wstring g_markedFolder;

DWORD WINAPI MarkedGetFileAttributesW(LPCWSTR path)
{
    DWORD attributes = GetFileAttributesW(path);
    size_t length = g_markedFolder.size();
    if (attributes != INVALID_FILE_ATTRIBUTES && _wcsnicmp(path, g_markedFolder.c_str(), length) == 0
        && (path[length] == L'\0' || path[length] == L'\\'))
        attributes |= FILE_ATTRIBUTE_TEMPORARY;
    return attributes;
}

}  // namespace

void *ReplaceImport(HMODULE module, const char *function, void *replacement)
{
    if (module == nullptr)
        return nullptr;
    auto *base = reinterpret_cast<BYTE *>(module);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(
        base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return nullptr;
    for (auto *entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->OriginalFirstThunk);
        auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) ||
                strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData)->Name,
                       function) != 0)
                continue;
            void **slot = reinterpret_cast<void **>(&slots->u1.Function);
            void *previous = *slot;
            DWORD old = 0;
            if (!VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old))
                return nullptr;
            *slot = replacement;
            VirtualProtect(slot, sizeof(*slot), old, &old);
            return previous;
        }
    }
    return nullptr;
}

namespace {

std::mutex g_stylesMutex;
std::vector<UINT> g_styles;

int WINAPI RecordedMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style)
{
    EXPECT_EQ(nullptr, owner) << "a message box with an owner window: " << Narrow(text);
    {
        std::lock_guard<std::mutex> lock(g_stylesMutex);
        g_styles.push_back(style);
    }
    return MessageBoxW(owner, text, caption, style);
}

}  // namespace

bool RecordMessageBoxStyles(HMODULE module)
{
    TakeMessageBoxStyles();
    return ReplaceImport(module, "MessageBoxW", reinterpret_cast<void *>(&RecordedMessageBoxW)) !=
           nullptr;
}

std::vector<UINT> TakeMessageBoxStyles()
{
    std::lock_guard<std::mutex> lock(g_stylesMutex);
    return std::exchange(g_styles, {});
}

TemporaryFolderMark::TemporaryFolderMark(HMODULE module, const std::wstring &folder)
    : module_(module)
{
    g_markedFolder = folder;
    original_ = ReplaceImport(module, "GetFileAttributesW",
                              reinterpret_cast<void *>(&MarkedGetFileAttributesW));
}

TemporaryFolderMark::~TemporaryFolderMark()
{
    if (original_ != nullptr)
        ReplaceImport(module_, "GetFileAttributesW", original_);
}

}  // namespace tb
