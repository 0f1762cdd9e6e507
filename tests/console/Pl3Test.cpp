// pl3.com on real processes: copied beside the twin stand-in (as pl3.exe)
// into a fresh folder, started as a user would, its output and exit status
// read from the outside.
#include <gtest/gtest.h>

#include <windows.h>
#include <winternl.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Pl3Folder.h"
#include "TestSupport.h"

namespace {

// The twin's out:<n> pattern.
std::string Pattern(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

// The number after "<key>:" in the output, 0 when there is none.
DWORD NumberAfter(const std::string &output, const std::string &key)
{
    size_t at = output.find(key + ":");
    return at == std::string::npos ? 0 : std::stoul(output.substr(at + key.size() + 1));
}

class Pl3 : public Pl3Folder {
protected:
    tb::ProcessResult Run(const std::wstring &arguments, DWORD timeoutMs = 30000)
    {
        tb::RunOptions options;
        options.timeoutMs = timeoutMs;
        tb::ProcessResult result = RunLauncher(L"\"" + Launcher() + L"\" " + arguments, options);
        EXPECT_TRUE(result.started) << "start error " << result.startError;
        EXPECT_FALSE(result.timedOut);
        return result;
    }
};

// Gives a C runtime file back what it held before _dup2, and the system's
// standard handle with it.
void RestoreFile(int file, int saved, DWORD standard)
{
    if (saved >= 0) {
        _dup2(saved, file);
        _close(saved);
    } else {
        _close(file);
    }
    SetStdHandle(standard, saved >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(file)) : nullptr);
}

// pl3.com with its output on a pipe that the test reads as it comes, and a
// standard input of the test's choosing.
class Live {
public:
    Live(const std::wstring &commandLine, HANDLE input)
    {
        tb::StartPiped(commandLine, tb::RunOptions(), input, &info_, &output_);
    }
    ~Live()
    {
        if (info_.hProcess != nullptr) {
            Terminate();
            CloseHandle(info_.hProcess);
            CloseHandle(info_.hThread);
        }
        if (output_ != nullptr)
            CloseHandle(output_);
    }

    bool started() const { return info_.hProcess != nullptr; }
    HANDLE thread() const { return info_.hThread; }
    // Ends pl3.com from outside, as a time-out or a task manager does.
    void Terminate() const { TerminateProcess(info_.hProcess, 1); }
    bool Ended(DWORD timeoutMs) const
    {
        return WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0;
    }
    DWORD ExitCode() const
    {
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }
    // Reads until text has arrived; false when it has not within timeoutMs.
    bool ReadUntil(const std::string &text, DWORD timeoutMs)
    {
        DWORD begin = GetTickCount();
        for (;;) {
            tb::ReadWaiting(output_, &seen);
            if (seen.find(text) != std::string::npos)
                return true;
            if (GetTickCount() - begin > timeoutMs)
                return false;
            Sleep(5);
        }
    }
    // Reads until end-of-file, when no process holds a write end any more;
    // false when that has not come within timeoutMs.
    bool ReadToEnd(DWORD timeoutMs)
    {
        DWORD begin = GetTickCount();
        for (;;) {
            if (!tb::ReadWaiting(output_, &seen))
                return GetLastError() == ERROR_BROKEN_PIPE;
            if (GetTickCount() - begin > timeoutMs)
                return false;
            Sleep(5);
        }
    }

