// Both remote calls first find the installation; a missing or malformed
// InstallDir warns once per load and fails the call, clearing its outputs.
#include "LifecycleFixture.h"

#include <cwchar>

using namespace remote;

TEST_F(LifecycleTest, MissingInstallDirWarnsOnceThenPassesOnceWritten)
{
    ExpectEarlyFailure(CallRemote(library_.shutdownClient, {}));
    ExpectNotInstalledBox(boxes_);

    ExpectEarlyFailure(CallRemote(library_.restartClient, {1}));
    ExpectEarlyFailure(CallRemote(library_.shutdownClient, {}));
    EXPECT_TRUE(boxes_.Take().empty()) << "the message shows once per load";
    EXPECT_FALSE(tb::RegKeyExists(HKEY_CURRENT_USER, tb::kSettingsKey));

    MakeInstallation(root_, true);
    CallResult call = CallRemote(library_.shutdownClient, {});
    EXPECT_EQ(S_OK, call.result);
    EXPECT_EQ(0u, call.outputSize);
    DWORD flag = 7;
    EXPECT_TRUE(ReadAutoRestart(&flag));
    EXPECT_EQ(0u, flag);
}

TEST_F(LifecycleTest, InstallationKeyWithoutValueCountsAsMissing)
{
    ASSERT_TRUE(tb::SetRegString(HKEY_LOCAL_MACHINE, tb::kInstallKey, L"Other", L"C:\\x"));
    ExpectEarlyFailure(CallRemote(library_.restartClient, {1}));
    ExpectNotInstalledBox(boxes_);
}

// Values that must count as not installed, as the bytes stored.
struct MalformedValue {
    const char *name;
    std::vector<wchar_t> data;  // stored from here...
    DWORD size;                 // ...this many bytes
};

void PrintTo(const MalformedValue &value, std::ostream *out)
{
    *out << value.name;
}

class MalformedInstallDir : public LifecycleTest,
                            public ::testing::WithParamInterface<MalformedValue> {};

TEST_P(MalformedInstallDir, CountsAsNotInstalled)
{
    const MalformedValue &value = GetParam();
    ASSERT_TRUE(tb::SetRegRaw(HKEY_LOCAL_MACHINE, tb::kInstallKey, L"InstallDir", REG_SZ,
                              value.data.data(), value.size));
    std::vector<BYTE> stored;
    ASSERT_TRUE(tb::ReadRegRaw(HKEY_LOCAL_MACHINE, tb::kInstallKey, L"InstallDir", &stored));
    ASSERT_EQ(value.size, stored.size()) << "the registry added or dropped bytes";

    ExpectEarlyFailure(CallRemote(library_.shutdownClient, {}));
    ExpectNotInstalledBox(boxes_);
    ExpectEarlyFailure(CallRemote(library_.restartClient, {1}));
    EXPECT_TRUE(boxes_.Take().empty());
    EXPECT_FALSE(tb::RegKeyExists(HKEY_CURRENT_USER, tb::kSettingsKey));
}

std::vector<wchar_t> Chars(size_t count, bool terminated)
{
    // A non-zero character always follows the stored data: the registry
    // would otherwise add a terminator of its own.
    std::vector<wchar_t> chars(count + 1, L'a');
    // An absolute path, so that only what the case is about is wrong.
    const wchar_t drive[] = L"C:\\";
    for (size_t i = 0; i < count && i < 3; ++i)
        chars[i] = drive[i];
    if (terminated)
        chars[count - 1] = L'\0';
    return chars;
}

MalformedValue Value(const char *name, size_t chars, bool terminated)
{
    return {name, Chars(chars, terminated), static_cast<DWORD>(chars * sizeof(wchar_t))};
}

// A well-formed string that names no folder below a root.
MalformedValue Text(const char *name, const wchar_t *text)
{
    std::vector<wchar_t> chars(text, text + wcslen(text) + 1);
    return {name, chars, static_cast<DWORD>(chars.size() * sizeof(wchar_t))};
}

