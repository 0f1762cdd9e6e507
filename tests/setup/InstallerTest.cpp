// An installation and a removal through the package installer stand-in, with
// Dorvale.dll, the client and the shell library installed as on a device.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

const wchar_t kInstallKey[] = L"Software\\Apps\\Pelorin Client";
const wchar_t kSettingsKey[] = L"Software\\Pelorin";
const char kPolicyDocument[] =
    "<wap-provisioningdoc><characteristic type=\"SecurityPolicy\">"
    "<parm name=\"4097\" value=\"1\"/></characteristic></wap-provisioningdoc>";

bool Exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

class InstallerTest : public ::testing::Test {
protected:
    tb::TempDir temp;
    // The installer, the setup library and the platform's shell library in a
    // folder of their own: off this test program's search path.
    std::wstring tools = temp.Join(L"installer");
    std::wstring package = temp.Join(L"package");
    std::wstring installDir = temp.Join(L"Pelorin Client");
    std::wstring clientLog = temp.Join(L"client.log");
    std::wstring shellLog = temp.Join(L"shell.log");
    tb::ScopedEnv clientLogEnv{L"PELORIN_CLIENT_LOG", clientLog.c_str()};
    tb::ScopedEnv clientCloseEnv{L"PELORIN_CLIENT_ON_CLOSE", L"exit"};
    tb::ScopedEnv clientSetVersionEnv{L"PELORIN_CLIENT_SETVERSION_MS", nullptr};
    tb::ScopedEnv shellLogEnv{L"PELORIN_AYGSHELL_LOG", shellLog.c_str()};
    tb::ScopedEnv shellResultEnv{L"PELORIN_AYGSHELL_RESULT", nullptr};
    tb::ScopedEnv shellOutputEnv{L"PELORIN_AYGSHELL_OUTPUT", nullptr};
    tb::MessageBoxWatcher boxes;
    std::wstring shortcut;

    void SetUp() override
    {
        boxes.WatchAllProcesses();
        tb::DeleteRegTree(HKEY_LOCAL_MACHINE, kInstallKey);
        tb::DeleteRegTree(HKEY_CURRENT_USER, kSettingsKey);
        ASSERT_TRUE(CreateDirectoryW(tools.c_str(), nullptr));
        ASSERT_TRUE(tb::CopyBinary(L"installer.exe", tools + L"\\installer.exe"));
        ASSERT_TRUE(tb::CopyBinary(L"Dorvale.dll", tools + L"\\Dorvale.dll"));
        ASSERT_TRUE(tb::CopyBinary(L"platform\\AYGSHELL.DLL", tools + L"\\AYGSHELL.DLL"));
        ASSERT_TRUE(CreateDirectoryW(package.c_str(), nullptr));
        ASSERT_TRUE(tb::CopyBinary(L"Client.exe", package + L"\\Client.exe"));
        ASSERT_TRUE(tb::WriteFileBytes(package + L"\\readme.txt", "readme"));

        wchar_t startup[MAX_PATH];
        ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, startup, CSIDL_STARTUP, TRUE));
        shortcut = std::wstring(startup) + L"\\Pelorin.lnk";
        ASSERT_TRUE(tb::WriteFileBytes(shortcut, "shortcut"));
    }

    void TearDown() override
    {
        tb::KillProcessesUnder(temp.path());
        if (!shortcut.empty())
            DeleteFileW(shortcut.c_str());
        tb::DeleteRegTree(HKEY_LOCAL_MACHINE, kInstallKey);
        tb::DeleteRegTree(HKEY_CURRENT_USER, kSettingsKey);
    }

    tb::ProcessResult RunInstaller(const std::wstring &mode)
    {
        return tb::RunProcess(L"\"" + tools + L"\\installer.exe\" " + mode + L" \"" + tools +
                              L"\\Dorvale.dll\" \"" + installDir + L"\" \"" + package + L"\"");
    }

    std::vector<std::pair<std::wstring, std::wstring>> TakeBoxes(size_t expected)
    {
        if (expected > 0)
            boxes.WaitForBoxes(expected, 2000);
        std::vector<std::pair<std::wstring, std::wstring>> seen;
        for (const tb::MessageBoxSeen &box : boxes.Take())
            seen.emplace_back(box.caption, box.text);
        return seen;
    }
};