    std::string seen;

private:
    PROCESS_INFORMATION info_ = {};
    HANDLE output_ = nullptr;
};

TEST_F(Pl3, RelaysPayloadsByteForByte)
{
    for (size_t size : {0, 1, 1023, 1024, 1025, 7000}) {
        SCOPED_TRACE("size " + std::to_string(size));
        tb::ProcessResult result = Run(L"out:" + std::to_wstring(size));
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_TRUE(result.output == Pattern(size)) << "got " << result.output.size() << " bytes";
    }
}

TEST_F(Pl3, RelaysMebibytesOfRandomBinaryUnchanged)
{
    std::mt19937 random(20261208);
    std::string data(3 * 1024 * 1024 + 17, '\0');
    for (char &byte : data)
        byte = static_cast<char>(random());
    // Bytes that a text stream or a string copy would alter or cut at.
    data.replace(0, 6, std::string("\0\n\r\n\r\0", 6));
    data.replace(data.size() - 3, 3, std::string("\r\0\n", 3));
    ASSERT_TRUE(tb::WriteFileBytes(dir.Join(L"payload.bin"), data));

    tb::ProcessResult result = Run(L"file:" + dir.Join(L"payload.bin"));
    EXPECT_EQ(0u, result.exitCode);
    ASSERT_EQ(data.size(), result.output.size());
    EXPECT_TRUE(result.output == data) << "content differs";
}

TEST_F(Pl3, RelaysStandardErrorInOrder)
{
    tb::ProcessResult result = Run(L"text:one err:3000 text:two");
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_TRUE(result.output == "one" + Pattern(3000) + "two");
}

TEST_F(Pl3, RelaysOutputWhileTheTwinStillRuns)
{
    Live pl3(L"\"" + Launcher() + L"\" line:first sleep:4000 line:second", nullptr);
    ASSERT_TRUE(pl3.started());
    ASSERT_TRUE(pl3.ReadUntil("first\r\n", 3000)) << "got: " << pl3.seen;
    EXPECT_FALSE(pl3.Ended(0)) << "the first line came only at the end";
    ASSERT_TRUE(pl3.Ended(10000));
    EXPECT_TRUE(pl3.ReadUntil("second\r\n", 1000));
    EXPECT_EQ("first\r\nsecond\r\n", pl3.seen);
}

TEST_F(Pl3, EndsWithTheTwinsExitStatus)
{
    // 259 is also what a running process reports: the end must still be seen.
    for (DWORD status : {0ul, 7ul, 259ul, 0xC0000005ul}) {
        SCOPED_TRACE("status " + std::to_string(status));
        tb::ProcessResult result = Run(L"text:x exit:" + std::to_wstring(status), 10000);
        EXPECT_EQ(status, result.exitCode);
        EXPECT_EQ("x", result.output);
        EXPECT_LT(result.elapsedMs, 5000u);
    }
}

TEST_F(Pl3, ReportsATwinThatCannotStart)
{
    tb::TempDir alone;
    ASSERT_TRUE(tb::CopyBinary(L"pl3.com", alone.Join(L"pl3.com")));
    tb::ProcessResult missing = tb::RunProcess(L"\"" + alone.Join(L"pl3.com") + L"\" x");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), missing.exitCode);
    EXPECT_EQ(0u, missing.output.find("CreateProcess: ")) << missing.output;
    EXPECT_GT(missing.output.size(), std::string("CreateProcess: \r\n").size());
    EXPECT_EQ(missing.output.size() - 2, missing.output.find("\r\n")) << missing.output;

    ASSERT_TRUE(tb::WriteFileBytes(alone.Join(L"pl3.exe"), "not a program\r\n"));
    tb::ProcessResult broken = tb::RunProcess(L"\"" + alone.Join(L"pl3.com") + L"\" x");
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_EXE_FORMAT), broken.exitCode);
    EXPECT_EQ("CreateProcess: " + SystemText(ERROR_BAD_EXE_FORMAT) + "\r\n", broken.output);
}

TEST_F(Pl3, TwinSeesEndOfInputAndNotTheLaunchersInput)
{
    // The launcher's own input holds data and never ends: a twin given it, or
    // given an input pipe still open at the launcher, would wait for ever.
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE inputRead = nullptr, inputWrite = nullptr;
    ASSERT_TRUE(CreatePipe(&inputRead, &inputWrite, &inheritable, 0));
    SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    DWORD written = 0;
    WriteFile(inputWrite, "secret", 6, &written, nullptr);
    {
        Live pl3(L"\"" + Launcher() + L"\" stdin", inputRead);
        ASSERT_TRUE(pl3.started());
        EXPECT_TRUE(pl3.Ended(5000)) << "the twin is still waiting for input";
        pl3.ReadUntil("\n", 1000);
        EXPECT_EQ("stdin:0\r\n", pl3.seen);
        EXPECT_EQ(0u, pl3.ExitCode());
    }
    CloseHandle(inputRead);
    CloseHandle(inputWrite);
}

TEST_F(Pl3, TextTheTwinWritesToAConsoleIsNotRelayed)
{
    tb::ProcessResult result = Run(L"console:hidden line:shown");
    EXPECT_EQ(0u, result.exitCode) << "the twin could not write to a console";
    EXPECT_EQ("shown\r\n", result.output);
}

