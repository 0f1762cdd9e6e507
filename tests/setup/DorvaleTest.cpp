// Dorvale.dll's four entry points, loaded afresh for every case, on a real
// folder tree, registry keys, client processes and message boxes.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "SetupEntryPoints.h"
#include "TestSupport.h"

namespace {

using tb::kInstallKey;
using tb::kSettingsKey;
// Under HKEY_LOCAL_MACHINE: the Remote API policy a grant replaced.
const wchar_t kSetupKey[] = L"Software\\Pelorin\\Setup";


typedef std::vector<std::pair<std::wstring, std::wstring>> Boxes;  // caption, text

std::wstring StartupFolder()
{
    wchar_t path[MAX_PATH];
    if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_STARTUP, TRUE))
        return std::wstring();
    return path;
}

bool MakeFile(const std::wstring &path, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    return tb::WriteFileBytes(path, "data") && SetFileAttributesW(path.c_str(), attributes);
}

bool MakeDir(const std::wstring &path)
{
    return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

bool Exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A folder below parent whose full path is exactly length characters long.
std::wstring MakeDirOfLength(const std::wstring &parent, size_t length, wchar_t fill)
{
    std::wstring base = parent + L"\\long";
    MakeDir(base);
    std::wstring dir = base + L"\\" + std::wstring(length - base.size() - 1, fill);
    return MakeDir(dir) ? dir : std::wstring();
}

bool ClientWindowShown()
{
    return tb::FindClient() != nullptr;
}

// Milliseconds taken by call.
template <typename Call>
ULONGLONG Timed(Call call)
{
    ULONGLONG start = GetTickCount64();
    call();
    return GetTickCount64() - start;
}

// A way to arrange the installation before a call, and its name.
struct Arrangement {
    const char *name;
    std::function<bool()> arrange;
};

class DorvaleTest : public ::testing::Test {
protected:
    // InstallDir missing or of no use, each arranged on the installation.
    std::vector<Arrangement> UnusableInstallDirs()
    {
        static const DWORD number = 7;
        return {
            {"no key", [] { tb::DeleteRegTree(HKEY_LOCAL_MACHINE, kInstallKey); return true; }},
            {"no value",
             [this] {
                 tb::DeleteRegTree(HKEY_LOCAL_MACHINE, kInstallKey);
                 return tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"Other", installDir);
             }},
            {"not a string",
             [] {
                 return tb::SetRegRaw(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", REG_DWORD,
                                      &number, sizeof(number));
             }},
            {"empty string",
             [] { return tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", L""); }},
        };
    }

    tb::TempDir temp;
    std::wstring installDir = temp.Join(L"Pelorin Client");
    std::wstring clientLog = temp.Join(L"client.log");
    std::wstring shellLog = temp.Join(L"shell.log");
    tb::ScopedEnv clientLogEnv{L"PELORIN_CLIENT_LOG", clientLog.c_str()};
    tb::ScopedEnv clientCloseEnv{L"PELORIN_CLIENT_ON_CLOSE", nullptr};
    tb::ScopedEnv clientSetVersionEnv{L"PELORIN_CLIENT_SETVERSION_MS", nullptr};
    tb::ScopedEnv shellLogEnv{L"PELORIN_AYGSHELL_LOG", shellLog.c_str()};
    tb::ScopedEnv shellResultEnv{L"PELORIN_AYGSHELL_RESULT", nullptr};
    tb::ScopedEnv shellOutputEnv{L"PELORIN_AYGSHELL_OUTPUT", nullptr};
    std::wstring policyFile = temp.Join(L"policy.txt");  // none: the query names no value
    tb::ScopedEnv shellPolicyEnv{L"PELORIN_AYGSHELL_POLICY", policyFile.c_str()};
    tb::ScopedEnv shellQueryResultEnv{L"PELORIN_AYGSHELL_QUERY_RESULT", nullptr};
    tb::ScopedEnv shellQueryOutputEnv{L"PELORIN_AYGSHELL_QUERY_OUTPUT", nullptr};
    bool inProcess = true;  // boxes come from this process's copy of the library
    tb::MessageBoxWatcher boxes;
    std::wstring shortcut;
    wchar_t oldDirectory[MAX_PATH] = {};
    HMODULE library = nullptr;
    pfnINSTALL_INIT installInit = nullptr;
    pfnINSTALL_EXIT installExit = nullptr;
    pfnUNINSTALL_INIT uninstallInit = nullptr;
    pfnUNINSTALL_EXIT uninstallExit = nullptr;

    void SetUp() override
    {
        ASSERT_FALSE(ClientWindowShown()) << "a client from elsewhere is running";
        tb::DeleteRegTree(HKEY_LOCAL_MACHINE, kInstallKey);
        tb::DeleteRegTree(HKEY_CURRENT_USER, kSettingsKey);
        tb::DeleteRegTree(HKEY_LOCAL_MACHINE, kSetupKey);
        // A path wrongly built from nothing would start at the current
        // drive's root: keep that inside the Wine prefix's C: drive.
        GetCurrentDirectoryW(MAX_PATH, oldDirectory);
        ASSERT_TRUE(SetCurrentDirectoryW(temp.path().c_str()));

        ASSERT_TRUE(MakeDir(installDir));
        ASSERT_TRUE(tb::CopyBinary(L"Client.exe", installDir + L"\\Client.exe"));
        ASSERT_TRUE(tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", installDir));
        ASSERT_TRUE(tb::SetRegDword(HKEY_CURRENT_USER, kSettingsKey, L"AutoRestart", 1));
        std::wstring startup = StartupFolder();
        ASSERT_FALSE(startup.empty());
        shortcut = startup + L"\\Pelorin.lnk";
        ASSERT_TRUE(tb::WriteFileBytes(shortcut, "shortcut"));

        ASSERT_TRUE(tb::CopyBinary(L"Dorvale.dll", temp.Join(L"Dorvale.dll")));
        library = LoadLibraryW(temp.Join(L"Dorvale.dll").c_str());
        ASSERT_NE(nullptr, library);
        installInit = (pfnINSTALL_INIT)(void (*)())GetProcAddress(library, "Install_Init");
        installExit = (pfnINSTALL_EXIT)(void (*)())GetProcAddress(library, "Install_Exit");
        uninstallInit = (pfnUNINSTALL_INIT)(void (*)())GetProcAddress(library, "Uninstall_Init");
        uninstallExit = (pfnUNINSTALL_EXIT)(void (*)())GetProcAddress(library, "Uninstall_Exit");
        ASSERT_TRUE(installInit && installExit && uninstallInit && uninstallExit);
        ASSERT_TRUE(tb::RecordMessageBoxStyles(library));
    }

    void TearDown() override
    {
        if (library != nullptr)
            FreeLibrary(library);
        SetDllDirectoryW(nullptr);
        tb::KillProcessesUnder(temp.path());
        if (!shortcut.empty())
            DeleteFileW(shortcut.c_str());
        tb::DeleteRegTree(HKEY_LOCAL_MACHINE, kInstallKey);
        tb::DeleteRegTree(HKEY_CURRENT_USER, kSettingsKey);
        tb::DeleteRegTree(HKEY_LOCAL_MACHINE, kSetupKey);
        SetCurrentDirectoryW(oldDirectory);
    }

    // Puts the shell library stand-in within the search path of LoadLibrary.
    void OfferShellLibrary()
    {
        ASSERT_TRUE(SetDllDirectoryW((tb::BinDir() + L"\\platform").c_str()));
    }

    // Starts the installed client, answering the close request as onClose
    // says, and waits for its window.
    tb::Process StartClient(const wchar_t *onClose)
    {
        SetEnvironmentVariableW(L"PELORIN_CLIENT_ON_CLOSE", onClose);
        return tb::StartClient(installDir);
    }

    // The boxes shown so far, oldest first, must be exactly these, each in
    // front with only an OK button.
    void ExpectBoxes(const Boxes &expected)
    {
        if (!expected.empty())
            boxes.WaitForBoxes(expected.size(), 2000);
        Boxes seen;
        for (const tb::MessageBoxSeen &box : boxes.Take())
            seen.emplace_back(box.caption, box.text);
        EXPECT_EQ(expected, seen);
        EXPECT_EQ(std::vector<UINT>(inProcess ? expected.size() : 0, MB_OK | MB_SETFOREGROUND),
                  tb::TakeMessageBoxStyles());
    }

    std::vector<std::string> ClientLog() { return tb::ReadLines(clientLog); }
    std::string LastClientEvent()
    {
        std::vector<std::string> lines = ClientLog();
        return lines.empty() ? std::string() : lines.back();
    }
    std::vector<std::string> ShellLog() { return tb::ReadLines(shellLog); }
    // The log lines of the documents given as "query" or "set <value>" of
    // policy 4097, whole as the configuration manager must get them.
    static std::vector<std::string> Documents(const std::vector<std::string> &documents)
    {
        std::vector<std::string> lines;
        for (const std::string &d : documents)
            lines.push_back("flags=1 output=null document=<wap-provisioningdoc><characteristic "
                            "type=\"SecurityPolicy\">" +
                            (d == "query" ? "<parm-query name=\"4097\"/>"
                                          : "<parm name=\"4097\" value=\"" + d.substr(4) + "\"/>") +
                            "</characteristic></wap-provisioningdoc>");
        return lines;
    }
};

// --- Install_Init ------------------------------------------------------------

TEST_F(DorvaleTest, InstallInitWithoutClientProvisionsAtOnceAndContinues)
{
    OfferShellLibrary();
    int result = -1;
    ULONGLONG elapsed = Timed([&] { result = installInit(nullptr, TRUE, FALSE, L"\\ignored"); });

    EXPECT_EQ(0, result);
    EXPECT_LT(elapsed, 500u) << "no client to wait for";
    ExpectBoxes({});
    EXPECT_EQ(Documents({"query", "set 1"}), ShellLog());
    EXPECT_FALSE(Exists(shortcut));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"AYGSHELL.DLL")) << "shell library left loaded";
    EXPECT_TRUE(ClientLog().empty()) << "nothing started";
}

TEST_F(DorvaleTest, InstallInitWaitsOneSecondForClientToClose)
{
    OfferShellLibrary();
    tb::Process client = StartClient(L"300");
    int result = -1;
    ULONGLONG elapsed = Timed([&] { result = installInit(nullptr, TRUE, FALSE, L"\\ignored"); });

    EXPECT_EQ(0, result);
    EXPECT_GE(elapsed, 950u);
    EXPECT_LT(elapsed, 2500u);
    EXPECT_TRUE(client.Wait(0));
    EXPECT_EQ("close", LastClientEvent());
    EXPECT_EQ(2u, ShellLog().size());
    ExpectBoxes({});
}

TEST_F(DorvaleTest, InstallInitCancelsWhileClientStillThereAfterOneSecond)
{
    OfferShellLibrary();
    // One client never closes, the other closes too late.
    for (const wchar_t *onClose : {L"ignore", L"2500"}) {
        SCOPED_TRACE(tb::Narrow(onClose));
        ASSERT_TRUE(tb::WriteFileBytes(shortcut, "shortcut"));
        tb::Process client = StartClient(onClose);
        int result = -1;
        ULONGLONG elapsed =
            Timed([&] { result = installInit(nullptr, TRUE, FALSE, L"\\ignored"); });

        EXPECT_EQ(1, result);
        EXPECT_GE(elapsed, 950u);
        EXPECT_LT(elapsed, 2500u);
        ExpectBoxes({{L"Install Init Error", L"Client cannot be shutdown: reset device."}});
        EXPECT_FALSE(Exists(shortcut)) << "the shortcut goes before the client check";
        EXPECT_TRUE(ShellLog().empty()) << "nothing may be provisioned";
        EXPECT_EQ("close", LastClientEvent());
        client.Terminate();
        EXPECT_TRUE(tb::WaitUntil([] { return !ClientWindowShown(); }, 5000));
    }
}

TEST_F(DorvaleTest, InstallInitReportsProvisioningFailuresButContinues)
{
    OfferShellLibrary();
    const wchar_t output[] = L"<wap-provisioningdoc><characteristic-error type=\"SecurityPolicy\"/>"
                             L"</wap-provisioningdoc>";
    struct Case {
        const wchar_t *result;
        const wchar_t *output;
        Boxes expected;
    } cases[] = {
        {L"0x80042A0B", output,
         {{L"Error", L"Failed to set security policy: 80042a0b"}, {L"XML Output", output}}},
        {L"0x8000FFFF", nullptr, {{L"Error", L"Failed to set security policy: 8000ffff"}}},
        // A success code other than S_OK is no failure, whatever came back.
        {L"0x0004ABCD", output, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(tb::Narrow(c.result));
        SetEnvironmentVariableW(L"PELORIN_AYGSHELL_RESULT", c.result);
        SetEnvironmentVariableW(L"PELORIN_AYGSHELL_OUTPUT", c.output);
        EXPECT_EQ(0, installInit(nullptr, TRUE, FALSE, L"\\ignored"));
        ExpectBoxes(c.expected);
    }
    EXPECT_EQ(6u, ShellLog().size());
}

TEST_F(DorvaleTest, InstallInitIsSilentWithoutTheShellLibraryOrItsCall)
{
    // Nothing on the search path offers the library.
    HMODULE probe = LoadLibraryW(L"AYGSHELL.DLL");
    if (probe != nullptr)
        FreeLibrary(probe);
    ASSERT_EQ(nullptr, probe);
    SetEnvironmentVariableW(L"PELORIN_AYGSHELL_RESULT", L"0x80004005");
    EXPECT_EQ(0, installInit(nullptr, TRUE, FALSE, L"\\ignored"));
    ExpectBoxes({});
    EXPECT_FALSE(Exists(shortcut));

    // A library of that name without the configuration-manager call.
    std::wstring platform = temp.Join(L"bare-platform");
    ASSERT_TRUE(MakeDir(platform));
    ASSERT_TRUE(tb::CopyBinary(L"Dorvale.dll", platform + L"\\AYGSHELL.DLL"));
    ASSERT_TRUE(SetDllDirectoryW(platform.c_str()));
    EXPECT_EQ(0, installInit(nullptr, TRUE, FALSE, L"\\ignored"));
    ExpectBoxes({});
    EXPECT_EQ(nullptr, GetModuleHandleW(L"AYGSHELL.DLL")) << "library left loaded";
    EXPECT_TRUE(ShellLog().empty());
}

// The grant lasts while the client is installed, never overrides an
// administrator's "off", and gives back what it replaced. Steps: I
// Install_Init, E Install_Exit, x Install_Exit without a client program to
// run, U Uninstall_Init and Uninstall_Exit (then the new files, as in an
// upgrade), 0 an administrator turns the Remote API off.
TEST_F(DorvaleTest, RemoteApiGrantLastsWhileTheClientIsInstalledAndHeedsTheAdministrator)
{
    OfferShellLibrary();
    const wchar_t *fails = L"0x80004005";
    const std::wstring unnamed = L"<wap-provisioningdoc><characteristic type=\"SecurityPolicy\"/>"
                                 L"</wap-provisioningdoc>";
    // Names the value only past the room an answer gets.
    const std::wstring tooLong = L"<wap-provisioningdoc><characteristic type=\"SecurityPolicy\">" +
                                 std::wstring(300, L' ') + L"<parm name=\"4097\" value=\"2\"/>"
                                 L"</characteristic></wap-provisioningdoc>";
    struct Case {
        const char *name;
        const char *policy;  // kept by the configuration manager; nullptr none
        const wchar_t *queryResult;
        const wchar_t *queryOutput;  // the answer instead of the kept value
        const char *steps;
        std::vector<std::string> documents;
        const char *left;    // the policy then
        DWORD recorded;      // 0: no record, and no Setup key
    } cases[] = {
        {"off", "0", nullptr, nullptr, "IEU", {"query", "query"}, "0", 0},
        {"full", "1", nullptr, nullptr, "IEU", {"query", "query"}, "1", 0},
        {"restricted, installed", "2", nullptr, nullptr, "IE", {"query", "set 1", "query"}, "1", 2},
        {"restricted, removed", "2", nullptr, nullptr, "IEU",
         {"query", "set 1", "query", "query", "set 2"}, "2", 0},
        {"turned off meanwhile", "2", nullptr, nullptr, "IE0U", {"query", "set 1", "query", "query"},
         "0", 0},
        {"undone", "2", nullptr, nullptr, "Ix", {"query", "set 1", "query", "query", "set 2"}, "2", 0},
        {"upgrade", "2", nullptr, nullptr, "IUE",
         {"query", "set 1", "query", "set 2", "query", "set 1"}, "1", 2},
        {"query fails", "2", fails, nullptr, "IEU", {"query", "set 1", "query", "set 1"}, "1", 0},
        {"no value", nullptr, nullptr, unnamed.c_str(), "IEU", {"query", "set 1", "query", "set 1"},
         "1", 0},
        {"too long", "2", nullptr, tooLong.c_str(), "IEU", {"query", "set 1", "query", "set 1"}, "1", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileW(shellLog.c_str());
        DeleteFileW(policyFile.c_str());
        ASSERT_TRUE(c.policy == nullptr || tb::WriteFileBytes(policyFile, c.policy));
        SetEnvironmentVariableW(L"PELORIN_AYGSHELL_QUERY_RESULT", c.queryResult);
        SetEnvironmentVariableW(L"PELORIN_AYGSHELL_QUERY_OUTPUT", c.queryOutput);
        for (const char *step = c.steps; *step != '\0'; ++step) {
            if (*step == '0')
                ASSERT_TRUE(tb::WriteFileBytes(policyFile, "0"));
            if (*step == 'x')
                ASSERT_TRUE(DeleteFileW((installDir + L"\\Client.exe").c_str()));
            int result = *step == 'I' ? installInit(nullptr, TRUE, FALSE, L"\\ignored")
                       : *step == 'E' || *step == 'x' ? installExit(nullptr, L"\\ignored", 0, 0, 0, 0, 0)
                       : *step == 'U' ? uninstallInit(nullptr, L"\\ignored") + uninstallExit(nullptr)
                                      : 0;
            EXPECT_EQ(*step == 'x' ? 1 : 0, result) << *step;
            if (*step == 'U' || *step == 'x')
                ASSERT_TRUE(tb::CopyBinary(L"Client.exe", installDir + L"\\Client.exe"));
        }
        ExpectBoxes(std::strchr(c.steps, 'x') ? Boxes{{L"Install Exit Error 1", L"Failed to execute Client"}}
                                              : Boxes{});
        EXPECT_EQ(Documents(c.documents), ShellLog());
        EXPECT_EQ(c.left, tb::ReadFileBytes(policyFile));
        DWORD recorded = 0;
        EXPECT_EQ(c.recorded != 0, tb::ReadRegDword(HKEY_LOCAL_MACHINE, kSetupKey, L"RemoteApiPolicy",
                                                    &recorded));
        EXPECT_EQ(c.recorded, recorded);
        EXPECT_EQ(c.recorded != 0, tb::RegKeyExists(HKEY_LOCAL_MACHINE, kSetupKey));
        tb::DeleteRegTree(HKEY_LOCAL_MACHINE, kSetupKey);
    }
}

TEST_F(DorvaleTest, ReadOnlyShortcutGoesAtInstallationAndRemoval)
{
    // Left behind, it would start a removed client at every boot.
    struct Entry {
        const char *name;
        std::function<int()> call;
    } entries[] = {
        {"Install_Init", [&] { return installInit(nullptr, TRUE, FALSE, L"\\ignored"); }},
        {"Uninstall_Init", [&] { return uninstallInit(nullptr, L"\\ignored"); }},
    };
    for (const Entry &entry : entries) {
        SCOPED_TRACE(entry.name);
        ASSERT_TRUE(MakeFile(shortcut, FILE_ATTRIBUTE_READONLY));
        EXPECT_EQ(0, entry.call());
        EXPECT_FALSE(Exists(shortcut));
        SetFileAttributesW(shortcut.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    ExpectBoxes({});
}

// --- Install_Exit ------------------------------------------------------------

// The library's LocalAlloc while a case needs it: every block is followed by
// bytes that are not zero. Whether the heap's own slack after a block is zero
// is chance, so without this a string read into a block with no room for its
// terminator may end by luck, or run on.
HLOCAL WINAPI LocalAllocFollowedByNoZero(UINT flags, SIZE_T size)
{
    const SIZE_T tail = 64;
    BYTE *block = static_cast<BYTE *>(LocalAlloc(flags, size + tail));
    if (block != nullptr)
        memset(block + size, 0x7F, tail);
    return block;
}

TEST_F(DorvaleTest, InstallExitRunsClientOnceWithSetVersion)
{
    // A directory read without room for the terminator added to it would run
    // on into what follows it.
    ASSERT_NE(nullptr, tb::ReplaceImport(library, "LocalAlloc", reinterpret_cast<void *>(LocalAllocFollowedByNoZero)));
    // Installation directory stored with and without a terminator.
    for (bool terminated : {true, false}) {
        SCOPED_TRACE(terminated ? "terminated" : "unterminated");
        DeleteFileW(clientLog.c_str());
        if (!terminated) {
            // The character after the data is not zero, so nothing adds one.
            std::wstring data = installDir + L"X";
            DWORD size = (DWORD)(installDir.size() * sizeof(wchar_t));
            ASSERT_TRUE(tb::SetRegRaw(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", REG_SZ,
                                      data.c_str(), size));
            std::vector<BYTE> stored;
            ASSERT_TRUE(tb::ReadRegRaw(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", &stored));
            ASSERT_EQ(size, stored.size());
        }
        int result = -1;
        ULONGLONG elapsed =
            Timed([&] { result = installExit(nullptr, L"\\ignored", 0, 0, 0, 0, 0); });

        EXPECT_EQ(0, result);
        EXPECT_LT(elapsed, 4000u);
        EXPECT_EQ(std::vector<std::string>{"start:/SETVERSION"}, ClientLog());
        ExpectBoxes({});
    }
}

TEST_F(DorvaleTest, InstallExitReleasesTheClientItStarted)
{
    std::wstring program = installDir + L"\\Client.exe";
    // The check itself: a handle held elsewhere keeps an ended process
    // reachable by its id, and nothing does once it is closed.
    DWORD controlId = 0;
    {
        SetEnvironmentVariableW(L"PELORIN_CLIENT_SETVERSION_MS", L"0");
        tb::RunOptions options;
        options.application = program;
        tb::Process control = tb::StartProcess(L"/SETVERSION", options);
        ASSERT_TRUE(control.started());
        ASSERT_TRUE(control.Wait(5000));
        controlId = control.id();
        ASSERT_TRUE(tb::ProcessReachable(controlId));
    }
    // Wine lets the object go about half a second after the last handle.
    ASSERT_TRUE(tb::WaitUntil([&] { return !tb::ProcessReachable(controlId); }, 3000));

    // Long enough a run to learn the client's id while Install_Exit waits.
    SetEnvironmentVariableW(L"PELORIN_CLIENT_SETVERSION_MS", L"1500");
    std::vector<DWORD> seen;
    std::thread spy([&] {
        tb::WaitUntil([&] { return !(seen = tb::ProcessesUnder(installDir)).empty(); }, 5000);
    });
    int result = installExit(nullptr, L"\\ignored", 0, 0, 0, 0, 0);
    spy.join();

    EXPECT_EQ(0, result);
    ASSERT_EQ(1u, seen.size());
    EXPECT_TRUE(tb::WaitUntil([&] { return !tb::ProcessReachable(seen[0]); }, 3000))
        << "process or thread handle left open";
    ExpectBoxes({});
}

TEST_F(DorvaleTest, InstallExitEndsTheClientItStartedBeforeUndoing)
{
    // Still running, the client would keep its files from being removed.
    SetEnvironmentVariableW(L"PELORIN_CLIENT_SETVERSION_MS", L"30000");
    HANDLE client = nullptr;
    std::thread spy([&] {
        std::vector<DWORD> seen;
        tb::WaitUntil([&] { return !(seen = tb::ProcessesUnder(installDir)).empty(); }, 4000);
        if (seen.size() == 1)
            client = OpenProcess(SYNCHRONIZE, FALSE, seen[0]);
    });
    int result = installExit(nullptr, L"\\ignored", 0, 0, 0, 0, 0);
    // The spy gave up long before the 5 s were out.
    spy.join();
    ASSERT_NE(nullptr, client) << "the client was never seen running";
    DWORD state = WaitForSingleObject(client, 0);
    CloseHandle(client);

    EXPECT_EQ(1, result);
    EXPECT_EQ(WAIT_OBJECT_0, state) << "the client still runs";
    ExpectBoxes({{L"Install Exit Error 2", L"Client failed to run"}});
}

TEST_F(DorvaleTest, InstallExitUndoesWhenClientKeepsRunning)
{
    SetEnvironmentVariableW(L"PELORIN_CLIENT_SETVERSION_MS", L"8000");
    int result = -1;
    ULONGLONG elapsed = Timed([&] { result = installExit(nullptr, L"\\ignored", 0, 0, 0, 0, 0); });

    EXPECT_EQ(1, result);
    EXPECT_GE(elapsed, 4950u);
    EXPECT_LT(elapsed, 7000u);
    ExpectBoxes({{L"Install Exit Error 2", L"Client failed to run"}});
    EXPECT_EQ(std::vector<std::string>{"start:/SETVERSION"}, ClientLog());
}

// Every program the library asks to start, by the name it gives.
std::vector<std::wstring> startsAsked;
BOOL WINAPI CreateProcessRecorded(LPCWSTR application, LPWSTR commandLine,
                                  LPSECURITY_ATTRIBUTES processSecurity,
                                  LPSECURITY_ATTRIBUTES threadSecurity, BOOL inherit, DWORD flags,
                                  LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                                  LPPROCESS_INFORMATION process)
{
    startsAsked.push_back(application != nullptr ? application : L"");
    return CreateProcessW(application, commandLine, processSecurity, threadSecurity, inherit, flags,
                          environment, directory, startup, process);
}

TEST_F(DorvaleTest, InstallExitUndoesWhenNoClientCanBeStarted)
{
    // A directory so long that "\Client.exe" no longer fits the 300
    // characters: "\Client.ex", a shortened name, is another program. Wine
    // starts nothing by a path that long, so the names the library asks to
    // start tell; on a device the client log would, too.
    startsAsked.clear();
    ASSERT_NE(nullptr, tb::ReplaceImport(library, "CreateProcessW", reinterpret_cast<void *>(CreateProcessRecorded)));
    std::wstring longDir = MakeDirOfLength(temp.path(), 289, L'd');
    ASSERT_EQ(289u, longDir.size());
    ASSERT_TRUE(tb::CopyBinary(L"Client.exe", longDir + L"\\Client.exe"));
    ASSERT_TRUE(tb::CopyBinary(L"Client.exe", longDir + L"\\Client.ex"));

    std::vector<Arrangement> cases = UnusableInstallDirs();
    cases.insert(cases.begin(), {"no Client.exe", [&] {
                                     return DeleteFileW((installDir + L"\\Client.exe").c_str()) != FALSE;
                                 }});
    cases.push_back({"path too long", [&] {
                         return tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", longDir);
                     }});
    // Resolved against the current folder, this names the installation,
    // with its client back in place.
    cases.push_back({"relative path", [&] {
                         return tb::CopyBinary(L"Client.exe", installDir + L"\\Client.exe")
                                && tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir",
                                                    L"Pelorin Client");
                     }});
    for (const Arrangement &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.arrange());
        EXPECT_EQ(1, installExit(nullptr, L"\\ignored", 0, 0, 0, 0, 0));
        ExpectBoxes({{L"Install Exit Error 1", L"Failed to execute Client"}});
        EXPECT_TRUE(ClientLog().empty());
    }
    // Only "no Client.exe" gets as far as a start, of the client's own name.
    EXPECT_EQ(std::vector<std::wstring>{installDir + L"\\Client.exe"}, startsAsked);
}

// --- Uninstall_Init ----------------------------------------------------------

// A used installation: what Uninstall_Init should leave (true) or remove.
struct TreeEntry {
    std::wstring path;  // below the installation directory; "" is the directory
    bool stays;
};

class UninstallTest : public DorvaleTest {
protected:
    // Fills the installation directory; Temp holds a read-only file if asked.
    std::vector<TreeEntry> BuildTree(const std::wstring &dir, bool readOnlyInTemp)
    {
        struct Item {
            const wchar_t *path;
            DWORD attributes;  // INVALID_FILE_ATTRIBUTES: a folder
            bool stays;
        } items[] = {
            {L"normal.txt", FILE_ATTRIBUTE_NORMAL, false},
            {L"hidden.txt", FILE_ATTRIBUTE_HIDDEN, false},
            {L"system.txt", FILE_ATTRIBUTE_SYSTEM, false},
            {L"readonly.txt", FILE_ATTRIBUTE_READONLY, true},
            {L"sub", INVALID_FILE_ATTRIBUTES, true},
            {L"sub\\inner.txt", FILE_ATTRIBUTE_NORMAL, true},
            {L"Outgoing", INVALID_FILE_ATTRIBUTES, true},
            {L"Outgoing\\queued.txt", FILE_ATTRIBUTE_NORMAL, true},
            {L"Media", INVALID_FILE_ATTRIBUTES, false},
            {L"Temp", INVALID_FILE_ATTRIBUTES, readOnlyInTemp},
            {L"Temp\\a.tmp", FILE_ATTRIBUTE_NORMAL, false},
            {L"Temp\\b.tmp", FILE_ATTRIBUTE_HIDDEN, false},
        };
        std::vector<TreeEntry> tree = {{L"", true}};
        if (!Exists(dir))
            EXPECT_TRUE(MakeDir(dir));
        if (Exists(dir + L"\\Client.exe"))
            tree.push_back({L"Client.exe", false});
        for (const Item &item : items) {
            std::wstring path = dir + L"\\" + item.path;
            EXPECT_TRUE(item.attributes == INVALID_FILE_ATTRIBUTES ? MakeDir(path)
                                                                   : MakeFile(path, item.attributes))
                << tb::Narrow(path);
            tree.push_back({item.path, item.stays});
        }
        if (readOnlyInTemp) {
            EXPECT_TRUE(MakeFile(dir + L"\\Temp\\locked.tmp", FILE_ATTRIBUTE_READONLY));
            tree.push_back({L"Temp\\locked.tmp", true});
        }
        return tree;
    }

    // Every entry exists exactly when expected (all when untouched).
    void ExpectTree(const std::wstring &dir, const std::vector<TreeEntry> &tree, bool untouched)
    {
        for (const TreeEntry &entry : tree) {
            std::wstring path = entry.path.empty() ? dir : dir + L"\\" + entry.path;
            EXPECT_EQ(untouched || entry.stays, Exists(path)) << tb::Narrow(path);
        }
    }
};

// Every path the library asks to delete. Wine's DeleteFileW refuses a
// read-only file anyway, so only this shows whether the library spared one.
std::vector<std::wstring> deletesAsked;
BOOL WINAPI DeleteFileRecorded(LPCWSTR path)
{
    deletesAsked.push_back(path);
    return DeleteFileW(path);
}

TEST_F(UninstallTest, UninstallInitClearsExactlyWhatMayGo)
{
    deletesAsked.clear();
    ASSERT_NE(nullptr, tb::ReplaceImport(library, "DeleteFileW", reinterpret_cast<void *>(DeleteFileRecorded)));
    for (bool readOnlyInTemp : {false, true}) {
        SCOPED_TRACE(readOnlyInTemp ? "read-only file in Temp" : "Temp all deletable");
        std::wstring dir = temp.Join(readOnlyInTemp ? L"Client B" : L"Client A");
        ASSERT_TRUE(MakeDir(dir));
        ASSERT_TRUE(tb::CopyBinary(L"Client.exe", dir + L"\\Client.exe"));
        ASSERT_TRUE(tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", dir));
        ASSERT_TRUE(tb::SetRegDword(HKEY_CURRENT_USER, kSettingsKey, L"AutoRestart", 1));
        // The client may keep more below its key; it all goes with the key.
        ASSERT_TRUE(tb::SetRegDword(HKEY_CURRENT_USER, std::wstring(kSettingsKey) + L"\\Accounts",
                                    L"Count", 2));
        ASSERT_TRUE(tb::WriteFileBytes(shortcut, "shortcut"));
        std::vector<TreeEntry> tree = BuildTree(dir, readOnlyInTemp);

        EXPECT_EQ(0, uninstallInit(nullptr, L"\\ignored"));
        ExpectTree(dir, tree, false);
        EXPECT_FALSE(tb::RegKeyExists(HKEY_CURRENT_USER, kSettingsKey));
        EXPECT_FALSE(Exists(shortcut));
        EXPECT_TRUE(tb::RegValueExists(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir"))
            << "the installation key is the installer's";
        ExpectBoxes({});
    }
    EXPECT_FALSE(deletesAsked.empty());
    for (const std::wstring &path : deletesAsked) {
        DWORD attributes = GetFileAttributesW(path.c_str());
        EXPECT_TRUE(attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
            << "asked to delete read-only " << tb::Narrow(path);
    }
}

TEST_F(UninstallTest, UninstallInitCancelsTouchingNothingWhileClientRuns)
{
    std::vector<TreeEntry> tree = BuildTree(installDir, true);
    tb::Process client = StartClient(L"ignore");
    int result = -1;
    ULONGLONG elapsed = Timed([&] { result = uninstallInit(nullptr, L"\\ignored"); });
    EXPECT_EQ(0, uninstallExit(nullptr));

    EXPECT_EQ(1, result);
    EXPECT_GE(elapsed, 950u);
    EXPECT_LT(elapsed, 2500u);
    ExpectBoxes({{L"Uninstall Init Error", L"Failed to shutdown Client"}});
    ExpectTree(installDir, tree, true);
    EXPECT_TRUE(tb::RegKeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(Exists(shortcut));
    EXPECT_EQ("close", LastClientEvent());
}

TEST_F(UninstallTest, UninstallInitWithoutUsableInstallDirStillRemovesKeyAndShortcut)
{
    std::vector<TreeEntry> tree = BuildTree(installDir, false);
    // What a path built from an empty string or a root would reach.
    std::vector<std::wstring> rootProbes;
    for (const wchar_t *folder : {L"C:\\Outgoing", L"C:\\Media", L"C:\\Temp"})
        if (MakeDir(folder))
            rootProbes.push_back(folder);
    ASSERT_TRUE(MakeDir(L"C:\\Temp") || Exists(L"C:\\Temp"));
    ASSERT_TRUE(MakeFile(L"C:\\Temp\\dorvale-probe.tmp"));
    ASSERT_TRUE(MakeFile(L"C:\\dorvale-probe.tmp"));

    std::vector<Arrangement> cases = UnusableInstallDirs();
    cases.push_back({"drive root", [] {
                         return tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", L"C:\\");
                     }});
    cases.push_back({"drive letter alone", [] {
                         return tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", L"C:");
                     }});
    // Resolved against the current folder, this names the installation.
    cases.push_back({"relative path", [] {
                         return tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir",
                                                 L"Pelorin Client");
                     }});
    for (const Arrangement &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.arrange());
        ASSERT_TRUE(tb::SetRegDword(HKEY_CURRENT_USER, kSettingsKey, L"AutoRestart", 1));
        ASSERT_TRUE(tb::WriteFileBytes(shortcut, "shortcut"));

        EXPECT_EQ(0, uninstallInit(nullptr, L"\\ignored"));
        ExpectBoxes({});
        ExpectTree(installDir, tree, true);
        EXPECT_FALSE(tb::RegKeyExists(HKEY_CURRENT_USER, kSettingsKey));
        EXPECT_FALSE(Exists(shortcut));
        for (const std::wstring &probe : rootProbes)
            EXPECT_TRUE(Exists(probe)) << tb::Narrow(probe);
        EXPECT_TRUE(Exists(L"C:\\Temp\\dorvale-probe.tmp"));
        EXPECT_TRUE(Exists(L"C:\\dorvale-probe.tmp"));
    }

    DeleteFileW(L"C:\\dorvale-probe.tmp");
    DeleteFileW(L"C:\\Temp\\dorvale-probe.tmp");
    for (const std::wstring &probe : rootProbes)
        RemoveDirectoryW(probe.c_str());
}

TEST_F(UninstallTest, StorageCardFolderCountsAsARootButFoldersOnItDoNot)
{
    // A card shows as a folder directly below the root, marked temporary;
    // Wine keeps no such mark, so the library's own look-up reports it.
    const std::wstring card = L"C:\\Dorvale Card";
    tb::RemoveTree(card);
    ASSERT_TRUE(MakeDir(card));
    tb::TemporaryFolderMark mark(library, card);
    ASSERT_TRUE(mark.active());
    std::vector<TreeEntry> cardTree = BuildTree(card, false);
    ASSERT_TRUE(tb::CopyBinary(L"Client.exe", card + L"\\Client.exe"));
    cardTree.push_back({L"Client.exe", true});
    ASSERT_TRUE(tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", card));

    EXPECT_EQ(1, installExit(nullptr, L"\\ignored", 0, 0, 0, 0, 0));
    ExpectBoxes({{L"Install Exit Error 1", L"Failed to execute Client"}});
    EXPECT_TRUE(ClientLog().empty());
    EXPECT_EQ(0, uninstallInit(nullptr, L"\\ignored"));
    ExpectBoxes({});
    ExpectTree(card, cardTree, true);
    EXPECT_FALSE(tb::RegKeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_FALSE(Exists(shortcut));

    // An installation deeper on the card, where every folder may carry the
    // mark, is cleared as any other.
    std::wstring deeper = card + L"\\Program Files";
    ASSERT_TRUE(MakeDir(deeper));
    std::vector<TreeEntry> tree = BuildTree(deeper, false);
    ASSERT_TRUE(tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", deeper));
    EXPECT_EQ(0, uninstallInit(nullptr, L"\\ignored"));
    ExpectBoxes({});
    ExpectTree(deeper, tree, false);
    ExpectTree(card, cardTree, true);
    tb::RemoveTree(card);
}

TEST_F(UninstallTest, UninstallInitSkipsEveryPathThatWouldNotFit)
{
    // 255 characters: "\*" and a name of up to three characters still fit
    // the 260-character buffers; "\Temp", "\Media", "\Outgoing" do not.
    std::wstring dir = MakeDirOfLength(temp.path(), 255, L'p');
    ASSERT_EQ(255u, dir.size());
    ASSERT_TRUE(tb::SetRegString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", dir));

    // "Tem", "Med" and "Out" are what the data folders' paths would be cut to.
    struct Item {
        const wchar_t *path;
        bool folder;
        bool stays;
    } items[] = {
        {L"abc", false, false},      {L"abcd", false, true}, {L"Temp", true, true},
        {L"Temp\\x.tmp", false, true}, {L"Tem", true, true},   {L"Tem\\y.tmp", false, true},
        {L"Media", true, true},      {L"Med", true, true},    {L"Outgoing", true, true},
        {L"Out", true, true},
    };
    std::vector<TreeEntry> tree = {{L"", true}};
    for (const Item &item : items) {
        std::wstring path = dir + L"\\" + item.path;
        ASSERT_TRUE(item.folder ? MakeDir(path) : MakeFile(path)) << tb::Narrow(path);
        tree.push_back({item.path, item.stays});
    }

    EXPECT_EQ(0, uninstallInit(nullptr, L"\\ignored"));
    ExpectBoxes({});
    ExpectTree(dir, tree, false);
    EXPECT_FALSE(tb::RegKeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_FALSE(Exists(shortcut));
}

// --- Uninstall_Exit ----------------------------------------------------------

// Uninstall_Exit has nothing to do: the case of the cancelled removal sees
// that it touches nothing.

// --- the calling convention ------------------------------------------------

#if defined(__i386__)
// Calls entry as an x86 caller of a cdecl function does: pushes the
// arguments, calls, and takes them off again itself. *moved gets how far the
// callee had moved the stack pointer on its return beyond its return address:
// 0 for a cdecl callee, the arguments' size for one that removed them itself.
// Compiled code may mend such a slip by its frame pointer, so only a caller
// that keeps no frame of its own around the call can tell.
extern "C" int CallCdeclMeasured(FARPROC entry, int count, const DWORD *arguments, int *moved);
asm(".text\n"
    ".globl _CallCdeclMeasured\n"
    "_CallCdeclMeasured:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 8(%ebp), %ebx\n"
    "  movl 12(%ebp), %ecx\n"
    "  movl 16(%ebp), %esi\n"
    "  movl %esp, %edi\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *%ebx\n"
    "  movl 12(%ebp), %ecx\n"
    "  leal (%esp,%ecx,4), %edx\n"
    "  subl %edi, %edx\n"
    "  movl 20(%ebp), %ecx\n"
    "  movl %edx, (%ecx)\n"
    "  movl %edi, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");
#endif

TEST_F(DorvaleTest, EntryPointsLeaveTheArgumentsToTheCallerAsTheSetupHeaderSays)
{
#if !defined(__i386__)
    GTEST_SKIP() << "x64 has one calling convention; the setup header's matters on x86";
#else
    const DWORD ignored = (DWORD)(UINT_PTR)L"\\ignored";
    struct Call {
        const char *name;
        std::vector<DWORD> arguments;
    };
    // In the installer's order, with no client running: every result is 0.
    const Call calls[] = {
        {"Install_Init", {0, TRUE, FALSE, ignored}},
        {"Install_Exit", {0, ignored, 0, 0, 0, 0, 0}},
        {"Uninstall_Init", {0, ignored}},
        {"Uninstall_Exit", {0}},
    };
    for (const Call &call : calls) {
        FARPROC entry = GetProcAddress(library, call.name);
        ASSERT_NE(nullptr, entry) << call.name;
        int moved = -1;
        int result = CallCdeclMeasured(entry, (int)call.arguments.size(), call.arguments.data(),
                                       &moved);
        EXPECT_EQ(0, result) << call.name;
        EXPECT_EQ(0, moved) << call.name << " moved the caller's stack pointer by " << moved
                            << " bytes";
    }
    ExpectBoxes({});
#endif
}

// --- through the installer stand-in ------------------------------------------

class InstallerTest : public DorvaleTest {
protected:
    // The installer with the setup library and the platform's shell library
    // beside it, off this test program's search path; the package to install.
    std::wstring tools = temp.Join(L"installer");
    std::wstring package = temp.Join(L"package");
    std::wstring target = temp.Join(L"Installed Client");

    void SetUp() override
    {
        DorvaleTest::SetUp();
        boxes.WatchAllProcesses();
        inProcess = false;
        ASSERT_TRUE(MakeDir(tools));
        for (const wchar_t *name : {L"installer.exe", L"Dorvale.dll"})
            ASSERT_TRUE(tb::CopyBinary(name, tools + L"\\" + name));
        ASSERT_TRUE(tb::CopyBinary(L"platform\\AYGSHELL.DLL", tools + L"\\AYGSHELL.DLL"));
        ASSERT_TRUE(MakeDir(package));
        ASSERT_TRUE(tb::CopyBinary(L"Client.exe", package + L"\\Client.exe"));
        ASSERT_TRUE(MakeFile(package + L"\\readme.txt"));
    }

    // The installer as its debugger, which keeps the installer's debug output.
    tb::ProcessResult RunInstaller(const std::wstring &mode, const std::wstring &dir,
                                   const std::wstring &switches = L"")
    {
        tb::RunOptions options;
        options.debugged = true;
        return tb::RunProcess(L"\"" + tools + L"\\installer.exe\" " + switches + L" " + mode +
                                  L" \"" + tools + L"\\Dorvale.dll\" \"" + dir + L"\" \"" +
                                  package + L"\"",
                              options);
    }
};

bool Contains(const std::string &text, const char *part)
{
    return text.find(part) != std::string::npos;
}

TEST_F(InstallerTest, InstallsAndRemovesThroughTheEntryPoints)
{
    tb::ProcessResult install = RunInstaller(L"install", target);
    EXPECT_EQ(0u, install.exitCode) << install.output;
    EXPECT_TRUE(Contains(install.output, "Install_Init returned 0")) << install.output;
    EXPECT_TRUE(Contains(install.output, "Install_Exit returned 0")) << install.output;
    EXPECT_EQ(std::vector<std::string>{"start:/SETVERSION"}, ClientLog());
    EXPECT_EQ(Documents({"query", "set 1", "query"}), ShellLog());
    EXPECT_FALSE(Exists(shortcut));
    EXPECT_TRUE(Exists(target + L"\\readme.txt"));

    // The client at work since: its data, settings and shortcut.
    ASSERT_TRUE(MakeFile(target + L"\\user.dat"));
    ASSERT_TRUE(MakeFile(target + L"\\keep.dat", FILE_ATTRIBUTE_READONLY));
    for (const wchar_t *folder : {L"\\Outgoing", L"\\Media", L"\\Temp"})
        ASSERT_TRUE(MakeDir(target + folder));
    ASSERT_TRUE(MakeFile(target + L"\\Outgoing\\queued.txt"));
    ASSERT_TRUE(MakeFile(target + L"\\Temp\\scratch.tmp"));
    ASSERT_TRUE(tb::WriteFileBytes(shortcut, "shortcut"));

    tb::ProcessResult remove = RunInstaller(L"remove", target);
    EXPECT_EQ(0u, remove.exitCode) << remove.output;
    EXPECT_TRUE(Contains(remove.output, "Uninstall_Init returned 0")) << remove.output;
    EXPECT_TRUE(Contains(remove.output, "Uninstall_Exit returned 0")) << remove.output;
    for (const wchar_t *gone : {L"\\Client.exe", L"\\readme.txt", L"\\user.dat", L"\\Media", L"\\Temp"})
        EXPECT_FALSE(Exists(target + gone)) << tb::Narrow(gone);
    for (const wchar_t *kept : {L"\\keep.dat", L"\\Outgoing\\queued.txt"})
        EXPECT_TRUE(Exists(target + kept)) << tb::Narrow(kept);
    EXPECT_FALSE(tb::RegKeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_FALSE(tb::RegKeyExists(HKEY_LOCAL_MACHINE, kInstallKey));
    EXPECT_FALSE(Exists(shortcut));
    ExpectBoxes({});
}

TEST_F(InstallerTest, ActsOnCancelAndUndo)
{
    // A running client that will not close cancels before any file moves.
    tb::Process client = StartClient(L"ignore");
    tb::ProcessResult cancelled = RunInstaller(L"install", installDir);
    EXPECT_EQ(2u, cancelled.exitCode) << cancelled.output;
    EXPECT_TRUE(Contains(cancelled.output, "installation cancelled")) << cancelled.output;
    EXPECT_FALSE(Exists(installDir + L"\\readme.txt"));
    ExpectBoxes({{L"Install Init Error", L"Client cannot be shutdown: reset device."}});
    client.Terminate();
    ASSERT_TRUE(client.Wait(5000));

    // Without the client program, Install_Exit has the installation undone.
    ASSERT_TRUE(DeleteFileW((package + L"\\Client.exe").c_str()));
    tb::ProcessResult undone = RunInstaller(L"install", target);
    EXPECT_EQ(3u, undone.exitCode) << undone.output;
    EXPECT_TRUE(Contains(undone.output, "installation undone")) << undone.output;
    EXPECT_FALSE(Exists(target + L"\\readme.txt"));
    EXPECT_FALSE(tb::RegKeyExists(HKEY_LOCAL_MACHINE, kInstallKey));
    ExpectBoxes({{L"Install Exit Error 1", L"Failed to execute Client"}});
}

// Fleets install unattended: with /noui or /silent (a word of its own, in
// any case) every message goes to the debug output instead of a box, and
// every entry point returns what it returns after the box.
TEST_F(InstallerTest, SilentInstallationsShowNoBoxAndLogEveryMessage)
{
    ASSERT_TRUE(DeleteFileW((package + L"\\Client.exe").c_str()));
    SetEnvironmentVariableW(L"PELORIN_AYGSHELL_RESULT", L"0x80042A0B");
    SetEnvironmentVariableW(L"PELORIN_AYGSHELL_OUTPUT", L"<characteristic-error/>");
    const Boxes refused = {{L"Install Init Error", L"Client cannot be shutdown: reset device."},
                           {L"Uninstall Init Error", L"Failed to shutdown Client"}};
    const Boxes failed = {{L"Error", L"Failed to set security policy: 80042a0b"},
                          {L"XML Output", L"<characteristic-error/>"},
                          {L"Error", L"Failed to set security policy: 80042a0b"},
                          {L"XML Output", L"<characteristic-error/>"},
                          {L"Install Exit Error 1", L"Failed to execute Client"}};
    // Shown as boxes, or else logged, caption first, a line each.
    auto expectMessages = [&](const Boxes &messages, bool silent, const std::string &logged) {
        std::string lines;
        for (const auto &box : messages)
            lines += tb::Narrow(box.first + L": " + box.second + L"\r\n");
        ExpectBoxes(silent ? Boxes{} : messages);
        EXPECT_EQ(silent ? lines : "", logged);
    };
    const std::pair<const wchar_t *, bool> words[] = {
        {L"/noui", true}, {L"/SILENT", true}, {L"/noUIx", false}, {L"/SILENTly", false}};
    for (const auto &[word, silent] : words) {
        SCOPED_TRACE(tb::Narrow(word));
        tb::Process client = StartClient(L"ignore");
        tb::ProcessResult install = RunInstaller(L"install", target, word);
        tb::ProcessResult remove = RunInstaller(L"remove", target, word);
        EXPECT_EQ(2u, install.exitCode) << install.output;
        EXPECT_EQ(2u, remove.exitCode) << remove.output;
        expectMessages(refused, silent, install.debugOutput + remove.debugOutput);
        client.Terminate();
        ASSERT_TRUE(tb::WaitUntil([] { return !ClientWindowShown(); }, 5000));

        tb::ProcessResult undone = RunInstaller(L"install", target, word);
        EXPECT_EQ(3u, undone.exitCode) << undone.output;
        expectMessages(failed, silent, undone.debugOutput);
    }
}

}  // namespace