INSTANTIATE_TEST_SUITE_P(
    Values, MalformedInstallDir,
    ::testing::Values(Value("Empty", 1, true), Value("NoBytes", 0, false),
                      // All 520 bytes used and no terminator among them.
                      Value("UnterminatedFull", 260, false), Value("UnterminatedShort", 4, false),
                      // 249 characters plus "\Client.exe" need 261 with the terminator.
                      Value("TooLongForProgramName", 250, true),
                      Value("LongerThanBuffer", 300, true),
                      // The client would be sought at a root, or wherever the
                      // current folder happens to be.
                      Text("DriveRoot", L"C:\\"), Text("DriveOnly", L"C:"),
                      Text("Relative", L"Pelorin Client"),
                      Text("ParentOfFolder", L"C:\\windows\\.."),
                      Text("UncShare", L"\\\\server\\share")),
    [](const ::testing::TestParamInfo<MalformedValue> &info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, LongestInstallDirThatLeavesRoomIsAccepted)
{
    // 248 characters and "\Client.exe" fill the 260-character path exactly.
    std::vector<wchar_t> value = Chars(249, true);
    ASSERT_TRUE(tb::SetRegRaw(HKEY_LOCAL_MACHINE, tb::kInstallKey, L"InstallDir", REG_SZ, value.data(),
                              249 * sizeof(wchar_t)));
    CallResult call = CallRemote(library_.shutdownClient, {});
    EXPECT_EQ(S_OK, call.result);
    EXPECT_TRUE(boxes_.Take().empty());
}

TEST_F(LifecycleTest, StorageCardFolderCountsAsNotInstalledButFoldersOnItDo)
{
    // A card shows as a folder directly below the root, marked temporary;
    // Wine keeps no such mark, so the library's own look-up reports it.
    const std::wstring card = L"C:\\Sembrin Card";
    tb::RemoveTree(card);
    ASSERT_TRUE(CreateDirectoryW(card.c_str(), nullptr));
    tb::TemporaryFolderMark mark(library_.module(), card);
    ASSERT_TRUE(mark.active());
    ASSERT_TRUE(tb::CopyBinary(L"Client.exe", card + L"\\Client.exe"));
    ASSERT_TRUE(tb::SetRegString(HKEY_LOCAL_MACHINE, tb::kInstallKey, L"InstallDir", card));

    ExpectEarlyFailure(CallRemote(library_.shutdownClient, {}));
    ExpectNotInstalledBox(boxes_);
    ExpectEarlyFailure(CallRemote(library_.restartClient, {1}));
    EXPECT_TRUE(boxes_.Take().empty());
    EXPECT_TRUE(ClientLog().empty());

    // Deeper on the card every folder may carry the mark; that is no root.
    const std::wstring deeper = card + L"\\Pelorin";
    ASSERT_TRUE(CreateDirectoryW(deeper.c_str(), nullptr));
    ASSERT_TRUE(tb::SetRegString(HKEY_LOCAL_MACHINE, tb::kInstallKey, L"InstallDir", deeper));
    EXPECT_EQ(S_OK, CallRemote(library_.shutdownClient, {}).result);
    EXPECT_TRUE(boxes_.Take().empty());
    tb::RemoveTree(card);
}

TEST_F(LifecycleTest, ChangedInstallDirIsNotSeenWhileLoaded)
{
    MakeInstallation(root_, true);
    EXPECT_EQ(S_OK, CallRemote(library_.restartClient, {1}).result);
    ASSERT_TRUE(WaitForStarts(1));
    tb::KillProcessesUnder(root_.path());

    // Now pointing at a folder without a client: only a fresh load sees it.
    tb::TempDir elsewhere;
    MakeInstallation(elsewhere, false);
    EXPECT_EQ(S_OK, CallRemote(library_.restartClient, {1}).result);
    EXPECT_TRUE(WaitForStarts(2));
    tb::KillProcessesUnder(root_.path());

    library_.Unload();
    SembrinLibrary reloaded;
    ASSERT_TRUE(reloaded.loaded());
    EXPECT_EQ(E_FAIL, CallRemote(reloaded.restartClient, {1}).result);
    EXPECT_TRUE(boxes_.Take().empty()) << "an installation was found, only the program is missing";
}