TEST_F(Pl3, PassesItsCommandLineWithOnlyTheProgramRenamed)
{
    tb::ProcessResult quoted = Run(L"cmdline exit:0 a.com");
    EXPECT_EQ("\"" + tb::Narrow(dir.Join(L"pl3.exe")) + "\" cmdline exit:0 a.com\r\n",
              quoted.output);

    // A dotted folder and a capital name; the letters change, not their case
    // elsewhere.
    std::wstring dotted = dir.Join(L"my.company");
    ASSERT_TRUE(CreateDirectoryW(dotted.c_str(), nullptr));
    ASSERT_TRUE(tb::CopyBinary(L"pl3.com", dotted + L"\\PL3.COM"));
    ASSERT_TRUE(tb::CopyBinary(L"twin.exe", dotted + L"\\PL3.exe"));
    tb::ProcessResult plain = tb::RunProcess(dotted + L"\\PL3.COM cmdline exit:0 report.com");
    EXPECT_EQ(tb::Narrow(dotted) + "\\PL3.exe cmdline exit:0 report.com\r\n", plain.output);

    // Typed without extension, as at a prompt: the line goes on unchanged,
    // and the program is still the one beside the launcher.
    tb::RunOptions options;
    options.application = Launcher();
    tb::ProcessResult bare = tb::RunProcess(L"pl3 cmdline exit:0", options);
    EXPECT_EQ("pl3 cmdline exit:0\r\n", bare.output);
}