TEST_F(InstallerTest, InstallsAndRemovesThroughTheEntryPoints)
{
    tb::ProcessResult install = RunInstaller(L"install");
    ASSERT_TRUE(install.started);
    EXPECT_EQ(0u, install.exitCode) << install.output;
    EXPECT_TRUE(Contains(install.output, "Install_Init returned 0")) << install.output;
    EXPECT_TRUE(Contains(install.output, "Install_Exit returned 0")) << install.output;
    EXPECT_EQ(std::vector<std::string>{"start:/SETVERSION"}, tb::ReadLines(clientLog));
    EXPECT_EQ(std::vector<std::string>{std::string("flags=1 output=null document=") + kPolicyDocument},
              tb::ReadLines(shellLog));
    EXPECT_FALSE(Exists(shortcut));
    EXPECT_TRUE(Exists(installDir + L"\\Client.exe"));
    EXPECT_TRUE(Exists(installDir + L"\\readme.txt"));

    // The client at work since: its data, settings and a shortcut again.
    ASSERT_TRUE(tb::WriteFileBytes(installDir + L"\\user.dat", "x"));
    ASSERT_TRUE(tb::WriteFileBytes(installDir + L"\\keep.dat", "x"));
    ASSERT_TRUE(SetFileAttributesW((installDir + L"\\keep.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    for (const wchar_t *folder : {L"\\Outgoing", L"\\Media", L"\\Temp"})
        ASSERT_TRUE(CreateDirectoryW((installDir + folder).c_str(), nullptr));
    ASSERT_TRUE(tb::WriteFileBytes(installDir + L"\\Outgoing\\queued.txt", "x"));
    ASSERT_TRUE(tb::WriteFileBytes(installDir + L"\\Temp\\scratch.tmp", "x"));
    ASSERT_TRUE(tb::SetRegDword(HKEY_CURRENT_USER, kSettingsKey, L"AutoRestart", 0));
    ASSERT_TRUE(tb::WriteFileBytes(shortcut, "shortcut"));

    tb::ProcessResult remove = RunInstaller(L"remove");
    ASSERT_TRUE(remove.started);
    EXPECT_EQ(0u, remove.exitCode) << remove.output;
    EXPECT_TRUE(Contains(remove.output, "Uninstall_Init returned 0")) << remove.output;
    EXPECT_TRUE(Contains(remove.output, "Uninstall_Exit returned 0")) << remove.output;
    for (const wchar_t *gone : {L"\\Client.exe", L"\\readme.txt", L"\\user.dat", L"\\Media", L"\\Temp"})
        EXPECT_FALSE(Exists(installDir + gone)) << tb::Narrow(gone);
    for (const wchar_t *kept : {L"\\keep.dat", L"\\Outgoing\\queued.txt"})
        EXPECT_TRUE(Exists(installDir + kept)) << tb::Narrow(kept);
    EXPECT_FALSE(tb::RegKeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_FALSE(tb::RegKeyExists(HKEY_LOCAL_MACHINE, kInstallKey));
    EXPECT_FALSE(Exists(shortcut));
    EXPECT_TRUE(TakeBoxes(0).empty());
}

TEST_F(InstallerTest, ActsOnCancelAndUndo)
{
    // A running client that will not close cancels before any file moves.
    ASSERT_TRUE(CreateDirectoryW(installDir.c_str(), nullptr));
    ASSERT_TRUE(tb::CopyBinary(L"Client.exe", installDir + L"\\Client.exe"));
    SetEnvironmentVariableW(L"PELORIN_CLIENT_ON_CLOSE", L"ignore");
    tb::Process client = tb::StartProcess(L"\"" + installDir + L"\\Client.exe\"");
    ASSERT_TRUE(client.started());
    ASSERT_TRUE(tb::WaitUntil([] { return FindWindowW(L"PL3WNDCLASS", L"Pelorin") != nullptr; }, 10000));

    tb::ProcessResult cancelled = RunInstaller(L"install");
    EXPECT_EQ(2u, cancelled.exitCode) << cancelled.output;
    EXPECT_TRUE(Contains(cancelled.output, "installation cancelled")) << cancelled.output;
    EXPECT_FALSE(Exists(installDir + L"\\readme.txt"));
    EXPECT_EQ((std::vector<std::pair<std::wstring, std::wstring>>{
                  {L"Install Init Error", L"Client cannot be shutdown: reset device."}}),
              TakeBoxes(1));
    client.Terminate();
    ASSERT_TRUE(client.Wait(5000));

    // A package without the client program: Install_Exit has the
    // installation undone.
    ASSERT_TRUE(DeleteFileW((package + L"\\Client.exe").c_str()));
    ASSERT_TRUE(DeleteFileW((installDir + L"\\Client.exe").c_str()));
    tb::ProcessResult undone = RunInstaller(L"install");
    EXPECT_EQ(3u, undone.exitCode) << undone.output;
    EXPECT_TRUE(Contains(undone.output, "installation undone")) << undone.output;
    EXPECT_FALSE(Exists(installDir + L"\\readme.txt"));
    EXPECT_FALSE(tb::RegKeyExists(HKEY_LOCAL_MACHINE, kInstallKey));
    EXPECT_EQ((std::vector<std::pair<std::wstring, std::wstring>>{
                  {L"Install Exit Error 1", L"Failed to execute Client"}}),
              TakeBoxes(1));
}

}  // namespace