TEST_F(Pl3, WhatTheTwinLeavesRunningGoesOnButHoldsNeitherTheLauncherNorItsCaller)
{
    // The grandchild writes long after the twin's end and lives on after that.
    // A second one starts a process out of the job once the twin has ended,
    // as it could before. Neither holds a file that the caller handed
    // pl3.com as an inheritable handle and then closed.
    std::wstring heldFile = dir.Join(L"held.txt");
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE held = CreateFileW(heldFile.c_str(), GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS, 0,
                              nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    Live pl3(L"\"" + Launcher() +
                 L"\" spawn:sleep:8000,line:late,sleep:4000 spawn:sleep:2500,breakaway:sleep:8000"
                 L" line:early exit:5",
             nullptr);
    CloseHandle(held);
    ASSERT_TRUE(pl3.started());
    DWORD begin = GetTickCount();
    ASSERT_TRUE(pl3.ReadToEnd(15000)) << "no end of output: " << pl3.seen;
    DWORD endOfOutput = GetTickCount() - begin;
    EXPECT_TRUE(pl3.Ended(1000));
    held = CreateFileW(heldFile.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, held) << "what pl3.com started holds its caller's file";
    CloseHandle(held);
    EXPECT_EQ(5u, pl3.ExitCode());
    // Seen at pl3.com's end, not at the grandchild's write or end.
    EXPECT_LT(endOfOutput, 3000u) << "end of output came after " << endOfOutput << " ms";
    EXPECT_NE(std::string::npos, pl3.seen.find("early\r\n")) << pl3.seen;
    EXPECT_EQ(std::string::npos, pl3.seen.find("late")) << pl3.seen;
    size_t second = pl3.seen.find("grandchild:", pl3.seen.find("grandchild:") + 1);
    ASSERT_NE(std::string::npos, second) << pl3.seen;
    DWORD leaver = NumberAfter(pl3.seen.substr(second), "grandchild");
    {
        // It ends right after that start, its report having no pipe to go
        // to; a process that left the job lives on.
        tb::Process leaving = tb::HoldProcess(leaver);
        ASSERT_TRUE(leaving.started());
        ASSERT_TRUE(leaving.Wait(15000));
        std::vector<DWORD> left = tb::ProcessesUnder(dir.path());
        DWORD first = NumberAfter(pl3.seen, "grandchild");
        EXPECT_TRUE(std::any_of(left.begin(), left.end(),
                                [&](DWORD id) { return id != first && id != leaver; }))
            << "the twin's child could not start a process out of the job after the twin's end";
    }
    DWORD grandchild = NumberAfter(pl3.seen, "grandchild");
    ASSERT_NE(0u, grandchild) << pl3.seen;
    tb::Process child = tb::HoldProcess(grandchild);
    EXPECT_TRUE(child.started() && !child.Wait(500)) << "the twin's child was ended with the launcher";
}

TEST_F(Pl3, AGrandchildThatKeepsThePipeFullCannotHoldTheLauncher)
{
    // Two grandchildren write for as long as the pipe is there, faster than
    // the test takes the relayed bytes: while one starts its next write, the
    // other's waits in the pipe, so every read finds bytes waiting. The twin
    // ends after 300 ms; the launcher has to see that within a few chunks,
    // or it would relay for ever.
    Live pl3(L"\"" + Launcher() + L"\" spawn:flood spawn:flood sleep:300 exit:4", nullptr);
    ASSERT_TRUE(pl3.started());
    DWORD begin = GetTickCount();
    size_t relayed = 0;
    while (!pl3.Ended(1) && GetTickCount() - begin < 10000) {
        pl3.ReadUntil("", 0);
        relayed += pl3.seen.size();
        pl3.seen.clear();
    }
    EXPECT_TRUE(pl3.Ended(0)) << "still relaying after 10 s, " << relayed << " bytes so far";
    EXPECT_EQ(4u, pl3.ExitCode());
    tb::KillProcessesUnder(dir.path());
}

// A child the twin starts out of its job is meant to outlive it.
TEST_F(Pl3, EndedFromOutsideItTakesTheTwinAndItsChildWithItButNotAChildThatLeftTheJob)
{
    Live pl3(L"\"" + Launcher() +
                 L"\" pid spawn:sleep:20000 breakaway:sleep:20000 line:ready sleep:20000",
             nullptr);
    ASSERT_TRUE(pl3.started());
    ASSERT_TRUE(pl3.ReadUntil("ready\r\n", 10000)) << "the twin could not start its child out of "
                                                      << "the job: " << pl3.seen;
    tb::Process twin = tb::HoldProcess(NumberAfter(pl3.seen, "pid"));
    tb::Process child = tb::HoldProcess(NumberAfter(pl3.seen, "grandchild"));
    tb::Process away = tb::HoldProcess(NumberAfter(pl3.seen, "breakaway"));
    ASSERT_TRUE(twin.started() && child.started() && away.started()) << pl3.seen;
    pl3.Terminate();
    EXPECT_TRUE(twin.Wait(1000)) << "the twin runs on hidden";
    EXPECT_TRUE(child.Wait(1000)) << "the twin's child runs on hidden";
    EXPECT_FALSE(away.Wait(500)) << "the child that left the job was ended too";
    tb::KillProcessesUnder(dir.path());
}

// Callers that name the program file often leave a path with blanks
// unquoted. The line alone then names pl3.com again, and that copy would
// do the same.
TEST_F(Pl3, AnUnquotedPathWithBlanksStartsTheProgramOnce)
{
    std::wstring folder = dir.Join(L"A B");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(tb::CopyBinary(L"pl3.com", folder + L"\\pl3.com"));
    ASSERT_TRUE(tb::CopyBinary(L"twin.exe", folder + L"\\pl3.exe"));
    tb::RunOptions options;
    options.application = folder + L"\\pl3.com";
    options.timeoutMs = 10000;
    std::wstring line = options.application + L" -- cmdline exit:7";
    DWORD processes = 0;
    tb::ProcessResult result = RunLauncher(line, options, &processes);
    EXPECT_EQ(2u, processes) << "pl3.com started itself";
    EXPECT_EQ(7u, result.exitCode);
    // Its first token names no ".com", so the line goes on as it came.
    EXPECT_EQ(tb::Narrow(line) + "\r\n", result.output);
}

// Only a launcher named "*.com" has a program to start, and never one that
// is the launcher's own file under another name.
TEST_F(Pl3, StartsNothingWhereItsNameNamesNoOtherProgram)
{
    const std::string refusal = "CreateProcess: " + SystemText(ERROR_INVALID_NAME) + "\r\n";
    tb::RunOptions options;
    options.timeoutMs = 10000;
    options.application = dir.Join(L"launcher.bin");
    ASSERT_TRUE(tb::CopyBinary(L"pl3.com", options.application));
    DWORD processes = 0;
    tb::ProcessResult renamed =
        RunLauncher(L"\"" + options.application + L"\" /x", options, &processes);
    EXPECT_EQ(1u, processes) << "launcher.bin started a program";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), renamed.exitCode);
    EXPECT_EQ(refusal, renamed.output);

    // pl3.exe as a second name of pl3.com's own file.
    ASSERT_TRUE(DeleteFileW(dir.Join(L"pl3.exe").c_str()));
    ASSERT_TRUE(CreateHardLinkW(dir.Join(L"pl3.exe").c_str(), Launcher().c_str(), nullptr));
    options.application.clear();
    tb::ProcessResult linked = RunLauncher(L"\"" + Launcher() + L"\" /x", options, &processes);
    EXPECT_EQ(1u, processes) << "pl3.com started its own file";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), linked.exitCode);
    EXPECT_EQ(refusal, linked.output);
}

// Installers put tools and their launchers in the system folder. There a
// 32-bit launcher on a 64-bit system has its file accesses sent to the
// 32-bit system folder, where the program is not; the program is still the
// one that its name names to the 64-bit caller.
TEST_F(Pl3, TheX86LauncherInTheSystemFolderStartsTheProgramBesideIt)
{
    if (sizeof(void *) == 4)
        GTEST_SKIP() << "a 32-bit system redirects nothing: the case needs the 64-bit build";
    std::wstring x86 = tb::BinDir() + L"\\..\\..\\win32\\bin\\pl3.com";
    if (!tb::FileExists(x86))
        GTEST_SKIP() << "no x86 pl3.com: the win32 preset is not built";
    // 64-bit Wine reports a start of an x86 program also without 32-bit
    // Wine: the machine's probe, which tools/with-wine asks, decides.
    const char *i386 = std::getenv("PELORIN_RUNS_I386");
    if (i386 == nullptr || std::string(i386) != "1")
        GTEST_SKIP() << (i386 == nullptr ? "not run through tools/with-wine, which asks"
                                         : "this machine has no 32-bit Wine:")
                     << " tools/can-run-i386";
    // Outside the system folder first.
    ASSERT_TRUE(CopyFileW(x86.c_str(), Launcher().c_str(), FALSE));
    tb::RunOptions options;
    options.timeoutMs = 10000;
    tb::ProcessResult beside = RunLauncher(L"\"" + Launcher() + L"\" exit:7", options);
    ASSERT_EQ(7u, beside.exitCode) << beside.output;

    // Names of our own, removed however the case ends: the folder is left as
    // it was found.
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    std::wstring base = std::wstring(system) + L"\\pl3-test-" + std::to_wstring(GetCurrentProcessId());
    struct Placed {
        std::vector<std::wstring> files;
        ~Placed()
        {
            for (const std::wstring &file : files) {
                if (!tb::WaitUntil([&] { return DeleteFileW(file.c_str()) || !tb::FileExists(file); },
                                   5000))
                    ADD_FAILURE() << "left " << tb::Narrow(file) << " behind";
            }
        }
    } placed;
    for (const wchar_t *extension : {L".com", L".exe"}) {
        ASSERT_FALSE(tb::FileExists(base + extension)) << tb::Narrow(base + extension);
        placed.files.push_back(base + extension);
    }
    ASSERT_TRUE(CopyFileW(x86.c_str(), (base + L".com").c_str(), TRUE));
    ASSERT_TRUE(tb::CopyBinary(L"twin.exe", base + L".exe"));
    tb::ProcessResult installed = RunLauncher(L"\"" + base + L".com\" exit:7", options);
    EXPECT_EQ(7u, installed.exitCode) << installed.output;
    EXPECT_EQ("", installed.output);

    // The launcher knows its own file there too.
    ASSERT_TRUE(DeleteFileW((base + L".exe").c_str()));
    ASSERT_TRUE(CreateHardLinkW((base + L".exe").c_str(), (base + L".com").c_str(), nullptr));
    DWORD processes = 0;
    tb::ProcessResult itself = RunLauncher(L"\"" + base + L".com\" exit:7", options, &processes);
    EXPECT_EQ(1u, processes) << "pl3.com started its own file";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), itself.exitCode) << itself.output;
}

// A symbolic link to a file. Wine's CreateSymbolicLinkW reports success and
// makes nothing, but a link made on the Linux side is one to Windows
// programs: there Linux's ln makes it. False where neither can.
bool MakeFileLink(const std::wstring &link, const std::wstring &target)
{
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(),
                            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        tb::FileExists(link))
        return true;
    typedef char *(CDECL * UnixFileName)(const wchar_t *);
    UnixFileName unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixFileName == nullptr)
        return false;
    std::wstring folder = link.substr(0, link.find_last_of(L'\\'));
    char *from = unixFileName(target.c_str());
    char *into = unixFileName(folder.c_str());
    std::wstring line;
    if (from != nullptr && into != nullptr)
        line = L"ln -s \"" + tb::Widen(from) + L"\" \"" + tb::Widen(into) + L"/" +
               link.substr(folder.size() + 1) + L"\"";
    HeapFree(GetProcessHeap(), 0, from);
    HeapFree(GetProcessHeap(), 0, into);
    // Wine runs a Linux program without a process to wait for: wait for the
    // link instead.
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION ln = {};
    if (line.empty() || !CreateProcessW(L"Z:\\bin\\ln", &line[0], nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &ln))
        return false;
    CloseHandle(ln.hThread);
    CloseHandle(ln.hProcess);
    return tb::WaitUntil([&] { return tb::FileExists(link); }, 10000);
}

// Package managers put links to their tools in one folder on the PATH; the
// program is installed beside the file the link leads to, and must not be
// the launcher's own file there either.
TEST_F(Pl3, ReachedThroughALinkItStartsTheProgramBesideTheLinksTarget)
{
    std::wstring links = dir.Join(L"links");
    ASSERT_TRUE(CreateDirectoryW(links.c_str(), nullptr));
    if (!MakeFileLink(links + L"\\pl3.com", Launcher()))
        GTEST_SKIP() << "this system makes no symbolic link to a file here";
    tb::RunOptions options;
    options.timeoutMs = 10000;
    DWORD processes = 0;
    // The line still names the link's folder: only the program is found
    // elsewhere.
    std::wstring line = L"\"" + links + L"\\pl3.com\" cmdline exit:7";
    tb::ProcessResult linked = RunLauncher(line, options);
    EXPECT_EQ(7u, linked.exitCode) << linked.output;
    EXPECT_EQ("\"" + tb::Narrow(links) + "\\pl3.exe\" cmdline exit:7\r\n", linked.output);

    ASSERT_TRUE(DeleteFileW(dir.Join(L"pl3.exe").c_str()));
    ASSERT_TRUE(CreateHardLinkW(dir.Join(L"pl3.exe").c_str(), Launcher().c_str(), nullptr));
    tb::ProcessResult itself = RunLauncher(line, options, &processes);
    EXPECT_EQ(1u, processes) << "pl3.com started its own file beside the link's target";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), itself.exitCode) << itself.output;
}

// Starts a program through ntdll's own process start, with no standard
// handles, and returns its exit status; ~0 where it did not start or end.
DWORD RunThroughNtdll(const std::wstring &path, const std::wstring &commandLine)
{
    struct UserProcessInformation {
        ULONG size;
        HANDLE process;
        HANDLE thread;
        HANDLE ids[2];
        BYTE image[128];  // the image's details, larger than they are
    };
    typedef NTSTATUS(NTAPI * CreateParameters)(void **, UNICODE_STRING *, UNICODE_STRING *,
                                                UNICODE_STRING *, UNICODE_STRING *, void *,
                                                UNICODE_STRING *, UNICODE_STRING *,
                                                UNICODE_STRING *, UNICODE_STRING *);
    typedef NTSTATUS(NTAPI * DestroyParameters)(void *);
    typedef NTSTATUS(NTAPI * CreateUserProcess)(UNICODE_STRING *, ULONG, void *, void *, void *,
                                                 HANDLE, BOOLEAN, HANDLE, HANDLE,
                                                 UserProcessInformation *);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto createParameters = reinterpret_cast<CreateParameters>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlCreateProcessParameters")));
    auto destroyParameters = reinterpret_cast<DestroyParameters>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlDestroyProcessParameters")));
    auto createUserProcess = reinterpret_cast<CreateUserProcess>(
        reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlCreateUserProcess")));
    if (createParameters == nullptr || destroyParameters == nullptr || createUserProcess == nullptr)
        return ~0u;
    std::wstring ntPath = L"\\??\\" + path;
    std::wstring line = commandLine;
    auto counted = [](std::wstring &text) {
        UNICODE_STRING string;
        string.Buffer = &text[0];
        string.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
        string.MaximumLength = string.Length;
        return string;
    };
    UNICODE_STRING image = counted(ntPath);
    UNICODE_STRING imageForParameters = counted(ntPath);
    UNICODE_STRING command = counted(line);
    void *parameters = nullptr;
    if (createParameters(&parameters, &imageForParameters, nullptr, nullptr, &command, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != 0)
        return ~0u;
    UserProcessInformation started = {};
    started.size = sizeof started;
    NTSTATUS status = createUserProcess(&image, 0x40 /* OBJ_CASE_INSENSITIVE */, parameters,
                                        nullptr, nullptr, nullptr, FALSE, nullptr, nullptr,
                                        &started);
    destroyParameters(parameters);
    if (status != 0)
        return ~0u;
    // Its first thread waits to be let go.
    ResumeThread(started.thread);
    DWORD exitCode = ~0u;
    if (WaitForSingleObject(started.process, 10000) == WAIT_OBJECT_0)
        GetExitCodeProcess(started.process, &exitCode);
    else
        TerminateProcess(started.process, 1);
    CloseHandle(started.thread);
    CloseHandle(started.process);
    return exitCode;
}

// Started by its 8.3 name, the launcher must look for the program by its
// long name, not by its short name with ".exe": the two files' short names
// differ in more than that. Windows keeps a program's short name however a
// caller starts it by that name. Wine hands one started through
// CreateProcessW its long name, and keeps the short one only for a start from
// the Unix shell or through ntdll's RtlCreateUserProcess: this case uses the
// latter.
TEST_F(Pl3, StartedByItsShortNameItStartsTheProgramOfItsLongName)
{
    std::wstring launcher = dir.Join(L"pelorin-tool.com");
    std::wstring program = dir.Join(L"pelorin-tool.exe");
    ASSERT_TRUE(tb::CopyBinary(L"pl3.com", launcher));
    ASSERT_TRUE(tb::CopyBinary(L"twin.exe", program));
    wchar_t shortName[MAX_PATH];
    DWORD length = GetShortPathNameW(launcher.c_str(), shortName, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    std::wstring shortLauncher(shortName, length);
    if (shortLauncher == launcher)
        GTEST_SKIP() << "this file system gives no short names";
    std::wstring wrong = shortLauncher.substr(0, length - 3) + L"EXE";
    ASSERT_FALSE(tb::FileExists(wrong)) << "the short names differ only in their extension here: "
                                        << tb::Narrow(wrong);
    EXPECT_EQ(7u, RunThroughNtdll(shortLauncher, L"\"" + shortLauncher + L"\" exit:7"));
}

// A caller that starts pl3.com through its C runtime hands over its table of
// open files, here with a standard input that never ends. A twin that took
// its files from that table would wait on the caller's input for ever, and
// write past the relay. The twin's first line says it was started hidden
// with its handles, as every twin is.
TEST_F(Pl3, TheTwinTakesItsFilesFromThePipesNotFromTheCallersRuntime)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE inputRead = nullptr, inputWrite = nullptr;
    HANDLE outputRead = nullptr, outputWrite = nullptr;
    ASSERT_TRUE(CreatePipe(&inputRead, &inputWrite, nullptr, 0));
    ASSERT_TRUE(CreatePipe(&outputRead, &outputWrite, &inheritable, 0));
    SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
    int inputFile = _open_osfhandle(reinterpret_cast<intptr_t>(inputRead), _O_RDONLY | _O_BINARY);
    int outputFile = _open_osfhandle(reinterpret_cast<intptr_t>(outputWrite), _O_BINARY);
    ASSERT_TRUE(inputFile >= 0 && outputFile >= 0);

    // The runtime's files 0 and 1, and the standard handles with them, become
    // the two pipes while pl3.com is started: nothing may print in between.
    int savedInput = _dup(0);
    int savedOutput = _dup(1);
    _dup2(inputFile, 0);
    _dup2(outputFile, 1);
    _close(inputFile);
    _close(outputFile);
    SetStdHandle(STD_INPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(0)));
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
    std::wstring launcher = L"\"" + Launcher() + L"\"";
    intptr_t spawned = _wspawnl(_P_NOWAIT, Launcher().c_str(), launcher.c_str(), L"startup",
                                L"crt", nullptr);
    int spawnError = errno;
    RestoreFile(0, savedInput, STD_INPUT_HANDLE);
    RestoreFile(1, savedOutput, STD_OUTPUT_HANDLE);

    ASSERT_NE(-1, spawned) << "cannot spawn pl3.com, errno " << spawnError;
    HANDLE process = reinterpret_cast<HANDLE>(spawned);
    bool ended = WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
    DWORD status = 1;
    GetExitCodeProcess(process, &status);
    if (!ended)
        TerminateProcess(process, 1);
    CloseHandle(process);
    EXPECT_TRUE(ended) << "the twin is waiting on the caller's input";
    EXPECT_EQ(0u, status);
    std::string relayed;
    tb::ReadWaiting(outputRead, &relayed);
    EXPECT_EQ("flags=0x101 show=0 reserved2=0\r\ncrt-stdout\r\ncrt-stdin:0\r\n", relayed);
    CloseHandle(outputRead);
    CloseHandle(inputWrite);
}

// pl3.com with its standard output and error on the handles given, and no
// input.
PROCESS_INFORMATION StartWithOutputs(const std::wstring &commandLine, HANDLE output, HANDLE error)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION info = {};
    std::wstring line = commandLine;
    CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                   &info);
    return info;
}

// A caller's output a file, its error another: a child the twin leaves
// running must hold neither, or the caller's file stays in use.
TEST_F(Pl3, WhatTheTwinLeavesRunningHoldsNeitherOfTheCallersSeparateOutputs)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const std::wstring paths[] = {dir.Join(L"out.txt"), dir.Join(L"err.txt")};
    HANDLE files[2];
    for (int i = 0; i < 2; ++i) {
        files[i] = CreateFileW(paths[i].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, files[i]);
    }
    PROCESS_INFORMATION pl3 = StartWithOutputs(
        L"\"" + Launcher() + L"\" spawn:sleep:20000 line:done", files[0], files[1]);
    CloseHandle(files[0]);
    CloseHandle(files[1]);
    ASSERT_NE(nullptr, pl3.hProcess);
    bool ended = WaitForSingleObject(pl3.hProcess, 10000) == WAIT_OBJECT_0;
    TerminateProcess(pl3.hProcess, 1);
    CloseHandle(pl3.hProcess);
    CloseHandle(pl3.hThread);
    ASSERT_TRUE(ended);

    std::string output = tb::ReadFileBytes(paths[0]);
    EXPECT_NE(std::string::npos, output.find("done\r\n")) << output;
    EXPECT_EQ("", tb::ReadFileBytes(paths[1]));
    DWORD grandchild = NumberAfter(output, "grandchild");
    ASSERT_TRUE(tb::IsRunning(grandchild)) << output;
    // Only a file nobody else holds opens for sole use.
    for (const std::wstring &path : paths) {
        HANDLE sole = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, sole)
            << tb::Narrow(path) << " is held, error " << GetLastError();
        if (sole != INVALID_HANDLE_VALUE)
            CloseHandle(sole);
    }
    tb::KillProcessesUnder(dir.path());
}

// The twin writes its last output, several chunks, and ends while the
// launcher is held in its wait: it wakes to both at once and must still
// relay all that the pipe holds.
TEST_F(Pl3, TheTwinsLastOutputAllArrivesThoughThePipeHoldsSeveralChunksAtItsEnd)
{
    Live pl3(L"\"" + Launcher() + L"\" pid line:ready sleep:500 out:4500", nullptr);
    ASSERT_TRUE(pl3.started());
    ASSERT_TRUE(pl3.ReadUntil("ready\r\n", 10000)) << pl3.seen;
    DWORD twinId = NumberAfter(pl3.seen, "pid");
    tb::Process twin = tb::HoldProcess(twinId);
    ASSERT_TRUE(twin.started()) << pl3.seen;
    ASSERT_NE(static_cast<DWORD>(-1), SuspendThread(pl3.thread()));
    // 4500 bytes fit the pipe only beside a read the launcher has waiting: a
    // launcher caught before its read would keep the twin from ending.
    bool twinEnded = twin.Wait(10000);
    ResumeThread(pl3.thread());
    ASSERT_TRUE(twinEnded) << "the launcher was held before its read";
    ASSERT_TRUE(pl3.ReadToEnd(10000));
    EXPECT_TRUE(pl3.Ended(1000));
    EXPECT_TRUE(pl3.seen == "pid:" + std::to_string(twinId) + "\r\nready\r\n" + Pattern(4500))
        << "got " << pl3.seen.size() << " bytes";
}

}  // namespace
